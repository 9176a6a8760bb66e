#include "support/challenge_chain.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "support/free_tcp_port.hpp"

namespace vorn::test {

using namespace std::chrono_literals;

ChallengeChain::ChallengeChain(const ChainOptions& options)
    : gate_(std::make_unique<RunningGate>()) {
    if (!gate_->ready()) return;
    std::ofstream(files_.file("keys")) << gate_->publicKeyLine();
    std::vector<std::string> arguments = {"--challenge=on",
                                          "--receipt-keys=" + files_.file("keys")};
    arguments.insert(arguments.end(), options.agentArguments.begin(), options.agentArguments.end());
    agent_ = std::make_unique<RunningAgent>(arguments);
    if (!agent_->ready()) return;
    httpPort_ = freeTcpPort();
    httpsPort_ = freeTcpPort();
    const std::string http = "127.0.0.1:" + std::to_string(httpPort_);
    LaunchOptions launch{
        .environment = {"VORN_SPOA_SOCK=" + agent_->socketPath(), "VORN_HTTP_ADDR=" + http,
                        "VORN_HTTP_ADDR6=" + http,
                        "VORN_HTTPS_ADDR=127.0.0.1:" + std::to_string(httpsPort_),
                        "VORN_FORGE_ADDR=127.0.0.1:" + std::to_string(freeTcpPort()),
                        "VORN_GATE_ADDR=" + gate_->address()},
        // HAProxy writes its traffic log to standard output.
        .prefix = {"sh", "-c", "exec \"$0\" \"$@\" >/dev/null"},
        .program = options.haproxy};
    launch.environment.insert(launch.environment.end(), options.haproxyEnvironment.begin(),
                              options.haproxyEnvironment.end());
    haproxy_ = std::make_unique<DaemonProcess>(
        std::vector<std::string>{"-f", options.configuration, "-db"}, launch);
    ready_ = haproxy_->waitForLine("server vorn-spoa/vorn-spoa succeeded", 10s) &&
             haproxy_->waitForLine("server bramblegate/gate1 succeeded", 10s);
    EXPECT_TRUE(ready_) << haproxy_->linesText();
}

}  // namespace vorn::test
