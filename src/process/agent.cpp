#include "process/agent.hpp"

#include "decision/decision_gauges.hpp"
#include "observe/log.hpp"
#include "observe/metrics_page.hpp"

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

Agent::Agent(const Settings& settings, EventLoop& loop)
    : settings_(settings),
      loop_(loop),
      decision_(BacklogMeter(settings.backlogHot, settings.backlogSevere, settings.backlogHoldNs),
                challengePolicyFrom(settings), settings.logVerdicts, loop.stats()),
      requests_(decision_),
      spop_(*this),
      metrics_(*this) {}

void Agent::loadKeysAndModel(std::string_view /*reason*/) {
    // No receipt key is loaded yet, so no challenge can be sent.
    if (settings_.challengeMode == ChallengeMode::on && !decision_.challenge.keysLoaded) {
        logMessage(LogLevel::error, "--challenge=on without receipt keys: challenges are not sent");
    }
    ++loop_.stats().reloads;
}

std::expected<void, Error> Agent::render(TextWriter& out) {
    StatsBlock snapshot;
    snapshot.add(loop_.stats());
    MetricsGauges gauges;
    gauges.startTimeSeconds = settings_.startTimeSeconds;
    fillDecisionGauges(decision_, wallClockNanos(), gauges);
    return renderMetrics(snapshot, gauges, out);
}

}  // namespace vorn
