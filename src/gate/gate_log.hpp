#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "gate/gate_fault.hpp"
#include "observe/log_line.hpp"

namespace vorn {

// The route a request took.
enum class GateEvent : std::uint8_t { challenge, answer };

// What the gate did with the request: "pass" (a receipt), "cookie_missing"
// (the notice page instead of a challenge) or "refused" with its reason.
struct GateLogRecord {
    GateEvent event = GateEvent::answer;
    std::string_view ip{};
    std::string_view outcome{};
    std::optional<GateFault> reason{};
    std::optional<std::int64_t> solveMillis{};  // when the nonce could be read
};

// ts=... level=info event=answer ip=... outcome=... [reason=...] [solve_ms=...]
void writeGateLine(LogLine& line, const GateLogRecord& record, std::int64_t wallMillis);

// Queues the line; false when there is no queue or no room for it (the
// line is dropped, never written directly, so that a worker never waits on
// standard error).
[[nodiscard]] bool logGateRequest(const GateLogRecord& record, std::int64_t wallMillis);

}  // namespace vorn
