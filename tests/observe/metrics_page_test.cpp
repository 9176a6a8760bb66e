#include "observe/metrics_page.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace vorn {
namespace {

// The writer the metrics endpoint hands over: a 64 KiB chunk less its
// header room.
constexpr std::size_t pageCapacity = 65'536 - 256;

std::string render(const StatsBlock& stats, const MetricsGauges& gauges) {
    auto out = std::make_unique<FixedText<pageCapacity>>();
    auto result = renderMetrics(stats, gauges, *out);
    EXPECT_TRUE(result.has_value());
    return std::string(out->view());
}

MetricsGauges defaultGauges() {
    MetricsGauges gauges;
    gauges.receiptKeys = 2;
    gauges.difficulty = {1.0 / 8192, 1.0 / 2048, 1.0 / 2048};
    gauges.startTimeSeconds = 1'714'546'989;
    gauges.challengeMode = ChallengeMode::shadow;
    gauges.challengeFrom = MeterLevel::hot;
    return gauges;
}

StatsBlock freshStats() {
    StatsBlock stats;
    stats.reloads = 1;
    stats.connectionLimit = 1000;
    stats.chunks[indexOf(ChunkGauge::limit)] = 256;
    return stats;
}

// The lines from the first one starting with `first` up to the first one
// after it starting with `end` (or the end of the page).
std::string section(const std::string& page, const std::string& first, const std::string& end) {
    std::size_t from = page.find("\n" + first);
    if (from == std::string::npos) return {};
    ++from;
    std::size_t to = page.find("\n" + end, from + first.size());
    return page.substr(from, to == std::string::npos ? std::string::npos : to + 1 - from);
}

// A family's samples for the eleven path classes, all 0, in the order the
// families above spell out.
std::string zeroInEveryClass(std::string_view family) {
    std::string lines;
    for (std::size_t i = 0; i < pathClassCount; ++i) {
        lines += std::string(family) + "{class=\"" + std::string(classSlotNames[i]) + "\"} 0\n";
    }
    return lines;
}

TEST(MetricsPage, FreshPage) {
    const std::string expected =
        R"(# HELP vorn_spoa_decisions_total Requests classified, by verdict, path class and rule
# TYPE vorn_spoa_decisions_total counter
# HELP vorn_spoa_notify_seconds NOTIFY to ACK time; path=verify waited for a receipt signature check
# TYPE vorn_spoa_notify_seconds histogram
vorn_spoa_notify_seconds_bucket{path="direct",le="0.00005"} 0
vorn_spoa_notify_seconds_bucket{path="direct",le="0.0001"} 0
vorn_spoa_notify_seconds_bucket{path="direct",le="0.00025"} 0
vorn_spoa_notify_seconds_bucket{path="direct",le="0.0005"} 0
vorn_spoa_notify_seconds_bucket{path="direct",le="0.001"} 0
vorn_spoa_notify_seconds_bucket{path="direct",le="0.0025"} 0
vorn_spoa_notify_seconds_bucket{path="direct",le="0.005"} 0
vorn_spoa_notify_seconds_bucket{path="direct",le="0.01"} 0
vorn_spoa_notify_seconds_bucket{path="direct",le="0.02"} 0
vorn_spoa_notify_seconds_bucket{path="direct",le="0.05"} 0
vorn_spoa_notify_seconds_bucket{path="direct",le="+Inf"} 0
vorn_spoa_notify_seconds_sum{path="direct"} 0
vorn_spoa_notify_seconds_count{path="direct"} 0
vorn_spoa_notify_seconds_bucket{path="verify",le="0.00005"} 0
vorn_spoa_notify_seconds_bucket{path="verify",le="0.0001"} 0
vorn_spoa_notify_seconds_bucket{path="verify",le="0.00025"} 0
vorn_spoa_notify_seconds_bucket{path="verify",le="0.0005"} 0
vorn_spoa_notify_seconds_bucket{path="verify",le="0.001"} 0
vorn_spoa_notify_seconds_bucket{path="verify",le="0.0025"} 0
vorn_spoa_notify_seconds_bucket{path="verify",le="0.005"} 0
vorn_spoa_notify_seconds_bucket{path="verify",le="0.01"} 0
vorn_spoa_notify_seconds_bucket{path="verify",le="0.02"} 0
vorn_spoa_notify_seconds_bucket{path="verify",le="0.05"} 0
vorn_spoa_notify_seconds_bucket{path="verify",le="+Inf"} 0
vorn_spoa_notify_seconds_sum{path="verify"} 0
vorn_spoa_notify_seconds_count{path="verify"} 0
# HELP vorn_spoa_score_band_total Scored requests by bot-probability band (disjoint)
# TYPE vorn_spoa_score_band_total counter
vorn_spoa_score_band_total{band="le0.2"} 0
vorn_spoa_score_band_total{band="le0.5"} 0
vorn_spoa_score_band_total{band="le0.8"} 0
vorn_spoa_score_band_total{band="gt0.8"} 0
# TYPE vorn_spoa_score_sum gauge
vorn_spoa_score_sum 0
vorn_spoa_score_count 0
# HELP vorn_spoa_class_rate10m Requests per path class that no fingerprint trapped, rolling 10m
# TYPE vorn_spoa_class_rate10m gauge
vorn_spoa_class_rate10m{class="expensive"} 0
vorn_spoa_class_rate10m{class="commitlist"} 0
vorn_spoa_class_rate10m{class="srcbranch"} 0
vorn_spoa_class_rate10m{class="feed"} 0
vorn_spoa_class_rate10m{class="tracker"} 0
vorn_spoa_class_rate10m{class="actions"} 0
vorn_spoa_class_rate10m{class="api"} 0
vorn_spoa_class_rate10m{class="gitproto"} 0
vorn_spoa_class_rate10m{class="runner"} 0
vorn_spoa_class_rate10m{class="page"} 0
vorn_spoa_class_rate10m{class="other"} 0
# HELP vorn_spoa_class_dip10m Distinct IPs per path class that no fingerprint trapped, rolling 10m
# TYPE vorn_spoa_class_dip10m gauge
vorn_spoa_class_dip10m{class="expensive"} 0
vorn_spoa_class_dip10m{class="commitlist"} 0
vorn_spoa_class_dip10m{class="srcbranch"} 0
vorn_spoa_class_dip10m{class="feed"} 0
vorn_spoa_class_dip10m{class="tracker"} 0
vorn_spoa_class_dip10m{class="actions"} 0
vorn_spoa_class_dip10m{class="api"} 0
vorn_spoa_class_dip10m{class="gitproto"} 0
vorn_spoa_class_dip10m{class="runner"} 0
vorn_spoa_class_dip10m{class="page"} 0
vorn_spoa_class_dip10m{class="other"} 0
# TYPE vorn_spoa_expensive_share gauge
vorn_spoa_expensive_share 0.0000
# HELP vorn_spoa_addresses_dropped_total New client addresses not recorded because the path class's address table was full
# TYPE vorn_spoa_addresses_dropped_total counter
)" + zeroInEveryClass("vorn_spoa_addresses_dropped_total") +
        R"(# HELP vorn_spoa_address_table_entries Distinct client addresses held per path class, rolling 10m
# TYPE vorn_spoa_address_table_entries gauge
)" + zeroInEveryClass("vorn_spoa_address_table_entries") +
        R"(# HELP vorn_spoa_address_table_capacity Distinct client addresses a path class's table holds at most, from --address-memory
# TYPE vorn_spoa_address_table_capacity gauge
)" + zeroInEveryClass("vorn_spoa_address_table_capacity") +
        R"(# TYPE vorn_spoa_scorer_enabled gauge
vorn_spoa_scorer_enabled 0
# TYPE vorn_spoa_reloads_total counter
vorn_spoa_reloads_total 1
# HELP vorn_spoa_accept_errors_total Connections not accepted, by reason
# TYPE vorn_spoa_accept_errors_total counter
vorn_spoa_accept_errors_total{reason="socket_error"} 0
vorn_spoa_accept_errors_total{reason="resources"} 0
vorn_spoa_accept_errors_total{reason="limit"} 0
# HELP vorn_spoa_connections Open SPOP and metrics connections
# TYPE vorn_spoa_connections gauge
vorn_spoa_connections 0
# HELP vorn_spoa_connection_limit Connections accepted at most, from --conn-memory and the descriptor limit
# TYPE vorn_spoa_connection_limit gauge
vorn_spoa_connection_limit 1000
# HELP vorn_spoa_buffer_chunks Connection buffer chunks: in use, allocated (in use or free) and the most --conn-memory allows
# TYPE vorn_spoa_buffer_chunks gauge
vorn_spoa_buffer_chunks{state="in_use"} 0
vorn_spoa_buffer_chunks{state="allocated"} 0
vorn_spoa_buffer_chunks{state="limit"} 256
# HELP vorn_spoa_buffer_waits_total Times a connection waited for a free buffer chunk
# TYPE vorn_spoa_buffer_waits_total counter
vorn_spoa_buffer_waits_total 0
# HELP vorn_spoa_log_dropped_total Verdict log lines dropped because the log queue was full
# TYPE vorn_spoa_log_dropped_total counter
vorn_spoa_log_dropped_total 0
# HELP vorn_spoa_log_messages_dropped_total Ordinary log lines dropped because the log queue was full
# TYPE vorn_spoa_log_messages_dropped_total counter
vorn_spoa_log_messages_dropped_total 0
# HELP vorn_spoa_receipts_total Requests carrying a bramble_pass cookie, by outcome
# TYPE vorn_spoa_receipts_total counter
vorn_spoa_receipts_total{status="valid"} 0
vorn_spoa_receipts_total{status="expired"} 0
vorn_spoa_receipts_total{status="wrong_host"} 0
vorn_spoa_receipts_total{status="bad"} 0
vorn_spoa_receipts_total{status="revoked"} 0
vorn_spoa_receipts_total{status="overload"} 0
# HELP vorn_spoa_would_challenge_total Challengeable requests without a valid receipt that were not challenged (shadow mode or outside the prefix), by meter level
# TYPE vorn_spoa_would_challenge_total counter
vorn_spoa_would_challenge_total{level="calm"} 0
vorn_spoa_would_challenge_total{level="hot"} 0
vorn_spoa_would_challenge_total{level="severe"} 0
# HELP vorn_spoa_challenges_total Challenges sent, by meter level
# TYPE vorn_spoa_challenges_total counter
vorn_spoa_challenges_total{level="calm"} 0
vorn_spoa_challenges_total{level="hot"} 0
vorn_spoa_challenges_total{level="severe"} 0
# HELP vorn_spoa_difficulty Per-share difficulty asked for at each meter level
# TYPE vorn_spoa_difficulty gauge
vorn_spoa_difficulty{level="calm"} 0.0001220703125
vorn_spoa_difficulty{level="hot"} 0.00048828125
vorn_spoa_difficulty{level="severe"} 0.00048828125
# HELP vorn_spoa_challenge_mode 0 off, 1 shadow, 2 on
# TYPE vorn_spoa_challenge_mode gauge
vorn_spoa_challenge_mode 1
# HELP vorn_spoa_challenge_from Lowest meter level challenges are sent at: 0 calm, 1 hot, 2 severe
# TYPE vorn_spoa_challenge_from gauge
vorn_spoa_challenge_from 1
# TYPE vorn_spoa_receipt_keys gauge
vorn_spoa_receipt_keys 2
# HELP vorn_spoa_level Meter level: 0 calm, 1 hot, 2 severe
# TYPE vorn_spoa_level gauge
vorn_spoa_level 0
# TYPE vorn_spoa_receipt_book_entries gauge
vorn_spoa_receipt_book_entries 0
# TYPE vorn_spoa_receipts_revoked_total counter
vorn_spoa_receipts_revoked_total 0
# TYPE vorn_spoa_verify_pending gauge
vorn_spoa_verify_pending 0
# TYPE vorn_spoa_start_time_seconds gauge
vorn_spoa_start_time_seconds 1714546989
)";
    EXPECT_EQ(render(freshStats(), defaultGauges()), expected);
}

TEST(MetricsPage, DecisionCellsInVerdictClassReasonOrder) {
    StatsBlock stats = freshStats();
    stats.decisions[indexOf(Verdict::challenge)][indexOf(PathClass::srcbranch)]
                   [indexOf(Reason::hot)] = 2;
    stats.decisions[indexOf(Verdict::pass)][gatewaySlot][indexOf(Reason::gateway)] = 3;
    stats.decisions[indexOf(Verdict::trap)][indexOf(PathClass::other)][indexOf(Reason::bogus)] = 5;
    stats.decisions[indexOf(Verdict::pass)][indexOf(PathClass::page)][indexOf(Reason::cold)] = 17;
    const std::string page = render(stats, defaultGauges());
    EXPECT_EQ(section(page, "vorn_spoa_decisions_total{", "#"),
              "vorn_spoa_decisions_total{verdict=\"pass\",class=\"page\",reason=\"cold\"} 17\n"
              "vorn_spoa_decisions_total{verdict=\"pass\",class=\"gateway\",reason=\"gateway\"} 3\n"
              "vorn_spoa_decisions_total{verdict=\"trap\",class=\"other\",reason=\"bogus\"} 5\n"
              "vorn_spoa_decisions_total{verdict=\"challenge\",class=\"srcbranch\",reason="
              "\"hot\"} 2\n");
}

TEST(MetricsPage, HistogramIsCumulative) {
    StatsBlock stats = freshStats();
    LatencyHistogram& direct = stats.latency[indexOf(LatencyPath::direct)];
    direct.record(50'000);
    direct.record(300'000);
    direct.record(60'000'000);
    stats.latency[indexOf(LatencyPath::verify)].record(1'000'001);
    const std::string page = render(stats, defaultGauges());
    EXPECT_EQ(section(page, "vorn_spoa_notify_seconds_bucket{path=\"direct\"",
                      "vorn_spoa_notify_seconds_bucket{path=\"verify\""),
              R"(vorn_spoa_notify_seconds_bucket{path="direct",le="0.00005"} 1
vorn_spoa_notify_seconds_bucket{path="direct",le="0.0001"} 1
vorn_spoa_notify_seconds_bucket{path="direct",le="0.00025"} 1
vorn_spoa_notify_seconds_bucket{path="direct",le="0.0005"} 2
vorn_spoa_notify_seconds_bucket{path="direct",le="0.001"} 2
vorn_spoa_notify_seconds_bucket{path="direct",le="0.0025"} 2
vorn_spoa_notify_seconds_bucket{path="direct",le="0.005"} 2
vorn_spoa_notify_seconds_bucket{path="direct",le="0.01"} 2
vorn_spoa_notify_seconds_bucket{path="direct",le="0.02"} 2
vorn_spoa_notify_seconds_bucket{path="direct",le="0.05"} 2
vorn_spoa_notify_seconds_bucket{path="direct",le="+Inf"} 3
vorn_spoa_notify_seconds_sum{path="direct"} 0.06035
vorn_spoa_notify_seconds_count{path="direct"} 3
)");
    EXPECT_NE(page.find("vorn_spoa_notify_seconds_bucket{path=\"verify\",le=\"0.001\"} 0\n"
                        "vorn_spoa_notify_seconds_bucket{path=\"verify\",le=\"0.0025\"} 1\n"),
              std::string::npos);
}

TEST(MetricsPage, ScoresAndShare) {
    StatsBlock stats = freshStats();
    stats.scoreBands = {3, 1, 0, 2};
    stats.scoreSumMillionths = 2'912'000;
    MetricsGauges gauges = defaultGauges();
    gauges.expensiveShare = 2.0 / 3;
    const std::string page = render(stats, gauges);
    EXPECT_NE(page.find("\nvorn_spoa_score_sum 2.912\nvorn_spoa_score_count 6\n"),
              std::string::npos);
    EXPECT_NE(page.find("\nvorn_spoa_expensive_share 0.6667\n"), std::string::npos);
}

TEST(MetricsPage, BacklogFamilyOnlyWhenKnown) {
    MetricsGauges gauges = defaultGauges();
    gauges.backlog = 42;
    gauges.level = MeterLevel::severe;
    gauges.startTimeSeconds = -5;
    const std::string page = render(freshStats(), gauges);
    EXPECT_EQ(section(page, "vorn_spoa_level ", "# TYPE vorn_spoa_receipt_book_entries"),
              "vorn_spoa_level 2\n"
              "# HELP vorn_spoa_backlog Requests queued at the protected backend, as HAProxy last "
              "sent it\n"
              "# TYPE vorn_spoa_backlog gauge\n"
              "vorn_spoa_backlog 42\n");
    EXPECT_TRUE(page.ends_with("\nvorn_spoa_start_time_seconds -5\n"));
}

TEST(MetricsPage, FloatsWithoutExponent) {
    MetricsGauges gauges = defaultGauges();
    gauges.difficulty = {std::numeric_limits<double>::quiet_NaN(),
                         std::numeric_limits<double>::infinity(), 1e21};
    const std::string page = render(freshStats(), gauges);
    EXPECT_NE(page.find("vorn_spoa_difficulty{level=\"calm\"} nan\n"
                        "vorn_spoa_difficulty{level=\"hot\"} inf\n"
                        "vorn_spoa_difficulty{level=\"severe\"} 1000000000000000000000\n"),
              std::string::npos);
}

TEST(MetricsPage, WriteFailedWhenThePageDoesNotFit) {
    FixedText<1000> out;
    auto result = renderMetrics(freshStats(), defaultGauges(), out);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error(), Error::WriteFailed);
    EXPECT_EQ(out.size(), 1000u);
}

// Every counter at its largest: the page still fits the endpoint's writer.
StatsBlock saturatedStats() {
    constexpr std::uint64_t most = std::numeric_limits<std::uint64_t>::max();
    StatsBlock stats;
    for (auto& byClass : stats.decisions) {
        for (auto& byReason : byClass) byReason.fill(most);
    }
    for (auto& histogram : stats.latency) {
        histogram.buckets.fill(most / 16);
        histogram.count = most;
        histogram.sumNanos = most;
    }
    stats.receipts.fill(most);
    stats.wouldChallenge.fill(most);
    stats.challenges.fill(most);
    stats.scoreBands.fill(most / 8);
    stats.scoreSumMillionths = most;
    stats.acceptErrors.fill(most);
    stats.chunks.fill(most);
    stats.reloads = stats.logDropped = stats.bufferWaits = most;
    stats.connections = stats.connectionLimit = most;
    return stats;
}

MetricsGauges saturatedGauges() {
    constexpr std::uint64_t most = std::numeric_limits<std::uint64_t>::max();
    MetricsGauges gauges = defaultGauges();
    gauges.backlog = std::numeric_limits<std::uint32_t>::max();
    gauges.classRate.fill(most / 16);
    gauges.classDistinctIps.fill(most);
    gauges.addressesDropped.fill(most);
    gauges.addressCapacity.fill(most);
    gauges.expensiveShare = 1.0 / 11;
    gauges.logMessagesDropped = most;
    gauges.receiptKeys = gauges.receiptBookEntries = gauges.receiptsRevoked = most;
    gauges.verifyPending = most;
    gauges.startTimeSeconds = std::numeric_limits<std::int64_t>::min();
    return gauges;
}

TEST(MetricsPage, LargestPageFits) {
    auto out = std::make_unique<FixedText<pageCapacity>>();
    EXPECT_TRUE(renderMetrics(saturatedStats(), saturatedGauges(), *out).has_value());
}

// promtool exits 1 when the page does not parse and 3 when it only has lint
// remarks (families without help, "_sum" on a gauge), which are by design.
TEST(MetricsPage, PromtoolParsesThePage) {
    const std::filesystem::path promtool = "/usr/bin/promtool";
    if (!std::filesystem::exists(promtool)) GTEST_SKIP() << "promtool is not installed";
    const std::string report =
        (std::filesystem::temp_directory_path() / ("promtool-" + std::to_string(getpid())))
            .string();
    StatsBlock stats = freshStats();
    stats.decisions[0][0][1] = 4;
    stats.latency[0].record(300'000);
    MetricsGauges gauges = defaultGauges();
    gauges.backlog = 7;
    for (const std::string& page :
         {render(stats, gauges), render(saturatedStats(), saturatedGauges())}) {
        const std::string command =
            "timeout 60 " + promtool.string() + " check metrics >" + report + " 2>&1";
        FILE* pipe = popen(command.c_str(), "w");
        ASSERT_NE(pipe, nullptr);
        EXPECT_EQ(std::fwrite(page.data(), 1, page.size(), pipe), page.size());
        const int status = pclose(pipe);
        std::stringstream output;
        output << std::ifstream(report).rdbuf();
        std::filesystem::remove(report);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_TRUE(WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 3) << output.str();
        EXPECT_EQ(output.str().find("error"), std::string::npos) << output.str();
    }
}

}  // namespace
}  // namespace vorn
