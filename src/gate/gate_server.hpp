#pragma once

#include <expected>
#include <string_view>

#include "common/error.hpp"
#include "gate/gate_connection.hpp"

namespace vorn {

// What a listener's workers do with each accepted connection. Called from
// every worker at once; the worker closes the connection afterwards.
class ConnectionService {
public:
    virtual void serve(int fd, ConnectionBuffers& buffers) = 0;

protected:
    ~ConnectionService() = default;
};

// A listening TCP socket served by a fixed set of worker threads, started
// once, each blocking in accept and serving one connection at a time with
// buffers of its own. Blocking I/O keeps every connection's code straight;
// the worker count and the per-request deadline keep a flood of slow
// clients from holding more than the workers, and the process never grows
// with the load.
class GateServer {
public:
    // Binds and listens on "a.b.c.d:port" or "[v6]:port", port 1 to 65535.
    // InvalidArgument for another form, AddressInUse, SocketError.
    [[nodiscard]] static std::expected<GateServer, Error> listen(std::string_view address);

    GateServer(GateServer&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    GateServer(const GateServer&) = delete;
    GateServer& operator=(const GateServer&) = delete;
    GateServer& operator=(GateServer&&) = delete;
    ~GateServer();

    // Starts `workers` threads that serve connections with `service` for as
    // long as the process runs; both must outlive it. A worker whose accept
    // fails for good calls `stopped` with the error and ends. Fails when a
    // thread cannot be started.
    [[nodiscard]] std::expected<void, Error> start(int workers, ConnectionService& service,
                                                   void (*stopped)(Error));

private:
    explicit GateServer(int fd) : fd_(fd) {}
    int fd_;
};

}  // namespace vorn
