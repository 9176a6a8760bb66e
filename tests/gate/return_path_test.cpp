#include "gate/return_path.hpp"

#include <gtest/gtest.h>

#include <string>

#include "support/test_name.hpp"

namespace vorn {
namespace {

struct ReturnRow {
    std::string name;
    std::optional<std::string> given;
    std::optional<std::string> kept;  // nothing: refused
};

void PrintTo(const ReturnRow& row, std::ostream* out) {
    *out << row.name;
}

class ReturnPaths : public testing::TestWithParam<ReturnRow> {};

TEST_P(ReturnPaths, OnlySameSitePathsAreKept) {
    const ReturnRow& row = GetParam();
    auto given = row.given ? std::optional<std::string_view>(*row.given) : std::nullopt;
    auto kept = safeReturnPath(given);
    EXPECT_EQ(kept ? std::optional<std::string>(*kept) : std::nullopt, row.kept);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ReturnPaths,
    testing::Values(
        ReturnRow{"absent means the root", std::nullopt, "/"}, ReturnRow{"root", "/", "/"},
        ReturnRow{"path and query", "/o/r/commit/1?x=1&y=%20", "/o/r/commit/1?x=1&y=%20"},
        ReturnRow{"longest path", "/" + std::string(2047, 'a'), "/" + std::string(2047, 'a')},
        ReturnRow{"too long", "/" + std::string(2048, 'a'), std::nullopt},
        ReturnRow{"empty", "", std::nullopt}, ReturnRow{"relative", "o/r", std::nullopt},
        ReturnRow{"scheme relative", "//evil.example/", std::nullopt},
        ReturnRow{"backslash host", "/\\evil.example/", std::nullopt},
        ReturnRow{"backslash later", "/a\\b", std::nullopt},
        ReturnRow{"space", "/a b", std::nullopt},
        ReturnRow{"header injection", "/a\r\nSet-Cookie: x=1", std::nullopt},
        ReturnRow{"non ascii", "/caf\xc3\xa9", std::nullopt},
        ReturnRow{"delete byte", "/a\x7f", std::nullopt},
        ReturnRow{"back into the gate", "/.well-known/bramblegate/?return=/", std::nullopt}),
    [](const testing::TestParamInfo<ReturnRow>& info) { return test::testName(info.param.name); });

}  // namespace
}  // namespace vorn
