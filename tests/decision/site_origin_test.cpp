#include "decision/site_origin.hpp"

#include <gtest/gtest.h>

#include <string>

namespace vorn {
namespace {

const std::string domain(siteDomain);

struct RefererRow {
    std::string referer;
    bool origin;
};

class SiteOrigin : public testing::TestWithParam<RefererRow> {};

TEST_P(SiteOrigin, AcceptsOnlyABareOrigin) {
    EXPECT_EQ(refererIsSiteOrigin(GetParam().referer), GetParam().origin) << GetParam().referer;
}

INSTANTIATE_TEST_SUITE_P(
    Referers, SiteOrigin,
    testing::Values(
        RefererRow{"https://" + domain, true}, RefererRow{"https://" + domain + "/", true},
        RefererRow{"http://" + domain, true}, RefererRow{"http://" + domain + "/", true},
        RefererRow{"https://m." + domain, true}, RefererRow{"http://a-b.c." + domain + "/", true},
        RefererRow{"https://M-2." + domain, true}, RefererRow{"https://" + domain + ":443", false},
        RefererRow{"https://" + domain + "//", false}, RefererRow{"HTTPS://" + domain, false},
        RefererRow{"Http://" + domain, false}, RefererRow{"https://x_y." + domain, false},
        RefererRow{"https://" + domain + "/o/r", false},
        RefererRow{"https://" + domain + "?q", false}, RefererRow{"https://user@" + domain, false},
        RefererRow{"https://.." + domain, false}, RefererRow{"https://." + domain, false},
        RefererRow{"https://a.." + domain, false}, RefererRow{"https://a..b." + domain, false},
        RefererRow{"https://.a." + domain, false}, RefererRow{"https://evil" + domain, false},
        RefererRow{"https://" + domain + ".evil", false}, RefererRow{"ftp://" + domain, false},
        RefererRow{domain, false}, RefererRow{"https://", false}, RefererRow{"https:///", false},
        RefererRow{"http://", false}, RefererRow{"", false}));

TEST(SiteOrigin, TakesAnotherDomain) {
    EXPECT_TRUE(refererIsSiteOrigin("https://a.example.org/", "example.org"));
    EXPECT_FALSE(refererIsSiteOrigin("https://" + domain, "example.org"));
}

TEST(SameOrigin, OnlyTheExactValueIsSameOrigin) {
    EXPECT_TRUE(notSameOrigin(std::nullopt));
    EXPECT_FALSE(notSameOrigin("same-origin"));
    EXPECT_TRUE(notSameOrigin("Same-Origin"));
    EXPECT_TRUE(notSameOrigin("same-site"));
    EXPECT_TRUE(notSameOrigin(""));
}

TEST(Botprint, NeedsBareRefererAndNoSameOriginFetch) {
    const std::string bare = "https://" + domain + "/";
    RequestFacts facts;
    facts.referer = bare;
    EXPECT_TRUE(botprint(facts));
    facts.secFetchSite = "cross-site";
    EXPECT_TRUE(botprint(facts));
    facts.secFetchSite = "same-origin";
    EXPECT_FALSE(botprint(facts));
    facts.secFetchSite.reset();
    facts.referer = "";
    EXPECT_FALSE(botprint(facts));
}

}  // namespace
}  // namespace vorn
