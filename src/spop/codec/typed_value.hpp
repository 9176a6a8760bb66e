#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string_view>

#include "common/byte_text.hpp"
#include "common/error.hpp"
#include "spop/codec/decoded.hpp"
#include "spop/codec/varint.hpp"

namespace vorn {

// The kind of a decoded value. INT32 and INT64 both decode to signedInt,
// UINT32 and UINT64 to unsignedInt: the wire codes differ only in name.
enum class ValueTag : std::uint8_t {
    null,
    boolean,
    signedInt,
    unsignedInt,
    ipv4,
    ipv6,
    string,
    binary,
};

// One decoded value; only the field that its tag names is meaningful.
struct TypedValue {
    ValueTag tag = ValueTag::null;
    bool boolean = false;
    // The varint's 64 bits: the value for unsignedInt, two's complement for
    // signedInt (read it through signedInteger()).
    std::uint64_t integer = 0;
    // Network order; the first four bytes for ipv4.
    std::array<std::byte, 16> address{};
    // string and binary: a view into the decoded input.
    std::span<const std::byte> bytes;

    [[nodiscard]] std::int64_t signedInteger() const {
        return std::bit_cast<std::int64_t>(integer);
    }
    [[nodiscard]] std::string_view text() const { return asText(bytes); }
};

// Reads a string (varint length, then that many bytes) from the start of
// `data`. Returns a view of its bytes and the bytes taken in all, or
// Truncated when the length or the bytes run past the end (empty input too).
// Inline: keys and string values are read several times per request.
[[nodiscard]] inline std::expected<Decoded<std::span<const std::byte>>, Error> readString(
    std::span<const std::byte> data) {
    auto length = decodeVarint(data);
    if (!length) return std::unexpected(length.error());
    auto rest = data.subspan(length->size);
    if (length->value > rest.size()) return std::unexpected(Error::Truncated);
    return Decoded<std::span<const std::byte>>{rest.first(length->value),
                                               length->size + length->value};
}

// Decodes the typed value (type byte, then its value) at the start of
// `data`. Returns the value and the bytes taken; Truncated when the type byte
// or value runs past the end; BadType for a type code above 9.
[[nodiscard]] std::expected<Decoded<TypedValue>, Error> decodeTypedValue(
    std::span<const std::byte> data);

}  // namespace vorn
