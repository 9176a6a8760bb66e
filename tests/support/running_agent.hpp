#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/daemon_process.hpp"
#include "support/spop_client.hpp"
#include "support/temp_dir.hpp"

namespace vorn::test {

// The real daemon on a temporary socket and a free metrics port, started
// and waited for until its last start-up line, or, when its standard error
// is not read, until it answers a HELLO. Extra arguments come after
// --socket and --metrics, so they may override them.
class RunningAgent {
public:
    explicit RunningAgent(std::vector<std::string> extraArguments = {}, LaunchOptions options = {});

    // True when the daemon printed its last start-up line.
    [[nodiscard]] bool ready() const { return ready_; }
    [[nodiscard]] const std::string& socketPath() const { return socketPath_; }
    [[nodiscard]] std::uint16_t metricsPort() const { return metricsPort_; }
    [[nodiscard]] DaemonProcess& process() { return process_; }
    [[nodiscard]] const TempDir& directory() const { return directory_; }

    // A new SPOP connection (a test failure when it cannot be made).
    [[nodiscard]] std::optional<SpopClient> connect() const;
    // The metrics page body (a test failure when it cannot be fetched).
    [[nodiscard]] std::string metrics() const;
    // One sample of the metrics page.
    [[nodiscard]] std::optional<double> metric(std::string_view series) const;
    // The decoded messages of the ordinary lines so far, in order.
    [[nodiscard]] std::vector<std::string> messages() const;

private:
    static bool watchesStandardError(const LaunchOptions& options);
    bool waitForLastStartupLine();
    [[nodiscard]] bool answersHello() const;

    TempDir directory_;
    std::string socketPath_;
    std::uint16_t metricsPort_;
    DaemonProcess process_;
    bool ready_ = false;
};

}  // namespace vorn::test
