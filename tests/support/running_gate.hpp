#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/daemon_process.hpp"
#include "support/http_client.hpp"
#include "support/temp_dir.hpp"

namespace vorn::test {

// The real vorn-gate on free ports, with a key made by vorn-receipt
// keygen, started and waited for until its last start-up line. Extra
// arguments come after --key, --listen and --metrics, so they may override
// them. `options` may put the gate under a command (its program is always
// vorn-gate).
class RunningGate {
public:
    explicit RunningGate(std::vector<std::string> extraArguments = {}, std::string kid = "k1",
                         LaunchOptions options = {});

    [[nodiscard]] bool ready() const { return ready_; }
    [[nodiscard]] std::uint16_t port() const { return port_; }
    [[nodiscard]] std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
    [[nodiscard]] std::uint16_t metricsPort() const { return metricsPort_; }
    [[nodiscard]] DaemonProcess& process() { return process_; }
    [[nodiscard]] const std::string& keyFile() const { return keyFile_; }
    // The line for the agent's key file that vorn-receipt keygen printed.
    [[nodiscard]] const std::string& publicKeyLine() const { return publicKeyLine_; }

    // One request straight to the gate, as HAProxy would pass it on: `head`
    // lines (each ending in CR LF) after the request line and Host.
    [[nodiscard]] std::optional<HttpResponse> send(std::string_view method, std::string_view target,
                                                   std::string_view head = {},
                                                   std::string_view body = {}) const;
    // The metrics page body (a test failure when it cannot be fetched).
    [[nodiscard]] std::string metrics() const;

private:
    TempDir directory_;
    std::string keyFile_;
    std::string publicKeyLine_;
    std::uint16_t port_;
    std::uint16_t metricsPort_;
    DaemonProcess process_;
    bool ready_ = false;
};

// Makes a private key file `path` for `kid` with vorn-receipt keygen and
// returns the public line it printed; nothing (and a test failure) when the
// tool fails.
[[nodiscard]] std::optional<std::string> makeGateKey(const std::string& path, std::string_view kid);

// The nonce and bound of a challenge page, from its data attributes.
struct GateChallenge {
    std::string nonce;
    std::string bound;  // 64 hexadecimal digits
};

[[nodiscard]] std::optional<GateChallenge> readGateChallenge(std::string_view page);

// The first counter from 0 whose SHA-256(nonce || counter) meets the bound
// (or, with `meets` false, misses it).
[[nodiscard]] std::string solveGateChallenge(const GateChallenge& challenge, bool meets = true);

// The form body that answers `challenge` with `counter`, back to `returnPath`.
[[nodiscard]] std::string gateAnswerBody(const GateChallenge& challenge, std::string_view counter,
                                         std::string_view returnPath = "/");

}  // namespace vorn::test
