#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace vorn {

// A 256-bit number, most significant byte first: a SHA-256 digest read as a
// number, or the bound it must stay below.
using Number256 = std::array<std::byte, 32>;

// The difficulties the gate accepts: those the agent can ask for (at most
// 1/2048) and at least 2^-64, below which no browser would finish, so that
// the bound is always a whole number.
inline constexpr double maxDifficulty = 1.0 / 2048;
inline constexpr double minDifficulty = 0x1p-64;

// Reads the difficulty HAProxy passes on from the agent ("0.0001220703125");
// nothing for text that is not a plain decimal number in range.
[[nodiscard]] std::optional<double> parseDifficulty(std::string_view text);

// 2^256 x `difficulty`, exactly, for a difficulty in range.
[[nodiscard]] Number256 workBound(double difficulty);

// The number as 64 lower-case hexadecimal digits, for the page's script.
using Hex256 = std::array<char, 64>;
[[nodiscard]] Hex256 hexDigits(const Number256& number);

// SHA-256 of `nonce` followed by `counter`.
[[nodiscard]] Number256 workDigest(std::string_view nonce, std::string_view counter);

// True when `digest` < `bound`, in time that does not depend on the values.
[[nodiscard]] bool belowBound(const Number256& digest, const Number256& bound);

}  // namespace vorn
