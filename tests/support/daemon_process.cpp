#include "support/daemon_process.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

extern char** environ;

namespace vorn::test {

namespace {

// Signals whose disposition a test runner may have changed; the daemon
// starts with the defaults, as from a service manager.
constexpr std::array resetSignals{SIGHUP, SIGINT, SIGPIPE, SIGTERM, SIGUSR1, SIGUSR2, SIGCHLD};

std::string_view nameOf(std::string_view entry) {
    return entry.substr(0, entry.find('='));
}

std::vector<std::string> mergedEnvironment(const std::vector<std::string>& overrides) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string_view current(*entry);
        bool replaced = false;
        for (const auto& o : overrides) replaced = replaced || nameOf(o) == nameOf(current);
        if (!replaced) env.emplace_back(current);
    }
    env.insert(env.end(), overrides.begin(), overrides.end());
    return env;
}

std::vector<char*> pointersTo(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (auto& s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

int statusFromWait(int waitStatus) {
    if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
    return WEXITSTATUS(waitStatus);
}

// Closes the pipe ends when spawning is given up half-way.
struct PipeEnds {
    int read = -1;
    int write = -1;
    ~PipeEnds() {
        if (read >= 0) close(read);
        if (write >= 0) close(write);
    }
};

bool openPipe(PipeEnds& ends, int readFlags) {
    std::array<int, 2> fds{};
    if (pipe2(fds.data(), O_CLOEXEC) != 0) return false;
    ends.read = fds[0];
    ends.write = fds[1];
    return readFlags == 0 || fcntl(ends.read, F_SETFL, readFlags) == 0;
}

}  // namespace

DaemonProcess::DaemonProcess(std::vector<std::string> arguments, LaunchOptions options) {
    std::vector<std::string> command = options.prefix;
    command.push_back(options.program);
    command.insert(command.end(), arguments.begin(), arguments.end());
    start(command, mergedEnvironment(options.environment), options);
}

void DaemonProcess::start(const std::vector<std::string>& command,
                          const std::vector<std::string>& env, const LaunchOptions& options) {
    PipeEnds output;
    PipeEnds stop;
    if (!openPipe(output, O_NONBLOCK) || !openPipe(stop, 0)) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, output.write, 2);
    for (int fd : options.closedDescriptors) posix_spawn_file_actions_addclose(&actions, fd);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    for (int s : resetSignals) sigaddset(&signals, s);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    auto argvStrings = command;
    auto envStrings = env;
    auto argv = pointersTo(argvStrings);
    auto envp = pointersTo(envStrings);
    pid_t pid = -1;
    int error = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        ADD_FAILURE() << "starting " << command.front() << ": " << std::strerror(error);
        return;
    }
    pid_ = pid;
    stderrRead_ = std::exchange(output.read, -1);
    stopRead_ = std::exchange(stop.read, -1);
    stopWrite_ = std::exchange(stop.write, -1);
    if (options.readStandardError) {
        reader_ = std::thread([this] { readUntilEnd(); });
    } else {
        stderrEnded_ = true;
    }
}

DaemonProcess::~DaemonProcess() {
    if (!started()) return;
    if (!exitStatus_) {
        kill(pid_, SIGKILL);
        int ignored = 0;
        while (waitpid(pid_, &ignored, 0) < 0 && errno == EINTR) {
        }
    }
    // A child the process left behind may still hold its standard error; the
    // reader takes what is there and stops.
    char wake = 1;
    while (write(stopWrite_, &wake, 1) < 0 && errno == EINTR) {
    }
    if (reader_.joinable()) reader_.join();
    close(stderrRead_);
    close(stopRead_);
    close(stopWrite_);
}

void DaemonProcess::readUntilEnd() {
    for (;;) {
        std::array<pollfd, 2> fds{pollfd{.fd = stderrRead_, .events = POLLIN, .revents = 0},
                                  pollfd{.fd = stopRead_, .events = POLLIN, .revents = 0}};
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[0].revents != 0 && !drainAvailable()) break;
        if (fds[1].revents != 0) {
            drainAvailable();
            break;
        }
    }
    finishReading();
}

bool DaemonProcess::drainAvailable() {
    std::array<char, 4096> buffer{};
    for (;;) {
        ssize_t got = read(stderrRead_, buffer.data(), buffer.size());
        if (got > 0) {
            takeBytes(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

void DaemonProcess::takeBytes(std::string_view bytes) {
    {
        std::lock_guard lock(mutex_);
        for (char c : bytes) {
            if (c != '\n') {
                partialLine_.push_back(c);
                continue;
            }
            lines_.push_back(std::move(partialLine_));
            partialLine_.clear();
        }
    }
    changed_.notify_all();
}

void DaemonProcess::finishReading() {
    {
        std::lock_guard lock(mutex_);
        if (!partialLine_.empty()) lines_.push_back(std::move(partialLine_));
        partialLine_.clear();
        stderrEnded_ = true;
    }
    changed_.notify_all();
}

std::vector<std::string> DaemonProcess::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

std::string DaemonProcess::linesText() const {
    std::string text;
    for (const auto& line : lines()) text += line + "\n";
    return text;
}

bool DaemonProcess::waitForLine(const std::function<bool(std::string_view)>& matches,
                                Millis timeout) {
    if (!started()) return false;
    Deadline deadline(timeout);
    std::size_t checked = 0;
    for (;;) {
        std::vector<std::string> fresh;
        bool ended = false;
        {
            std::unique_lock lock(mutex_);
            changed_.wait_until(lock, deadline.end(),
                                [&] { return lines_.size() > checked || stderrEnded_; });
            fresh.assign(lines_.begin() + static_cast<std::ptrdiff_t>(checked), lines_.end());
            checked = lines_.size();
            ended = stderrEnded_;
        }
        // The predicate runs without the lock, so that it may call lines().
        for (const std::string& line : fresh) {
            if (matches(line)) return true;
        }
        if (ended || deadline.passed()) return false;
    }
}

bool DaemonProcess::waitForLine(std::string_view substring, Millis timeout) {
    return waitForLine(
        [substring](std::string_view line) { return line.find(substring) != line.npos; }, timeout);
}

bool DaemonProcess::sendSignal(int signal) {
    if (!started() || exitStatus_) return false;
    return kill(pid_, signal) == 0;
}

std::optional<int> DaemonProcess::waitExit(Millis timeout) {
    if (!started()) return std::nullopt;
    Deadline deadline(timeout);
    // Polling keeps the wait bounded; waitpid(2) itself has no timeout.
    constexpr Millis pollInterval{5};
    while (!exitStatus_) {
        int waitStatus = 0;
        pid_t reaped = waitpid(pid_, &waitStatus, WNOHANG);
        if (reaped == pid_) {
            exitStatus_ = statusFromWait(waitStatus);
        } else if (reaped < 0 && errno != EINTR) {
            ADD_FAILURE() << "waitpid: " << std::strerror(errno);
            return std::nullopt;
        } else if (deadline.passed()) {
            return std::nullopt;
        } else if (reaped == 0) {
            std::this_thread::sleep_for(pollInterval);
        }
    }
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, deadline.end(), [this] { return stderrEnded_; });
    return exitStatus_;
}

}  // namespace vorn::test
