#pragma once

#include <optional>
#include <string_view>

#include "gate/expiring_table.hpp"

namespace vorn {

// The client a challenge is counted against: an IPv4 address, or the /64
// an IPv6 address lies in (one subscriber's usual share, so that a host
// cannot dodge the limit by walking its own prefix). An IPv4-mapped IPv6
// address counts as its IPv4 address. Nothing for text that is not an
// address (HAProxy sends %[src], which always is).
[[nodiscard]] std::optional<TableKey> clientKey(std::string_view address);

}  // namespace vorn
