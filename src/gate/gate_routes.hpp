#pragma once

#include <string_view>

#include "token/contract.hpp"

namespace vorn {

// Everything the gate answers lives under gatewayPrefix, where HAProxy sends
// it: the page at the prefix itself, the answer form's target, and the path
// HAProxy's health check asks for.
inline constexpr std::string_view answerPath = "/.well-known/bramblegate/answer";
inline constexpr std::string_view healthPath = "/.well-known/bramblegate/health";
static_assert(answerPath.starts_with(gatewayPrefix) && healthPath.starts_with(gatewayPrefix));

}  // namespace vorn
