#pragma once

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <string>

namespace vorn::test {

// A pipe whose ends close with it.
class Pipe {
public:
    Pipe() {
        int fds[2] = {-1, -1};
        if (pipe(fds) == 0) {
            readEnd_ = fds[0];
            writeEnd_ = fds[1];
        }
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    ~Pipe() {
        closeRead();
        closeWrite();
    }

    [[nodiscard]] int readEnd() const { return readEnd_; }
    [[nodiscard]] int writeEnd() const { return writeEnd_; }
    void closeWrite() { closeFd(writeEnd_); }
    void closeRead() { closeFd(readEnd_); }

private:
    static void closeFd(int& fd) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
    int readEnd_ = -1;
    int writeEnd_ = -1;
};

// Writes filler bytes into a pipe until it holds no more, so that the next
// blocking write to it waits for a reader.
inline std::size_t fillPipe(int writeFd) {
    const int flags = fcntl(writeFd, F_GETFL);
    fcntl(writeFd, F_SETFL, flags | O_NONBLOCK);
    const std::array<char, 4096> filler = {};
    std::size_t total = 0;
    ssize_t n = 0;
    while ((n = write(writeFd, filler.data(), filler.size())) > 0)
        total += static_cast<std::size_t>(n);
    fcntl(writeFd, F_SETFL, flags);
    return total;
}

// Reads `fd` until end of file, or until nothing arrives for `quiet`.
inline std::string readUntilEof(int fd,
                                std::chrono::milliseconds quiet = std::chrono::seconds(10)) {
    std::string text;
    std::array<char, 65536> buffer{};
    while (true) {
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, static_cast<int>(quiet.count())) <= 0) return text;
        ssize_t n = read(fd, buffer.data(), buffer.size());
        if (n <= 0) return text;
        text.append(buffer.data(), static_cast<std::size_t>(n));
    }
}

// What is in the pipe right now, without waiting.
inline std::string readAvailable(int fd) {
    std::string text;
    std::array<char, 65536> buffer{};
    pollfd ready{fd, POLLIN, 0};
    while (poll(&ready, 1, 0) > 0 && (ready.revents & POLLIN) != 0) {
        ssize_t n = read(fd, buffer.data(), buffer.size());
        if (n <= 0) break;
        text.append(buffer.data(), static_cast<std::size_t>(n));
    }
    return text;
}

// Points standard error at a pipe for the object's lifetime.
class StandardErrorCapture {
public:
    StandardErrorCapture() : saved_(dup(2)) { dup2(pipe_.writeEnd(), 2); }
    StandardErrorCapture(const StandardErrorCapture&) = delete;
    StandardErrorCapture& operator=(const StandardErrorCapture&) = delete;
    ~StandardErrorCapture() {
        dup2(saved_, 2);
        close(saved_);
    }

    [[nodiscard]] std::string taken() { return readAvailable(pipe_.readEnd()); }

private:
    Pipe pipe_;
    int saved_;
};

}  // namespace vorn::test
