#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "support/deadline.hpp"

// The other end of a connection, played by a script on its own thread: a
// stand-in agent or server for testing the clients in this folder.

namespace vorn::test {

// A listening socket; -1 after a test failure.
[[nodiscard]] int listenUnix(const std::string& path);
// A listening socket on 127.0.0.1 and the port the kernel gave it.
struct TcpListener {
    int fd = -1;
    std::uint16_t port = 0;
};
[[nodiscard]] TcpListener listenTcpLoopback();

// Blocking helpers for scripts, bounded by the default timeout.
// Reads until `count` bytes have arrived in total; false on end or timeout.
bool readAtLeast(int fd, std::string& into, std::size_t count);
// Reads until `marker` occurs in what has arrived; false on end or timeout.
bool readUntil(int fd, std::string& into, std::string_view marker);
bool writeAll(int fd, std::string_view bytes);

// Accepts one connection on `listenFd` (which it then owns) and runs
// `script` with the connected socket (non-blocking) on a thread; the socket
// is closed when the script returns. The destructor waits for the script.
class ScriptedPeer {
public:
    ScriptedPeer(int listenFd, std::function<void(int)> script);
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

private:
    void run(const std::function<void(int)>& script);

    int listenFd_;
    std::thread thread_;
};

}  // namespace vorn::test
