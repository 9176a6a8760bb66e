#include "scorer/model_parser.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace vorn {
namespace {

// A model of `n` features named f0, f1, ... with neutral values.
std::string neutralModel(std::size_t n) {
    std::string names, numbers;
    // Appended piece by piece: "," + std::string(...) trips g++ 12's
    // -Wrestrict false positive in optimised builds.
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0) {
            names += ',';
            numbers += ',';
        }
        names.append("\"f").append(std::to_string(i)).append("\"");
        numbers.append("0.0");
    }
    return R"({"feature_names":[)" + names + R"(],"mean":[)" + numbers + R"(],"scale":[)" +
           numbers + R"(],"coef":[)" + numbers + R"(],"intercept":0.0})";
}

// The members after "feature_names" of a one-feature model, for cases that
// change one of them.
std::string oneFeature(const std::string& names, const std::string& rest) {
    return R"({"feature_names":)" + names + "," + rest + "}";
}

const std::string goodRest = R"("mean":[0.5],"scale":[2.0],"coef":[1e-3],"intercept":-0.5)";

struct ParseCase {
    std::string name;
    std::string json;
    std::optional<Error> refusal;  // nothing: loads
    std::size_t features = 0;
};

void PrintTo(const ParseCase& c, std::ostream* out) {
    *out << c.name;
}

class ParseModel : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseModel, LoadsOrNamesTheRefusal) {
    const ParseCase& c = GetParam();
    auto model = parseModel(c.json);
    if (c.refusal) {
        ASSERT_FALSE(model) << "loaded " << model->featureCount() << " features";
        EXPECT_EQ(errorName(model.error()), errorName(*c.refusal));
        return;
    }
    ASSERT_TRUE(model) << errorName(model.error());
    EXPECT_EQ(model->featureCount(), c.features);
    EXPECT_EQ(model->mean.size(), c.features);
    EXPECT_EQ(model->scale.size(), c.features);
    EXPECT_EQ(model->coef.size(), c.features);
}

INSTANTIATE_TEST_SUITE_P(
    Documents, ParseModel,
    testing::Values(
        ParseCase{"OneFeature", oneFeature(R"(["page"])", goodRest), {}, 1},
        ParseCase{"FloatSpellings",
                  R"({"feature_names":["a","b","c","d"],"mean":[0.0,-0.0,1E2,2.5e+1],)"
                  R"("scale":[1.0,1e0,0.5,1.5],"coef":[-1.0,1E-3,0.25,3.0e-0],"intercept":1.0})",
                  {},
                  4},
        ParseCase{"NoFeatures", neutralModel(0), {}, 0},
        ParseCase{"SixtyFiveFeaturesLoad", neutralModel(65), {}, 65},
        ParseCase{"OtherMembersAreIgnored",
                  oneFeature(R"(["hour"])", goodRest + R"(,"version":3,"meta":{"n":[1,2]})"),
                  {},
                  1},
        ParseCase{"NotJson", "{\"feature_names\":", Error::BadJson},
        ParseCase{"Empty", "", Error::BadJson},
        ParseCase{"TrailingGarbage", neutralModel(0) + " x", Error::BadJson},
        // The parser refuses a value that overflows a double as a number error.
        ParseCase{"Overflow",
                  oneFeature(R"(["a"])", R"("mean":[1e400],"scale":[1.0],)"
                                         R"("coef":[1.0],"intercept":0.0)"),
                  Error::BadJson},
        // An integer too long for 64 bits is not a number to the parser either.
        ParseCase{"HugeInteger",
                  oneFeature(R"(["a"])", R"("mean":[0.0],"scale":[1.0],"coef":[1.0],)"
                                         R"("intercept":18446744073709551616)"),
                  Error::BadJson},
        ParseCase{"ArrayRoot", "[]", Error::BadType},
        ParseCase{"RepeatedRootKey", oneFeature(R"(["a"])", goodRest + R"(,"intercept":0.0)"),
                  Error::DuplicateKey},
        ParseCase{"RepeatedKeySpelledWithAnEscape",
                  oneFeature(R"(["a"])", goodRest + R"(,"\u0069ntercept":0.0)"),
                  Error::DuplicateKey},
        ParseCase{"RepeatedKeyInAnIgnoredMember",
                  oneFeature(R"(["a"])", goodRest + R"(,"meta":{"k":1,"k":1})"),
                  Error::DuplicateKey},
        ParseCase{"RepeatedKeyInsideAnArray",
                  oneFeature(R"(["a"])", goodRest + R"(,"meta":[[{"k":1,"j":{"x":1,"x":2}}]])"),
                  Error::DuplicateKey},
        ParseCase{"SameKeyInSeparateObjects",
                  oneFeature(R"(["a"])", goodRest + R"(,"m":{"k":1},"n":{"k":1})"),
                  {},
                  1},
        ParseCase{"MissingIntercept",
                  oneFeature(R"(["a"])", R"("mean":[0.0],"scale":[1.0],"coef":[1.0])"),
                  Error::MissingMember},
        ParseCase{"MissingNames", R"({"mean":[],"scale":[],"coef":[],"intercept":0.0})",
                  Error::MissingMember},
        ParseCase{"NamesNotAnArray", oneFeature(R"("page")", goodRest), Error::BadType},
        ParseCase{"NameNotAString", oneFeature(R"([1.0])", goodRest), Error::BadType},
        ParseCase{
            "MeanNotAnArray",
            oneFeature(R"(["a"])", R"("mean":0.0,"scale":[1.0],"coef":[1.0],"intercept":0.0)"),
            Error::BadType},
        ParseCase{"CoefAsText",
                  oneFeature(R"(["a"])", R"("mean":[0.0],"scale":[1.0],"coef":["1.0"],)"
                                         R"("intercept":0.0)"),
                  Error::BadType},
        ParseCase{"InterceptNull",
                  oneFeature(R"(["a"])", R"("mean":[0.0],"scale":[1.0],"coef":[1.0],)"
                                         R"("intercept":null)"),
                  Error::BadType},
        ParseCase{
            "IntegerCoef",
            oneFeature(R"(["a"])", R"("mean":[0.0],"scale":[1.0],"coef":[1],"intercept":0.0)"),
            Error::BadNumber},
        ParseCase{
            "IntegerIntercept",
            oneFeature(R"(["a"])", R"("mean":[0.0],"scale":[1.0],"coef":[1.0],"intercept":0)"),
            Error::BadNumber},
        ParseCase{
            "NegativeZeroInteger",
            oneFeature(R"(["a"])", R"("mean":[-0],"scale":[1.0],"coef":[1.0],"intercept":0.0)"),
            Error::BadNumber},
        ParseCase{"ScaleShorterThanCoef",
                  R"({"feature_names":["a","b"],"mean":[0.0,0.0],"scale":[1.0],)"
                  R"("coef":[1.0,1.0],"intercept":0.0})",
                  Error::LengthMismatch},
        ParseCase{"MoreNamesThanNumbers", oneFeature(R"(["a","b"])", goodRest),
                  Error::LengthMismatch}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace vorn
