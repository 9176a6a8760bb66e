#pragma once

#include <string_view>

namespace vorn::gate {

// Everything the gate answers lives under this path; HAProxy sends it here.
inline constexpr std::string_view gatePrefix = "/.well-known/bramblegate/";
inline constexpr std::string_view answerPath = "/.well-known/bramblegate/answer";

}  // namespace vorn::gate
