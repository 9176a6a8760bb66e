#include "observe/metrics_page.hpp"

#include <numeric>
#include <span>
#include <string_view>

#include "observe/prometheus_text.hpp"

namespace vorn {

namespace {

constexpr std::string_view prefix = "vorn_spoa_";
constexpr double nanosPerSecondFloat = 1e9;
constexpr double scoreUnitsPerOne = 1e6;  // the score sum is kept in millionths

// The family header and samples of the daemon's page, through the shared
// writer.
void header(TextWriter& out, std::string_view name, std::string_view type,
            std::string_view help = {}) {
    PrometheusText(out, prefix).family(name, type, help);
}

TextWriter& sample(TextWriter& out, std::string_view name) {
    return PrometheusText(out, prefix).sample(name);
}

TextWriter& sample(TextWriter& out, std::string_view name, std::string_view label,
                   std::string_view value) {
    return PrometheusText(out, prefix).sample(name, label, value);
}

template <std::size_t N>
void labelledCounts(TextWriter& out, std::string_view name, std::string_view label,
                    std::span<const std::string_view, N> labels,
                    std::span<const std::uint64_t, N> values) {
    PrometheusText(out, prefix).counts(name, label, labels, values);
}

void decisions(TextWriter& out, const StatsBlock& stats) {
    header(out, "decisions_total", "counter",
           "Requests classified, by verdict, path class and rule");
    for (std::size_t v = 0; v < verdictCount; ++v) {
        for (std::size_t c = 0; c < classSlotCount; ++c) {
            for (std::size_t r = 0; r < reasonCount; ++r) {
                const std::uint64_t count = stats.decisions[v][c][r];
                if (count == 0) continue;
                out.text(prefix).text("decisions_total{verdict=\"").text(verdictNames[v]);
                out.text("\",class=\"").text(classSlotNames[c]);
                out.text("\",reason=\"").text(reasonNames[r]).text("\"} ").number(count).byte('\n');
            }
        }
    }
}

void latency(TextWriter& out, const StatsBlock& stats) {
    header(out, "notify_seconds", "histogram",
           "NOTIFY to ACK time; path=verify waited for a receipt signature check");
    for (std::size_t p = 0; p < latencyPathNames.size(); ++p) {
        const LatencyHistogram& histogram = stats.latency[p];
        PrometheusText(out, prefix)
            .histogram("notify_seconds",
                       {.bounds = latencyBucketBoundsNs,
                        .buckets = histogram.buckets,
                        .count = histogram.count,
                        .sum = histogram.sumNanos,
                        .unitsPerSecond = nanosPerSecondFloat},
                       "path", latencyPathNames[p]);
    }
}

void scores(TextWriter& out, const StatsBlock& stats) {
    header(out, "score_band_total", "counter",
           "Scored requests by bot-probability band (disjoint)");
    labelledCounts<scoreBandNames.size()>(out, "score_band_total", "band", scoreBandNames,
                                          stats.scoreBands);
    header(out, "score_sum", "gauge");
    sample(out, "score_sum")
        .decimal(static_cast<double>(stats.scoreSumMillionths) / scoreUnitsPerOne)
        .byte('\n');
    const std::uint64_t scored =
        std::accumulate(stats.scoreBands.begin(), stats.scoreBands.end(), std::uint64_t{0});
    sample(out, "score_count").number(scored).byte('\n');
}

void classWindows(TextWriter& out, const MetricsGauges& gauges) {
    const std::span<const std::string_view, pathClassCount> classes(classSlotNames.data(),
                                                                    pathClassCount);
    header(out, "class_rate10m", "gauge",
           "Requests per path class that no fingerprint trapped, rolling 10m");
    labelledCounts<pathClassCount>(out, "class_rate10m", "class", classes, gauges.classRate);
    header(out, "class_dip10m", "gauge",
           "Distinct IPs per path class that no fingerprint trapped, rolling 10m");
    labelledCounts<pathClassCount>(out, "class_dip10m", "class", classes, gauges.classDistinctIps);
    header(out, "expensive_share", "gauge");
    sample(out, "expensive_share").fixed<4>(gauges.expensiveShare).byte('\n');
    header(out, "addresses_dropped_total", "counter",
           "New client addresses not recorded because the path class's address table was full");
    labelledCounts<pathClassCount>(out, "addresses_dropped_total", "class", classes,
                                   gauges.addressesDropped);
    header(out, "address_table_entries", "gauge",
           "Distinct client addresses held per path class, rolling 10m");
    labelledCounts<pathClassCount>(out, "address_table_entries", "class", classes,
                                   gauges.classDistinctIps);
    header(out, "address_table_capacity", "gauge",
           "Distinct client addresses a path class's table holds at most, from --address-memory");
    labelledCounts<pathClassCount>(out, "address_table_capacity", "class", classes,
                                   gauges.addressCapacity);
}

void connections(TextWriter& out, const StatsBlock& stats, const MetricsGauges& gauges) {
    header(out, "scorer_enabled", "gauge");
    sample(out, "scorer_enabled").number(gauges.scorerEnabled ? 1 : 0).byte('\n');
    header(out, "reloads_total", "counter");
    sample(out, "reloads_total").number(stats.reloads).byte('\n');
    header(out, "accept_errors_total", "counter", "Connections not accepted, by reason");
    labelledCounts<acceptErrorNames.size()>(out, "accept_errors_total", "reason", acceptErrorNames,
                                            stats.acceptErrors);
    header(out, "connections", "gauge", "Open SPOP and metrics connections");
    sample(out, "connections").number(stats.connections).byte('\n');
    header(out, "connection_limit", "gauge",
           "Connections accepted at most, from --conn-memory and the descriptor limit");
    sample(out, "connection_limit").number(stats.connectionLimit).byte('\n');
    header(out, "buffer_chunks", "gauge",
           "Connection buffer chunks: in use, allocated (in use or free) and the most "
           "--conn-memory allows");
    labelledCounts<chunkGaugeNames.size()>(out, "buffer_chunks", "state", chunkGaugeNames,
                                           stats.chunks);
    header(out, "buffer_waits_total", "counter",
           "Times a connection waited for a free buffer chunk");
    sample(out, "buffer_waits_total").number(stats.bufferWaits).byte('\n');
    header(out, "log_dropped_total", "counter",
           "Verdict log lines dropped because the log queue was full");
    sample(out, "log_dropped_total").number(stats.logDropped).byte('\n');
    header(out, "log_messages_dropped_total", "counter",
           "Ordinary log lines dropped because the log queue was full");
    sample(out, "log_messages_dropped_total").number(gauges.logMessagesDropped).byte('\n');
}

void challenges(TextWriter& out, const StatsBlock& stats, const MetricsGauges& gauges) {
    // Receipt status none is counted but never shown.
    constexpr std::size_t shownStatuses = receiptStatusCount - 1;
    header(out, "receipts_total", "counter", "Requests carrying a bramble_pass cookie, by outcome");
    labelledCounts<shownStatuses>(
        out, "receipts_total", "status",
        std::span<const std::string_view, shownStatuses>(receiptStatusNames.data() + 1,
                                                         shownStatuses),
        std::span<const std::uint64_t, shownStatuses>(stats.receipts.data() + 1, shownStatuses));
    header(out, "would_challenge_total", "counter",
           "Challengeable requests without a valid receipt that were not challenged (shadow "
           "mode or outside the prefix), by meter level");
    labelledCounts<meterLevelCount>(out, "would_challenge_total", "level", meterLevelNames,
                                    stats.wouldChallenge);
    header(out, "challenges_total", "counter", "Challenges sent, by meter level");
    labelledCounts<meterLevelCount>(out, "challenges_total", "level", meterLevelNames,
                                    stats.challenges);
    header(out, "difficulty", "gauge", "Per-share difficulty asked for at each meter level");
    for (std::size_t l = 0; l < meterLevelCount; ++l) {
        sample(out, "difficulty", "level", meterLevelNames[l])
            .decimal(gauges.difficulty[l])
            .byte('\n');
    }
    header(out, "challenge_mode", "gauge", "0 off, 1 shadow, 2 on");
    sample(out, "challenge_mode").number(indexOf(gauges.challengeMode)).byte('\n');
    header(out, "challenge_from", "gauge",
           "Lowest meter level challenges are sent at: 0 calm, 1 hot, 2 severe");
    sample(out, "challenge_from").number(indexOf(gauges.challengeFrom)).byte('\n');
}

void state(TextWriter& out, const MetricsGauges& gauges) {
    header(out, "receipt_keys", "gauge");
    sample(out, "receipt_keys").number(gauges.receiptKeys).byte('\n');
    header(out, "level", "gauge", "Meter level: 0 calm, 1 hot, 2 severe");
    sample(out, "level").number(indexOf(gauges.level)).byte('\n');
    if (gauges.backlog) {
        header(out, "backlog", "gauge",
               "Requests queued at the protected backend, as HAProxy last sent it");
        sample(out, "backlog").number(*gauges.backlog).byte('\n');
    }
    header(out, "receipt_book_entries", "gauge");
    sample(out, "receipt_book_entries").number(gauges.receiptBookEntries).byte('\n');
    header(out, "receipts_revoked_total", "counter");
    sample(out, "receipts_revoked_total").number(gauges.receiptsRevoked).byte('\n');
    header(out, "verify_pending", "gauge");
    sample(out, "verify_pending").number(gauges.verifyPending).byte('\n');
    header(out, "start_time_seconds", "gauge");
    sample(out, "start_time_seconds").number(gauges.startTimeSeconds).byte('\n');
}

}  // namespace

std::expected<void, Error> renderMetrics(const StatsBlock& snapshot, const MetricsGauges& gauges,
                                         TextWriter& out) {
    decisions(out, snapshot);
    latency(out, snapshot);
    scores(out, snapshot);
    classWindows(out, gauges);
    connections(out, snapshot, gauges);
    challenges(out, snapshot, gauges);
    state(out, gauges);
    if (out.overflowed()) return std::unexpected(Error::WriteFailed);
    return {};
}

}  // namespace vorn
