#include "scorer/model_loader.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "observe/pipe_capture.hpp"
#include "support/log_line.hpp"
#include "support/temp_dir.hpp"

namespace vorn {
namespace {

const std::string twoFeatures =
    R"({"feature_names":["page","hour"],"mean":[0.0,12.0],"scale":[1.0,6.0],)"
    R"("coef":[-1.0,0.5],"intercept":0.25})";

// `json` padded with trailing spaces to `size` bytes.
std::string padded(std::string json, std::size_t size) {
    json.resize(size, ' ');
    return json;
}

std::string manyFeatures(std::size_t n) {
    std::string names, numbers;
    for (std::size_t i = 0; i < n; ++i) {
        names += (i == 0 ? "\"hour\"" : ",\"hour\"");
        numbers += (i == 0 ? "0.0" : ",0.0");
    }
    return R"({"feature_names":[)" + names + R"(],"mean":[)" + numbers + R"(],"scale":[)" +
           numbers + R"(],"coef":[)" + numbers + R"(],"intercept":0.0})";
}

struct LoadCase {
    std::string name;
    std::optional<std::string> file;      // nothing: no file at the path
    std::optional<std::size_t> features;  // nothing: no model afterwards
};

void PrintTo(const LoadCase& c, std::ostream* out) {
    *out << c.name;
}

class LoadModel : public testing::TestWithParam<LoadCase> {};

// Every case starts with a model installed, as on a SIGHUP after a good
// load: success replaces it, any failure removes it.
TEST_P(LoadModel, ReplacesOrDropsTheModelAndLogsOneLine) {
    const LoadCase& c = GetParam();
    test::TempDir dir;
    const std::string path = dir.file("model.json");
    if (c.file) std::ofstream(path) << *c.file;
    std::optional<ScorerModel> current = ScorerModel{};
    current->features.resize(7);

    test::StandardErrorCapture standardError;
    loadModel("SIGHUP", path, current);
    const std::string lines = standardError.taken();

    ASSERT_EQ(current.has_value(), c.features.has_value());
    if (current) {
        EXPECT_EQ(current->featureCount(), *c.features);
    }
    const std::string expected = c.features ? "SIGHUP: shadow scorer from " + path + " (" +
                                                  std::to_string(*c.features) + " features)"
                                            : "SIGHUP: no shadow scorer at " + path + " (optional)";
    ASSERT_TRUE(lines.ends_with("\n")) << lines;
    EXPECT_EQ(lines.find('\n'), lines.size() - 1) << "one line: " << lines;
    EXPECT_EQ(test::fieldOf(lines.substr(0, lines.size() - 1), "level"), "info");
    EXPECT_EQ(test::messageOf(lines.substr(0, lines.size() - 1)), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Files, LoadModel,
    testing::Values(LoadCase{"Good", twoFeatures, 2},
                    LoadCase{"NoFeatures",
                             R"({"feature_names":[],"mean":[],"scale":[],"coef":[],)"
                             R"("intercept":0.0})",
                             0},
                    LoadCase{"SixtyFiveFeatures", manyFeatures(65), 65},
                    LoadCase{"ExactlyFourMebibytes", padded(twoFeatures, modelFileLimit), 2},
                    LoadCase{"OneByteOverFourMebibytes", padded(twoFeatures, modelFileLimit + 1),
                             std::nullopt},
                    LoadCase{"Missing", std::nullopt, std::nullopt},
                    LoadCase{"Empty", "", std::nullopt},
                    LoadCase{"Broken", twoFeatures.substr(0, 20), std::nullopt},
                    LoadCase{"UnequalLengths",
                             R"({"feature_names":["page"],"mean":[0.0],"scale":[],"coef":[1.0],)"
                             R"("intercept":0.0})",
                             std::nullopt}),
    [](const auto& info) { return info.param.name; });

TEST(LoadModelFromADirectory, IsNoModel) {
    test::TempDir dir;
    std::optional<ScorerModel> current = ScorerModel{};
    test::StandardErrorCapture standardError;
    loadModel("start", dir.path(), current);
    EXPECT_FALSE(current);
    EXPECT_NE(standardError.taken().find("start: no shadow scorer at " + dir.path()),
              std::string::npos);
}

}  // namespace
}  // namespace vorn
