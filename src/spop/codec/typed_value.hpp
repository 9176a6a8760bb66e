#pragma once

#include <algorithm>
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

// The decoder is inline, like readString, and fills the caller's value in
// place: every argument of every NOTIFY goes through it, and a value copied
// from layer to layer costs more than decoding it.
namespace typed_value_detail {

enum class TypeCode : std::uint8_t {
    null = 0,
    boolean = 1,
    int32 = 2,
    uint32 = 3,
    int64 = 4,
    uint64 = 5,
    ipv4 = 6,
    ipv6 = 7,
    string = 8,
    binary = 9,
};

constexpr std::uint8_t typeCodeMask = 0x0F;
constexpr std::uint8_t boolTrueFlag = 0x10;
constexpr std::size_t ipv4Size = 4;
constexpr std::size_t ipv6Size = 16;

using Result = std::expected<std::size_t, Error>;

// Each decoder reads the value that follows the type byte (`data` starts
// right after it) and returns the bytes it took.

inline Result decodeInteger(ValueTag tag, std::span<const std::byte> data, TypedValue& value) {
    auto varint = decodeVarint(data);
    if (!varint) return std::unexpected(varint.error());
    value.tag = tag;
    value.integer = varint->value;
    return varint->size;
}

inline Result decodeAddress(ValueTag tag, std::size_t size, std::span<const std::byte> data,
                            TypedValue& value) {
    if (data.size() < size) return std::unexpected(Error::Truncated);
    value.tag = tag;
    std::ranges::copy(data.first(size), value.address.begin());
    return size;
}

inline Result decodeBytes(ValueTag tag, std::span<const std::byte> data, TypedValue& value) {
    auto string = readString(data);
    if (!string) return std::unexpected(string.error());
    value.tag = tag;
    value.bytes = string->value;
    return string->size;
}

inline Result decodeAfterType(std::uint8_t typeByte, std::span<const std::byte> data,
                              TypedValue& value) {
    switch (static_cast<TypeCode>(typeByte & typeCodeMask)) {
        case TypeCode::null:
            value.tag = ValueTag::null;
            return 0;
        case TypeCode::boolean:
            value.tag = ValueTag::boolean;
            value.boolean = (typeByte & boolTrueFlag) != 0;
            return 0;
        case TypeCode::int32:
        case TypeCode::int64:
            return decodeInteger(ValueTag::signedInt, data, value);
        case TypeCode::uint32:
        case TypeCode::uint64:
            return decodeInteger(ValueTag::unsignedInt, data, value);
        case TypeCode::ipv4:
            return decodeAddress(ValueTag::ipv4, ipv4Size, data, value);
        case TypeCode::ipv6:
            return decodeAddress(ValueTag::ipv6, ipv6Size, data, value);
        case TypeCode::string:
            return decodeBytes(ValueTag::string, data, value);
        case TypeCode::binary:
            return decodeBytes(ValueTag::binary, data, value);
    }
    return std::unexpected(Error::BadType);
}

}  // namespace typed_value_detail

// Decodes the typed value (type byte, then its value) at the start of `data`
// into `value`: its tag and the field the tag names; the other fields are
// left as they were. Returns the bytes taken; Truncated when the type byte
// or value runs past the end; BadType for a type code above 9.
[[nodiscard]] inline std::expected<std::size_t, Error> decodeTypedValue(
    std::span<const std::byte> data, TypedValue& value) {
    if (data.empty()) return std::unexpected(Error::Truncated);
    auto taken = typed_value_detail::decodeAfterType(std::to_integer<std::uint8_t>(data[0]),
                                                     data.subspan(1), value);
    if (!taken) return std::unexpected(taken.error());
    return *taken + 1;
}

}  // namespace vorn
