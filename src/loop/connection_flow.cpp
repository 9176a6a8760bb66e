#include <sys/socket.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <cstring>

#include "loop/connection_limits.hpp"
#include "loop/event_loop.hpp"

// A connection's I/O, the same for every protocol: reading into the input
// chunk, letting the protocol handle what is buffered, flushing the output,
// borrowing and returning chunks, and closing.

namespace vorn {

// One connection as its handler sees it during one call.
class BoundConnection final : public ConnectionIo {
public:
    BoundConnection(EventLoop& loop, Connection& connection)
        : loop_(loop), connection_(connection) {}

    [[nodiscard]] std::span<const std::byte> input() const override {
        return {connection_.input, connection_.inputFill};
    }
    [[nodiscard]] std::size_t inputSeen() const override { return connection_.inputSeen; }
    void markSeen(std::size_t bytes) override { connection_.inputSeen = bytes; }
    void consume(std::size_t bytes) override {
        assert(bytes <= connection_.inputFill);
        std::memmove(connection_.input, connection_.input + bytes, connection_.inputFill - bytes);
        connection_.inputFill -= bytes;
        connection_.inputSeen = 0;
    }

    [[nodiscard]] bool reserveReply() override {
        if (!loop_.acquire(connection_, ChunkUse::output)) return false;
        if (chunkBytes - connection_.outputEnd >= replyRoom) return true;
        connection_.set(outputStarved);
        return false;
    }
    void appendReply(std::span<const std::byte> bytes) override {
        assert(connection_.output != nullptr && bytes.size() <= replyRoom &&
               chunkBytes - connection_.outputEnd >= bytes.size());
        std::memcpy(connection_.output + connection_.outputEnd, bytes.data(), bytes.size());
        connection_.outputEnd += bytes.size();
    }

    [[nodiscard]] std::span<std::byte> wholeOutput() override {
        if (!loop_.acquire(connection_, ChunkUse::output)) return {};
        assert(connection_.outputEnd == 0);
        return {connection_.output, chunkBytes};
    }
    void queueOutput(std::size_t begin, std::size_t end) override {
        assert(begin <= end && end <= chunkBytes);
        connection_.outputSent = begin;
        connection_.outputEnd = end;
    }

    void closeAfterFlush() override {
        if (connection_.state == ConnectionState::open) {
            connection_.state = ConnectionState::closingAfterFlush;
        }
    }
    void close() override { loop_.close(connection_); }

    void pauseInput() override { connection_.set(Blocked::inputPaused); }
    [[nodiscard]] bool inputPaused() const override { return connection_.is(Blocked::inputPaused); }
    [[nodiscard]] std::uintptr_t context() const override { return connection_.context; }
    void setContext(std::uintptr_t context) override { connection_.context = context; }
    [[nodiscard]] ConnectionRef ref() const override { return {&connection_}; }

private:
    EventLoop& loop_;
    Connection& connection_;
};

// The input that waited is handled and reading goes on, as after any other
// wait.
void EventLoop::resumeInput(ConnectionRef ref) {
    Connection& connection = *static_cast<Connection*>(ref.connection);
    assert(!connection.closed() && connection.is(inputPaused));
    connection.clear(inputPaused);
    process(connection);
    onReadable(connection);
}

void EventLoop::onReadable(Connection& connection) {
    while (!connection.closed()) {
        if (connection.is(outputStarved) || connection.is(awaitingChunk)) {
            giveBackEmptyChunks(connection);
            return;
        }
        if (!acquire(connection, ChunkUse::input)) return;
        if (connection.inputFill == chunkBytes) {
            // A paused connection stops reading until it is resumed.
            if (!connection.is(inputPaused)) close(connection);
            return;
        }
        if (connection.readable.known && connection.readable.count == 0) {
            connection.readable.forget();
            giveBackEmptyChunks(connection);
            return;
        }
        const std::size_t room = chunkBytes - connection.inputFill;
        ssize_t n = 0;
        do {
            n = ::read(connection.fd, connection.input + connection.inputFill, room);
        } while (n < 0 && errno == EINTR);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            giveBackEmptyChunks(connection);
            return;
        }
        if (n <= 0) {
            close(connection);
            return;
        }
        connection.readable.consume(static_cast<std::uint64_t>(n));
        if (static_cast<std::size_t>(n) < room) connection.readable.readShort();
        connection.inputFill += static_cast<std::size_t>(n);
        process(connection);
    }
}

// Handles buffered input, then flushes; goes round again when handling had
// stopped for output room and the output has drained.
void EventLoop::process(Connection& connection) {
    for (;;) {
        if (connection.closed()) return;
        handleInput(connection);
        if (connection.closed() || flush(connection) != Flush::done) return;
        afterFlush(connection);
        if (connection.closed() || !connection.is(outputStarved) || connection.is(writeBlocked) ||
            connection.is(awaitingChunk)) {
            return;
        }
        connection.clear(outputStarved);
    }
}

// Also with no input held: a handler whose input was resumed may have an
// answer to append before anything new arrives.
void EventLoop::handleInput(Connection& connection) {
    if (connection.state != ConnectionState::open || connection.is(inputPaused)) return;
    BoundConnection io(*this, connection);
    connection.listener->handler->onInput(io);
}

EventLoop::Flush EventLoop::flush(Connection& connection) {
    while (connection.outputSent < connection.outputEnd) {
        ssize_t n = ::send(connection.fd, connection.output + connection.outputSent,
                           connection.outputEnd - connection.outputSent, MSG_NOSIGNAL);
        if (n >= 0) {
            connection.outputSent += static_cast<std::size_t>(n);
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            connection.set(writeBlocked);
            armWritable(connection);
            return Flush::blocked;
        } else if (errno != EINTR) {
            close(connection);
            return Flush::closed;
        }
    }
    return Flush::done;
}

// All output went out: close if that was the last of it, otherwise give
// the output chunk back.
void EventLoop::afterFlush(Connection& connection) {
    connection.outputEnd = 0;
    connection.outputSent = 0;
    cancelWritable(connection);
    if (connection.state == ConnectionState::closingAfterFlush) {
        close(connection);
    } else if (connection.output != nullptr) {
        connection.listener->chunks->release(connection.output);
        connection.output = nullptr;
    }
}

bool EventLoop::acquire(Connection& connection, ChunkUse use) {
    std::byte*& chunk = use == ChunkUse::input ? connection.input : connection.output;
    if (chunk == nullptr) chunk = connection.listener->chunks->acquire(connection, use);
    return chunk != nullptr;
}

// An idle connection holds no buffer memory, nor does a paused one whose
// output has gone.
void EventLoop::giveBackEmptyChunks(Connection& connection) {
    ChunkPool& chunks = *connection.listener->chunks;
    if (connection.input != nullptr && connection.inputFill == 0) {
        chunks.release(connection.input);
        connection.input = nullptr;
    }
    if (connection.output != nullptr && connection.outputEnd == 0) {
        chunks.release(connection.output);
        connection.output = nullptr;
    }
}

// One-shot writability, registered once however often a flush blocks; the
// set cannot grow only for lack of memory, which stops the loop.
void EventLoop::armWritable(Connection& connection) {
    if (writeInterest_.contains(connection.fd)) return;
    if (!writeInterest_.insert(connection.fd)) {
        setError(Error::OutOfMemory);
        return;
    }
    queueChange({static_cast<std::uintptr_t>(connection.fd), kev::Filter::write,
                 kev::add | kev::oneshot, 0, &connection});
}

void EventLoop::cancelWritable(Connection& connection) {
    if (writeInterest_.erase(connection.fd)) {
        queueChange({static_cast<std::uintptr_t>(connection.fd), kev::Filter::write, kev::remove, 0,
                     nullptr});
    }
}

// Marks a connection closed and tells its protocol; it is released after
// the current batch.
void EventLoop::close(Connection& connection) {
    if (connection.closed()) return;
    connection.state = ConnectionState::closed;
    closing_.pushBack(connection);
    connection.listener->handler->onClosed(connection.context);
}

}  // namespace vorn
