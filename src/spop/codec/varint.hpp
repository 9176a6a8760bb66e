#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>

#include "common/error.hpp"
#include "spop/codec/decoded.hpp"

namespace vorn {

// The longest varint: a full 64-bit value.
inline constexpr std::size_t maxVarintSize = 10;

// Values below this take one byte; the first byte of a longer varint has its
// top four bits set.
inline constexpr std::uint8_t oneByteVarintLimit = 240;

// decodeVarint's out-of-line part; it decodes any varint.
[[nodiscard]] std::expected<Decoded<std::uint64_t>, Error> decodeLongVarint(
    std::span<const std::byte> data);

// Decodes the varint at the start of `data`. Returns the value and the bytes
// it took, or Truncated when it runs past the end of `data`. A varint that
// cannot be a 64-bit value (a continuation bit on its tenth byte, or a sum
// beyond 2^64 - 1) is Truncated too: HAProxy never sends one, and treating it
// like a short read lets the connection close the same way.
// Most varints on the request path (lengths, small numbers) take one byte,
// so that case is decided inline.
[[nodiscard]] inline std::expected<Decoded<std::uint64_t>, Error> decodeVarint(
    std::span<const std::byte> data) {
    if (!data.empty() && std::to_integer<std::uint8_t>(data[0]) < oneByteVarintLimit) {
        return Decoded<std::uint64_t>{std::to_integer<std::uint8_t>(data[0]), 1};
    }
    return decodeLongVarint(data);
}

// Writes `value` into `out` and returns the number of bytes written (1 to 10).
std::size_t encodeVarint(std::uint64_t value, std::span<std::byte, maxVarintSize> out);

}  // namespace vorn
