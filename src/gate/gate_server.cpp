#include "gate/gate_server.hpp"

#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "common/socket_address.hpp"
#include "common/thread.hpp"

namespace vorn {

namespace {

// Connections waiting for a worker; HAProxy holds the rest in its queue.
constexpr int listenBacklog = 128;
// After running out of descriptors or memory, running connections get this
// long to finish before the next accept.
constexpr useconds_t resourcePause = 50'000;

struct Worker {
    int listener;
    ConnectionService* service;
    void (*stopped)(Error);
};

// Failures of one accept that leave the listener usable.
bool isTransient(int error) {
    return error == EINTR || error == ECONNABORTED || error == EMFILE || error == ENFILE ||
           error == ENOBUFS || error == ENOMEM || error == EPROTO;
}

void* workerMain(void* argument) {
    const Worker worker = *static_cast<Worker*>(argument);
    delete static_cast<Worker*>(argument);
    // On the worker's own stack, which is large; touched again for every
    // connection, never allocated.
    ConnectionBuffers buffers;
    for (;;) {
        const int fd = ::accept4(worker.listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            worker.service->serve(fd, buffers);
            ::close(fd);
            continue;
        }
        const int error = errno;
        if (!isTransient(error)) break;
        if (error != EINTR && error != ECONNABORTED) ::usleep(resourcePause);
    }
    worker.stopped(Error::SocketError);
    return nullptr;
}

}  // namespace

std::expected<GateServer, Error> GateServer::listen(std::string_view address) {
    auto parsed = parseSocketAddress(address);
    if (!parsed) return std::unexpected(Error::InvalidArgument);
    const int fd = ::socket(parsed->family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return std::unexpected(Error::SocketError);
    GateServer server(fd);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&parsed->storage), parsed->length) != 0) {
        return std::unexpected(errno == EADDRINUSE ? Error::AddressInUse : Error::SocketError);
    }
    if (::listen(fd, listenBacklog) != 0) return std::unexpected(Error::SocketError);
    return server;
}

GateServer::~GateServer() {
    if (fd_ >= 0) ::close(fd_);
}

std::expected<void, Error> GateServer::start(int workers, ConnectionService& service,
                                             void (*stopped)(Error)) {
    for (int i = 0; i < workers; ++i) {
        auto* worker = new (std::nothrow) Worker{fd_, &service, stopped};
        if (worker == nullptr) return std::unexpected(Error::OutOfMemory);
        auto thread = startThread(workerMain, worker);
        if (!thread) {
            delete worker;
            return std::unexpected(thread.error());
        }
        ::pthread_detach(*thread);
    }
    return {};
}

}  // namespace vorn
