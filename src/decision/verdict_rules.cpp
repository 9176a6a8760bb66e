#include "decision/verdict_rules.hpp"

#include <string_view>

#include "decision/path_class.hpp"
#include "decision/site_origin.hpp"
#include "token/contract.hpp"

namespace vorn {

namespace {

Decision classified(PathClass pathClass, Verdict verdict, Reason reason,
                    bool challengeable = false) {
    return Decision{.pathClass = pathClass,
                    .verdict = verdict,
                    .reason = reason,
                    .challengeable = challengeable};
}

}  // namespace

Decision decide(const RequestFacts& facts, std::string_view siteDomain, ClassWindows& windows) {
    // The challenge issuer's pages must always reach it.
    if (facts.path.starts_with(gatewayPrefix)) {
        return Decision{
            .pathClass = std::nullopt, .verdict = Verdict::pass, .reason = Reason::gateway};
    }
    const auto [pathClass, bogusCommit] = examinePath(facts.path);
    if (bogusCommit) return classified(pathClass, Verdict::trap, Reason::bogus);

    const bool fingerprinted = botprint(facts, siteDomain);
    const bool expensive = pathClass == PathClass::expensive;
    if (expensive && fingerprinted) {
        return classified(pathClass, Verdict::trap, Reason::bare_referer);
    }
    if (pathClass == PathClass::actions && refererIsSiteOrigin(facts.referer, siteDomain)) {
        return classified(pathClass, Verdict::trap, Reason::bare_referer);
    }
    if (fingerprinted && windows.groupHotNow(pathClass, facts.arrival)) {
        return classified(pathClass, Verdict::trap, Reason::hot_botprint);
    }

    windows.countRequest(pathClass, facts.ipHash, facts.arrival);
    const bool hot = windows.evaluateHeat(pathClass, facts.arrival);

    if (hot && fingerprinted) return classified(pathClass, Verdict::trap, Reason::hot_botprint);
    if (hot && !facts.authed) return classified(pathClass, Verdict::watch, Reason::hot, true);
    if (expensive && !facts.authed) {
        return classified(pathClass, Verdict::watch, Reason::expensive, true);
    }
    if (expensive) return classified(pathClass, Verdict::watch, Reason::expensive_authed);
    if (hot) return classified(pathClass, Verdict::pass, Reason::authed);
    return classified(pathClass, Verdict::pass, Reason::cold);
}

}  // namespace vorn
