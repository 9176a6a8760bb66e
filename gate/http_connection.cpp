#include "http_connection.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <expected>
#include <string>

namespace vorn::gate {

namespace {

using Clock = std::chrono::steady_clock;

int millisLeft(Clock::time_point end) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool waitFor(int fd, short events, Clock::time_point end) {
    pollfd entry{.fd = fd, .events = events, .revents = 0};
    for (;;) {
        const int ready = ::poll(&entry, 1, millisLeft(end));
        if (ready < 0 && errno == EINTR) continue;
        return ready > 0;
    }
}

// Appends what the peer sent next; false on timeout, close or error.
std::expected<void, Fault> readMore(int fd, std::string& buffer, Clock::time_point end) {
    if (!waitFor(fd, POLLIN, end)) return std::unexpected(Fault::Timeout);
    std::array<char, 4096> chunk{};
    ssize_t got = 0;
    do {
        got = ::recv(fd, chunk.data(), chunk.size(), 0);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) return std::unexpected(Fault::BadHttp);
    buffer.append(chunk.data(), static_cast<std::size_t>(got));
    return {};
}

std::expected<HttpRequest, Fault> readRequest(int fd, std::string& buffer, Clock::time_point end) {
    std::size_t headEnd = std::string::npos;
    while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
        if (buffer.size() > maxHeadBytes) return std::unexpected(Fault::TooLarge);
        if (auto more = readMore(fd, buffer, end); !more) return std::unexpected(more.error());
    }
    auto request = parseHttpHead(std::string_view(buffer).substr(0, headEnd));
    if (!request) return request;
    auto length = bodyLength(*request);
    if (!length) return std::unexpected(length.error());
    const std::size_t bodyStart = headEnd + 4;
    while (buffer.size() - bodyStart < *length) {
        if (auto more = readMore(fd, buffer, end); !more) return std::unexpected(more.error());
    }
    request->body = buffer.substr(bodyStart, *length);
    return request;
}

void writeAll(int fd, std::string_view bytes, Clock::time_point end) {
    while (!bytes.empty()) {
        if (!waitFor(fd, POLLOUT, end)) return;
        const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return;
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
}

}  // namespace

void serveConnection(int fd, HttpHandler& handler, std::chrono::milliseconds timeout) {
    const auto end = Clock::now() + timeout;
    std::string buffer;
    auto request = readRequest(fd, buffer, end);
    if (!request && buffer.empty()) return;
    HttpResponse response;
    if (request) {
        response = handler.handle(*request);
    } else {
        handler.refused(request.error());
        response = badRequest(request.error());
    }
    // The answer gets its own time, so that a request read at the last
    // moment is still answered.
    writeAll(fd, serialize(response), Clock::now() + timeout);
}

}  // namespace vorn::gate
