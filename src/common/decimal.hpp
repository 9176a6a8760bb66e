#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <expected>
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

enum class DecimalFault : std::uint8_t { notANumber, outOfRange };

// The whole of `text` read as a double, in the forms std::from_chars reads
// for `format` (general or fixed): an optional '-', digits with an optional
// '.' and at least one digit in all, an exponent ('e' or 'E', an optional
// sign, digits) unless the format is fixed, or "inf", "infinity" or "nan" in
// any case. No '+', no spaces, at most maxDecimalLength characters.
// outOfRange when the magnitude is beyond a double's range (overflow, or
// underflow toward zero, as strtod reports them). Works where the standard
// library has no floating-point from_chars (libc++ 19, FreeBSD's).
[[nodiscard]] std::expected<double, DecimalFault> parseDecimal(std::string_view text,
                                                               std::chars_format format);

}  // namespace vorn
