#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <expected>

#include "common/error.hpp"
#include "common/text_writer.hpp"
#include "gate/gate_fault.hpp"

namespace vorn {

// Upper bounds of the solve-time buckets, in milliseconds: from the page
// being issued to its good answer arriving, so network and page load
// included. Half a second to the longest --nonce-ttl worth watching.
inline constexpr std::array<std::uint64_t, 10> solveBucketBoundsMs = {
    500, 1'000, 2'000, 5'000, 10'000, 20'000, 30'000, 60'000, 120'000, 300'000};

// Values the page shows that the counters do not hold, read when it is
// rendered.
struct GateGauges {
    std::uint64_t replayEntries = 0;
    std::uint64_t replayCapacity = 0;
    std::uint64_t clients = 0;
    std::int64_t startTimeSeconds = 0;
};

// What the gate did, counted from every worker thread with relaxed atomics
// (each counter on its own; the page is a snapshot of each, not of all).
class GateMetrics {
public:
    void challengeServed() { add(challenges_); }
    void cookieMissing() { add(cookieMissing_); }
    void goodAnswer(std::int64_t solveMillis);
    void refused(GateFault fault) { add(refused_[indexOf(fault)]); }
    void untracked() { add(untracked_); }
    void logDropped() { add(logDropped_); }
    void reloaded(bool loaded) { add(loaded ? reloads_ : reloadFailures_); }

    // The Prometheus text page (format 0.0.4); WriteFailed when it did not
    // fit in `out`.
    [[nodiscard]] std::expected<void, Error> write(TextWriter& out, const GateGauges& gauges) const;

private:
    using Counter = std::atomic<std::uint64_t>;
    static void add(Counter& counter, std::uint64_t amount = 1) {
        counter.fetch_add(amount, std::memory_order_relaxed);
    }

    Counter challenges_{0};
    Counter cookieMissing_{0};
    Counter goodAnswers_{0};
    std::array<Counter, gateFaultCount> refused_{};
    Counter untracked_{0};
    Counter logDropped_{0};
    Counter reloads_{0};
    Counter reloadFailures_{0};
    std::array<Counter, solveBucketBoundsMs.size()> solveBuckets_{};
    Counter solveSumMillis_{0};
};

}  // namespace vorn
