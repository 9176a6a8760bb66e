#include "gate/gate_metrics.hpp"

#include <algorithm>

#include "observe/prometheus_text.hpp"

namespace vorn {

namespace {

constexpr std::string_view prefix = "vorn_gate_";
constexpr double millisPerSecond = 1e3;

template <typename Counter>
std::uint64_t read(const Counter& counter) {
    return counter.load(std::memory_order_relaxed);
}

}  // namespace

void GateMetrics::goodAnswer(std::int64_t solveMillis) {
    add(goodAnswers_);
    const auto millis = static_cast<std::uint64_t>(std::max<std::int64_t>(0, solveMillis));
    add(solveSumMillis_, millis);
    const auto bucket = std::ranges::lower_bound(solveBucketBoundsMs, millis);
    if (bucket != solveBucketBoundsMs.end()) {
        add(solveBuckets_[static_cast<std::size_t>(bucket - solveBucketBoundsMs.begin())]);
    }
}

std::expected<void, Error> GateMetrics::write(TextWriter& out, const GateGauges& gauges) const {
    PrometheusText page(out, prefix);
    page.family("challenges_total", "counter", "Challenge pages served");
    page.sample("challenges_total").number(read(challenges_)).byte('\n');
    page.family("answers_good_total", "counter", "Answers that earned a pass receipt");
    page.sample("answers_good_total").number(read(goodAnswers_)).byte('\n');
    page.family("refused_total", "counter",
                "Requests refused with a 400 or 429 (bad answers among them), by reason");
    std::array<std::uint64_t, gateFaultCount> refused{};
    std::ranges::transform(refused_, refused.begin(), read<Counter>);
    page.counts("refused_total", "reason", gateFaultNames, refused);
    page.family("cookie_missing_total", "counter",
                "Visitors back from a solved challenge without the pass cookie, shown why");
    page.sample("cookie_missing_total").number(read(cookieMissing_)).byte('\n');

    std::array<std::uint64_t, solveBucketBoundsMs.size()> buckets{};
    std::ranges::transform(solveBuckets_, buckets.begin(), read<Counter>);
    page.family("solve_seconds", "histogram", "Time from a challenge page to its good answer");
    page.histogram("solve_seconds", {.bounds = solveBucketBoundsMs,
                                     .buckets = buckets,
                                     .count = read(goodAnswers_),
                                     .sum = read(solveSumMillis_),
                                     .unitsPerSecond = millisPerSecond});

    page.family("replay_entries", "gauge", "Answered nonces held to refuse a second answer");
    page.sample("replay_entries").number(gauges.replayEntries).byte('\n');
    page.family("replay_capacity", "gauge", "Answered nonces the table holds at most");
    page.sample("replay_capacity").number(gauges.replayCapacity).byte('\n');
    page.family("clients", "gauge", "Client addresses (IPv6: /64 prefixes) with challenges open");
    page.sample("clients").number(gauges.clients).byte('\n');
    page.family("clients_untracked_total", "counter",
                "Challenges issued without a per-client count: the client table was full");
    page.sample("clients_untracked_total").number(read(untracked_)).byte('\n');
    page.family("log_dropped_total", "counter",
                "Request log lines dropped because the log queue was full");
    page.sample("log_dropped_total").number(read(logDropped_)).byte('\n');
    page.family("reloads_total", "counter", "Key file loads on SIGHUP, by result");
    page.sample("reloads_total", "result", "loaded").number(read(reloads_)).byte('\n');
    page.sample("reloads_total", "result", "failed").number(read(reloadFailures_)).byte('\n');
    page.family("start_time_seconds", "gauge");
    page.sample("start_time_seconds").number(gauges.startTimeSeconds).byte('\n');
    if (out.overflowed()) return std::unexpected(Error::WriteFailed);
    return {};
}

}  // namespace vorn
