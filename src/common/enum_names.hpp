#pragma once

#include <array>
#include <cstddef>
#include <string_view>
#include <type_traits>

namespace vorn {

// The enumerations below index counter arrays and name tables in code order.
template <typename Enum>
[[nodiscard]] constexpr std::size_t indexOf(Enum value) {
    return static_cast<std::size_t>(static_cast<std::underlying_type_t<Enum>>(value));
}

}  // namespace vorn
