// Reads arbitrary bytes as a model document. Whatever loads must hold four
// arrays of one length with finite numbers, and must score any request to a
// probability in [0, 1] or not-a-number, or not at all past 64 features.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "scorer/model_parser.hpp"
#include "scorer/request_score.hpp"

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

bool allFinite(const std::vector<double>& numbers) {
    for (double number : numbers) {
        if (!std::isfinite(number)) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto model = vorn::parseModel(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!model) return 0;
    const std::size_t n = model->featureCount();
    require(model->mean.size() == n && model->scale.size() == n && model->coef.size() == n);
    require(allFinite(model->mean) && allFinite(model->scale) && allFinite(model->coef));
    require(std::isfinite(model->intercept));

    const vorn::ScoreInput input{.pathClass = vorn::PathClass::expensive,
                                 .classRate = 1500,
                                 .classDistinctIps = 40,
                                 .expensiveShare = 0.75,
                                 .arrival = vorn::Nanos{1'796'774'400} * vorn::nanosPerSecond};
    auto p = vorn::scoreRequest(*model, input);
    require(p.has_value() == (n <= vorn::maxScoredFeatures));
    if (p) require(std::isnan(*p) || (*p >= 0.0 && *p <= 1.0));
    return 0;
}
