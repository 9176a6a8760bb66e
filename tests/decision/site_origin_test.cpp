#include "decision/site_origin.hpp"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "decision/site.hpp"
#include "support/test_name.hpp"

namespace vorn {
namespace {

const std::string domain(defaultSite.domain);

struct RefererRow {
    std::string name;
    std::string referer;
    bool origin;
};

void PrintTo(const RefererRow& row, std::ostream* out) {
    *out << row.name << ": \"" << row.referer << '"';
}

std::string refererName(const testing::TestParamInfo<RefererRow>& info) {
    return test::testName({info.param.name, info.param.origin ? "accepted" : "refused"});
}

class SiteOrigin : public testing::TestWithParam<RefererRow> {};

TEST_P(SiteOrigin, AcceptsOnlyABareOrigin) {
    EXPECT_EQ(refererIsSiteOrigin(GetParam().referer, domain), GetParam().origin)
        << GetParam().referer;
}

INSTANTIATE_TEST_SUITE_P(
    Referers, SiteOrigin,
    testing::Values(RefererRow{"Https", "https://" + domain, true},
                    RefererRow{"HttpsWithSlash", "https://" + domain + "/", true},
                    RefererRow{"Http", "http://" + domain, true},
                    RefererRow{"HttpWithSlash", "http://" + domain + "/", true},
                    RefererRow{"Subdomain", "https://m." + domain, true},
                    RefererRow{"NestedSubdomainWithHyphen", "http://a-b.c." + domain + "/", true},
                    RefererRow{"UpperCaseSubdomainWithDigit", "https://M-2." + domain, true},
                    RefererRow{"WithPort", "https://" + domain + ":443", false},
                    RefererRow{"WithTwoSlashes", "https://" + domain + "//", false},
                    RefererRow{"UpperCaseScheme", "HTTPS://" + domain, false},
                    RefererRow{"MixedCaseScheme", "Http://" + domain, false},
                    RefererRow{"UnderscoreInSubdomain", "https://x_y." + domain, false},
                    RefererRow{"WithPath", "https://" + domain + "/o/r", false},
                    RefererRow{"WithQuery", "https://" + domain + "?q", false},
                    RefererRow{"WithUser", "https://user@" + domain, false},
                    RefererRow{"LeadingDoubleDot", "https://.." + domain, false},
                    RefererRow{"LeadingDot", "https://." + domain, false},
                    RefererRow{"EmptyLabelBeforeTheDomain", "https://a.." + domain, false},
                    RefererRow{"EmptyLabelInTheSubdomain", "https://a..b." + domain, false},
                    RefererRow{"LeadingDotBeforeASubdomain", "https://.a." + domain, false},
                    RefererRow{"DomainEndingAnotherName", "https://evil" + domain, false},
                    RefererRow{"DomainStartingAnotherName", "https://" + domain + ".evil", false},
                    RefererRow{"FtpScheme", "ftp://" + domain, false},
                    RefererRow{"WithoutScheme", domain, false},
                    RefererRow{"HttpsWithoutHost", "https://", false},
                    RefererRow{"HttpsSlashWithoutHost", "https:///", false},
                    RefererRow{"HttpWithoutHost", "http://", false},
                    RefererRow{"Empty", "", false}),
    refererName);

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
    EXPECT_TRUE(botprint(facts, domain));
    facts.secFetchSite = "cross-site";
    EXPECT_TRUE(botprint(facts, domain));
    facts.secFetchSite = "same-origin";
    EXPECT_FALSE(botprint(facts, domain));
    facts.secFetchSite.reset();
    facts.referer = "";
    EXPECT_FALSE(botprint(facts, domain));
}

}  // namespace
}  // namespace vorn
