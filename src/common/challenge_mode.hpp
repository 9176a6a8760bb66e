#pragma once

#include <cstdint>

#include "common/enum_names.hpp"

namespace vorn {

enum class ChallengeMode : std::uint8_t { off, shadow, on };

inline constexpr std::array<std::string_view, 3> challengeModeNames = {"off", "shadow", "on"};

[[nodiscard]] constexpr std::string_view challengeModeName(ChallengeMode mode) {
    return challengeModeNames[indexOf(mode)];
}

}  // namespace vorn
