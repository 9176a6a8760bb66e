#pragma once

#include <cstdint>

#include "common/enum_names.hpp"

namespace vorn {

enum class PathClass : std::uint8_t {
    expensive,
    commitlist,
    srcbranch,
    feed,
    tracker,
    actions,
    api,
    gitproto,
    runner,
    page,
    other,
};

inline constexpr std::size_t pathClassCount = 11;
// Counters add a twelfth slot for decisions without a class.
inline constexpr std::size_t classSlotCount = 12;
inline constexpr std::size_t gatewaySlot = 11;

inline constexpr std::array<std::string_view, classSlotCount> classSlotNames = {
    "expensive", "commitlist", "srcbranch", "feed", "tracker", "actions",
    "api",       "gitproto",   "runner",    "page", "other",   "gateway",
};

[[nodiscard]] constexpr std::string_view pathClassName(PathClass c) {
    return classSlotNames[indexOf(c)];
}

}  // namespace vorn
