// Accepting under a low descriptor limit: the daemon pauses at its
// connection limit, keeps the rest waiting in the listen queue, and resumes
// when a connection closes.

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "support/command.hpp"
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
    RunningAgent agent({"--metrics=off"},
                       LaunchOptions{.prefix = {"prlimit", "--nofile=100:100", "--"}});
    ASSERT_TRUE(agent.ready());
    std::vector<std::string> messages = agent.messages();
    auto memory = std::ranges::find_if(
        messages, [](const std::string& m) { return m.starts_with("connection memory "); });
    ASSERT_NE(memory, messages.end());
    EXPECT_TRUE(memory->find("up to 36 connections") != std::string::npos) << *memory;

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

// The daemon started with the smallest soft descriptor limit it can start
// with, so that no descriptor is left for a connection; the hard limit stays
// high enough to raise the soft one later.
std::unique_ptr<RunningAgent> agentWithoutSpareDescriptors() {
    for (int limit = 6; limit < 32; ++limit) {
        std::string nofile = "--nofile=" + std::to_string(limit) + ":100";
        testing::TestPartResultArray ignored;
        std::unique_ptr<RunningAgent> agent;
        {
            // Start-up failures while searching are expected.
            testing::ScopedFakeTestPartResultReporter quiet(
                testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &ignored);
            agent = std::make_unique<RunningAgent>(
                std::vector<std::string>{}, LaunchOptions{.prefix = {"prlimit", nofile, "--"}});
        }
        if (agent->ready()) return agent;
    }
    ADD_FAILURE() << "the daemon did not start under any small descriptor limit";
    return nullptr;
}

TEST(AcceptControl, PausedForLackOfDescriptorsWithNothingOpenItRetriesAtTheNextConnection) {
    auto agent = agentWithoutSpareDescriptors();
    ASSERT_TRUE(agent);
    auto first = agent->connect();
    ASSERT_TRUE(first && first->send(haproxyHello()));
    ASSERT_TRUE(agent->process().waitForLine("accept paused: out of descriptors or memory"));
    EXPECT_TRUE(first->quietFor(200ms));

    // Descriptors become available; the next connection attempt retries.
    auto raised = runCommand(
        {"prlimit", "--pid", std::to_string(agent->process().pid()), "--nofile=100:100"});
    ASSERT_TRUE(raised && raised->status == 0);
    auto second = agent->connect();
    ASSERT_TRUE(second && second->send(haproxyHello()));
    auto reply = first->receive();
    ASSERT_TRUE(reply && reply->is(FrameType::AgentHello));
    // The limit computed at start-up still holds: one connection at a time.
    first.reset();
    reply = second->receive();
    ASSERT_TRUE(reply && reply->is(FrameType::AgentHello));
    EXPECT_TRUE(agent->process().waitForLine("accept resumed"));
}

}  // namespace
}  // namespace vorn::test
