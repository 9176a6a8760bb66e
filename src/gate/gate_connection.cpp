#include "gate/gate_connection.hpp"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <expected>
#include <optional>
#include <string_view>

#include "common/http_head.hpp"
#include "gate/chunked_body.hpp"

namespace vorn {

namespace {

constexpr Nanos nanosPerMilli = 1'000'000;

int millisLeft(Nanos end) {
    const Nanos left = end - steadyNanos();
    return left > 0 ? static_cast<int>((left + nanosPerMilli - 1) / nanosPerMilli) : 0;
}

bool waitFor(int fd, short events, Nanos end) {
    pollfd entry{.fd = fd, .events = events, .revents = 0};
    for (;;) {
        const int ready = ::poll(&entry, 1, millisLeft(end));
        if (ready < 0 && errno == EINTR) continue;
        return ready > 0;
    }
}

// What arrived in the input so far, and one more read into the rest of it.
class Received {
public:
    explicit Received(std::span<char> input) : input_(input) {}

    // Appends what the peer sent next: Timeout when nothing came in time,
    // TooLarge when the input is full, BadHttp when the peer closed.
    [[nodiscard]] std::expected<void, GateFault> readMore(int fd, Nanos end) {
        if (size_ == input_.size()) return std::unexpected(GateFault::TooLarge);
        if (!waitFor(fd, POLLIN, end)) return std::unexpected(GateFault::Timeout);
        ssize_t got = 0;
        do {
            got = ::recv(fd, input_.data() + size_, input_.size() - size_, 0);
        } while (got < 0 && errno == EINTR);
        if (got <= 0) return std::unexpected(GateFault::BadHttp);
        size_ += static_cast<std::size_t>(got);
        return {};
    }

    [[nodiscard]] std::string_view text() const { return {input_.data(), size_}; }
    [[nodiscard]] std::span<char> bytes() const { return input_.first(size_); }
    [[nodiscard]] std::size_t size() const { return size_; }

private:
    std::span<char> input_;
    std::size_t size_ = 0;
};

// Reads until the head has ended and returns its length; the search for its
// end resumes after the bytes already searched.
std::expected<std::size_t, GateFault> readHead(int fd, Received& received, Nanos end) {
    std::size_t seen = 0;
    for (;;) {
        if (auto at = findHttpHeadEnd(received.text(), seen)) return *at;
        if (received.size() > maxHeadBytes) return std::unexpected(GateFault::TooLarge);
        seen = received.size();
        if (auto more = received.readMore(fd, end); !more) return std::unexpected(more.error());
    }
}

std::expected<std::string_view, GateFault> readBody(int fd, Received& received,
                                                    std::size_t bodyStart,
                                                    const GateRequest& request, Nanos end) {
    if (request.framing == BodyFraming::none) return std::string_view();
    if (request.framing == BodyFraming::length) {
        while (received.size() - bodyStart < request.contentLength) {
            if (auto more = received.readMore(fd, end); !more) return std::unexpected(more.error());
        }
        return received.text().substr(bodyStart, request.contentLength);
    }
    ChunkedBody chunked;
    for (;;) {
        auto decoded = chunked.decode(received.bytes().subspan(bodyStart));
        if (!decoded) return std::unexpected(decoded.error());
        if (*decoded) return received.text().substr(bodyStart, chunked.decodedLength());
        if (auto more = received.readMore(fd, end); !more) return std::unexpected(more.error());
    }
}

std::expected<void, GateFault> readRequest(int fd, Received& received, GateRequest& request,
                                           Nanos end) {
    auto headEnd = readHead(fd, received, end);
    if (!headEnd) return std::unexpected(headEnd.error());
    if (auto parsed = parseRequestHead(received.text().substr(0, *headEnd), request); !parsed) {
        return parsed;
    }
    auto body = readBody(fd, received, *headEnd + httpHeadEnd.size(), request, end);
    if (!body) return std::unexpected(body.error());
    request.body = *body;
    return {};
}

void writeAll(int fd, std::string_view bytes, Nanos end) {
    while (!bytes.empty()) {
        if (!waitFor(fd, POLLOUT, end)) return;
        const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return;
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
}

}  // namespace

void serveGateConnection(int fd, GateHandler& handler, ConnectionBuffers& buffers, Nanos timeout) {
    Received received(buffers.input);
    GateRequest request;
    auto read = readRequest(fd, received, request, steadyNanos() + timeout);
    if (!read && received.size() == 0) return;
    GateReply reply(buffers.output);
    if (read) {
        handler.handle(request, GateTime::now(), reply);
    } else {
        handler.refused(read.error());
        refuseReply(reply, read.error());
    }
    // The answer gets its own time, so that a request read at the last
    // moment is still answered.
    writeAll(fd, reply.finish(), steadyNanos() + timeout);
}

void serveMetricsConnection(int fd, MetricsSource& source, ConnectionBuffers& buffers,
                            Nanos timeout) {
    Received received(buffers.input);
    if (!readHead(fd, received, steadyNanos() + timeout)) return;
    auto output = std::as_writable_bytes(std::span(buffers.output));
    auto response = writeMetricsResponse(std::as_bytes(received.bytes()), output, source);
    if (!response) return;
    const std::string_view bytes(buffers.output.data() + response->begin,
                                 response->end - response->begin);
    writeAll(fd, bytes, steadyNanos() + timeout);
}

}  // namespace vorn
