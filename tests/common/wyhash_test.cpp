#include "common/wyhash.hpp"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "support/test_name.hpp"

namespace vorn {
namespace {

struct Vector {
    std::uint64_t seed;
    std::string input;
    std::uint64_t hash;
};

void PrintTo(const Vector& row, std::ostream* out) {
    *out << "seed " << row.seed << ", " << row.input.size() << " bytes";
}

std::string vectorName(const testing::TestParamInfo<Vector>& info) {
    return test::testName({"seed", std::to_string(info.param.seed), "length",
                           std::to_string(info.param.input.size())});
}

class WyhashVectors : public testing::TestWithParam<Vector> {};

TEST_P(WyhashVectors, MatchReference) {
    const Vector& v = GetParam();
    EXPECT_EQ(wyhash(v.input, v.seed), v.hash) << v.input;
}

std::string eightTimes(const std::string& s) {
    std::string out;
    for (int i = 0; i < 8; ++i) out += s;
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Reference, WyhashVectors,
    testing::Values(Vector{0, "", 0x0409638ee2bde459ull}, Vector{1, "a", 0xa8412d091b5fe0a9ull},
                    Vector{2, "abc", 0x32dd92e4b2915153ull},
                    Vector{3, "message digest", 0x8619124089a3a16bull},
                    Vector{4, "abcdefghijklmnopqrstuvwxyz", 0x7a43afb61d7f5f40ull},
                    Vector{5, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
                           0xff42329b90e50d58ull},
                    Vector{6, eightTimes("1234567890"), 0xc39cab13b115aad3ull}),
    vectorName);

}  // namespace
}  // namespace vorn
