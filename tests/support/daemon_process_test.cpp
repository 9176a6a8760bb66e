#include "support/daemon_process.hpp"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <string>
#include <vector>

namespace vorn::test {
namespace {

// A shell stands in for the daemon.
LaunchOptions shellOptions(LaunchOptions options = {}) {
    options.program = "/bin/sh";
    return options;
}

TEST(DaemonProcess, CollectsStandardErrorLineByLine) {
    DaemonProcess process({"-c", "printf 'one\\ntwo\\n' >&2; echo ignored; exec sleep 30"},
                          shellOptions());
    ASSERT_TRUE(process.started());
    ASSERT_TRUE(process.waitForLine("two")) << process.linesText();
    EXPECT_EQ(process.lines(), (std::vector<std::string>{"one", "two"}));
    EXPECT_FALSE(process.waitExit(Millis{0}).has_value());
}

TEST(DaemonProcess, WaitForLineTakesAPredicate) {
    DaemonProcess process({"-c", "echo 'level=info' >&2; echo 'level=error' >&2; exec sleep 30"},
                          shellOptions());
    EXPECT_TRUE(process.waitForLine([](std::string_view line) { return line.ends_with("error"); }));
}

TEST(DaemonProcess, ExitStatusAndEveryLineAfterExit) {
    DaemonProcess process({"-c", "echo first >&2; printf 'no newline' >&2; exit 3"},
                          shellOptions());
    EXPECT_EQ(process.waitExit(), 3);
    EXPECT_EQ(process.lines(), (std::vector<std::string>{"first", "no newline"}));
}

TEST(DaemonProcess, SignalEndsTheProcess) {
    DaemonProcess process({"-c", "echo up >&2; exec sleep 30"}, shellOptions());
    ASSERT_TRUE(process.waitForLine("up"));
    EXPECT_TRUE(process.sendSignal(SIGTERM));
    EXPECT_EQ(process.waitExit(), 128 + SIGTERM);
    EXPECT_FALSE(process.sendSignal(SIGTERM));
}

TEST(DaemonProcess, WaitForLineGivesUpWhenStandardErrorEnds) {
    DaemonProcess process({"-c", "echo only >&2"}, shellOptions());
    EXPECT_FALSE(process.waitForLine("never"));
    EXPECT_EQ(process.waitExit(), 0);
}

TEST(DaemonProcess, EnvironmentIsAddedAndOverridden) {
    DaemonProcess process({"-c", "echo \"$VORN_A $HOME\" >&2"},
                          shellOptions({.environment = {"VORN_A=x y", "HOME=/nowhere"}}));
    EXPECT_EQ(process.waitExit(), 0);
    EXPECT_EQ(process.lines(), (std::vector<std::string>{"x y /nowhere"}));
}

TEST(DaemonProcess, PrefixCommandRunsTheProgram) {
    DaemonProcess process({"-c", "echo \"$VORN_B\" >&2"},
                          shellOptions({.prefix = {"env", "VORN_B=prefixed"}}));
    EXPECT_EQ(process.waitExit(), 0);
    EXPECT_EQ(process.lines(), (std::vector<std::string>{"prefixed"}));
}

TEST(DaemonProcess, StartsWithDefaultSignalDispositions) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction saved {};
    sigaction(SIGHUP, &ignore, &saved);
    DaemonProcess process({"-c", "echo up >&2; exec sleep 30"}, shellOptions());
    sigaction(SIGHUP, &saved, nullptr);
    ASSERT_TRUE(process.waitForLine("up"));
    process.sendSignal(SIGHUP);
    EXPECT_EQ(process.waitExit(), 128 + SIGHUP);
}

TEST(DaemonProcess, DestructorKillsAndReaps) {
    pid_t pid = 0;
    {
        DaemonProcess process({"-c", "exec sleep 30"}, shellOptions());
        pid = process.pid();
        ASSERT_GT(pid, 0);
    }
    EXPECT_EQ(kill(pid, 0), -1);
    EXPECT_EQ(errno, ESRCH);
}

TEST(DaemonProcess, DestructorReturnsWhileALeftoverChildHoldsStandardError) {
    DaemonProcess process({"-c", "sleep 3 & echo up >&2; exec sleep 30"}, shellOptions());
    ASSERT_TRUE(process.waitForLine("up"));
}

TEST(DaemonProcess, MissingProgramFailsTheTest) {
    bool started = true;
    EXPECT_NONFATAL_FAILURE(
        {
            DaemonProcess process({}, {.program = "/nonexistent/vorn-spoa"});
            started = process.started();
        },
        "starting /nonexistent/vorn-spoa");
    EXPECT_FALSE(started);
}

}  // namespace
}  // namespace vorn::test
