#pragma once

#include <cstdint>
#include <expected>
#include <string_view>

#include "common/error.hpp"
#include "http_connection.hpp"

namespace vorn::gate {

// A listening TCP socket whose connections are each served on a thread of
// their own, one request per connection. Blocking I/O keeps every
// connection's code straight; the thread cap and the per-request deadline
// keep a flood of slow clients from growing the process without bound.
class HttpServer {
public:
    // Binds and listens on "a.b.c.d:port" or "[v6]:port" (port 0 picks a
    // free one). InvalidArgument for another form, AddressInUse, ...
    [[nodiscard]] static std::expected<HttpServer, Error> listen(std::string_view address);

    HttpServer(HttpServer&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;
    HttpServer& operator=(HttpServer&&) = delete;
    ~HttpServer();

    [[nodiscard]] std::uint16_t port() const;

    // Accepts for ever; at most `maxConnections` are served at once and the
    // rest wait in the listen queue. Returns only when accepting fails for
    // good.
    [[nodiscard]] Error run(HttpHandler& handler, int maxConnections);

private:
    explicit HttpServer(int fd) : fd_(fd) {}
    int fd_;
};

}  // namespace vorn::gate
