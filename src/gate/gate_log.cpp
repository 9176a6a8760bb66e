#include "gate/gate_log.hpp"

#include "observe/log_queue.hpp"

namespace vorn {

void writeGateLine(LogLine& line, const GateLogRecord& record, std::int64_t wallMillis) {
    line.begin(LogLevel::info, wallMillis);
    line.pair("event", record.event == GateEvent::answer ? "answer" : "challenge");
    line.pair("ip", record.ip);
    line.pair("outcome", record.outcome);
    if (record.reason) line.pair("reason", gateFaultName(*record.reason));
    if (record.solveMillis) line.text(" solve_ms=").number(*record.solveMillis);
}

bool logGateRequest(const GateLogRecord& record, std::int64_t wallMillis) {
    LogQueue* queue = publishedLogQueue();
    if (queue == nullptr) return false;
    LogLine line;
    writeGateLine(line, record, wallMillis);
    return queue->push(line.view());
}

}  // namespace vorn
