#include "support/http_client.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "support/hex.hpp"
#include "support/socket_io.hpp"

namespace vorn::test {

namespace {

struct Endpoint {
    sockaddr_storage address{};
    socklen_t size = 0;
};

std::optional<std::uint16_t> parsePort(std::string_view text) {
    unsigned value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || value == 0 || value > 65535) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

std::optional<Endpoint> parseEndpoint(std::string_view text) {
    auto colon = text.rfind(':');
    if (colon == std::string_view::npos) return std::nullopt;
    auto port = parsePort(text.substr(colon + 1));
    std::string host(text.substr(0, colon));
    if (!port) return std::nullopt;
    Endpoint endpoint;
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&endpoint.address);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(*port);
        if (inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), &v6->sin6_addr) != 1) {
            return std::nullopt;
        }
        endpoint.size = sizeof *v6;
        return endpoint;
    }
    auto* v4 = reinterpret_cast<sockaddr_in*>(&endpoint.address);
    v4->sin_family = AF_INET;
    v4->sin_port = htons(*port);
    if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) != 1) return std::nullopt;
    endpoint.size = sizeof *v4;
    return endpoint;
}

// A non-blocking TCP connection, or -1 after a test failure.
int connectTo(const Endpoint& endpoint, const Deadline& deadline) {
    int fd = socket(endpoint.address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        ADD_FAILURE() << "socket: " << std::strerror(errno);
        return -1;
    }
    if (connect(fd, reinterpret_cast<const sockaddr*>(&endpoint.address), endpoint.size) == 0) {
        return fd;
    }
    int error = errno;
    if (error == EINPROGRESS) {
        pollfd entry{.fd = fd, .events = POLLOUT, .revents = 0};
        socklen_t size = sizeof error;
        error = ETIMEDOUT;
        if (poll(&entry, 1, deadline.pollMillis()) == 1) {
            getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
        }
        if (error == 0) return fd;
    }
    ADD_FAILURE() << "connecting: " << std::strerror(error);
    close(fd);
    return -1;
}

// Reads until the server closes; a reset counts as a close, since a server
// that drops an unread request resets the connection.
std::optional<std::string> readToEnd(int fd, const Deadline& deadline) {
    std::string received;
    for (;;) {
        auto status = receiveSome(fd, received, deadline);
        if (status == IoStatus::Ok) continue;
        if (status == IoStatus::Closed) return received;
        ADD_FAILURE() << "reading the response: " << ioStatusName(status)
                      << "\n  bytes so far: " << toHex(received);
        return std::nullopt;
    }
}

std::string lowerCase(std::string_view text) {
    std::string out(text);
    std::ranges::transform(out, out.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::optional<int> statusCodeOf(std::string_view statusLine) {
    constexpr std::string_view prefix = "HTTP/1.1 ";
    if (!statusLine.starts_with(prefix) || statusLine.size() < prefix.size() + 3) {
        return std::nullopt;
    }
    int code = 0;
    auto digits = statusLine.substr(prefix.size(), 3);
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), code);
    if (ec != std::errc{} || end != digits.data() + digits.size()) return std::nullopt;
    return code;
}

}  // namespace

std::optional<std::string> httpExchange(std::uint16_t port, std::string_view request,
                                        Millis timeout, const HttpSplit& split) {
    return httpExchange("127.0.0.1:" + std::to_string(port), request, timeout, split);
}

std::optional<std::string> httpExchange(std::string_view address, std::string_view request,
                                        Millis timeout, const HttpSplit& split) {
    auto endpoint = parseEndpoint(address);
    if (!endpoint) {
        ADD_FAILURE() << "not an address and port: " << address;
        return std::nullopt;
    }
    Deadline deadline(timeout);
    int fd = connectTo(*endpoint, deadline);
    if (fd < 0) return std::nullopt;
    // A server that answers or drops the request before reading all of it
    // makes the rest of the send fail; what it sent is still worth reading.
    auto sent = sendSplit(fd, request, split.cuts, split.pause, timeout);
    std::optional<std::string> received;
    if (sent == IoStatus::Ok || sent == IoStatus::Closed) {
        received = readToEnd(fd, deadline);
    } else {
        ADD_FAILURE() << "sending the request: " << ioStatusName(sent);
    }
    close(fd);
    return received;
}

std::optional<HttpResponse> parseHttpResponse(std::string_view raw) {
    auto headEnd = raw.find("\r\n\r\n");
    if (headEnd == std::string_view::npos) return std::nullopt;
    auto head = raw.substr(0, headEnd + 2);
    HttpResponse response;
    auto lineEnd = head.find("\r\n");
    response.statusLine = std::string(head.substr(0, lineEnd));
    auto code = statusCodeOf(response.statusLine);
    if (!code) return std::nullopt;
    response.status = *code;
    for (auto rest = head.substr(lineEnd + 2); !rest.empty();) {
        auto end = rest.find("\r\n");
        auto line = rest.substr(0, end);
        rest.remove_prefix(end + 2);
        auto colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) return std::nullopt;
        auto value = line.substr(colon + 1);
        value.remove_prefix(std::min(value.find_first_not_of(' '), value.size()));
        response.headers[lowerCase(line.substr(0, colon))] = std::string(value);
    }
    response.body = std::string(raw.substr(headEnd + 4));
    return response;
}

std::optional<HttpResponse> httpGet(std::uint16_t port, std::string_view target) {
    std::string request = "GET " + std::string(target) + " HTTP/1.1\r\nhost: 127.0.0.1\r\n\r\n";
    auto raw = httpExchange(port, request);
    if (!raw) return std::nullopt;
    auto response = parseHttpResponse(*raw);
    if (!response) ADD_FAILURE() << "not an HTTP response: " << toHex(*raw);
    return response;
}

}  // namespace vorn::test
