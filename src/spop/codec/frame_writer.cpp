#include "spop/codec/frame_writer.hpp"

#include <algorithm>
#include <cassert>

#include "spop/codec/varint.hpp"

namespace vorn {
namespace {

// Flags, big-endian: only FIN, since the agent never fragments.
constexpr std::array<std::byte, 4> finOnlyFlags{std::byte{0}, std::byte{0}, std::byte{0},
                                                std::byte{1}};
constexpr std::uint8_t stringType = 8;
constexpr std::uint8_t uint32Type = 3;
constexpr std::uint8_t setVarAction = 1;
constexpr std::uint8_t setVarArgCount = 3;
constexpr std::uint8_t transactionScope = 2;

}  // namespace

void FrameWriter::begin(FrameType type, std::uint64_t streamId, std::uint64_t frameId) {
    position_ = frameLengthFieldSize;
    putByte(static_cast<std::uint8_t>(type));
    putBytes(finOnlyFlags);
    putVarint(streamId);
    putVarint(frameId);
}

void FrameWriter::putString(std::string_view name, std::string_view text) {
    putText(name);
    putByte(stringType);
    putText(text);
}

void FrameWriter::putUint(std::string_view name, std::uint64_t value) {
    putText(name);
    putByte(uint32Type);
    putVarint(value);
}

void FrameWriter::putSetVar(std::string_view name, std::string_view text) {
    putByte(setVarAction);
    putByte(setVarArgCount);
    putByte(transactionScope);
    putText(name);
    putByte(stringType);
    putText(text);
}

std::span<const std::byte> FrameWriter::finish() {
    auto length = static_cast<std::uint32_t>(position_ - frameLengthFieldSize);
    for (std::size_t i = 0; i < frameLengthFieldSize; ++i) {
        buffer_[i] = static_cast<std::byte>(length >> (8 * (frameLengthFieldSize - 1 - i)));
    }
    return std::span<const std::byte>(buffer_).first(position_);
}

void FrameWriter::putByte(std::uint8_t value) {
    std::byte b{value};
    putBytes(std::span(&b, 1));
}

void FrameWriter::putVarint(std::uint64_t value) {
    std::array<std::byte, maxVarintSize> encoded{};
    putBytes(std::span(encoded).first(encodeVarint(value, encoded)));
}

void FrameWriter::putBytes(std::span<const std::byte> bytes) {
    assert(bytes.size() <= capacity - position_ && "reply frame larger than its buffer");
    std::size_t fits = std::min(bytes.size(), capacity - position_);
    std::ranges::copy(bytes.first(fits), buffer_.begin() + static_cast<std::ptrdiff_t>(position_));
    position_ += fits;
}

// A string: varint length, then the bytes. The agent's names are all below
// 240 bytes, so their length is the single byte HAProxy expects of a name.
void FrameWriter::putText(std::string_view text) {
    putVarint(text.size());
    putBytes(std::as_bytes(std::span(text)));
}

std::span<const std::byte> writeAgentHello(FrameWriter& writer, std::uint64_t maxFrameSize) {
    writer.begin(FrameType::agentHello, 0, 0);
    writer.putString("version", "2.0");
    writer.putUint("max-frame-size", maxFrameSize);
    writer.putString("capabilities", "");
    return writer.finish();
}

std::span<const std::byte> writeAgentDisconnect(FrameWriter& writer) {
    writer.begin(FrameType::agentDisconnect, 0, 0);
    writer.putUint("status-code", 0);
    writer.putString("message", "bye");
    return writer.finish();
}

}  // namespace vorn
