// The daemon's standard streams. Closed at start, they are opened on
// /dev/null before anything else, so the event queue or a listener never
// becomes standard error. With standard error a pipe nobody reads, log
// lines are dropped and counted once pipe and ring are full, and the loop
// never waits on the pipe: reloads, accept pauses and requests are served.

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "support/running_agent.hpp"
#include "support/spop_wire.hpp"
#include "support/test_name.hpp"

namespace vorn::test {
namespace {

using namespace std::chrono_literals;

// Sends SIGHUP and waits until the reload shows on the metrics page.
bool reloadAnswered(RunningAgent& agent, double reloadsBefore) {
    agent.process().sendSignal(SIGHUP);
    for (Deadline deadline(defaultTimeout); !deadline.passed(); std::this_thread::sleep_for(1ms)) {
        if (agent.metric("vorn_spoa_reloads_total") == reloadsBefore + 1) return true;
    }
    return false;
}

TEST(SlowLogReader, DropsLinesAndKeepsAnswering) {
    // A soft limit of 100 descriptors leaves 36 for connections.
    RunningAgent agent(
        {"--log-verdicts=all"},
        LaunchOptions{.prefix = {"prlimit", "--nofile=100:100", "--"}, .readStandardError = false});
    ASSERT_TRUE(agent.ready());
    auto client = agent.connect();
    ASSERT_TRUE(client && client->hello());

    // Verdict lines fill the pipe, the writer's batch and the ring's share.
    ASSERT_TRUE(client->decideAll(std::vector<VornCheck>(10'000)));
    EXPECT_GT(agent.metric("vorn_spoa_log_dropped_total").value_or(0), 0);

    // Each reload logs two lines; the ring's reserve takes a few hundred.
    double reloads = 1;
    for (int i = 0; i < 2000 && agent.metric("vorn_spoa_log_messages_dropped_total") == 0; ++i) {
        ASSERT_TRUE(reloadAnswered(agent, reloads)) << "reload " << i;
        ++reloads;
    }
    EXPECT_GT(agent.metric("vorn_spoa_log_messages_dropped_total").value_or(0), 0);
    ASSERT_TRUE(reloadAnswered(agent, reloads));

    // Accepting pauses at the limit and resumes, each time with a line.
    std::vector<SpopClient> clients;
    for (int i = 0; i < 35; ++i) {
        auto another = agent.connect();
        ASSERT_TRUE(another && another->hello()) << i;
        clients.push_back(std::move(*another));
    }
    for (int round = 0; round < 5; ++round) {
        auto waiting = agent.connect();
        ASSERT_TRUE(waiting && waiting->send(haproxyHello()));
        clients.pop_back();
        auto reply = waiting->receive();
        ASSERT_TRUE(reply && reply->is(FrameType::AgentHello)) << "round " << round;
        clients.push_back(std::move(*waiting));
    }
    clients.clear();
    EXPECT_GE(agent.metric("vorn_spoa_accept_errors_total{reason=\"limit\"}").value_or(0), 5);
    EXPECT_TRUE(client->decideAll(std::vector<VornCheck>(100)));
}

class ClosedAtStart : public testing::TestWithParam<std::vector<int>> {};

TEST_P(ClosedAtStart, AreOpenedOnDevNullAndTheDaemonServes) {
    if (!std::filesystem::exists("/proc/self/fd")) GTEST_SKIP() << "no /proc to look at";
    RunningAgent agent({}, LaunchOptions{.closedDescriptors = GetParam()});
    ASSERT_TRUE(agent.ready());
    const std::string fds = "/proc/" + std::to_string(agent.process().pid()) + "/fd/";
    for (int fd : GetParam()) {
        std::error_code error;
        EXPECT_EQ(std::filesystem::read_symlink(fds + std::to_string(fd), error).string(),
                  "/dev/null")
            << "descriptor " << fd;
    }
    auto client = agent.connect();
    ASSERT_TRUE(client && client->hello());
    EXPECT_TRUE(client->decide(VornCheck{}));
    // A reload writes its lines and the daemon goes on.
    EXPECT_TRUE(reloadAnswered(agent, 1));
    EXPECT_FALSE(agent.process().waitExit(100ms).has_value());
}

INSTANTIATE_TEST_SUITE_P(Descriptors, ClosedAtStart,
                         testing::Values(std::vector{0}, std::vector{1}, std::vector{2},
                                         std::vector{0, 1, 2}),
                         [](const testing::TestParamInfo<std::vector<int>>& info) {
                             std::string text = "closed";
                             for (int fd : info.param) text.append(" ").append(std::to_string(fd));
                             return testName(text);
                         });

}  // namespace
}  // namespace vorn::test
