#pragma once

#include <cstdint>

#include "common/enum_names.hpp"

namespace vorn {

// Severity of an ordinary log line; the name is written after "level=".
enum class LogLevel : std::uint8_t { info, warning, error };

inline constexpr std::array<std::string_view, 3> logLevelNames = {"info", "warning", "error"};

[[nodiscard]] constexpr std::string_view logLevelName(LogLevel level) {
    return logLevelNames[indexOf(level)];
}

}  // namespace vorn
