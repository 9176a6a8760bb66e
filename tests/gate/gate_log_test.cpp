#include "gate/gate_log.hpp"

#include <gtest/gtest.h>

#include <string>

#include "support/test_name.hpp"

namespace vorn {
namespace {

constexpr std::int64_t at = 1'765'000'000'123;  // 2025-12-06T05:46:40.123Z

struct LineRow {
    std::string name;
    GateLogRecord record;
    std::string line;
};

void PrintTo(const LineRow& row, std::ostream* out) {
    *out << row.name;
}

class GateLines : public testing::TestWithParam<LineRow> {};

TEST_P(GateLines, AreTheDaemonsKeyValueLines) {
    LogLine line;
    writeGateLine(line, GetParam().record, at);
    EXPECT_EQ(line.view(), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, GateLines,
    testing::Values(
        LineRow{
            "pass",
            {.event = GateEvent::answer, .ip = "192.0.2.7", .outcome = "pass", .solveMillis = 812},
            "ts=2025-12-06T05:46:40.123Z level=info event=answer ip=192.0.2.7 outcome=pass "
            "solve_ms=812"},
        LineRow{"refused answer",
                {.event = GateEvent::answer,
                 .ip = "2001:db8::1",
                 .outcome = "refused",
                 .reason = GateFault::WrongAnswer,
                 .solveMillis = 40},
                "ts=2025-12-06T05:46:40.123Z level=info event=answer ip=2001:db8::1 "
                "outcome=refused reason=wrong_answer solve_ms=40"},
        LineRow{"refused before the nonce",
                {.event = GateEvent::answer,
                 .ip = "",
                 .outcome = "refused",
                 .reason = GateFault::NoClient},
                "ts=2025-12-06T05:46:40.123Z level=info event=answer ip=\"\" outcome=refused "
                "reason=no_client"},
        LineRow{"limited page",
                {.event = GateEvent::challenge,
                 .ip = "192.0.2.7",
                 .outcome = "refused",
                 .reason = GateFault::TooManyChallenges},
                "ts=2025-12-06T05:46:40.123Z level=info event=challenge ip=192.0.2.7 "
                "outcome=refused reason=too_many_challenges"},
        LineRow{"cookie notice",
                {.event = GateEvent::challenge, .ip = "192.0.2.7", .outcome = "cookie_missing"},
                "ts=2025-12-06T05:46:40.123Z level=info event=challenge ip=192.0.2.7 "
                "outcome=cookie_missing"}),
    [](const testing::TestParamInfo<LineRow>& info) { return test::testName(info.param.name); });

}  // namespace
}  // namespace vorn
