#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace vorn {

// Every reply a protocol appends with appendReply fits in this much output.
inline constexpr std::size_t replyRoom = 512;

// A connection as a handler names it while its input is paused: only good
// for handing back to PausedConnections.
struct ConnectionRef {
    void* connection = nullptr;
};

// One connection as its protocol handler sees it during one call: the
// buffered input, the output, and how the connection should go on. The
// event loop owns the socket, the buffers and the waiting; the handler only
// says what it consumed and what it answers.
class ConnectionIo {
public:
    // The unconsumed input, from its first byte.
    [[nodiscard]] virtual std::span<const std::byte> input() const = 0;
    // How much of input() an earlier call marked as seen, so that a scan for
    // a terminator can resume instead of starting over.
    [[nodiscard]] virtual std::size_t inputSeen() const = 0;
    virtual void markSeen(std::size_t bytes) = 0;
    // Drops the first `bytes` of input (they were handled).
    virtual void consume(std::size_t bytes) = 0;

    // True when replyRoom bytes of output are free. False when the handler
    // must stop for now: the output waits to drain or for a buffer chunk,
    // and the handler is called again with the same input afterwards.
    [[nodiscard]] virtual bool reserveReply() = 0;
    // Appends one reply after a successful reserveReply.
    virtual void appendReply(std::span<const std::byte> bytes) = 0;

    // The whole output buffer, empty, for a response written in place; an
    // empty span when none can be had yet (the handler is called again).
    [[nodiscard]] virtual std::span<std::byte> wholeOutput() = 0;
    // Queues [begin, end) of the buffer wholeOutput gave for sending.
    virtual void queueOutput(std::size_t begin, std::size_t end) = 0;

    // Sends what is queued, then closes; no further input is handled.
    virtual void closeAfterFlush() = 0;
    // Closes at once; queued output is dropped.
    virtual void close() = 0;

    // The handler is not called with input until resumeInput: bytes go on
    // being read into the one input chunk, and queued output still drains.
    virtual void pauseInput() = 0;
    [[nodiscard]] virtual bool inputPaused() const = 0;
    // The handler's own word about this connection, 0 at accept; the loop
    // never reads it.
    [[nodiscard]] virtual std::uintptr_t context() const = 0;
    virtual void setContext(std::uintptr_t context) = 0;
    // This connection, for resuming it later.
    [[nodiscard]] virtual ConnectionRef ref() const = 0;

protected:
    ~ConnectionIo() = default;
};

// The loop's side of a paused connection, for a handler whose wait ends
// outside any call for that connection. Only for a connection still open:
// its handler learns of a close through onClosed.
class PausedConnections {
public:
    // Hands the buffered input to the handler again, then reads on.
    virtual void resumeInput(ConnectionRef connection) = 0;

protected:
    ~PausedConnections() = default;
};

// What the event loop knows of a protocol.
class ConnectionHandler {
public:
    // Bytes arrived, room became available after the handler had to stop,
    // or input was resumed: handle what the buffered input holds.
    virtual void onInput(ConnectionIo& connection) = 0;
    // The connection is closing (its peer went, an error, or the handler
    // asked), with the handler's context for it. Nothing more is called for
    // it.
    virtual void onClosed(std::uintptr_t context) = 0;

protected:
    ~ConnectionHandler() = default;
};

}  // namespace vorn
