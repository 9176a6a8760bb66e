#pragma once

#include <cstddef>
#include <cstdint>

namespace vorn {

// What a kernel event's user data points at: a listener or a connection.
enum class OwnerKind : std::uint8_t { listener, connection };

struct EventOwner {
    OwnerKind ownerKind;
};

// A byte count reported by the kernel with an event, when it gave one.
struct CountHint {
    std::uint64_t count = 0;
    bool known = false;

    void forget() {
        count = 0;
        known = false;
    }
    void consume(std::uint64_t n) {
        if (known) count = n < count ? count - n : 0;
    }
};

enum class ConnectionKind : std::uint8_t { spop, metrics };

// One accepted SPOP or metrics connection. Belongs to the loop thread.
// Buffers are 64 KiB chunks of the loop's pool, held only while needed; the
// unhandled input always starts at offset 0, output in [outputSent,
// outputEnd) waits to be sent.
struct Connection : EventOwner {
    Connection() : EventOwner{OwnerKind::connection} {}

    int fd = -1;
    ConnectionKind kind = ConnectionKind::spop;
    CountHint readable;

    std::byte* input = nullptr;
    std::size_t inputFill = 0;
    std::byte* output = nullptr;
    std::size_t outputEnd = 0;
    std::size_t outputSent = 0;

    bool writeBlocked = false;
    bool writeInterest = false;
    bool outputStarved = false;
    bool awaitingChunk = false;
    bool parked = false;
    bool closeAfterFlush = false;
    bool closed = false;

    // List links: open connections, chunk-wait list, close list (which also
    // links free records).
    Connection* openPrev = nullptr;
    Connection* openNext = nullptr;
    Connection* waitPrev = nullptr;
    Connection* waitNext = nullptr;
    Connection* closeNext = nullptr;

    [[nodiscard]] bool isMetrics() const { return kind == ConnectionKind::metrics; }
};

}  // namespace vorn
