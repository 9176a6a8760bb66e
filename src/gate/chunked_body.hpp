#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>

#include "gate/gate_fault.hpp"

namespace vorn {

// Decodes a body sent with "Transfer-Encoding: chunked" in place, as its
// bytes arrive: the data of the chunks is moved to the front of the buffer
// (it never overtakes the bytes still to be read, which come after their
// size lines). Chunk extensions and trailer lines are read and dropped.
class ChunkedBody {
public:
    // `received` is every body byte so far, from the first one; it only
    // grows between calls. True once the last chunk and the trailers have
    // come: the body is then the first decodedLength() bytes. TooLarge past
    // maxBodyBytes of data; BadChunk for a size line or chunk end that is
    // not what it must be.
    [[nodiscard]] std::expected<bool, GateFault> decode(std::span<char> received);

    [[nodiscard]] std::size_t decodedLength() const { return decoded_; }

private:
    enum class Stage : std::uint8_t { size, data, dataEnd, trailer, done };

    [[nodiscard]] std::expected<void, GateFault> readSizeLine(std::string_view line);

    Stage stage_ = Stage::size;
    std::size_t position_ = 0;  // next byte of `received` to read
    std::size_t decoded_ = 0;
    std::size_t chunkLeft_ = 0;
};

}  // namespace vorn
