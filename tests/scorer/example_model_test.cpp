// The example model shipped in examples/ loads and ranks requests the way
// the README describes.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "observe/pipe_capture.hpp"
#include "scorer/model_loader.hpp"
#include "scorer/request_score.hpp"
#include "scorer/score_tally.hpp"

namespace vorn {
namespace {

struct ExampleCase {
    std::string name;
    ScoreInput input;
    ScoreBand band;
};

void PrintTo(const ExampleCase& c, std::ostream* out) {
    *out << c.name;
}

class ExampleModel : public testing::TestWithParam<ExampleCase> {};

TEST_P(ExampleModel, Band) {
    std::optional<ScorerModel> model;
    {
        test::StandardErrorCapture standardError;
        loadModel("start", std::string(VORN_SOURCE_DIR) + "/examples/vorn-spoa-model.json", model);
    }
    ASSERT_TRUE(model);
    EXPECT_EQ(model->featureCount(), 11u);
    auto p = scoreRequest(*model, GetParam().input);
    ASSERT_TRUE(p);
    EXPECT_EQ(scoreBandName(scoreBandOf(*p)), scoreBandName(GetParam().band)) << *p;
}

INSTANTIATE_TEST_SUITE_P(
    Requests, ExampleModel,
    testing::Values(
        ExampleCase{"QuietPage", {PathClass::page, 1, 1, 0.0, 0}, ScoreBand::le0_2},
        ExampleCase{"BusyPage", {PathClass::page, 20, 10, 0.02, 0}, ScoreBand::le0_2},
        ExampleCase{"CommitPage", {PathClass::expensive, 50, 10, 0.05, 0}, ScoreBand::le0_8},
        ExampleCase{"CommitListBurst", {PathClass::commitlist, 400, 30, 0.1, 0}, ScoreBand::gt0_8},
        ExampleCase{
            "CommitPageBurst", {PathClass::expensive, 1500, 200, 0.6, 0}, ScoreBand::gt0_8}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace vorn
