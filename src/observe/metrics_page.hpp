#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <optional>

#include "common/challenge_mode.hpp"
#include "common/error.hpp"
#include "common/meter_level.hpp"
#include "common/path_class.hpp"
#include "common/text_writer.hpp"
#include "observe/stats_block.hpp"

namespace vorn {

// The values the page shows that are not in the StatsBlock; each subsystem
// fills in its own at rendering time.
struct MetricsGauges {
    std::uint64_t receiptKeys = 0;
    std::array<double, meterLevelCount> difficulty{};
    std::uint64_t receiptBookEntries = 0, receiptsRevoked = 0, verifyPending = 0;
    std::int64_t startTimeSeconds = 0;
    std::uint64_t logMessagesDropped = 0;
    ChallengeMode challengeMode = ChallengeMode::off;
    MeterLevel challengeFrom = MeterLevel::calm, level = MeterLevel::calm;
    bool scorerEnabled = false;
    std::optional<std::uint32_t> backlog;  // the backlog family is written only when present
    std::array<std::uint64_t, pathClassCount> classRate{}, classDistinctIps{};
    double expensiveShare = 0;
    std::array<std::uint64_t, pathClassCount> addressesDropped{}, addressCapacity{};
};

// Writes the whole page in the Prometheus text format 0.0.4. WriteFailed
// when it did not fit in `out` (what fits is left there).
[[nodiscard]] std::expected<void, Error> renderMetrics(const StatsBlock& snapshot,
                                                       const MetricsGauges& gauges,
                                                       TextWriter& out);

}  // namespace vorn
