#include "http_server.hpp"

#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <new>
#include <semaphore>

#include "common/socket_address.hpp"
#include "common/thread.hpp"

namespace vorn::gate {

namespace {

using namespace std::chrono_literals;

// From accept to the last byte of the request; HAProxy sends a whole
// request at once, so only a stuck peer comes near it.
constexpr auto requestTimeout = 5s;

struct ConnectionJob {
    int fd;
    HttpHandler* handler;
    std::counting_semaphore<>* slots;
};

void* connectionThread(void* argument) {
    auto* job = static_cast<ConnectionJob*>(argument);
    serveConnection(job->fd, *job->handler, requestTimeout);
    ::close(job->fd);
    job->slots->release();
    delete job;
    return nullptr;
}

// Failures of one accept that leave the listener usable.
bool isTransient(int error) {
    return error == EINTR || error == ECONNABORTED || error == EMFILE || error == ENFILE ||
           error == ENOBUFS || error == ENOMEM || error == EPROTO;
}

// Hands `fd` to a thread of its own; closes it when none can be started.
void startConnection(int fd, HttpHandler& handler, std::counting_semaphore<>& slots) {
    auto* job = new (std::nothrow) ConnectionJob{fd, &handler, &slots};
    auto thread = job ? startThread(connectionThread, job) : std::unexpected(Error::OutOfMemory);
    if (thread) {
        ::pthread_detach(*thread);
        return;
    }
    delete job;
    ::close(fd);
    slots.release();
}

}  // namespace

std::expected<HttpServer, Error> HttpServer::listen(std::string_view address) {
    auto parsed = parseSocketAddress(address);
    if (!parsed) return std::unexpected(Error::InvalidArgument);
    const int fd = ::socket(parsed->family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return std::unexpected(Error::SocketError);
    HttpServer server(fd);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&parsed->storage), parsed->length) != 0) {
        return std::unexpected(errno == EADDRINUSE ? Error::AddressInUse : Error::SocketError);
    }
    if (::listen(fd, 128) != 0) return std::unexpected(Error::SocketError);
    return server;
}

HttpServer::~HttpServer() {
    if (fd_ >= 0) ::close(fd_);
}

std::uint16_t HttpServer::port() const {
    sockaddr_storage address{};
    socklen_t length = sizeof(address);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    if (address.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
    }
    return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

// The connection threads hold on to `slots`: the process ends when this
// returns, so they never outlive it in use.
Error HttpServer::run(HttpHandler& handler, int maxConnections) {
    std::counting_semaphore<> slots(maxConnections);
    for (;;) {
        slots.acquire();
        const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            startConnection(fd, handler, slots);
            continue;
        }
        const int error = errno;
        slots.release();
        if (!isTransient(error)) return Error::SocketError;
        // Out of descriptors or memory: let running connections finish.
        if (error != EINTR && error != ECONNABORTED) ::usleep(50'000);
    }
}

}  // namespace vorn::gate
