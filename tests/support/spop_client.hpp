#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/agent_frame.hpp"
#include "support/deadline.hpp"
#include "support/spop_wire.hpp"
#include "support/vorn_check.hpp"

namespace vorn::test {

// One SPOP connection to the agent, playing HAProxy's part. Every wait is
// bounded; a timeout, an unexpected close or a malformed frame is reported as
// a test failure and the call returns false or nothing.
class SpopClient {
public:
    // Connects to the unix socket at `path`, retrying while nothing listens
    // there yet, until the timeout passes.
    [[nodiscard]] static std::optional<SpopClient> connect(const std::string& path,
                                                           Millis timeout = defaultTimeout);

    SpopClient(SpopClient&& other) noexcept;
    SpopClient& operator=(SpopClient&& other) noexcept;
    SpopClient(const SpopClient&) = delete;
    SpopClient& operator=(const SpopClient&) = delete;
    ~SpopClient();

    // Whole frames, several frames at once, or any bytes.
    bool send(std::string_view bytes, Millis timeout = defaultTimeout);
    // The bytes in pieces cut at the given offsets, with a pause after each
    // piece, so that the agent reads them separately.
    bool sendSplit(std::string_view bytes, const std::vector<std::size_t>& cuts,
                   Millis pause = Millis{20});

    // The next frame from the agent, strictly decoded.
    [[nodiscard]] std::optional<AgentFrame> receive(Millis timeout = defaultTimeout);

    // True when the agent closes the connection within the timeout and
    // nothing arrived before that which was not received as a frame.
    [[nodiscard]] bool waitClosed(Millis timeout = defaultTimeout);

    // True when nothing arrives for the whole duration and the connection
    // stays open; what does arrive is kept for receive().
    [[nodiscard]] bool quietFor(Millis duration);

    // Sends HAPROXY-HELLO and returns the agent's reply, which must be an
    // AGENT-HELLO.
    [[nodiscard]] std::optional<AgentFrame> hello(std::uint32_t maxFrameSize = haproxyMaxFrameSize);

    // Sends `check` in a NOTIFY with fresh stream and frame ids and returns
    // the reply, which must be the ACK with the same ids.
    [[nodiscard]] std::optional<AgentFrame> decide(const VornCheck& check,
                                                   Millis timeout = defaultTimeout);

    // Sends the checks pipelined, a batch of NOTIFYs at a time, and reads
    // every ACK; false at the first one that is missing or not its own.
    [[nodiscard]] bool decideAll(const std::vector<VornCheck>& checks, std::size_t batch = 100);


private:
    explicit SpopClient(int fd) : fd_(fd) {}

    int fd_ = -1;
    std::string input_;  // received bytes not yet returned as frames
    std::uint64_t lastId_ = 0;
};

}  // namespace vorn::test
