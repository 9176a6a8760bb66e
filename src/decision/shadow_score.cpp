#include "decision/shadow_score.hpp"

#include "decision/path_class.hpp"
#include "scorer/request_score.hpp"
#include "scorer/score_tally.hpp"

namespace vorn {

std::optional<double> shadowScore(DecisionState& state, const RequestFacts& facts,
                                  const Decision& decision) {
    if (!state.model) return std::nullopt;
    const PathClass pathClass = decision.pathClass ? *decision.pathClass : classifyPath(facts.path);
    const ClassWindows& windows = state.windows;
    const ScoreInput input{.pathClass = pathClass,
                           .classRate = windows.classRate(pathClass),
                           .classDistinctIps = windows.classDistinctIps(pathClass),
                           .expensiveShare = windows.expensiveShare(),
                           .arrival = facts.arrival};
    auto p = scoreRequest(*state.model, input);
    if (p) countScore(state.stats, *p);
    return p;
}

}  // namespace vorn
