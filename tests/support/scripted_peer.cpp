#include "support/scripted_peer.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/socket_io.hpp"

namespace vorn::test {

int listenUnix(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, 8) != 0) {
        ADD_FAILURE() << "listening on " << path << ": " << std::strerror(errno);
        if (fd >= 0) close(fd);
        return -1;
    }
    return fd;
}

TcpListener listenTcpLoopback() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    auto* generic = reinterpret_cast<sockaddr*>(&address);
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || bind(fd, generic, size) != 0 || listen(fd, 8) != 0 ||
        getsockname(fd, generic, &size) != 0) {
        ADD_FAILURE() << "listening on 127.0.0.1: " << std::strerror(errno);
        if (fd >= 0) close(fd);
        return {};
    }
    return {fd, ntohs(address.sin_port)};
}

bool readAtLeast(int fd, std::string& into, std::size_t count) {
    Deadline deadline(defaultTimeout);
    while (into.size() < count) {
        if (receiveSome(fd, into, deadline) != IoStatus::Ok) return false;
    }
    return true;
}

bool readUntil(int fd, std::string& into, std::string_view marker) {
    Deadline deadline(defaultTimeout);
    while (into.find(marker) == std::string::npos) {
        if (receiveSome(fd, into, deadline) != IoStatus::Ok) return false;
    }
    return true;
}

bool writeAll(int fd, std::string_view bytes) {
    return sendAll(fd, bytes, Deadline(defaultTimeout)) == IoStatus::Ok;
}

ScriptedPeer::ScriptedPeer(int listenFd, std::function<void(int)> script)
    : listenFd_(listenFd), thread_([this, script = std::move(script)] { run(script); }) {}

ScriptedPeer::~ScriptedPeer() {
    thread_.join();
    if (listenFd_ >= 0) close(listenFd_);
}

void ScriptedPeer::run(const std::function<void(int)>& script) {
    pollfd entry{.fd = listenFd_, .events = POLLIN, .revents = 0};
    if (listenFd_ < 0 || poll(&entry, 1, Deadline(defaultTimeout).pollMillis()) != 1) {
        ADD_FAILURE() << "nobody connected to the scripted peer";
        return;
    }
    int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        ADD_FAILURE() << "accept: " << std::strerror(errno);
        return;
    }
    script(fd);
    close(fd);
}

}  // namespace vorn::test
