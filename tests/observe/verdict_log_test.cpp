#include "observe/verdict_log.hpp"

#include <gtest/gtest.h>

#include <future>
#include <ostream>
#include <string>

#include "observe/log_queue.hpp"
#include "observe/pipe_capture.hpp"
#include "support/test_name.hpp"

namespace vorn {
namespace {

constexpr std::int64_t at = 1'714'546'989'042;  // 2024-05-01T07:03:09.042Z

struct FilterCase {
    LogVerdicts mode;
    Verdict verdict;
    ReceiptStatus receipt;
    bool logged;
};

void PrintTo(const FilterCase& row, std::ostream* out) {
    *out << logVerdictsName(row.mode) << " mode, " << verdictName(row.verdict) << ", receipt "
         << receiptStatusName(row.receipt);
}

std::string filterName(const testing::TestParamInfo<FilterCase>& info) {
    const FilterCase& row = info.param;
    return test::testName({logVerdictsName(row.mode), "mode", verdictName(row.verdict), "receipt",
                           receiptStatusName(row.receipt), row.logged ? "logged" : "dropped"});
}

class VerdictFilter : public testing::TestWithParam<FilterCase> {};

TEST_P(VerdictFilter, AdmitsByMode) {
    const FilterCase& row = GetParam();
    EXPECT_EQ(verdictLogAdmits(row.mode, row.verdict, row.receipt), row.logged);
}

using R = ReceiptStatus;
constexpr Verdict pass = Verdict::pass;
constexpr Verdict challenge = Verdict::challenge;
constexpr LogVerdicts none = LogVerdicts::none;
constexpr LogVerdicts all = LogVerdicts::all;

INSTANTIATE_TEST_SUITE_P(
    Table, VerdictFilter,
    testing::Values(FilterCase{none, Verdict::trap, R::none, false},
                    FilterCase{none, challenge, R::bad, false},
                    FilterCase{LogVerdicts::trap, pass, R::none, false},
                    FilterCase{LogVerdicts::trap, pass, R::valid, false},
                    FilterCase{LogVerdicts::trap, pass, R::expired, true},
                    FilterCase{LogVerdicts::trap, pass, R::wrong_host, true},
                    FilterCase{LogVerdicts::trap, pass, R::bad, true},
                    FilterCase{LogVerdicts::trap, pass, R::revoked, true},
                    FilterCase{LogVerdicts::trap, pass, R::overload, true},
                    FilterCase{LogVerdicts::trap, Verdict::trap, R::none, true},
                    FilterCase{LogVerdicts::trap, challenge, R::none, true},
                    FilterCase{LogVerdicts::trap, Verdict::watch, R::none, false},
                    FilterCase{LogVerdicts::trap, Verdict::watch, R::bad, true},
                    FilterCase{LogVerdicts::watch, Verdict::watch, R::none, true},
                    FilterCase{LogVerdicts::watch, pass, R::valid, false},
                    FilterCase{LogVerdicts::watch, pass, R::revoked, true},
                    FilterCase{LogVerdicts::watch, Verdict::trap, R::none, true},
                    FilterCase{all, pass, R::none, true}, FilterCase{all, pass, R::valid, true}),
    filterName);

struct LineCase {
    std::string name;
    VerdictRecord record;
    std::string line;
};

void PrintTo(const LineCase& row, std::ostream* out) {
    *out << row.name;
}

class VerdictLine : public testing::TestWithParam<LineCase> {};

TEST_P(VerdictLine, KeysInOrder) {
    LogLine line;
    writeVerdictLine(line, GetParam().record, at);
    EXPECT_EQ(line.view(), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, VerdictLine,
    testing::Values(
        LineCase{"ChallengeWithEveryField",
                 {.ip = "192.0.2.7",
                  .verdict = challenge,
                  .reason = Reason::hot,
                  .classSlot = indexOf(PathClass::srcbranch),
                  .path = "/owner/repo/src/branch/main/README",
                  .referer = "",
                  .receipt = R::expired,
                  .level = MeterLevel::hot,
                  .difficulty = "0.00048828125",
                  .score = 0.912},
                 "ts=2024-05-01T07:03:09.042Z level=info event=verdict ip=192.0.2.7 "
                 "verdict=challenge reason=hot class=srcbranch path=/owner/repo/src/branch/main/"
                 "README referer=\"\" receipt=expired level=hot difficulty=0.00048828125 "
                 "score=0.912"},
        LineCase{"TrapFromIpv6WithAQuotedPath",
                 {.ip = "2001:db8::1",
                  .verdict = Verdict::trap,
                  .reason = Reason::bare_referer,
                  .classSlot = indexOf(PathClass::commitlist),
                  .path = "/a b",
                  .referer = "https://forge.example"},
                 "ts=2024-05-01T07:03:09.042Z level=info event=verdict ip=2001:db8::1 "
                 "verdict=trap reason=bare_referer class=commitlist path=\"/a b\" "
                 "referer=https://forge.example"},
        LineCase{"GatewayWithEmptyIpAndReferer",
                 {.ip = "",
                  .verdict = pass,
                  .reason = Reason::gateway,
                  .classSlot = gatewaySlot,
                  .path = "/.well-known/bramblegate/x",
                  .level = MeterLevel::calm,
                  .difficulty = "0.0001220703125",
                  .score = 0.0004},
                 "ts=2024-05-01T07:03:09.042Z level=info event=verdict ip=\"\" verdict=pass "
                 "reason=gateway class=gateway path=/.well-known/bramblegate/x referer=\"\" "
                 "level=calm difficulty=0.0001220703125 score=0.000"},
        LineCase{"WatchScoreRoundedToThreeDigits",
                 {.ip = "192.0.2.8",
                  .verdict = Verdict::watch,
                  .reason = Reason::expensive,
                  .classSlot = indexOf(PathClass::expensive),
                  .path = "/o/r/blame/main/x",
                  .referer = "https://forge.example/o/r",
                  .receipt = R::valid,
                  .score = 0.8125},
                 "ts=2024-05-01T07:03:09.042Z level=info event=verdict ip=192.0.2.8 "
                 "verdict=watch reason=expensive class=expensive path=/o/r/blame/main/x "
                 "referer=https://forge.example/o/r receipt=valid score=0.812"}),
    [](const auto& info) { return info.param.name; });

TEST(VerdictLine, LongPathIsCutAtTheLineCapacity) {
    const std::string path = "/" + std::string(4999, 'p');
    LogLine line;
    writeVerdictLine(line,
                     {.ip = "192.0.2.7",
                      .verdict = Verdict::trap,
                      .reason = Reason::bogus,
                      .classSlot = indexOf(PathClass::page),
                      .path = path,
                      .receipt = R::bad},
                     at);
    EXPECT_TRUE(line.overflowed());
    EXPECT_EQ(line.size(), logLineCapacity);
    EXPECT_TRUE(line.view().ends_with("ppp"));
    EXPECT_EQ(line.view().find("receipt="), std::string_view::npos);
}

TEST(LogVerdict, QueuedLongLineEndsWithItsNewline) {
    test::Pipe pipe;
    LogQueue queue(pipe.writeEnd());
    ASSERT_TRUE(queue.start().has_value());
    auto output =
        std::async(std::launch::async, [&pipe] { return test::readUntilEof(pipe.readEnd()); });
    StatsBlock stats;
    const std::string path = "/" + std::string(4999, 'p');
    publishLogQueue(&queue);
    logVerdict({.ip = "192.0.2.7", .verdict = Verdict::trap, .reason = Reason::bogus, .path = path},
               LogVerdicts::trap, stats);
    publishLogQueue(nullptr);
    queue.stop();
    pipe.closeWrite();
    const std::string text = output.get();
    EXPECT_EQ(text.size(), logLineCapacity + 1);
    EXPECT_TRUE(text.ends_with("ppp\n"));
    EXPECT_EQ(stats.logDropped, 0u);
}

TEST(LogVerdict, WithoutQueueCountsAdmittedLinesAsDropped) {
    ASSERT_EQ(publishedLogQueue(), nullptr);
    StatsBlock stats;
    logVerdict({.verdict = pass, .reason = Reason::cold}, LogVerdicts::trap, stats);
    EXPECT_EQ(stats.logDropped, 0u);
    logVerdict({.verdict = pass, .reason = Reason::cold, .receipt = R::expired}, LogVerdicts::trap,
               stats);
    EXPECT_EQ(stats.logDropped, 1u);
}

}  // namespace
}  // namespace vorn
