#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

namespace vorn {

// Room for any double in positional notation (the smallest subnormal needs
// 326 characters, the largest finite double 309).
inline constexpr std::size_t maxDecimalLength = 400;

// The shortest digit string that reads back as the same double, written in
// plain positional notation, never with an exponent: 2^-13 is
// 0.0001220703125, 5e-5 is 0.00005, 3 is 3. Not-a-number is "nan", the
// infinities "inf" and "-inf". Returns a view into `out`, or nothing when the
// text does not fit.
[[nodiscard]] std::optional<std::string_view> formatDecimal(double value, std::span<char> out);

}  // namespace vorn
