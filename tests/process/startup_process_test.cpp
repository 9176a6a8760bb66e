// The daemon as a whole: its start-up lines, its fatal errors, the socket
// file it leaves and takes over, and reloads.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <string>
#include <vector>

#include "support/daemon_process.hpp"
#include "support/log_line.hpp"
#include "support/running_agent.hpp"
#include "support/spop_client.hpp"
#include "support/temp_dir.hpp"

namespace vorn::test {
namespace {

using namespace std::chrono_literals;

std::vector<std::string> messagesOf(const DaemonProcess& process) {
    std::vector<std::string> result;
    for (const std::string& line : process.lines()) {
        auto message = messageOf(line);
        EXPECT_TRUE(message.has_value()) << line;
        if (message) result.push_back(*message);
    }
    return result;
}

std::string levelOf(const std::string& line) {
    return fieldOf(line, "level").value_or("");
}

TEST(Startup, PrintsTheSummaryInOrderWithTheDefaults) {
    RunningAgent agent;
    ASSERT_TRUE(agent.ready());
    std::vector<std::string> messages = agent.messages();
    ASSERT_EQ(messages.size(), 8u) << agent.process().linesText();
    EXPECT_EQ(messages[0], "logging trap verdicts");
    EXPECT_EQ(messages[1], "challenge off, from meter level calm");
    EXPECT_EQ(messages[2],
              "meter level from the backend queue: hot at 4, severe at 16, held 300 s");
    // The model file is optional: whether this machine has one is not the
    // test's business.
    EXPECT_TRUE(messages[3].starts_with("start: ") && messages[3].contains("shadow scorer"))
        << messages[3];
    EXPECT_TRUE(messages[4].starts_with("connection memory 256 MiB: up to "));
    EXPECT_TRUE(messages[4].ends_with(" connections, 1024 buffer chunks of 64 KiB"));
    EXPECT_EQ(messages[5], "SPOP on " + agent.socketPath());
    EXPECT_EQ(messages[6],
              "metrics on 127.0.0.1:" + std::to_string(agent.metricsPort()) + "/metrics");
    EXPECT_EQ(messages[7],
              "address memory 48 MiB: up to 285975 distinct addresses in each of 11 path "
              "classes");
    for (const std::string& line : agent.process().lines()) EXPECT_EQ(levelOf(line), "info");
    EXPECT_EQ(agent.metric("vorn_spoa_reloads_total"), 1);
}

TEST(Startup, PrintsTheSummaryWithOptions) {
    RunningAgent agent({"--log-verdicts=all", "--challenge=shadow", "--challenge-prefix=/o/",
                        "--challenge-from=hot", "--backlog-hot=7", "--backlog-severe=9",
                        "--backlog-hold=10", "--conn-memory=16", "--metrics=off",
                        "--receipt-keys=/nonexistent/keys", "--address-memory=1"});
    ASSERT_TRUE(agent.ready());
    std::vector<std::string> messages = agent.messages();
    ASSERT_EQ(messages.size(), 9u) << agent.process().linesText();
    EXPECT_EQ(messages[0], "logging all verdicts");
    EXPECT_EQ(messages[1], "challenge shadow under /o/, from meter level hot");
    EXPECT_EQ(messages[2], "meter level from the backend queue: hot at 7, severe at 9, held 10 s");
    EXPECT_EQ(messages[3], "start: receipt keys /nonexistent/keys: FileNotFound; keeping 0 key(s)");
    EXPECT_TRUE(messages[4].starts_with("start: ") && messages[4].contains("shadow scorer"));
    EXPECT_TRUE(messages[5].starts_with("connection memory 16 MiB: up to "));
    EXPECT_TRUE(messages[5].ends_with(" connections, 64 buffer chunks of 64 KiB"));
    EXPECT_EQ(messages[7], "metrics off");
    EXPECT_EQ(messages[8],
              "address memory 1 MiB: up to 5958 distinct addresses in each of 11 path classes");
}

// After the summary lines, and only when a name is not the built-in one.
TEST(Startup, NamesTheSiteWhenItIsNotTheBuiltInOne) {
    for (auto [option, line] :
         {std::pair{"--site-domain=git.example.org",
                    "site git.example.org, session cookie " VORN_SESSION_COOKIE},
          {"--session-cookie=i_like_gitea",
           "site " VORN_SITE_DOMAIN ", session cookie i_like_gitea"},
          {"--site-domain=" VORN_SITE_DOMAIN, ""}}) {
        RunningAgent agent({option});
        ASSERT_TRUE(agent.ready());
        std::vector<std::string> messages = agent.messages();
        ASSERT_EQ(messages.size(), *line ? 9u : 8u) << agent.process().linesText();
        EXPECT_EQ(*line ? messages[3] : std::string(), line);
    }
}

TEST(Startup, ABadArgumentPrintsExactlyTwoErrorLinesAndExitsWithOne) {
    TempDir directory;
    DaemonProcess process({"--socket=" + directory.file("agent.sock"), "--verify-threads=0"});
    EXPECT_EQ(process.waitExit(), 1);
    std::vector<std::string> lines = process.lines();
    ASSERT_EQ(lines.size(), 2u) << process.linesText();
    EXPECT_EQ(messageOf(lines[0]), "--verify-threads=0: expected 1 to 16");
    EXPECT_EQ(messageOf(lines[1]), "InvalidArgument");
    for (const std::string& line : lines) EXPECT_EQ(levelOf(line), "error");
    EXPECT_NE(::access(directory.file("agent.sock").c_str(), F_OK), 0) << "nothing was opened";
}

TEST(Startup, ChallengesOnWithoutKeysIsAnErrorLineButTheDaemonRuns) {
    RunningAgent agent({"--challenge=on", "--receipt-keys=/nonexistent"});
    ASSERT_TRUE(agent.ready());
    bool found = false;
    for (const std::string& line : agent.process().lines()) {
        if (messageOf(line) == "--challenge=on without receipt keys: challenges are not sent") {
            found = levelOf(line) == "error";
        }
    }
    EXPECT_TRUE(found) << agent.process().linesText();
    EXPECT_TRUE(agent.connect().has_value());
}

TEST(Startup, TheSocketFileIsASocketWithModeSixSixty) {
    RunningAgent agent;
    ASSERT_TRUE(agent.ready());
    struct stat status {};
    ASSERT_EQ(::lstat(agent.socketPath().c_str(), &status), 0);
    EXPECT_TRUE(S_ISSOCK(status.st_mode));
    EXPECT_EQ(status.st_mode & 07777, 0660u);
}

TEST(Startup, SighupReloadsAndEachReloadIsCounted) {
    RunningAgent agent;
    ASSERT_TRUE(agent.ready());
    ASSERT_EQ(agent.metric("vorn_spoa_reloads_total"), 1);
    agent.process().sendSignal(SIGHUP);
    for (int i = 0; i < 100 && agent.metric("vorn_spoa_reloads_total") != 2; ++i) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(agent.metric("vorn_spoa_reloads_total"), 2);
    EXPECT_FALSE(agent.process().waitExit(100ms).has_value()) << "SIGHUP does not end the daemon";
}

TEST(Startup, ASecondDaemonOnTheSameSocketEndsWithAddressInUseAndLeavesTheFirstAlone) {
    RunningAgent first;
    ASSERT_TRUE(first.ready());
    auto client = first.connect();
    ASSERT_TRUE(client && client->hello());

    DaemonProcess second({"--socket=" + first.socketPath(), "--metrics=off"});
    EXPECT_EQ(second.waitExit(), 1);
    std::vector<std::string> messages = messagesOf(second);
    ASSERT_EQ(messages.size(), 4u) << second.linesText();
    EXPECT_EQ(messages[0], "logging trap verdicts");
    EXPECT_EQ(messages[3], "AddressInUse");

    // The probe never reached the first daemon as a connection: its one
    // connection is still the test's, and the socket file is still there.
    EXPECT_TRUE(client->hello());
    EXPECT_EQ(first.metric("vorn_spoa_connections"), 2) << "the client and the metrics request";
    EXPECT_TRUE(first.connect().has_value());
}

TEST(Startup, ASocketFileLeftByAKilledDaemonIsTakenOver) {
    TempDir directory;
    std::string socket = directory.file("agent.sock");
    {
        DaemonProcess killed({"--socket=" + socket, "--metrics=off"});
        ASSERT_TRUE(killed.waitForLine("metrics off"));
        killed.sendSignal(SIGTERM);
        EXPECT_EQ(killed.waitExit(), 128 + SIGTERM);
    }
    ASSERT_EQ(::access(socket.c_str(), F_OK), 0) << "SIGTERM leaves the socket file behind";
    DaemonProcess next({"--socket=" + socket, "--metrics=off"});
    ASSERT_TRUE(next.waitForLine("metrics off")) << next.linesText();
    for (const std::string& line : next.lines()) EXPECT_EQ(levelOf(line), "info") << line;
    auto client = SpopClient::connect(socket);
    ASSERT_TRUE(client && client->hello());
}

TEST(Startup, ARegularFileAtTheSocketPathIsPathNotASocketAndIsLeftAlone) {
    TempDir directory;
    std::string path = directory.file("agent.sock");
    std::ofstream(path) << "keep me";
    DaemonProcess process({"--socket=" + path, "--metrics=off"});
    EXPECT_EQ(process.waitExit(), 1);
    ASSERT_FALSE(process.lines().empty());
    EXPECT_EQ(messageOf(process.lines().back()), "PathNotASocket");
    std::string content;
    std::getline(std::ifstream(path), content);
    EXPECT_EQ(content, "keep me");
}

TEST(Startup, AMetricsAddressInUseEndsTheRunAndRemovesTheSocketFile) {
    RunningAgent first;
    ASSERT_TRUE(first.ready());
    TempDir directory;
    std::string socket = directory.file("agent.sock");
    DaemonProcess second(
        {"--socket=" + socket, "--metrics=127.0.0.1:" + std::to_string(first.metricsPort())});
    EXPECT_EQ(second.waitExit(), 1);
    ASSERT_FALSE(second.lines().empty());
    EXPECT_EQ(messageOf(second.lines().back()), "AddressInUse");
    EXPECT_NE(::access(socket.c_str(), F_OK), 0);
}

}  // namespace
}  // namespace vorn::test
