#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/deadline.hpp"

namespace vorn::test {

struct LaunchOptions {
    // NAME=VALUE entries set on top of the test's own environment.
    std::vector<std::string> environment{};
    // A command the program runs under, ending in its own separator, e.g.
    // {"prlimit", "--nofile=100:100", "--"}; looked up in PATH.
    std::vector<std::string> prefix{};
    std::string program = VORN_BINARY;
    // Standard descriptors (0, 1, 2) the program starts with closed.
    std::vector<int> closedDescriptors{};
    // False: standard error is a pipe nobody reads, so the program's writes
    // to it block once the pipe is full; no lines are collected.
    bool readStandardError = true;
};

// A started daemon (or a stand-in program) whose standard error is collected
// line by line by a reader thread. Standard input is /dev/null, standard
// output is the test's. The destructor kills the process with SIGKILL if it
// still runs and reaps it; only this process is ever signalled, by its PID.
class DaemonProcess {
public:
    explicit DaemonProcess(std::vector<std::string> arguments, LaunchOptions options = {});
    ~DaemonProcess();
    DaemonProcess(const DaemonProcess&) = delete;
    DaemonProcess& operator=(const DaemonProcess&) = delete;

    // False (after a test failure) when the program could not be started.
    [[nodiscard]] bool started() const { return pid_ > 0; }
    [[nodiscard]] pid_t pid() const { return pid_; }

    // The lines written to standard error so far, without their newlines.
    [[nodiscard]] std::vector<std::string> lines() const;
    // The same joined with newlines, for failure messages.
    [[nodiscard]] std::string linesText() const;

    // True as soon as some line so far matches; false when the timeout
    // passes or standard error ends without one.
    [[nodiscard]] bool waitForLine(const std::function<bool(std::string_view)>& matches,
                                   Millis timeout = defaultTimeout);
    [[nodiscard]] bool waitForLine(std::string_view substring, Millis timeout = defaultTimeout);

    // False once the process has been reaped, or when kill(2) fails.
    bool sendSignal(int signal);

    // The exit status once the process has ended: its exit code, or 128 plus
    // the signal number when a signal ended it. Standard error has then been
    // read to its end, unless something the process left behind still holds
    // it when the timeout passes. Nothing when the process is still running.
    [[nodiscard]] std::optional<int> waitExit(Millis timeout = defaultTimeout);

private:
    void start(const std::vector<std::string>& command, const std::vector<std::string>& env,
               const LaunchOptions& options);
    void readUntilEnd();
    void takeBytes(std::string_view bytes);
    bool drainAvailable();
    void finishReading();

    pid_t pid_ = -1;
    std::optional<int> exitStatus_;
    int stderrRead_ = -1;
    int stopRead_ = -1;
    int stopWrite_ = -1;
    std::thread reader_;

    mutable std::mutex mutex_;  // guards the three fields below
    std::condition_variable changed_;
    std::vector<std::string> lines_;
    std::string partialLine_;
    bool stderrEnded_ = false;
};

}  // namespace vorn::test
