// The daemon started with standard descriptors closed, as a careless
// service manager or shell may leave them: they are opened on /dev/null
// before anything else, so the event queue or a listener never becomes
// standard error.

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "support/running_agent.hpp"
#include "support/test_name.hpp"

namespace vorn::test {
namespace {

using namespace std::chrono_literals;

// What descriptor `fd` of process `pid` refers to, as /proc shows it.
std::string descriptorTarget(pid_t pid, int fd) {
    std::error_code error;
    auto target = std::filesystem::read_symlink(
        "/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd), error);
    return error ? std::string() : target.string();
}

struct ClosedRow {
    std::vector<int> closed;
};

void PrintTo(const ClosedRow& row, std::ostream* out) {
    for (int fd : row.closed) *out << fd << ' ';
}

std::string closedName(const testing::TestParamInfo<ClosedRow>& info) {
    std::string text = "closed";
    for (int fd : info.param.closed) text += " " + std::to_string(fd);
    return testName(text);
}

class ClosedAtStart : public testing::TestWithParam<ClosedRow> {};

TEST_P(ClosedAtStart, AreOpenedOnDevNullAndTheDaemonServes) {
    if (!std::filesystem::exists("/proc/self/fd")) GTEST_SKIP() << "no /proc to look at";
    RunningAgent agent({}, LaunchOptions{.closedDescriptors = GetParam().closed});
    ASSERT_TRUE(agent.ready());
    for (int fd : GetParam().closed) {
        EXPECT_EQ(descriptorTarget(agent.process().pid(), fd), "/dev/null") << "descriptor " << fd;
    }
    auto client = agent.connect();
    ASSERT_TRUE(client && client->hello());
    auto reply = client->decide(VornCheck{});
    ASSERT_TRUE(reply && reply->is(FrameType::Ack));
    EXPECT_EQ(agent.metric("vorn_spoa_reloads_total"), 1);
    agent.process().sendSignal(SIGHUP);
    for (int i = 0; i < 100 && agent.metric("vorn_spoa_reloads_total") != 2; ++i) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(agent.metric("vorn_spoa_reloads_total"), 2);
    EXPECT_FALSE(agent.process().waitExit(100ms).has_value());
}

INSTANTIATE_TEST_SUITE_P(Descriptors, ClosedAtStart,
                         testing::Values(ClosedRow{{0}}, ClosedRow{{1}}, ClosedRow{{2}},
                                         ClosedRow{{0, 1, 2}}),
                         closedName);

}  // namespace
}  // namespace vorn::test
