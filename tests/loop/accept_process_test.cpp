// Accepting under a low descriptor limit: the daemon pauses at its
// connection limit, keeps the rest waiting in the listen queue, and resumes
// when a connection closes.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/log_line.hpp"
#include "support/running_agent.hpp"

namespace vorn::test {
namespace {

using namespace std::chrono_literals;

std::size_t countMessage(const RunningAgent& agent, const std::string& message) {
    std::vector<std::string> messages = agent.messages();
    return static_cast<std::size_t>(std::count(messages.begin(), messages.end(), message));
}

TEST(AcceptControl, PausesAtTheDescriptorLimitAndResumesAfterAClose) {
    // A soft limit of 100 descriptors leaves 36 for connections.
    RunningAgent agent({"--metrics=off"}, LaunchOptions{.prefix = {"prlimit", "--nofile=100:100", "--"}});
    ASSERT_TRUE(agent.ready());
    std::vector<std::string> messages = agent.messages();
    ASSERT_GE(messages.size(), 4u);
    EXPECT_TRUE(messages[3].find("up to 36 connections") != std::string::npos) << messages[3];

    std::vector<SpopClient> clients;
    for (int i = 0; i < 36; ++i) {
        auto client = agent.connect();
        ASSERT_TRUE(client && client->hello()) << i;
        clients.push_back(std::move(*client));
    }
    const std::string paused = "accept paused: 36 connections, the limit";
    ASSERT_TRUE(agent.process().waitForLine(paused)) << agent.process().linesText();

    // A 37th connection waits in the listen queue without an answer.
    auto waiting = agent.connect();
    ASSERT_TRUE(waiting);
    ASSERT_TRUE(waiting->send(haproxyHello(haproxyMaxFrameSize, false, true)));
    EXPECT_TRUE(waiting->quietFor(300ms));
    EXPECT_EQ(countMessage(agent, paused), 1u);

    // Closing one lets it in; accepting it reaches the limit again.
    clients.pop_back();
    ASSERT_TRUE(agent.process().waitForLine("accept resumed"));
    auto reply = waiting->receive();
    ASSERT_TRUE(reply && reply->is(FrameType::AgentHello));
    EXPECT_EQ(countMessage(agent, paused), 2u);

    // With nobody waiting, a close resumes accepting for good.
    clients.pop_back();
    for (int i = 0; i < 100 && countMessage(agent, "accept resumed") < 2; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(countMessage(agent, "accept resumed"), 2u);
    auto later = agent.connect();
    ASSERT_TRUE(later && later->hello());
}

}  // namespace
}  // namespace vorn::test
