#include "support/spop_client.hpp"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>
#include <utility>

#include "support/hex.hpp"
#include "support/socket_io.hpp"

namespace vorn::test {

namespace {

// How often a connection is retried while the daemon is still starting.
constexpr Millis connectRetryInterval{10};

// Not yet listening (no socket file, or nobody accepting yet), or the
// listen queue is full for the moment.
bool worthRetrying(int error) {
    return error == ENOENT || error == ECONNREFUSED || error == EAGAIN;
}

}  // namespace

std::optional<SpopClient> SpopClient::connect(const std::string& path, Millis timeout) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        ADD_FAILURE() << "socket path too long: " << path;
        return std::nullopt;
    }
    path.copy(address.sun_path, path.size());
    Deadline deadline(timeout);
    for (;;) {
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            ADD_FAILURE() << "socket: " << std::strerror(errno);
            return std::nullopt;
        }
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            return SpopClient(fd);
        }
        int error = errno;
        close(fd);
        if (!worthRetrying(error) || deadline.passed()) {
            ADD_FAILURE() << "connecting to " << path << ": " << std::strerror(error);
            return std::nullopt;
        }
        std::this_thread::sleep_for(connectRetryInterval);
    }
}

SpopClient::SpopClient(SpopClient&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), input_(std::move(other.input_)), lastId_(other.lastId_) {}

SpopClient& SpopClient::operator=(SpopClient&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        input_ = std::move(other.input_);
        lastId_ = other.lastId_;
    }
    return *this;
}

SpopClient::~SpopClient() {
    if (fd_ >= 0) close(fd_);
}

bool SpopClient::send(std::string_view bytes, Millis timeout) {
    auto status = sendAll(fd_, bytes, Deadline(timeout));
    if (status == IoStatus::Ok) return true;
    ADD_FAILURE() << "sending " << bytes.size() << " bytes: " << ioStatusName(status);
    return false;
}

bool SpopClient::sendSplit(std::string_view bytes, const std::vector<std::size_t>& cuts,
                           Millis pause) {
    auto status = vorn::test::sendSplit(fd_, bytes, cuts, pause, defaultTimeout);
    if (status == IoStatus::Ok) return true;
    ADD_FAILURE() << "sending " << bytes.size() << " bytes in pieces: " << ioStatusName(status);
    return false;
}

std::optional<AgentFrame> SpopClient::receive(Millis timeout) {
    Deadline deadline(timeout);
    for (;;) {
        auto size = wholeFrameSize(input_);
        if (!size) {
            ADD_FAILURE() << "from the agent: " << size.error() << "\n  bytes: " << toHex(input_);
            return std::nullopt;
        }
        if (*size > 0) {
            auto frame = decodeAgentFrame(std::string_view(input_).substr(0, *size));
            input_.erase(0, *size);
            return frame;
        }
        auto status = receiveSome(fd_, input_, deadline);
        if (status != IoStatus::Ok) {
            ADD_FAILURE() << "waiting for a frame: " << ioStatusName(status)
                          << "\n  bytes so far: " << toHex(input_);
            return std::nullopt;
        }
    }
}

bool SpopClient::waitClosed(Millis timeout) {
    Deadline deadline(timeout);
    for (;;) {
        auto status = receiveSome(fd_, input_, deadline);
        if (status == IoStatus::Ok) continue;
        if (status == IoStatus::Closed && input_.empty()) return true;
        ADD_FAILURE() << "waiting for the agent to close: " << ioStatusName(status)
                      << "\n  unread bytes: " << toHex(input_);
        return false;
    }
}

bool SpopClient::quietFor(Millis duration) {
    std::size_t before = input_.size();
    auto status = receiveSome(fd_, input_, Deadline(duration));
    if (status == IoStatus::TimedOut) return true;
    ADD_FAILURE() << "expected silence, got: " << ioStatusName(status)
                  << "\n  bytes: " << toHex(std::string_view(input_).substr(before));
    return false;
}

std::optional<AgentFrame> SpopClient::hello(std::uint32_t maxFrameSize) {
    if (!send(haproxyHello(maxFrameSize))) return std::nullopt;
    auto reply = receive();
    if (reply && !reply->is(FrameType::AgentHello)) {
        ADD_FAILURE() << "expected AGENT-HELLO, got frame type " << int{reply->type};
        return std::nullopt;
    }
    return reply;
}

bool SpopClient::decideAll(const std::vector<VornCheck>& checks, std::size_t batch) {
    for (std::size_t first = 0; first < checks.size(); first += batch) {
        const std::size_t size = std::min(batch, checks.size() - first);
        const std::uint64_t firstId = lastId_ + 1;
        Bytes frames;
        for (std::size_t i = 0; i < size; ++i) {
            ++lastId_;
            frames += notify(lastId_, lastId_, checks[first + i]);
        }
        if (!send(frames)) return false;
        for (std::uint64_t id = firstId; id <= lastId_; ++id) {
            auto reply = receive();
            if (!reply) return false;
            if (!reply->is(FrameType::Ack) || reply->streamId != id) {
                ADD_FAILURE() << "expected the ACK of stream " << id << ", got type "
                              << int{reply->type} << " stream " << reply->streamId;
                return false;
            }
        }
    }
    return true;
}

std::optional<AgentFrame> SpopClient::decide(const VornCheck& check, Millis timeout) {
    std::uint64_t id = ++lastId_;
    if (!send(notify(id, id, check), timeout)) return std::nullopt;
    auto reply = receive(timeout);
    if (!reply) return std::nullopt;
    if (!reply->is(FrameType::Ack) || reply->streamId != id || reply->frameId != id) {
        ADD_FAILURE() << "expected the ACK of stream " << id << " frame " << id << ", got type "
                      << int{reply->type} << " stream " << reply->streamId << " frame "
                      << reply->frameId;
        return std::nullopt;
    }
    return reply;
}

}  // namespace vorn::test
