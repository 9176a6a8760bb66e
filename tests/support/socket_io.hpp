#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "support/deadline.hpp"

// Bounded reads and writes on a non-blocking socket, shared by the SPOP and
// HTTP clients.

namespace vorn::test {

enum class IoStatus {
    Ok,
    TimedOut,
    Closed,  // end of stream, or the peer reset or went away
    Failed,  // any other error; errno tells which
};

[[nodiscard]] const char* ioStatusName(IoStatus status);

// Writes all of `bytes`, waiting for room until the deadline.
[[nodiscard]] IoStatus sendAll(int fd, std::string_view bytes, const Deadline& deadline);

// Writes `bytes` in pieces cut at the given offsets (ascending), pausing
// between pieces so that the reader sees them in separate reads. Each piece
// has the whole timeout.
[[nodiscard]] IoStatus sendSplit(int fd, std::string_view bytes,
                                 const std::vector<std::size_t>& cuts, Millis pause,
                                 Millis timeout);

// Waits until the deadline for bytes and appends what one read gives.
[[nodiscard]] IoStatus receiveSome(int fd, std::string& into, const Deadline& deadline);

}  // namespace vorn::test
