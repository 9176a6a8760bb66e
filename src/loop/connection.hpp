#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "common/nanos.hpp"
#include "loop/intrusive_list.hpp"

namespace vorn {

struct Listener;

// What a kernel event's user data points at: a listener or a connection.
enum class OwnerKind : std::uint8_t { listener, connection };

struct EventOwner {
    OwnerKind ownerKind;
};

// What is known about the bytes waiting on a socket: a count the kernel gave
// with the event (kqueue does), or that a read came back short and so
// emptied it (with edge-triggered events, what arrives later brings a new
// event). At end of stream reading goes on until the read that returns 0.
struct CountHint {
    std::uint64_t count = 0;
    bool known = false;
    bool endOfStream = false;

    void note(std::int64_t data, bool peerClosing) {
        endOfStream = peerClosing;
        known = data > 0 && !peerClosing;
        count = known ? static_cast<std::uint64_t>(data) : 0;
    }
    void forget() {
        count = 0;
        known = false;
    }
    void consume(std::uint64_t n) {
        if (known) count = n < count ? count - n : 0;
    }
    // A read returned less than it asked for.
    void readShort() {
        if (endOfStream) return;
        known = true;
        count = 0;
    }
};

enum class ConnectionState : std::uint8_t {
    open,
    closingAfterFlush,  // sends what is queued, handles no more input
    closed,             // on the close list; nothing more is done for it
};

// Why a connection cannot go on by itself; each stop condition is one bit.
enum Blocked : std::uint8_t {
    writeBlocked = 1,   // the last send would have blocked
    awaitingChunk = 2,  // on its pool's wait list
    outputStarved = 4,  // input handling stopped until the output drains
    inputPaused = 8,    // the handler waits outside; input stays unhandled
};

enum class ChunkUse : std::uint8_t { input, output };

// One accepted connection: its socket, its two buffers and where it stands.
// Buffers are 64 KiB chunks of its listener's pool, held only while needed;
// the unconsumed input always starts at offset 0, output in [outputSent,
// outputEnd) waits to be sent. Belongs to the loop thread.
struct Connection : EventOwner {
    Connection() : EventOwner{OwnerKind::connection} {}

    int fd = -1;
    Listener* listener = nullptr;  // its handler, pool and connection list
    ConnectionState state = ConnectionState::open;
    std::uint8_t blocked = 0;  // Blocked bits
    ChunkUse waitingFor = ChunkUse::input;
    CountHint readable;
    std::optional<Nanos> deadline;  // closed if still open by then
    std::uintptr_t context = 0;     // its handler's, never read here

    std::byte* input = nullptr;
    std::size_t inputFill = 0;
    std::size_t inputSeen = 0;
    std::byte* output = nullptr;
    std::size_t outputEnd = 0;
    std::size_t outputSent = 0;

    ListLink openLink;   // its listener's open connections
    ListLink waitLink;   // its pool's wait list
    ListLink closeLink;  // the loop's close list, or the free records

    [[nodiscard]] bool is(Blocked reason) const { return (blocked & reason) != 0; }
    void set(Blocked reason) { blocked |= reason; }
    void clear(Blocked reason) { blocked &= static_cast<std::uint8_t>(~reason); }
    [[nodiscard]] bool closed() const { return state == ConnectionState::closed; }
};

using OpenConnections = IntrusiveList<Connection, &Connection::openLink>;
using WaitingConnections = IntrusiveList<Connection, &Connection::waitLink>;
using ClosingConnections = IntrusiveList<Connection, &Connection::closeLink>;

}  // namespace vorn
