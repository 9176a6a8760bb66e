#include "spop/codec/typed_value.hpp"

#include <algorithm>

#include "spop/codec/varint.hpp"

namespace vorn {
namespace {

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

using Result = std::expected<Decoded<TypedValue>, Error>;

// Each decoder reads the value that follows the type byte (`value` starts
// right after it) and fills `decoded`, whose size already counts that byte.

Result decodeInteger(ValueTag tag, std::span<const std::byte> value, Decoded<TypedValue> decoded) {
    auto varint = decodeVarint(value);
    if (!varint) return std::unexpected(varint.error());
    decoded.value.tag = tag;
    decoded.value.integer = varint->value;
    decoded.size += varint->size;
    return decoded;
}

Result decodeAddress(ValueTag tag, std::size_t size, std::span<const std::byte> value,
                     Decoded<TypedValue> decoded) {
    if (value.size() < size) return std::unexpected(Error::Truncated);
    decoded.value.tag = tag;
    std::ranges::copy(value.first(size), decoded.value.address.begin());
    decoded.size += size;
    return decoded;
}

Result decodeBytes(ValueTag tag, std::span<const std::byte> value, Decoded<TypedValue> decoded) {
    auto string = readString(value);
    if (!string) return std::unexpected(string.error());
    decoded.value.tag = tag;
    decoded.value.bytes = string->value;
    decoded.size += string->size;
    return decoded;
}

}  // namespace

std::expected<Decoded<TypedValue>, Error> decodeTypedValue(std::span<const std::byte> data) {
    if (data.empty()) return std::unexpected(Error::Truncated);
    auto typeByte = std::to_integer<std::uint8_t>(data[0]);
    auto value = data.subspan(1);
    Decoded<TypedValue> decoded{.value = {}, .size = 1};
    switch (static_cast<TypeCode>(typeByte & typeCodeMask)) {
        case TypeCode::null:
            return decoded;
        case TypeCode::boolean:
            decoded.value.tag = ValueTag::boolean;
            decoded.value.boolean = (typeByte & boolTrueFlag) != 0;
            return decoded;
        case TypeCode::int32:
        case TypeCode::int64:
            return decodeInteger(ValueTag::signedInt, value, decoded);
        case TypeCode::uint32:
        case TypeCode::uint64:
            return decodeInteger(ValueTag::unsignedInt, value, decoded);
        case TypeCode::ipv4:
            return decodeAddress(ValueTag::ipv4, ipv4Size, value, decoded);
        case TypeCode::ipv6:
            return decodeAddress(ValueTag::ipv6, ipv6Size, value, decoded);
        case TypeCode::string:
            return decodeBytes(ValueTag::string, value, decoded);
        case TypeCode::binary:
            return decodeBytes(ValueTag::binary, value, decoded);
    }
    return std::unexpected(Error::BadType);
}

}  // namespace vorn
