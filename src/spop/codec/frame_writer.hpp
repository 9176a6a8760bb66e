#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "spop/codec/frame.hpp"

namespace vorn {

// Builds one outgoing frame in a fixed buffer: begin, any number of put
// calls, finish. Every frame the agent sends fits: names are constants and
// the variable texts are short words or numbers. Writing past the buffer is
// a programming error; debug builds assert, release builds drop the bytes
// that do not fit.
class FrameWriter {
public:
    static constexpr std::size_t capacity = 512;

    // Starts a frame: type, flags with only FIN set, stream-id, frame-id.
    void begin(FrameType type, std::uint64_t streamId, std::uint64_t frameId);
    // Key/value item with a STRING value.
    void putString(std::string_view name, std::string_view text);
    // Key/value item with a UINT32 value (HAProxy reads max-frame-size and
    // status-code as 32-bit).
    void putUint(std::string_view name, std::uint64_t value);
    // SET-VAR action in the transaction scope with a STRING value.
    void putSetVar(std::string_view name, std::string_view text);
    // Fills in the length field and returns the whole frame, a view into this
    // writer that stays valid until the next begin.
    [[nodiscard]] std::span<const std::byte> finish();

private:
    void putByte(std::uint8_t value);
    void putVarint(std::uint64_t value);
    void putBytes(std::span<const std::byte> bytes);
    void putText(std::string_view text);

    std::array<std::byte, capacity> buffer_{};
    std::size_t position_ = frameLengthFieldSize;
};

// AGENT-HELLO: version 2.0, the given max-frame-size, no capabilities.
[[nodiscard]] std::span<const std::byte> writeAgentHello(FrameWriter& writer,
                                                         std::uint64_t maxFrameSize);
// AGENT-DISCONNECT: status-code 0, message "bye".
[[nodiscard]] std::span<const std::byte> writeAgentDisconnect(FrameWriter& writer);

}  // namespace vorn
