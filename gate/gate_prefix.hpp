#pragma once

#include <string_view>

#include "token/contract.hpp"

namespace vorn::gate {

// Everything the gate answers lives under gatewayPrefix; HAProxy sends it here.
inline constexpr std::string_view answerPath = "/.well-known/bramblegate/answer";
static_assert(answerPath.starts_with(gatewayPrefix));

}  // namespace vorn::gate
