#pragma once

#include <array>
#include <cstdint>

#include "common/meter_level.hpp"
#include "common/path_class.hpp"
#include "common/receipt_status.hpp"
#include "common/score_band.hpp"
#include "common/verdict.hpp"

namespace vorn {

// NOTIFY-to-ACK latency: the ACK was written straight away, or after the
// request waited for a receipt signature check.
enum class LatencyPath : std::uint8_t { direct, verify };
inline constexpr std::array<std::string_view, 2> latencyPathNames = {"direct", "verify"};

// Upper bounds of the latency buckets, 0.05 ms to 50 ms. Buckets hold plain
// (not cumulative) counts; a sample above the last bound is in no bucket.
inline constexpr std::array<std::uint64_t, 10> latencyBucketBoundsNs = {
    50'000,    100'000,   250'000,    500'000,    1'000'000,
    2'500'000, 5'000'000, 10'000'000, 20'000'000, 50'000'000};

struct LatencyHistogram {
    std::array<std::uint64_t, latencyBucketBoundsNs.size()> buckets{};
    std::uint64_t count = 0;
    std::uint64_t sumNanos = 0;

    void record(std::uint64_t nanos);
};

enum class AcceptError : std::uint8_t { socket_error, resources, limit };
inline constexpr std::array<std::string_view, 3> acceptErrorNames = {"socket_error", "resources",
                                                                     "limit"};

enum class ChunkGauge : std::uint8_t { in_use, allocated, limit };
inline constexpr std::array<std::string_view, 3> chunkGaugeNames = {"in_use", "allocated", "limit"};

// One event loop's counters and gauges. Owned and written by the loop thread
// alone, with plain increments; rendered on the same thread.
struct StatsBlock {
    std::array<std::array<std::array<std::uint64_t, reasonCount>, classSlotCount>, verdictCount>
        decisions{};
    std::array<std::uint64_t, receiptStatusCount> receipts{};
    std::array<std::uint64_t, meterLevelCount> wouldChallenge{};
    std::array<std::uint64_t, meterLevelCount> challenges{};
    std::array<LatencyHistogram, latencyPathNames.size()> latency{};
    std::array<std::uint64_t, scoreBandNames.size()> scoreBands{};
    std::uint64_t scoreSumMillionths = 0;
    std::uint64_t reloads = 0;
    std::array<std::uint64_t, acceptErrorNames.size()> acceptErrors{};
    std::uint64_t logDropped = 0;
    std::uint64_t bufferWaits = 0;
    std::uint64_t connections = 0;
    std::uint64_t connectionLimit = 0;
    std::array<std::uint64_t, chunkGaugeNames.size()> chunks{};

    // Field-wise addition, for the metrics snapshot over every loop.
    void add(const StatsBlock& other);
};

}  // namespace vorn
