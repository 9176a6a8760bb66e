#include "decision/request_decision.hpp"

#include <array>

#include "decision/agent_message.hpp"
#include "decision/client_address.hpp"
#include "decision/finish_decision.hpp"
#include "decision/shadow_score.hpp"
#include "decision/verdict_rules.hpp"

namespace vorn {

std::expected<void, Error> RequestDecision::handleNotify(Connection& connection,
                                                         const Frame& frame) {
    RequestFacts facts;
    facts.arrival = wallClockNanos();
    std::array<char, ipTextCapacity> ipText{};
    auto found = readAgentMessage(frame.payload, facts, ipText);
    if (!found) return std::unexpected(found.error());
    AckAddress ack{connection, frame.streamId, frame.frameId};
    if (!*found) {
        writePassOnlyAck(ack);
        return {};
    }
    facts.ipHash = ipHash(facts.ip);
    if (facts.backlogPresent) state_.meter.recordBacklog(facts.backlog, facts.arrival);
    Decision decision = decide(facts, state_.windows);

    RequestSummary summary;
    summary.arrival = facts.arrival;
    summary.path = facts.path;
    summary.ip = facts.ip;
    summary.referer = facts.referer;
    if (auto score = shadowScore(state_, facts, decision)) {
        summary.score = *score;
        summary.scored = true;
    }
    finishDecision(state_, ack, decision, summary);
    return {};
}

}  // namespace vorn
