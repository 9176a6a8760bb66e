#include "decision/request_decision.hpp"

#include <array>

#include "decision/agent_message.hpp"
#include "decision/client_address.hpp"
#include "decision/finish_decision.hpp"
#include "decision/verdict_rules.hpp"

namespace vorn {

std::expected<NotifyReply, Error> RequestDecision::handleNotify(
    std::span<const std::byte> payload) {
    RequestFacts facts;
    facts.arrival = wallClockNanos();
    std::array<char, ipTextCapacity> ipText{};
    auto found = readAgentMessage(payload, facts, ipText);
    if (!found) return std::unexpected(found.error());
    if (!*found) return NotifyReply{};
    facts.ipHash = ipHash(facts.ip);
    if (facts.backlog) state_.meter.recordBacklog(*facts.backlog, facts.arrival);
    Decision decision = decide(facts, state_.windows);

    RequestSummary summary;
    summary.arrival = facts.arrival;
    summary.path = facts.path;
    summary.ip = facts.ip;
    summary.referer = facts.referer;
    return finishDecision(state_, decision, summary);
}

}  // namespace vorn
