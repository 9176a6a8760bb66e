// Reads arbitrary input as a key/value list and checks that every view lies
// inside the input and that the reader only moves forward. Also checks that
// any varint it finds re-encodes to the very same bytes: the format gives
// each value exactly one spelling.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "spop/codec/kv_reader.hpp"
#include "spop/codec/varint.hpp"

namespace {

bool inside(std::span<const std::byte> part, std::span<const std::byte> whole) {
    return part.empty() || (part.data() >= whole.data() &&
                            part.data() + part.size() <= whole.data() + whole.size());
}

void require(bool condition) {
    if (!condition) std::abort();
}

void checkVarintSpelling(std::span<const std::byte> input) {
    auto decoded = vorn::decodeVarint(input);
    if (!decoded) return;
    std::array<std::byte, vorn::maxVarintSize> encoded{};
    std::size_t size = vorn::encodeVarint(decoded->value, encoded);
    require(size == decoded->size);
    for (std::size_t i = 0; i < size; ++i) require(encoded[i] == input[i]);
}

void checkItem(const vorn::KvItem& item, std::span<const std::byte> input) {
    auto key = std::as_bytes(std::span(item.key));
    require(inside(key, input));
    require(inside(item.value.bytes, input));
    bool viewsBytes =
        item.value.tag == vorn::ValueTag::string || item.value.tag == vorn::ValueTag::binary;
    require(viewsBytes || item.value.bytes.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::span<const std::byte> input(reinterpret_cast<const std::byte*>(data), size);
    checkVarintSpelling(input);

    vorn::KvReader reader(input);
    std::size_t previous = reader.position();
    vorn::KvItem item;
    for (;;) {
        auto read = reader.next(item);
        if (!read || !*read) break;
        checkItem(item, input);
        require(reader.position() > previous && reader.position() <= input.size());
        previous = reader.position();
    }
    return 0;
}
