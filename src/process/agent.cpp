#include "process/agent.hpp"

#include <string>

#include "decision/decision_gauges.hpp"
#include "observe/log.hpp"
#include "observe/metrics_page.hpp"
#include "receipt/load_receipt_keys.hpp"
#include "receipt/receipt_gauges.hpp"
#include "scorer/model_loader.hpp"

namespace vorn {

namespace {

ChallengePolicy challengePolicyFrom(const Settings& settings) {
    ChallengePolicy policy;
    policy.mode = settings.challengeMode;
    policy.prefix = settings.challengePrefix;
    policy.from = settings.challengeFrom;
    policy.difficulty = settings.difficulty;
    return policy;
}

}  // namespace

Agent::Agent(const Settings& settings, EventLoop& loop, ReceiptState receipts, ClassWindows windows)
    : settings_(settings),
      loop_(loop),
      decision_(BacklogMeter(settings.backlogHot, settings.backlogSevere, settings.backlogHoldNs),
                std::move(windows), challengePolicyFrom(settings), settings.logVerdicts,
                loop.stats()),
      receipts_(std::move(receipts)),
      spop_(requests_, loop),
      requests_(decision_, receipts_, spop_),
      metrics_(*this) {
    decision_.site = settings.site;
}

void Agent::onCompletion(const Completion& completion) {
    if (completion.slot >= parkingCapacity) return;
    requests_.completeCheck(static_cast<std::uint16_t>(completion.slot), completion.ok != 0);
}

void Agent::loadKeysAndModel(std::string_view reason) {
    loadReceiptKeys(reason, settings_.receiptKeysPath, settings_.challengeMode, receipts_.keys);
    decision_.challenge.keysLoaded = receipts_.keys.size() > 0;
    loadModel(reason, settings_.modelPath, decision_.model);
    ++loop_.stats().reloads;
}

std::expected<void, Error> Agent::render(TextWriter& out) {
    StatsBlock snapshot;
    snapshot.add(loop_.stats());
    MetricsGauges gauges;
    gauges.startTimeSeconds = settings_.startTimeSeconds;
    gauges.logMessagesDropped = logMessagesDropped();
    fillDecisionGauges(decision_, wallClockNanos(), gauges);
    fillReceiptGauges(receipts_, gauges);
    gauges.verifyPending = requests_.parkedRequests();
    return renderMetrics(snapshot, gauges, out);
}

}  // namespace vorn
