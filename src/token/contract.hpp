#pragma once

#include <string_view>

namespace vorn {

// What the agent and the challenge issuer agree on besides the token: the
// cookie that carries a pass receipt, and the path under which HAProxy sends
// requests to the issuer.
inline constexpr std::string_view passCookie = "bramble_pass";
inline constexpr std::string_view gatewayPrefix = "/.well-known/bramblegate/";

}  // namespace vorn
