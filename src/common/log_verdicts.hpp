#pragma once

#include <cstdint>

#include "common/enum_names.hpp"

namespace vorn {

// Which decided requests get a verdict line.
enum class LogVerdicts : std::uint8_t { none, trap, watch, all };

inline constexpr std::array<std::string_view, 4> logVerdictsNames = {"none", "trap", "watch",
                                                                     "all"};

[[nodiscard]] constexpr std::string_view logVerdictsName(LogVerdicts mode) {
    return logVerdictsNames[indexOf(mode)];
}

}  // namespace vorn
