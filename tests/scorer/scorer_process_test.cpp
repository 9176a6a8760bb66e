// The shadow scorer in the real daemon: the model on its fixed path, the
// score in the counters and the verdict lines, and a reload that turns it
// off. The daemon runs in a private mount namespace where a temporary folder
// is bound over /usr/local/etc, so the machine's own folder is never read or
// written.

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/command.hpp"
#include "support/log_line.hpp"
#include "support/running_agent.hpp"
#include "support/temp_dir.hpp"
#include "support/vorn_check.hpp"

namespace vorn::test {
namespace {

const std::string modelPath = "/usr/local/etc/vorn-spoa-model.json";

// Bot-leaning everywhere but on pages: a page request scores
// 1 / (1 + e^2) = 0.1192..., any other 1 / (1 + e^-1) = 0.7310...
const std::string pageModel =
    R"({"feature_names":["page"],"mean":[0.0],"scale":[1.0],"coef":[-3.0],"intercept":1.0})";

std::string manyFeatures(std::size_t n) {
    std::string names, numbers;
    for (std::size_t i = 0; i < n; ++i) {
        names += (i == 0 ? "\"page\"" : ",\"page\"");
        numbers += (i == 0 ? "0.0" : ",0.0");
    }
    return R"({"feature_names":[)" + names + R"(],"mean":[)" + numbers + R"(],"scale":[)" +
           numbers + R"(],"coef":[)" + numbers + R"(],"intercept":0.0})";
}

// Runs what follows it with `folder` bound over /usr/local/etc in a new
// mount namespace of its own.
std::vector<std::string> underOwnEtc(const std::string& folder) {
    return {"unshare", "-m", "sh", "-c", "mount --bind \"$0\" /usr/local/etc && exec \"$@\"",
            folder};
}

bool ownEtcPermitted(const std::string& folder) {
    std::vector<std::string> probe = underOwnEtc(folder);
    probe.push_back("true");
    auto result = runCommand(probe);
    return result && result->status == 0;
}

VornCheck request(std::string path) {
    VornCheck check;
    check.path = std::move(path);
    return check;
}

// The verdict lines, once there are `count` of them (or the wait gave up).
std::vector<std::string> verdictLines(RunningAgent& agent, std::size_t count) {
    auto isVerdict = [](std::string_view line) { return fieldOf(line, "event") == "verdict"; };
    std::size_t seen = 0;
    EXPECT_TRUE(agent.process().waitForLine([&](std::string_view line) {
        seen += isVerdict(line) ? 1 : 0;
        return seen >= count;
    })) << agent.process().linesText();
    std::vector<std::string> found;
    for (const std::string& line : agent.process().lines()) {
        if (isVerdict(line)) found.push_back(line);
    }
    return found;
}

class ScorerProcess : public testing::Test {
protected:
    void SetUp() override {
        if (!ownEtcPermitted(etc_.path())) {
            GTEST_SKIP() << "no private mount namespace here (unshare -m with a bind mount is "
                            "not permitted), so the fixed model path cannot be set up";
        }
    }

    void writeModel(const std::string& text) {
        std::ofstream(etc_.file("vorn-spoa-model.json")) << text;
    }

    std::unique_ptr<RunningAgent> start() {
        LaunchOptions options;
        options.prefix = underOwnEtc(etc_.path());
        return std::make_unique<RunningAgent>(std::vector<std::string>{"--log-verdicts=all"},
                                              std::move(options));
    }

    TempDir etc_;
};

TEST_F(ScorerProcess, ScoresEveryDecisionUntilABrokenReloadTurnsItOff) {
    writeModel(pageModel);
    auto agent = start();
    ASSERT_TRUE(agent->ready());
    EXPECT_TRUE(
        agent->process().waitForLine("start: shadow scorer from " + modelPath + " (1 features)"));
    EXPECT_EQ(agent->metric("vorn_spoa_scorer_enabled"), 1);

    auto client = agent->connect();
    ASSERT_TRUE(client);
    for (const char* path : {"/o/r", "/o/r/commit/0123456", "/.well-known/bramblegate/"}) {
        ASSERT_TRUE(client->decide(request(path))) << path;
    }
    std::vector<std::string> lines = verdictLines(*agent, 3);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(lines[0].ends_with(" score=0.119")) << lines[0];
    EXPECT_TRUE(lines[1].ends_with(" score=0.731")) << lines[1];
    EXPECT_TRUE(lines[2].ends_with(" score=0.119")) << "a gateway path scores as a page";

    const std::string page = agent->metrics();
    for (const char* sample :
         {"vorn_spoa_score_band_total{band=\"le0.2\"} 2\n",
          "vorn_spoa_score_band_total{band=\"le0.5\"} 0\n",
          "vorn_spoa_score_band_total{band=\"le0.8\"} 1\n",
          "vorn_spoa_score_band_total{band=\"gt0.8\"} 0\n", "vorn_spoa_score_sum 0.969462\n",
          "vorn_spoa_score_count 3\n", "vorn_spoa_scorer_enabled 1\n"}) {
        EXPECT_NE(page.find(sample), std::string::npos) << sample << page;
    }

    writeModel(pageModel.substr(0, 30));
    ASSERT_TRUE(agent->process().sendSignal(SIGHUP));
    EXPECT_TRUE(
        agent->process().waitForLine("SIGHUP: no shadow scorer at " + modelPath + " (optional)"));
    EXPECT_EQ(agent->metric("vorn_spoa_scorer_enabled"), 0);
    EXPECT_EQ(agent->metric("vorn_spoa_reloads_total"), 2);

    ASSERT_TRUE(client->decide(request("/o/r")));
    lines = verdictLines(*agent, 4);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[3].find(" score="), std::string::npos) << lines[3];
    EXPECT_EQ(agent->metric("vorn_spoa_score_count"), 3) << "counters survive the reload";
}

struct StartCase {
    std::string name;
    std::optional<std::string> model;  // nothing: no file
    std::string startLine;
    bool enabled;
};

void PrintTo(const StartCase& c, std::ostream* out) {
    *out << c.name;
}

class ScorerStart : public ScorerProcess, public testing::WithParamInterface<StartCase> {};

TEST_P(ScorerStart, LogsTheModelAndScoresOnlyWhatItCan) {
    const StartCase& c = GetParam();
    if (c.model) writeModel(*c.model);
    auto agent = start();
    ASSERT_TRUE(agent->ready());
    EXPECT_TRUE(agent->process().waitForLine(c.startLine)) << agent->process().linesText();
    auto client = agent->connect();
    ASSERT_TRUE(client);
    ASSERT_TRUE(client->decide(request("/o/r")));
    std::vector<std::string> lines = verdictLines(*agent, 1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].find(" score="), std::string::npos) << lines[0];
    EXPECT_EQ(agent->metric("vorn_spoa_score_count"), 0);
    EXPECT_EQ(agent->metric("vorn_spoa_scorer_enabled"), c.enabled ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ScorerStart,
    testing::Values(StartCase{"NoFile", std::nullopt,
                              "start: no shadow scorer at " + modelPath + " (optional)", false},
                    StartCase{"SixtyFiveFeatures", manyFeatures(65),
                              "start: shadow scorer from " + modelPath + " (65 features)", true},
                    StartCase{"RepeatedKey",
                              pageModel.substr(0, pageModel.size() - 1) + R"(,"coef":[1.0]})",
                              "start: no shadow scorer at " + modelPath + " (optional)", false}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace vorn::test
