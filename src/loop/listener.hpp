#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <expected>
#include <limits>
#include <optional>
#include <string_view>

#include "common/connection_io.hpp"
#include "common/error.hpp"
#include "loop/chunk_pool.hpp"
#include "loop/connection.hpp"
#include "loop/kevent.hpp"

namespace vorn {

// The SPOP socket file as this process created it, so that clean-up never
// removes a file that another process has put at the path since.
struct SocketFile {
    std::array<char, 104> path{};
    std::size_t length = 0;  // 0: nothing to remove
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    pid_t owner = 0;
};

// A listening socket and what its connections share: the protocol that
// handles them, the pool their buffers come from, how many may be open at
// once (the rest wait in the listen queue) and how long a connection may
// take to send its request. Belongs to the loop thread.
struct Listener : EventOwner {
    Listener() : EventOwner{OwnerKind::listener} {}

    int fd = -1;
    SocketFile socketFile;
    CountHint pending;  // connections the last readiness event reported
    ConnectionHandler* handler = nullptr;
    ChunkPool* chunks = nullptr;
    std::uint64_t connectionCap = std::numeric_limits<std::uint64_t>::max();
    std::optional<Nanos> exchangeTimeout;
    OpenConnections connections;
    std::uint64_t openCount = 0;
    bool deferred = false;  // full while connections waited to be accepted

    [[nodiscard]] bool full() const { return openCount >= connectionCap; }
};

// Binds the unix-domain stream socket at `path` (at most 103 bytes), taking
// over a socket file that no process listens on, sets mode 0660 and listens.
// Fails with AddressInUse, AccessDenied, NameTooLong, PathNotASocket,
// SocketError or the name of a failed lstat; nothing is left open then.
[[nodiscard]] std::expected<void, Error> openSpopListener(Listener& listener,
                                                          std::string_view path);

// Binds and listens on "a.b.c.d:port" or "[v6]:port" (IPv6 only, never
// IPv4-mapped). Fails with AddressInUse, AccessDenied or SocketError.
[[nodiscard]] std::expected<void, Error> openMetricsListener(Listener& listener,
                                                             std::string_view address);

// Removes the socket file if it is still the one this process bound, then
// closes the descriptor. Safe to call twice.
void closeListener(Listener& listener, kev::Kqueue& queue);

// Removes the socket file if it is still ours; the path is forgotten either
// way, so this runs at most once.
void cleanUpSocketFile(SocketFile& file);

}  // namespace vorn
