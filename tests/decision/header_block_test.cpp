#include "decision/header_block.hpp"

#include <gtest/gtest.h>

#include <string>

#include "decision/site.hpp"

namespace vorn {
namespace {

const std::string session(siteSessionCookie);

struct HeaderRow {
    std::string block;
    std::string host;
    std::optional<std::string> secFetchSite;
    std::string referer;
    bool authed;
    std::string passToken;
};

class HeaderBlock : public testing::TestWithParam<HeaderRow> {};

TEST_P(HeaderBlock, FillsTheFacts) {
    const HeaderRow& row = GetParam();
    RequestFacts facts;
    readHeaderBlock(row.block, facts);
    EXPECT_EQ(facts.host, row.host);
    EXPECT_EQ(facts.secFetchSite, row.secFetchSite);
    EXPECT_EQ(facts.referer, row.referer);
    EXPECT_EQ(facts.authed, row.authed);
    EXPECT_EQ(facts.passToken, row.passToken);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, HeaderBlock,
    testing::Values(
        HeaderRow{"HOST:example", "example", {}, "", false, ""},
        HeaderRow{" Host: x", "x", {}, "", false, ""},
        HeaderRow{"Host\t: x", "", {}, "", false, ""},
        HeaderRow{"Host: \tx ", "\tx", {}, "", false, ""},
        HeaderRow{"Host: a\rb\nc\r\n", "a\rb\nc", {}, "", false, ""},
        HeaderRow{"Host: a:b\r\nReferer: r", "a:b", {}, "r", false, ""},
        HeaderRow{"Host: a\r\nHost: b\r\n", "b", {}, "", false, ""},
        HeaderRow{"\r\n\r\nno colon\r\nHost: a", "a", {}, "", false, ""},
        HeaderRow{"X-Host: y\r\nHostname: z\r\nReferrer: w", "", {}, "", false, ""},
        HeaderRow{"SEC-FETCH-SITE:", "", "", "", false, ""},
        HeaderRow{"Sec-Fetch-Site: none\r\nsec-fetch-site: same-origin", "", "same-origin", "",
                  false, ""},
        HeaderRow{"Authorization:", "", {}, "", true, ""},
        HeaderRow{"Authorization: x\r\nCookie: a=1", "", {}, "", true, ""},
        HeaderRow{"Cookie: a=1; bramble_pass=; bramble_pass=tok", "", {}, "", false, "tok"},
        HeaderRow{"Cookie: BRAMBLE_PASS=tok", "", {}, "", false, ""},
        HeaderRow{"COOKIE: bramble_pass=tok", "", {}, "", false, "tok"},
        HeaderRow{"Cookie: bramble_pass=a\r\nCookie: x=1", "", {}, "", false, "a"},
        HeaderRow{"Cookie: bramble_pass=a\r\nCookie: bramble_pass=b", "", {}, "", false, "b"},
        HeaderRow{"Cookie: " + session + "=", "", {}, "", false, ""},
        HeaderRow{"Cookie: x=1;  " + session + "=s ; bramble_pass=t", "", {}, "", true, "t"},
        HeaderRow{"Cookie: " + session + "=s\r\nCookie: x=1", "", {}, "", true, ""}));

struct CookieRow {
    std::string header;
    std::optional<std::string> value;
};

class FindCookie : public testing::TestWithParam<CookieRow> {};

TEST_P(FindCookie, TakesTheFirstNonEmptyPiece) {
    std::optional<std::string_view> found = findCookie(GetParam().header, "b");
    EXPECT_EQ(found, GetParam().value) << GetParam().header;
}

INSTANTIATE_TEST_SUITE_P(Values, FindCookie,
                         testing::Values(CookieRow{"a=1; b=2", "2"}, CookieRow{"b=1;b=2", "1"},
                                         CookieRow{"  b=\"1 x\" ;", "\"1 x\""},
                                         CookieRow{"b==", "="}, CookieRow{"b", {}},
                                         CookieRow{"b=", {}}, CookieRow{"bb=1", {}},
                                         CookieRow{"B=1", {}}, CookieRow{"", {}}));

}  // namespace
}  // namespace vorn
