#pragma once

#include <cstddef>
#include <expected>
#include <span>

#include "common/error.hpp"
#include "loop/connection.hpp"
#include "spop/codec/frame.hpp"

namespace vorn {

class EventLoop;
class MetricsSource;

// The request decision, as the connection protocol sees it: it answers a
// NOTIFY by appending an ACK to the connection's output (at least 512 bytes
// are free), or parks it, or fails with Truncated or BadType.
class NotifyHandler {
public:
    [[nodiscard]] virtual std::expected<void, Error> handleNotify(Connection& connection,
                                                                  const Frame& frame) = 0;

protected:
    ~NotifyHandler() = default;
};

// Every frame the agent sends fits in this much output space.
inline constexpr std::size_t replyRoom = 512;

// Appends a reply to the connection's output chunk, which the caller has
// made sure holds at least replyRoom free bytes.
void appendOutput(Connection& connection, std::span<const std::byte> bytes);

// What one connection does on the loop thread: read into its input chunk,
// cut and answer SPOP frames (or answer the one metrics request), flush its
// output, and close. SPOP and metrics connections share everything but the
// handling of buffered input.
class ConnectionProtocol {
public:
    ConnectionProtocol(EventLoop& loop, NotifyHandler& notify, MetricsSource& metrics)
        : loop_(loop), notify_(notify), metrics_(metrics) {}

    // Reads while the socket has bytes and the connection can take them,
    // handling what arrives.
    void onReadable(Connection& connection);
    // Handles buffered input, then flushes the output.
    void process(Connection& connection);

private:
    enum class Flush : std::uint8_t { done, blocked, closed };

    void handleFrames(Connection& connection);
    void handleMetricsRequest(Connection& connection);
    bool handleFrame(Connection& connection, const Frame& frame);
    bool answerHello(Connection& connection, const Frame& frame);
    Flush flush(Connection& connection);
    bool acquireInput(Connection& connection);
    bool acquireOutput(Connection& connection);
    void giveBackEmptyChunks(Connection& connection);
    [[nodiscard]] bool frameHandlingStopped(const Connection& connection) const;

    EventLoop& loop_;
    NotifyHandler& notify_;
    MetricsSource& metrics_;
};

}  // namespace vorn
