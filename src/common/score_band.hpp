#pragma once

#include <cstdint>

#include "common/enum_names.hpp"

namespace vorn {

// Disjoint bands of the shadow bot probability: below 0.2, below 0.5, below
// 0.8, and the rest.
enum class ScoreBand : std::uint8_t { le0_2, le0_5, le0_8, gt0_8 };

inline constexpr std::size_t scoreBandCount = 4;
inline constexpr std::array<std::string_view, scoreBandCount> scoreBandNames = {"le0.2", "le0.5",
                                                                                "le0.8", "gt0.8"};

[[nodiscard]] constexpr std::string_view scoreBandName(ScoreBand band) {
    return scoreBandNames[indexOf(band)];
}

}  // namespace vorn
