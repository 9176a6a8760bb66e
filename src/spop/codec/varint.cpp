#include "spop/codec/varint.hpp"

#include <limits>

namespace vorn {
namespace {

constexpr std::uint8_t continuationBit = 0x80;

__extension__ using Wide = unsigned __int128;

}  // namespace

std::expected<Decoded<std::uint64_t>, Error> decodeLongVarint(std::span<const std::byte> data) {
    if (data.empty()) return std::unexpected(Error::Truncated);
    auto first = std::to_integer<std::uint8_t>(data[0]);
    if (first < oneByteVarintLimit) return Decoded<std::uint64_t>{first, 1};

    // Ten bytes shift the last one by 60: the sum stays far inside 128 bits,
    // so one comparison at the end catches every overflow.
    Wide value = first;
    unsigned shift = 4;
    for (std::size_t i = 1; i < maxVarintSize && i < data.size(); ++i, shift += 7) {
        auto byte = std::to_integer<std::uint8_t>(data[i]);
        value += static_cast<Wide>(byte) << shift;
        if (byte < continuationBit) {
            if (value > std::numeric_limits<std::uint64_t>::max()) break;
            return Decoded<std::uint64_t>{static_cast<std::uint64_t>(value), i + 1};
        }
    }
    return std::unexpected(Error::Truncated);
}

std::size_t encodeVarint(std::uint64_t value, std::span<std::byte, maxVarintSize> out) {
    if (value < oneByteVarintLimit) {
        out[0] = static_cast<std::byte>(value);
        return 1;
    }
    out[0] = static_cast<std::byte>(value | 0xF0);
    value = (value - oneByteVarintLimit) >> 4;
    std::size_t size = 1;
    while (value >= continuationBit) {
        out[size++] = static_cast<std::byte>(value | continuationBit);
        value = (value - continuationBit) >> 7;
    }
    out[size++] = static_cast<std::byte>(value);
    return size;
}

}  // namespace vorn
