#include "spop/codec/frame.hpp"

#include "spop/codec/varint.hpp"

namespace vorn {
namespace {

std::uint32_t readBigEndian32(std::span<const std::byte, 4> bytes) {
    std::uint32_t value = 0;
    for (std::byte b : bytes) value = (value << 8) | std::to_integer<std::uint32_t>(b);
    return value;
}

// Decodes type, flags and both identifiers from a frame body (the bytes the
// length field counts, at least minFrameLength of them).
CutFrame parseBody(std::span<const std::byte> body) {
    CutFrame cut{.status = CutFrame::Status::malformed};
    cut.frame.type = std::to_integer<std::uint8_t>(body[0]);
    cut.frame.flags = readBigEndian32(body.subspan<1, 4>());
    auto rest = body.subspan(minFrameLength);
    auto streamId = decodeVarint(rest);
    if (!streamId) return cut;
    rest = rest.subspan(streamId->size);
    auto frameId = decodeVarint(rest);
    if (!frameId) return cut;
    cut.frame.streamId = streamId->value;
    cut.frame.frameId = frameId->value;
    cut.frame.payload = rest.subspan(frameId->size);
    cut.status = CutFrame::Status::frame;
    return cut;
}

}  // namespace

CutFrame cutFrame(std::span<const std::byte> buffered) {
    if (buffered.size() < frameLengthFieldSize) return {};
    std::uint32_t length = readBigEndian32(buffered.first<frameLengthFieldSize>());
    if (length < minFrameLength || length > maxFrameLength) {
        return {.status = CutFrame::Status::badLength};
    }
    std::size_t totalSize = frameLengthFieldSize + length;
    if (buffered.size() < totalSize) return {};
    CutFrame cut = parseBody(buffered.subspan(frameLengthFieldSize, length));
    if (cut.status == CutFrame::Status::frame) cut.totalSize = totalSize;
    return cut;
}

}  // namespace vorn
