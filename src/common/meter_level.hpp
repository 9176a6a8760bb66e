#pragma once

#include <cstdint>

#include "common/enum_names.hpp"

namespace vorn {

enum class MeterLevel : std::uint8_t { calm, hot, severe };

inline constexpr std::size_t meterLevelCount = 3;
inline constexpr std::array<std::string_view, meterLevelCount> meterLevelNames = {"calm", "hot",
                                                                                  "severe"};

[[nodiscard]] constexpr std::string_view meterLevelName(MeterLevel level) {
    return meterLevelNames[indexOf(level)];
}

}  // namespace vorn
