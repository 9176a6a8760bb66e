#include "support/socket_io.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <thread>

namespace vorn::test {

namespace {

bool peerGone(int error) {
    return error == EPIPE || error == ECONNRESET;
}

// Waits for `events`; Ok when they are reported (or an error or hang-up is,
// which the next call then reads).
IoStatus waitFor(int fd, short events, const Deadline& deadline) {
    for (;;) {
        pollfd entry{.fd = fd, .events = events, .revents = 0};
        int ready = poll(&entry, 1, deadline.pollMillis());
        if (ready > 0) return IoStatus::Ok;
        if (ready == 0) return IoStatus::TimedOut;
        if (errno != EINTR) return IoStatus::Failed;
    }
}

}  // namespace

const char* ioStatusName(IoStatus status) {
    switch (status) {
        case IoStatus::Ok:
            return "ok";
        case IoStatus::TimedOut:
            return "timed out";
        case IoStatus::Closed:
            return "closed by the peer";
        case IoStatus::Failed:
            return "failed";
    }
    return "unknown";
}

IoStatus sendAll(int fd, std::string_view bytes, const Deadline& deadline) {
    while (!bytes.empty()) {
        ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(sent));
            continue;
        }
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0 && peerGone(errno)) return IoStatus::Closed;
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return IoStatus::Failed;
        if (auto status = waitFor(fd, POLLOUT, deadline); status != IoStatus::Ok) return status;
    }
    return IoStatus::Ok;
}

IoStatus sendSplit(int fd, std::string_view bytes, const std::vector<std::size_t>& cuts,
                   Millis pause, Millis timeout) {
    std::size_t start = 0;
    for (std::size_t cut : cuts) {
        if (cut <= start || cut >= bytes.size()) continue;
        auto status = sendAll(fd, bytes.substr(start, cut - start), Deadline(timeout));
        if (status != IoStatus::Ok) return status;
        start = cut;
        std::this_thread::sleep_for(pause);
    }
    return sendAll(fd, bytes.substr(start), Deadline(timeout));
}

IoStatus receiveSome(int fd, std::string& into, const Deadline& deadline) {
    std::array<char, 65536> buffer{};
    for (;;) {
        ssize_t got = read(fd, buffer.data(), buffer.size());
        if (got > 0) {
            into.append(buffer.data(), static_cast<std::size_t>(got));
            return IoStatus::Ok;
        }
        if (got == 0) return IoStatus::Closed;
        if (errno == EINTR) continue;
        if (peerGone(errno)) return IoStatus::Closed;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return IoStatus::Failed;
        if (auto status = waitFor(fd, POLLIN, deadline); status != IoStatus::Ok) return status;
    }
}

}  // namespace vorn::test
