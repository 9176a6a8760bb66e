#pragma once

#include <expected>
#include <optional>
#include <span>
#include <string_view>

#include "gate/gate_fault.hpp"

namespace vorn {

// The value of field `name` in an application/x-www-form-urlencoded text
// (a query string or a form body), percent-decoded with '+' read as a
// space into `out`, and viewed there; nothing when the field is absent.
// BadForm when it is given twice, badly encoded (a '%' not followed by two
// hexadecimal digits) or longer decoded than `out`.
[[nodiscard]] std::expected<std::optional<std::string_view>, GateFault> formField(
    std::string_view text, std::string_view name, std::span<char> out);

}  // namespace vorn
