#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace vorn {

// Largest accepted length-field value, whatever max-frame-size HAProxy
// announces; frames are never fragmented.
inline constexpr std::uint32_t maxFrameLength = 16384;
// Type byte and four flag bytes.
inline constexpr std::uint32_t minFrameLength = 5;
inline constexpr std::size_t frameLengthFieldSize = 4;

enum class FrameType : std::uint8_t {
    haproxyHello = 1,
    haproxyDisconnect = 2,
    notify = 3,
    agentHello = 101,
    agentDisconnect = 102,
    ack = 103,
};

// One received frame. `type` stays a raw byte because unknown types are valid
// frames that the connection skips; `payload` views the caller's input.
struct Frame {
    std::uint8_t type = 0;
    std::uint32_t flags = 0;
    std::uint64_t streamId = 0;
    std::uint64_t frameId = 0;
    std::span<const std::byte> payload;
};

struct CutFrame {
    enum class Status : std::uint8_t { needMore, badLength, malformed, frame };
    Status status = Status::needMore;
    Frame frame{};
    // Length field plus the bytes it counts; set for `frame` only.
    std::size_t totalSize = 0;
};

// Cuts the first frame out of the unconsumed input. Returns needMore until
// the whole frame is buffered; badLength as soon as the four length bytes
// are in and lie outside 5..16384; malformed when the stream-id or frame-id
// does not end inside the frame; otherwise the frame, whose payload views
// `buffered`, and its total size for the caller to consume.
[[nodiscard]] CutFrame cutFrame(std::span<const std::byte> buffered);

}  // namespace vorn
