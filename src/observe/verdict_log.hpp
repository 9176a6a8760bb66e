#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "common/log_verdicts.hpp"
#include "common/meter_level.hpp"
#include "common/receipt_status.hpp"
#include "common/verdict.hpp"
#include "observe/log_line.hpp"
#include "observe/stats_block.hpp"

namespace vorn {

// What the verdict line says about one decided request; views into the
// request, valid for the call.
struct VerdictRecord {
    std::string_view ip{};
    Verdict verdict = Verdict::pass;
    Reason reason = Reason::gateway;
    std::size_t classSlot = gatewaySlot;  // a PathClass index, or gatewaySlot
    std::string_view path{};
    std::string_view referer{};
    ReceiptStatus receipt = ReceiptStatus::none;
    MeterLevel level = MeterLevel::calm;
    std::optional<std::string_view> difficulty{};  // present: "level" and "difficulty" are written
    std::optional<double> score{};                 // present: "score" with three decimals
};

// Whether --log-verdicts `mode` wants a line for this outcome.
[[nodiscard]] bool verdictLogAdmits(LogVerdicts mode, Verdict verdict, ReceiptStatus receipt);

// Builds the whole verdict line into `line` (cut at 4095 bytes).
void writeVerdictLine(LogLine& line, const VerdictRecord& record, std::int64_t millisSinceEpoch);

// Filters, then queues the line stamped with the wall clock. A line that
// finds no queue or no room is dropped and counted in stats.logDropped; it is
// never written directly, so the loop never blocks on standard error.
void logVerdict(const VerdictRecord& record, LogVerdicts mode, StatsBlock& stats);

}  // namespace vorn
