#include "observe/verdict_log.hpp"

#include "common/nanos.hpp"
#include "observe/log_queue.hpp"

namespace vorn {

bool verdictLogAdmits(LogVerdicts mode, Verdict verdict, ReceiptStatus receipt) {
    const bool failedReceipt = receipt != ReceiptStatus::none && receipt != ReceiptStatus::valid;
    const bool trapped = verdict == Verdict::trap || verdict == Verdict::challenge || failedReceipt;
    switch (mode) {
        case LogVerdicts::none:
            return false;
        case LogVerdicts::trap:
            return trapped;
        case LogVerdicts::watch:
            return trapped || verdict == Verdict::watch;
        case LogVerdicts::all:
            return true;
    }
    return false;
}

void writeVerdictLine(LogLine& line, const VerdictRecord& record, std::int64_t millisSinceEpoch) {
    line.begin(LogLevel::info, millisSinceEpoch);
    line.raw(" event=verdict");
    line.pair("ip", record.ip);
    line.pair("verdict", verdictName(record.verdict));
    line.pair("reason", reasonName(record.reason));
    line.pair("class", classSlotNames[record.classSlot]);
    line.pair("path", record.path);
    line.pair("referer", record.referer);
    if (record.receipt != ReceiptStatus::none)
        line.pair("receipt", receiptStatusName(record.receipt));
    if (record.difficulty) {
        line.pair("level", meterLevelName(record.level));
        line.pair("difficulty", *record.difficulty);
    }
    if (record.score) {
        line.raw(" score=");
        line.fixed<3>(*record.score);
    }
}

void logVerdict(const VerdictRecord& record, LogVerdicts mode, StatsBlock& stats) {
    if (!verdictLogAdmits(mode, record.verdict, record.receipt)) return;
    LogQueue* queue = publishedLogQueue();
    if (queue == nullptr) {
        ++stats.logDropped;
        return;
    }
    LogLine line;
    writeVerdictLine(line, record, wallClockMillis());
    if (!queue->push(line.view(), LogQueue::LineKind::verdict)) ++stats.logDropped;
}

}  // namespace vorn
