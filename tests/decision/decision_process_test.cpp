// The agent's main job against the real daemon: verdicts and reply
// variables for NOTIFYs, and the verdict lines each --log-verdicts mode
// writes.

#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

#include "support/log_line.hpp"
#include "support/running_agent.hpp"
#include "support/vorn_check.hpp"

namespace vorn::test {
namespace {

using namespace std::chrono_literals;

const std::string siteOrigin = std::string("https://") + VORN_SITE_DOMAIN + "/";
const std::string commit40 = "/o/r/commit/0123456789abcdef0123456789abcdef01234567";
const std::string bogusCommit = "/o/r/commit/0123456789abcdef0123";

VornCheck request(std::string path, HeaderLines extraHeaders = {}) {
    VornCheck check;
    check.path = std::move(path);
    HeaderLines headers = {{"host", VORN_SITE_DOMAIN}};
    headers.insert(headers.end(), extraHeaders.begin(), extraHeaders.end());
    check.headers = headerBlock(headers);
    return check;
}

struct Expected {
    std::string name;
    VornCheck check;
    std::vector<std::pair<std::string, std::string>> setVars;
};

void PrintTo(const Expected& row, std::ostream* out) {
    *out << row.name;
}

class Verdicts : public testing::TestWithParam<Expected> {};

TEST_P(Verdicts, ReplyVariablesInOrder) {
    RunningAgent agent;
    auto client = agent.connect();
    ASSERT_TRUE(client);
    auto reply = client->decide(GetParam().check);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->setVars, GetParam().setVars);
}

VornCheck withBacklog(VornCheck check, std::int64_t backlog) {
    check.backlog = backlog;
    return check;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, Verdicts,
    testing::Values(
        Expected{"ColdPage", request("/o/r"), {{"vorn_verdict", "pass"}}},
        Expected{"Expensive", request(commit40), {{"vorn_verdict", "watch"}}},
        Expected{"ExpensiveSignedIn",
                 request(commit40, {{"cookie", std::string(VORN_SESSION_COOKIE) + "=s"}}),
                 {{"vorn_verdict", "watch"}}},
        Expected{"BogusCommit", request(bogusCommit), {{"vorn_verdict", "trap"}}},
        Expected{"BareReferer",
                 request(commit40, {{"referer", siteOrigin}}),
                 {{"vorn_verdict", "trap"}}},
        Expected{"BareRefererSameOrigin",
                 request(commit40, {{"referer", siteOrigin}, {"sec-fetch-site", "same-origin"}}),
                 {{"vorn_verdict", "watch"}}},
        Expected{
            "ActionsWithBareReferer",
            request("/o/r/actions", {{"referer", siteOrigin}, {"sec-fetch-site", "same-origin"}}),
            {{"vorn_verdict", "trap"}}},
        Expected{"GatewayCalm",
                 request("/.well-known/bramblegate/x", {{"referer", siteOrigin}}),
                 {{"vorn_verdict", "pass"}, {"vorn_difficulty", "0.0001220703125"}}},
        Expected{"GatewaySevere",
                 withBacklog(request("/.well-known/bramblegate/"), 16),
                 {{"vorn_verdict", "pass"}, {"vorn_difficulty", "0.00048828125"}}},
        // A receipt is not looked at while challenges are off.
        Expected{"PassCookieWithChallengesOff",
                 request(commit40, {{"cookie", "bramble_pass=a.b.c"}}),
                 {{"vorn_verdict", "watch"}}}),
    [](const auto& info) { return info.param.name; });

TEST(Decision, ATrackerClassOverItsThresholdIsWatchedAndItsBotprintsTrapped) {
    RunningAgent agent;
    auto client = agent.connect();
    ASSERT_TRUE(client);
    for (int i = 1; i <= 300; ++i) {
        auto reply = client->decide(request("/o/r/issues/" + std::to_string(i)));
        ASSERT_TRUE(reply);
        ASSERT_EQ(reply->vars.at("vorn_verdict"), "pass") << i;
    }
    // The 301st makes the tracker group hot and is itself watched.
    auto hot = client->decide(request("/o/r/issues"));
    ASSERT_TRUE(hot);
    EXPECT_EQ(hot->vars.at("vorn_verdict"), "watch");
    auto fingerprinted = client->decide(request("/o/r/pulls", {{"referer", siteOrigin}}));
    ASSERT_TRUE(fingerprinted);
    EXPECT_EQ(fingerprinted->vars.at("vorn_verdict"), "trap");
    auto signedIn = client->decide(request("/o/r/labels", {{"authorization", "token x"}}));
    ASSERT_TRUE(signedIn);
    EXPECT_EQ(signedIn->vars.at("vorn_verdict"), "pass");

    std::string page = agent.metrics();
    EXPECT_NE(
        page.find(
            "vorn_spoa_decisions_total{verdict=\"pass\",class=\"tracker\",reason=\"cold\"} 300\n"),
        std::string::npos);
    EXPECT_NE(
        page.find(
            "vorn_spoa_decisions_total{verdict=\"watch\",class=\"tracker\",reason=\"hot\"} 1\n"),
        std::string::npos);
    EXPECT_NE(page.find("vorn_spoa_decisions_total{verdict=\"trap\",class=\"tracker\",reason=\"hot_"
                        "botprint\"} 1\n"),
              std::string::npos);
    EXPECT_NE(
        page.find(
            "vorn_spoa_decisions_total{verdict=\"pass\",class=\"tracker\",reason=\"authed\"} 1\n"),
        std::string::npos);
    EXPECT_NE(page.find("vorn_spoa_class_rate10m{class=\"tracker\"} 302\n"), std::string::npos);
    EXPECT_NE(page.find("vorn_spoa_level 1\n"), std::string::npos) << "a hot group lifts the meter";
}

// A forge of its own: --site-domain and --session-cookie replace the
// built-in names, which are then ordinary.
TEST(Decision, TheSiteDomainAndSessionCookieComeFromTheCommandLine) {
    RunningAgent agent({"--site-domain=git.example.org", "--session-cookie=i_like_gitea"});
    auto client = agent.connect();
    ASSERT_TRUE(client);
    for (const auto& [header, value, verdict, reason] :
         std::initializer_list<std::array<std::string, 4>>{
             {"referer", "https://git.example.org/", "trap", "bare_referer"},
             {"referer", siteOrigin, "watch", "expensive"},
             {"cookie", "lang=en; i_like_gitea=0123abcd", "watch", "expensive_authed"},
             {"cookie", VORN_SESSION_COOKIE "=s", "watch", "expensive"}}) {
        const std::string series = "vorn_spoa_decisions_total{verdict=\"" + verdict +
                                   "\",class=\"expensive\",reason=\"" + reason + "\"}";
        const double before = agent.metric(series).value_or(0);
        auto reply = client->decide(request(commit40, {{header, value}}));
        ASSERT_TRUE(reply) << value;
        EXPECT_EQ(reply->vars.at("vorn_verdict"), verdict) << value;
        EXPECT_EQ(agent.metric(series).value_or(0), before + 1) << value;
    }
}

// At a small --address-memory a class's table fills, and from then on new
// addresses are counted in the rate but not recorded, while the addresses
// it holds are still refreshed (ageing that makes room again is in
// class_windows_test.cpp). 1 MiB over eleven classes: 7,943 places each,
// three quarters of them addresses.
constexpr std::uint32_t capacity = 5958;

// One NOTIFY from each of 2001:db8::[first, first + count).
bool decideFrom(SpopClient& client, std::uint32_t first, std::uint32_t count) {
    std::vector<VornCheck> checks(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        Ipv6Bytes address{0x20, 0x01, 0x0d, 0xb8};
        for (std::size_t byte = 0; byte < 4; ++byte) {
            address[15 - byte] = static_cast<std::uint8_t>((first + i) >> (8 * byte));
        }
        checks[i].ip = address;
    }
    return client.decideAll(checks);
}

TEST(AddressMemory, AFullTableCountsRequestsButNotNewAddresses) {
    RunningAgent agent({"--address-memory=1"});
    ASSERT_TRUE(agent.ready());
    auto client = agent.connect();
    ASSERT_TRUE(client && client->hello());
    auto value = [&agent](const char* family, const char* pathClass) {
        return agent.metric(std::string("vorn_spoa_") + family + "{class=\"" + pathClass + "\"}");
    };
    struct Step {
        const char* what;
        std::uint32_t first, count;
        double rate, dropped;
    };
    for (const Step& step : {Step{"fills, then drops", 0, capacity + 100, capacity + 100, 100},
                             Step{"refreshes those it holds", 0, 10, capacity + 110, 100},
                             Step{"drops a new one", capacity + 100, 1, capacity + 111, 101}}) {
        ASSERT_TRUE(decideFrom(*client, step.first, step.count)) << step.what;
        EXPECT_EQ(value("class_rate10m", "page"), step.rate) << step.what;
        EXPECT_EQ(value("class_dip10m", "page"), capacity) << step.what;
        EXPECT_EQ(value("address_table_entries", "page"), capacity) << step.what;
        EXPECT_EQ(value("addresses_dropped_total", "page"), step.dropped) << step.what;
    }
    // Other classes have tables of their own.
    EXPECT_EQ(value("address_table_capacity", "page"), capacity);
    EXPECT_EQ(value("address_table_entries", "expensive"), 0);
    EXPECT_EQ(value("addresses_dropped_total", "expensive"), 0);
}

// Sends a trap, a watch, a pass and a gateway request, and returns the
// verdict lines the daemon wrote for them.
std::vector<std::string> verdictLines(const std::string& mode) {
    RunningAgent agent({"--log-verdicts=" + mode});
    auto client = agent.connect();
    EXPECT_TRUE(client);
    if (!client) return {};
    VornCheck trap = request(bogusCommit);
    trap.ip = Ipv6Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    for (const VornCheck& check : {trap, request(commit40, {{"referer", "https://elsewhere/x y"}}),
                                   request("/o/r"), request("/.well-known/bramblegate/")}) {
        EXPECT_TRUE(client->decide(check));
    }
    // One more round trip, so that the lines have been queued; then wait for
    // the writer thread.
    std::vector<std::string> lines;
    for (int i = 0; i < 50; ++i) {
        lines.clear();
        for (const std::string& line : agent.process().lines()) {
            if (fieldOf(line, "event") == "verdict") lines.push_back(line);
        }
        std::this_thread::sleep_for(10ms);
    }
    return lines;
}

TEST(VerdictLog, TrapModeLogsTrapsOnly) {
    std::vector<std::string> lines = verdictLines("trap");
    ASSERT_EQ(lines.size(), 1u);
    std::string line = lines[0];
    EXPECT_EQ(line.substr(line.find(" level=")),
              " level=info event=verdict ip=0:0:0:0:0:0:0:1 verdict=trap reason=bogus "
              "class=expensive path=" +
                  bogusCommit + " referer=\"\"");
}

TEST(VerdictLog, WatchModeAddsWatches) {
    std::vector<std::string> lines = verdictLines("watch");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(fieldOf(lines[1], "verdict"), "watch");
    EXPECT_EQ(fieldOf(lines[1], "referer"), "https://elsewhere/x y");
    EXPECT_NE(lines[1].find(" referer=\"https://elsewhere/x y\""), std::string::npos);
}

TEST(VerdictLog, AllModeLogsEveryDecisionWithTheGatewayDifficulty) {
    std::vector<std::string> lines = verdictLines("all");
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(fieldOf(lines[2], "reason"), "cold");
    EXPECT_EQ(fieldOf(lines[2], "class"), "page");
    EXPECT_TRUE(
        lines[3].ends_with(" class=gateway path=/.well-known/bramblegate/ referer=\"\" level=calm "
                           "difficulty=0.0001220703125"))
        << lines[3];
}

TEST(VerdictLog, NoneModeLogsNothing) {
    EXPECT_TRUE(verdictLines("none").empty());
}

}  // namespace
}  // namespace vorn::test
