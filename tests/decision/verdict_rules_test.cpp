#include "decision/verdict_rules.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "decision/site.hpp"

namespace vorn {
namespace {

const std::string domain(defaultSite.domain);
const std::string bareReferer = "https://" + domain + "/";
const std::string commit40 = "/o/r/commit/0123456789abcdef0123456789abcdef01234567";
const std::string commit20 = "/o/r/commit/0123456789abcdef0123";
constexpr Nanos now = Nanos{1'700'000'000} * nanosPerSecond;

// Requests of one class counted (with heat evaluated) before the row's own.
struct Load {
    PathClass pathClass;
    int requests;
};

struct RuleRow {
    std::string name;
    std::string path;
    std::string referer;
    std::optional<std::string> secFetchSite;
    bool authed;
    std::optional<Load> load;
    Decision expected;
    bool counted;
};

void PrintTo(const RuleRow& row, std::ostream* out) {
    *out << row.name;
}

Decision classed(PathClass pathClass, Verdict verdict, Reason reason, bool challengeable = false) {
    return {pathClass, verdict, reason, challengeable};
}

std::uint64_t totalRate(const ClassWindows& windows) {
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < pathClassCount; ++i) total += windows.classRate(PathClass(i));
    return total;
}

class Rules : public testing::TestWithParam<RuleRow> {};

TEST_P(Rules, DecideInOrder) {
    const RuleRow& row = GetParam();
    ClassWindows windows = *ClassWindows::create(1 << 20);
    if (row.load) {
        for (int i = 0; i < row.load->requests; ++i) {
            windows.countRequest(row.load->pathClass, 0, now);
            (void)windows.evaluateHeat(row.load->pathClass, now);
        }
    }
    RequestFacts facts;
    facts.arrival = now;
    facts.ipHash = 77;
    facts.path = row.path;
    facts.referer = row.referer;
    if (row.secFetchSite) facts.secFetchSite = *row.secFetchSite;
    facts.authed = row.authed;
    const std::uint64_t before = totalRate(windows);

    Decision decision = decide(facts, domain, windows);

    EXPECT_EQ(decision.verdict, row.expected.verdict);
    EXPECT_EQ(decision.reason, row.expected.reason);
    EXPECT_EQ(decision.pathClass, row.expected.pathClass);
    EXPECT_EQ(decision.challengeable, row.expected.challengeable);
    EXPECT_EQ(totalRate(windows), before + (row.counted ? 1 : 0));
}

constexpr PathClass expensive = PathClass::expensive;
constexpr PathClass tracker = PathClass::tracker;
constexpr Verdict pass = Verdict::pass;
constexpr Verdict trap = Verdict::trap;
constexpr Verdict watch = Verdict::watch;
const Load hotTracker{tracker, 301};
const Load hotExpensive{expensive, 1501};

INSTANTIATE_TEST_SUITE_P(
    Table, Rules,
    testing::Values(
        RuleRow{"Gateway",
                "/.well-known/bramblegate/anything",
                bareReferer,
                {},
                false,
                {},
                Decision{.pathClass = std::nullopt, .verdict = pass, .reason = Reason::gateway},
                false},
        RuleRow{
            "Bogus", commit20, "", {}, false, {}, classed(expensive, trap, Reason::bogus), false},
        RuleRow{"BogusUnderApi",
                "/api/v1/repos/o/r/git/commits/0123456789abcdef0123",
                "",
                {},
                true,
                {},
                classed(PathClass::api, trap, Reason::bogus),
                false},
        RuleRow{"ExpensiveNotSignedIn",
                commit40,
                "",
                {},
                false,
                {},
                classed(expensive, watch, Reason::expensive, true),
                true},
        RuleRow{"ExpensiveBareReferer",
                commit40,
                bareReferer,
                {},
                false,
                {},
                classed(expensive, trap, Reason::bare_referer),
                false},
        RuleRow{"ExpensiveBareRefererCrossSite",
                commit40,
                bareReferer,
                "cross-site",
                true,
                {},
                classed(expensive, trap, Reason::bare_referer),
                false},
        RuleRow{"ExpensiveBareRefererSameOrigin",
                commit40,
                bareReferer,
                "same-origin",
                false,
                {},
                classed(expensive, watch, Reason::expensive, true),
                true},
        RuleRow{"ExpensiveBareRefererSameOriginSignedIn",
                commit40,
                bareReferer,
                "same-origin",
                true,
                {},
                classed(expensive, watch, Reason::expensive_authed),
                true},
        RuleRow{"ExpensiveSitePageReferer",
                commit40,
                "https://" + domain + "/o/r",
                {},
                false,
                {},
                classed(expensive, watch, Reason::expensive, true),
                true},
        RuleRow{"ActionsBareRefererSameOrigin",
                "/o/r/actions",
                "http://" + domain,
                "same-origin",
                false,
                {},
                classed(PathClass::actions, trap, Reason::bare_referer),
                false},
        RuleRow{"ActionsPlain",
                "/o/r/actions",
                "",
                {},
                false,
                {},
                classed(PathClass::actions, pass, Reason::cold),
                true},
        RuleRow{"PageBotprintCold",
                "/o/r",
                bareReferer,
                {},
                false,
                {},
                classed(PathClass::page, pass, Reason::cold),
                true},
        RuleRow{"HotTrackerBotprint",
                "/o/r/issues",
                bareReferer,
                {},
                false,
                hotTracker,
                classed(tracker, trap, Reason::hot_botprint),
                false},
        RuleRow{"HotTrackerBotprintSignedIn",
                "/o/r/issues",
                bareReferer,
                {},
                true,
                hotTracker,
                classed(tracker, trap, Reason::hot_botprint),
                false},
        RuleRow{"HotTrackerNotSignedIn",
                "/o/r/issues",
                "",
                {},
                false,
                hotTracker,
                classed(tracker, watch, Reason::hot, true),
                true},
        RuleRow{"HotTrackerSignedIn",
                "/o/r/issues",
                "",
                {},
                true,
                hotTracker,
                classed(tracker, pass, Reason::authed),
                true},
        RuleRow{"TrackerRequest301Heats",
                "/o/r/issues",
                "",
                {},
                false,
                Load{tracker, 300},
                classed(tracker, watch, Reason::hot, true),
                true},
        RuleRow{"TrackerRequest301HeatsBotprint",
                "/o/r/issues",
                bareReferer,
                {},
                false,
                Load{tracker, 300},
                classed(tracker, trap, Reason::hot_botprint),
                true},
        RuleRow{"TrackerRequest300StaysCold",
                "/o/r/issues",
                bareReferer,
                {},
                false,
                Load{tracker, 299},
                classed(tracker, pass, Reason::cold),
                true},
        RuleRow{"HotExpensiveSignedIn",
                commit40,
                "",
                {},
                true,
                hotExpensive,
                classed(expensive, watch, Reason::expensive_authed),
                true},
        RuleRow{"HotExpensiveNotSignedIn",
                commit40,
                "",
                {},
                false,
                hotExpensive,
                classed(expensive, watch, Reason::hot, true),
                true},
        RuleRow{"HotTrackerLeavesPagesCold",
                "/o/r",
                "",
                {},
                false,
                hotTracker,
                classed(PathClass::page, pass, Reason::cold),
                true},
        RuleRow{"LoadedPageCold",
                "/o/r",
                "",
                {},
                false,
                Load{PathClass::page, 5000},
                classed(PathClass::page, pass, Reason::cold),
                true},
        RuleRow{"CommitlistCold",
                "/o/r/commits/branch/main",
                "",
                {},
                false,
                {},
                classed(PathClass::commitlist, pass, Reason::cold),
                true},
        RuleRow{"SrcbranchCold",
                "/o/r/src/branch/main",
                "",
                {},
                false,
                {},
                classed(PathClass::srcbranch, pass, Reason::cold),
                true},
        RuleRow{"FeedCold",
                "/o/r/rss/branch/main",
                "",
                {},
                false,
                {},
                classed(PathClass::feed, pass, Reason::cold),
                true},
        RuleRow{"ApiCold",
                "/api/repos/o/r",
                "",
                {},
                false,
                Load{PathClass::api, 5000},
                classed(PathClass::api, pass, Reason::cold),
                true},
        RuleRow{"GitprotoCold",
                "/o/r/info/refs",
                "",
                {},
                false,
                {},
                classed(PathClass::gitproto, pass, Reason::cold),
                true},
        RuleRow{"RunnerCold",
                "/api/actions/tasks",
                "",
                {},
                false,
                {},
                classed(PathClass::runner, pass, Reason::cold),
                true},
        RuleRow{"OtherCold",
                "/assets/app.js",
                "",
                {},
                false,
                {},
                classed(PathClass::other, pass, Reason::cold),
                true}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace vorn
