#pragma once

#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "gate_fault.hpp"

namespace vorn::gate {

// The value of field `name` in an application/x-www-form-urlencoded text
// (a query string or a form body), percent-decoded with '+' read as a
// space; nothing when the field is absent. BadForm when it is given twice or
// badly encoded (a '%' not followed by two hexadecimal digits).
[[nodiscard]] std::expected<std::optional<std::string>, Fault> formField(std::string_view text,
                                                                         std::string_view name);

}  // namespace vorn::gate
