#include "process/agent.hpp"

#include "observe/log.hpp"
#include "observe/metrics_page.hpp"
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

Agent::Agent(const Settings& settings, EventLoop& loop)
    : settings_(settings),
      loop_(loop),
      decision_(BacklogMeter(settings.backlogHot, settings.backlogSevere, settings.backlogHoldNs),
                challengePolicyFrom(settings), settings.logVerdicts, loop.stats()),
      requests_(decision_),
      protocol_(loop, requests_, *this) {}

void Agent::loadKeysAndModel(std::string_view reason) {
    // No receipt key is loaded yet, so no challenge can be sent.
    if (settings_.challengeMode == ChallengeMode::on && !decision_.challenge.keysLoaded) {
        log(LogLevel::error, "--challenge=on without receipt keys: challenges are not sent");
    }
    loadModel(reason, settings_.modelPath, decision_.model);
    ++loop_.stats().reloads;
}

std::expected<void, Error> Agent::render(TextWriter& out) {
    StatsBlock snapshot;
    snapshot.add(loop_.stats());

    const ClassWindows& windows = decision_.windows;
    MetricsGauges gauges;
    gauges.difficulty = settings_.difficulty;
    gauges.startTimeSeconds = settings_.startTimeSeconds;
    gauges.challengeMode = static_cast<std::uint8_t>(indexOf(settings_.challengeMode));
    gauges.challengeFrom = static_cast<std::uint8_t>(indexOf(settings_.challengeFrom));
    gauges.level =
        static_cast<std::uint8_t>(indexOf(decision_.meter.level(wallClockNanos(), windows)));
    if (decision_.meter.backlogSeen()) gauges.backlog = decision_.meter.lastBacklog();
    for (std::size_t c = 0; c < pathClassCount; ++c) {
        auto pathClass = static_cast<PathClass>(c);
        gauges.classRate[c] = windows.classRate(pathClass);
        gauges.classDistinctIps[c] = windows.classDistinctIps(pathClass);
    }
    gauges.expensiveShare = windows.expensiveShare();
    gauges.scorerEnabled = decision_.model.has_value();
    return renderMetrics(snapshot, gauges, out);
}

}  // namespace vorn
