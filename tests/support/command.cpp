#include "support/command.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vorn::test {

namespace {

int exitStatus(int waitStatus) {
    return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
}

}  // namespace

std::optional<CommandResult> runCommand(const std::vector<std::string>& command, Millis timeout) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe failed";
        return std::nullopt;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    std::vector<char*> argv;
    for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        ADD_FAILURE() << "cannot start " << command.front();
        return std::nullopt;
    }

    CommandResult result;
    Deadline deadline(timeout);
    char buffer[4096];
    for (;;) {
        pollfd readable{pipeFds[0], POLLIN, 0};
        if (::poll(&readable, 1, deadline.pollMillis()) <= 0) break;
        ssize_t n = ::read(pipeFds[0], buffer, sizeof(buffer));
        if (n <= 0) break;
        result.output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    int waitStatus = 0;
    pid_t reaped = 0;
    while ((reaped = ::waitpid(pid, &waitStatus, WNOHANG)) == 0 && !deadline.passed()) {
        ::usleep(1000);
    }
    if (reaped == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &waitStatus, 0);
        ADD_FAILURE() << command.front() << " did not finish in time";
        return std::nullopt;
    }
    result.status = exitStatus(waitStatus);
    return result;
}

}  // namespace vorn::test
