// The daemon with standard error a pipe nobody reads: once the pipe and the
// log ring are full it drops log lines and counts them, but never waits on
// the pipe, so reloads, accept pauses and requests are still served.

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "support/running_agent.hpp"
#include "support/spop_wire.hpp"

namespace vorn::test {
namespace {

using namespace std::chrono_literals;

bool decideMany(SpopClient& client, std::size_t count) {
    return client.decideAll(std::vector<VornCheck>(count));
}

// Sends SIGHUP and waits until the reload shows on the metrics page.
bool reloadAnswered(RunningAgent& agent, double reloadsBefore) {
    agent.process().sendSignal(SIGHUP);
    Deadline deadline(defaultTimeout);
    while (!deadline.passed()) {
        if (agent.metric("vorn_spoa_reloads_total") == reloadsBefore + 1) return true;
        std::this_thread::sleep_for(1ms);
    }
    return false;
}

TEST(SlowLogReader, DropsLinesAndKeepsAnswering) {
    // A soft limit of 100 descriptors leaves 36 for connections.
    RunningAgent agent({"--log-verdicts=all"},
                       LaunchOptions{.prefix = {"prlimit", "--nofile=100:100", "--"},
                                     .readStandardError = false});
    ASSERT_TRUE(agent.ready());
    auto client = agent.connect();
    ASSERT_TRUE(client && client->hello());

    // Verdict lines fill the pipe, the writer's batch and the ring's share.
    ASSERT_TRUE(decideMany(*client, 10'000));
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
    ASSERT_TRUE(decideMany(clients.back(), 100));
    clients.clear();
    EXPECT_GE(agent.metric("vorn_spoa_accept_errors_total{reason=\"limit\"}").value_or(0), 5);
    EXPECT_TRUE(decideMany(*client, 100));
}

}  // namespace
}  // namespace vorn::test
