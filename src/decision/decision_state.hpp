#pragma once

#include <array>
#include <optional>
#include <string_view>
#include <utility>

#include "common/challenge_mode.hpp"
#include "common/log_verdicts.hpp"
#include "common/meter_level.hpp"
#include "decision/backlog_meter.hpp"
#include "decision/class_windows.hpp"
#include "decision/site.hpp"
#include "observe/stats_block.hpp"
#include "scorer/scorer_model.hpp"

namespace vorn {

// When a watched request may be challenged instead, and how hard.
struct ChallengePolicy {
    ChallengeMode mode = ChallengeMode::off;
    std::string_view prefix;  // empty: every path
    MeterLevel from = MeterLevel::calm;
    std::array<double, meterLevelCount> difficulty{};
    bool keysLoaded = false;  // at least one receipt key is loaded
};

// The decision's per-loop state. Belongs to the loop thread; the counters
// live in the loop's statistics block.
struct DecisionState {
    DecisionState(BacklogMeter meter, ClassWindows windows, ChallengePolicy challenge,
                  LogVerdicts logVerdicts, StatsBlock& stats)
        : meter(meter),
          windows(std::move(windows)),
          challenge(challenge),
          logVerdicts(logVerdicts),
          stats(stats) {}

    BacklogMeter meter;
    ClassWindows windows;
    ChallengePolicy challenge;
    Site site;  // what the request's facts are read against
    LogVerdicts logVerdicts;
    StatsBlock& stats;
    std::optional<ScorerModel> model;  // the shadow scorer's, when one is loaded
};

}  // namespace vorn
