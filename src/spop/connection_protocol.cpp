#include "spop/connection_protocol.hpp"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "loop/connection_limits.hpp"
#include "loop/event_loop.hpp"

namespace vorn {

void appendOutput(Connection& connection, std::span<const std::byte> bytes) {
    std::memcpy(connection.output + connection.outputEnd, bytes.data(), bytes.size());
    connection.outputEnd += bytes.size();
}

void ConnectionProtocol::onReadable(Connection& connection) {
    while (!connection.closed) {
        if (connection.outputStarved || connection.awaitingChunk) {
            giveBackEmptyChunks(connection);
            return;
        }
        if (!acquireInput(connection)) return;
        if (connection.inputFill == chunkBytes) {
            // A parked connection stops reading until it is resumed.
            if (!connection.parked) loop_.close(connection);
            return;
        }
        if (connection.readable.known && connection.readable.count == 0) {
            connection.readable.forget();
            giveBackEmptyChunks(connection);
            return;
        }
        ssize_t n = 0;
        do {
            n = ::read(connection.fd, connection.input + connection.inputFill,
                       chunkBytes - connection.inputFill);
        } while (n < 0 && errno == EINTR);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            giveBackEmptyChunks(connection);
            return;
        }
        if (n <= 0) {
            loop_.close(connection);
            return;
        }
        connection.readable.consume(static_cast<std::uint64_t>(n));
        connection.inputFill += static_cast<std::size_t>(n);
        process(connection);
    }
}

void ConnectionProtocol::process(Connection& connection) {
    for (;;) {
        if (connection.closed) return;
        if (!connection.parked) {
            if (connection.isMetrics()) {
                handleMetricsRequest(connection);
            } else {
                handleFrames(connection);
            }
            if (connection.closed) return;
        }
        if (flush(connection) != Flush::done) return;
        connection.outputEnd = 0;
        connection.outputSent = 0;
        if (connection.writeInterest) {
            connection.writeInterest = false;
            loop_.cancelWritable(connection);
        }
        if (connection.closeAfterFlush) {
            loop_.close(connection);
            return;
        }
        if (!connection.parked && connection.output != nullptr) {
            loop_.chunks().release(connection.output);
            connection.output = nullptr;
        }
        if (connection.writeBlocked || connection.awaitingChunk || !connection.outputStarved) {
            return;
        }
        // The output drained: go back to the frames that waited for room.
        connection.outputStarved = false;
    }
}

bool ConnectionProtocol::frameHandlingStopped(const Connection& connection) const {
    return connection.closeAfterFlush || connection.parked || connection.closed;
}

// Cuts and answers frames from the start of the input, then moves what is
// left (an incomplete frame, or frames waiting for room or a resume) to the
// start of the chunk.
void ConnectionProtocol::handleFrames(Connection& connection) {
    if (connection.input == nullptr) return;
    std::size_t offset = 0;
    while (!frameHandlingStopped(connection)) {
        CutFrame cut = cutFrame({connection.input + offset, connection.inputFill - offset});
        if (cut.status == CutFrame::Status::needMore) break;
        if (cut.status == CutFrame::Status::badLength) {
            loop_.close(connection);
            return;
        }
        if (!acquireOutput(connection)) break;
        if (chunkBytes - connection.outputEnd < replyRoom) {
            connection.outputStarved = true;
            break;
        }
        if (cut.status == CutFrame::Status::malformed || !handleFrame(connection, cut.frame)) {
            loop_.close(connection);
            return;
        }
        offset += cut.totalSize;
    }
    if (offset == 0) return;
    std::memmove(connection.input, connection.input + offset, connection.inputFill - offset);
    connection.inputFill -= offset;
}

ConnectionProtocol::Flush ConnectionProtocol::flush(Connection& connection) {
    while (connection.outputSent < connection.outputEnd) {
        ssize_t n = ::send(connection.fd, connection.output + connection.outputSent,
                           connection.outputEnd - connection.outputSent, MSG_NOSIGNAL);
        if (n >= 0) {
            connection.outputSent += static_cast<std::size_t>(n);
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            connection.writeBlocked = true;
            connection.writeInterest = true;
            loop_.armWritable(connection);
            return Flush::blocked;
        } else if (errno != EINTR) {
            loop_.close(connection);
            return Flush::closed;
        }
    }
    return Flush::done;
}

bool ConnectionProtocol::acquireInput(Connection& connection) {
    if (connection.input == nullptr) connection.input = loop_.chunks().acquire(connection);
    return connection.input != nullptr;
}

bool ConnectionProtocol::acquireOutput(Connection& connection) {
    if (connection.output == nullptr) connection.output = loop_.chunks().acquire(connection);
    return connection.output != nullptr;
}

// An idle connection holds no buffer memory; a parked one keeps its output
// chunk so that room for its ACK is certain.
void ConnectionProtocol::giveBackEmptyChunks(Connection& connection) {
    if (connection.input != nullptr && connection.inputFill == 0) {
        loop_.chunks().release(connection.input);
        connection.input = nullptr;
    }
    if (connection.output != nullptr && connection.outputEnd == 0 && !connection.parked) {
        loop_.chunks().release(connection.output);
        connection.output = nullptr;
    }
}

}  // namespace vorn
