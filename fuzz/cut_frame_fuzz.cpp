// Cuts frames from arbitrary input the way a connection does, one after the
// other, and checks that every frame stays inside the bytes it was cut from.
// Each payload is then walked as a key/value list, as a HELLO would be.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "spop/codec/frame.hpp"
#include "spop/codec/kv_reader.hpp"

namespace {

bool inside(std::span<const std::byte> part, std::span<const std::byte> whole) {
    return part.data() >= whole.data() && part.size() <= whole.size() &&
           part.data() - whole.data() <= static_cast<std::ptrdiff_t>(whole.size() - part.size());
}

void require(bool condition) {
    if (!condition) std::abort();
}

void walkPayload(std::span<const std::byte> payload) {
    vorn::KvReader reader(payload);
    vorn::KvItem item;
    for (;;) {
        auto read = reader.next(item);
        if (!read || !*read) return;
        require(reader.position() <= payload.size());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::span<const std::byte> input(reinterpret_cast<const std::byte*>(data), size);
    while (!input.empty()) {
        auto cut = vorn::cutFrame(input);
        if (cut.status != vorn::CutFrame::Status::frame) break;
        require(cut.totalSize >= 4 + vorn::minFrameLength);
        require(cut.totalSize <= 4 + vorn::maxFrameLength);
        require(cut.totalSize <= input.size());
        auto frame = input.first(cut.totalSize);
        require(inside(cut.frame.payload, frame));
        require(cut.frame.payload.data() + cut.frame.payload.size() == frame.data() + frame.size());
        walkPayload(cut.frame.payload);
        input = input.subspan(cut.totalSize);
    }
    return 0;
}
