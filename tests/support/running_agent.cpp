#include "support/running_agent.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/free_tcp_port.hpp"
#include "support/http_client.hpp"
#include "support/log_line.hpp"
#include "support/metrics_page.hpp"

namespace vorn::test {

namespace {

std::vector<std::string> withListeners(const std::string& socket, std::uint16_t port,
                                       std::vector<std::string> extra) {
    std::vector<std::string> arguments = {"--socket=" + socket,
                                          "--metrics=127.0.0.1:" + std::to_string(port)};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
}

}  // namespace

RunningAgent::RunningAgent(std::vector<std::string> extraArguments, LaunchOptions options)
    : socketPath_(directory_.file("agent.sock")),
      metricsPort_(freeTcpPort()),
      process_(withListeners(socketPath_, metricsPort_, std::move(extraArguments)), options) {
    ready_ = watchesStandardError(options) ? waitForLastStartupLine() : answersHello();
    EXPECT_TRUE(ready_) << process_.linesText();
}

bool RunningAgent::watchesStandardError(const LaunchOptions& options) {
    return options.readStandardError &&
           std::ranges::find(options.closedDescriptors, 2) == options.closedDescriptors.end();
}

bool RunningAgent::waitForLastStartupLine() {
    return process_.waitForLine([](std::string_view line) {
        auto message = messageOf(line);
        return message && message->starts_with("address memory ");
    });
}

// The loop runs once a connection has its HELLO answered, and both
// listeners were opened before it started.
bool RunningAgent::answersHello() const {
    auto client = connect();
    return client && client->hello();
}

std::optional<SpopClient> RunningAgent::connect() const {
    return SpopClient::connect(socketPath_);
}

std::string RunningAgent::metrics() const {
    auto response = httpGet(metricsPort_, "/metrics");
    EXPECT_TRUE(response && response->status == 200);
    return response ? response->body : std::string();
}

std::optional<double> RunningAgent::metric(std::string_view series) const {
    return metricValue(metrics(), series);
}

std::vector<std::string> RunningAgent::messages() const {
    std::vector<std::string> result;
    for (const std::string& line : process_.lines()) {
        if (auto message = messageOf(line)) result.push_back(*message);
    }
    return result;
}

}  // namespace vorn::test
