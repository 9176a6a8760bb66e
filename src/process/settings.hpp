#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

#include "common/challenge_mode.hpp"
#include "common/log_verdicts.hpp"
#include "common/meter_level.hpp"
#include "common/nanos.hpp"
#include "decision/site.hpp"

namespace vorn {

// The parsed command line, read-only once start-up has filled in the computed
// fields. Text fields view the argument strings or static defaults.
struct Settings {
    Nanos backlogHoldNs = 300 * nanosPerSecond;
    std::uint32_t backlogHot = 4;
    std::uint32_t backlogSevere = 16;
    std::string_view challengePrefix;
    std::array<double, meterLevelCount> difficulty = {1.0 / 8192, 1.0 / 2048, 1.0 / 2048};
    ChallengeMode challengeMode = ChallengeMode::off;
    MeterLevel challengeFrom = MeterLevel::calm;
    std::string_view receiptKeysPath = "/usr/local/etc/vorn-spoa-receipt-keys";
    std::string_view modelPath = "/usr/local/etc/vorn-spoa-model.json";
    std::int64_t startTimeSeconds = 0;
    std::uint64_t connMemoryBytes = 256ull << 20;
    std::uint64_t addressMemoryBytes = 48ull << 20;
    std::uint64_t descriptorBudget = std::numeric_limits<std::uint64_t>::max();
    std::uint32_t receiptMaxRequests = 600;
    std::uint8_t receiptMaxIps = 4;
    LogVerdicts logVerdicts = LogVerdicts::trap;
    std::string_view socketPath = "/var/run/vorn-spoa.sock";
    std::optional<std::string_view> metricsAddress = "127.0.0.1:9190";
    std::uint8_t verifyThreads = 2;
    Site site;
};

}  // namespace vorn
