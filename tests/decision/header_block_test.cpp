#include "decision/header_block.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "decision/site.hpp"

namespace vorn {
namespace {

const std::string session(defaultSite.sessionCookie);

struct HeaderRow {
    std::string name;
    std::optional<std::string> block;  // none: a NOTIFY without headers
    std::string host;
    std::optional<std::string> secFetchSite;
    std::string referer;
    bool authed;
    std::string passToken;
};

void PrintTo(const HeaderRow& row, std::ostream* out) {
    *out << row.name;
}

class HeaderBlock : public testing::TestWithParam<HeaderRow> {};

TEST_P(HeaderBlock, FillsTheFacts) {
    const HeaderRow& row = GetParam();
    RequestFacts facts;
    readHeaderBlock(row.block ? std::string_view(*row.block) : std::string_view(),
                    defaultSite.sessionCookie, facts);
    EXPECT_EQ(facts.host, row.host);
    EXPECT_EQ(facts.secFetchSite, row.secFetchSite);
    EXPECT_EQ(facts.referer, row.referer);
    EXPECT_EQ(facts.authed, row.authed);
    EXPECT_EQ(facts.passToken, row.passToken);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, HeaderBlock,
    testing::Values(
        HeaderRow{"MissingBlock", std::nullopt, "", {}, "", false, ""},
        HeaderRow{"EmptyBlock", "", "", {}, "", false, ""},
        HeaderRow{"OnlyTheEndOfTheBlock", "\r\n", "", {}, "", false, ""},
        HeaderRow{"UpperCaseNameWithoutSpace", "HOST:example", "example", {}, "", false, ""},
        HeaderRow{"SpaceBeforeTheName", " Host: x", "x", {}, "", false, ""},
        HeaderRow{"TabBeforeTheColon", "Host\t: x", "", {}, "", false, ""},
        HeaderRow{"TabKeptTrailingSpaceDropped", "Host: \tx ", "\tx", {}, "", false, ""},
        HeaderRow{"LoneCrAndLfStayInTheValue", "Host: a\rb\nc\r\n", "a\rb\nc", {}, "", false, ""},
        HeaderRow{
            "ColonInTheValueThenReferer", "Host: a:b\r\nReferer: r", "a:b", {}, "r", false, ""},
        HeaderRow{"LastHostWins", "Host: a\r\nHost: b\r\n", "b", {}, "", false, ""},
        HeaderRow{
            "BlankAndColonlessLinesSkipped", "\r\n\r\nno colon\r\nHost: a", "a", {}, "", false, ""},
        HeaderRow{"SimilarNamesIgnored",
                  "X-Host: y\r\nHostname: z\r\nReferrer: w",
                  "",
                  {},
                  "",
                  false,
                  ""},
        HeaderRow{"EmptySecFetchSite", "SEC-FETCH-SITE:", "", "", "", false, ""},
        HeaderRow{"LastSecFetchSiteWins", "Sec-Fetch-Site: none\r\nsec-fetch-site: same-origin", "",
                  "same-origin", "", false, ""},
        HeaderRow{"EmptyAuthorization", "Authorization:", "", {}, "", true, ""},
        HeaderRow{"AuthorizationAndAnotherCookie",
                  "Authorization: x\r\nCookie: a=1",
                  "",
                  {},
                  "",
                  true,
                  ""},
        HeaderRow{"FirstNonEmptyPassCookie",
                  "Cookie: a=1; bramble_pass=; bramble_pass=tok",
                  "",
                  {},
                  "",
                  false,
                  "tok"},
        HeaderRow{
            "PassCookieNameIsCaseSensitive", "Cookie: BRAMBLE_PASS=tok", "", {}, "", false, ""},
        HeaderRow{"CookieHeaderNameIsCaseInsensitive",
                  "COOKIE: bramble_pass=tok",
                  "",
                  {},
                  "",
                  false,
                  "tok"},
        HeaderRow{"PassCookieFromAnEarlierLine",
                  "Cookie: bramble_pass=a\r\nCookie: x=1",
                  "",
                  {},
                  "",
                  false,
                  "a"},
        HeaderRow{"PassCookieFromTheLastLine",
                  "Cookie: bramble_pass=a\r\nCookie: bramble_pass=b",
                  "",
                  {},
                  "",
                  false,
                  "b"},
        HeaderRow{"EmptySessionCookie", "Cookie: " + session + "=", "", {}, "", false, ""},
        HeaderRow{"SessionAndPassCookieOnOneLine",
                  "Cookie: x=1;  " + session + "=s ; bramble_pass=t",
                  "",
                  {},
                  "",
                  true,
                  "t"},
        HeaderRow{"SessionCookieFromAnEarlierLine",
                  "Cookie: " + session + "=s\r\nCookie: x=1",
                  "",
                  {},
                  "",
                  true,
                  ""}),
    [](const auto& info) { return info.param.name; });

TEST(HeaderBlock, OnlyTheSitesOwnSessionCookieSignsIn) {
    const std::string block = "Cookie: " + session + "=s\r\nCookie: lang=en";
    RequestFacts builtIn;
    readHeaderBlock(block, defaultSite.sessionCookie, builtIn);
    EXPECT_TRUE(builtIn.authed);
    RequestFacts gitea;
    readHeaderBlock(block, "i_like_gitea", gitea);
    EXPECT_FALSE(gitea.authed);
    readHeaderBlock("Cookie: lang=en; i_like_gitea=0123abcd", "i_like_gitea", gitea);
    EXPECT_TRUE(gitea.authed);
}

struct CookieRow {
    std::string name;
    std::string header;
    std::optional<std::string> value;
};

void PrintTo(const CookieRow& row, std::ostream* out) {
    *out << row.name;
}

class FindCookie : public testing::TestWithParam<CookieRow> {};

TEST_P(FindCookie, TakesTheFirstNonEmptyPiece) {
    std::optional<std::string_view> found = findCookie(GetParam().header, "b");
    EXPECT_EQ(found, GetParam().value) << GetParam().header;
}

INSTANTIATE_TEST_SUITE_P(
    Values, FindCookie,
    testing::Values(CookieRow{"SecondPiece", "a=1; b=2", "2"},
                    CookieRow{"FirstOfTwo", "b=1;b=2", "1"},
                    CookieRow{"QuotedValueKeptWhole", "  b=\"1 x\" ;", "\"1 x\""},
                    CookieRow{"ValueStartingWithEquals", "b==", "="},
                    CookieRow{"NameWithoutEquals", "b", {}}, CookieRow{"EmptyValue", "b=", {}},
                    CookieRow{"LongerName", "bb=1", {}}, CookieRow{"UpperCaseName", "B=1", {}},
                    CookieRow{"EmptyHeader", "", {}}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace vorn
