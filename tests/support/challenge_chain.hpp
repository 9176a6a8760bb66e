#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/daemon_process.hpp"
#include "support/running_agent.hpp"
#include "support/running_gate.hpp"
#include "support/temp_dir.hpp"

namespace vorn::test {

struct ChainOptions {
    // The HAProxy to run (findHaproxy gives each series Debian ships).
    std::string haproxy = "/usr/sbin/haproxy";
    // NAME=VALUE settings for HAProxy beyond the addresses (limits, TLS).
    std::vector<std::string> haproxyEnvironment{};
    // The HAProxy configuration; the example's by default.
    std::string configuration = VORN_SOURCE_DIR "/deploy/haproxy/haproxy.cfg";
    // The agent's arguments after --challenge=on and its key file.
    std::vector<std::string> agentArguments{};
};

// The whole challenge chain on loopback: vorn-gate with a key of its own,
// the agent with challenges on and the gate's public key, and HAProxy in
// front of both on free ports, waited for until its health checks have
// found the agent and the gate.
class ChallengeChain {
public:
    explicit ChallengeChain(const ChainOptions& options = {});

    // True when all three started and HAProxy checked both servers.
    [[nodiscard]] bool ready() const { return ready_; }
    [[nodiscard]] RunningGate& gate() { return *gate_; }
    [[nodiscard]] RunningAgent& agent() { return *agent_; }
    [[nodiscard]] DaemonProcess& haproxy() { return *haproxy_; }
    [[nodiscard]] std::uint16_t httpPort() const { return httpPort_; }
    // Where HAProxy listens for HTTPS when the options give VORN_TLS_CERT.
    [[nodiscard]] std::uint16_t httpsPort() const { return httpsPort_; }

private:
    TempDir files_;
    std::unique_ptr<RunningGate> gate_;
    std::unique_ptr<RunningAgent> agent_;
    std::unique_ptr<DaemonProcess> haproxy_;
    std::uint16_t httpPort_ = 0;
    std::uint16_t httpsPort_ = 0;
    bool ready_ = false;
};

}  // namespace vorn::test
