#include "gate.hpp"

#include <gtest/gtest.h>

#include <string>

#include "challenge_page.hpp"
#include "support/test_name.hpp"
#include "token/signature.hpp"
#include "work_threshold.hpp"

namespace vorn::gate {
namespace {

constexpr std::int64_t start = 1'800'000'000;

PrivateKey testKey() {
    PrivateKey key{.kid = "k1"};
    key.seed.fill(std::byte{7});
    return key;
}

// A gate on a clock the test moves, with requests as HAProxy sends them.
class GateUnderTest {
public:
    GateUnderTest()
        : gate_(minter_, metrics_, {.nonceLifetime = 300, .replaySlots = 64},
                [this] { return now; }) {}

    HttpResponse page(std::string query, std::string client = "10.0.0.1",
                      std::string difficulty = "0.0001220703125") {
        HttpRequest request{
            .method = "GET", .path = "/.well-known/bramblegate/", .query = std::move(query)};
        request.headers = {{"host", "forge.example"}};
        if (!client.empty()) request.headers.emplace_back("x-vorn-client", client);
        if (!difficulty.empty()) request.headers.emplace_back("x-vorn-difficulty", difficulty);
        return gate_.handle(request);
    }

    HttpResponse answer(std::string body, std::string client = "10.0.0.1",
                        std::string host = "forge.example") {
        HttpRequest request{
            .method = "POST", .path = "/.well-known/bramblegate/answer", .body = std::move(body)};
        request.headers = {{"host", host}, {"x-vorn-client", client}};
        return gate_.handle(request);
    }

    std::int64_t now = start;
    GateMetrics metrics_;

private:
    ReceiptMinter minter_{testKey(), 3600};
    Gate gate_;
};

std::string attribute(const std::string& page, const std::string& name) {
    const std::string key = "data-" + name + "=\"";
    const std::size_t from = page.find(key) + key.size();
    return page.substr(from, page.find('"', from) - from);
}

std::string counterThat(bool meets, const std::string& nonce, double difficulty) {
    for (int counter = 0;; ++counter) {
        const std::string text = std::to_string(counter);
        if (belowBound(workDigest(nonce, text), workBound(difficulty)) == meets) return text;
    }
}

struct PageRow {
    std::string name;
    std::string query;
    std::string client;
    std::string difficulty;
    int status;
    std::string body;  // the start of it
};

void PrintTo(const PageRow& row, std::ostream* out) {
    *out << row.name;
}

class ChallengePages : public testing::TestWithParam<PageRow> {};

TEST_P(ChallengePages, AreServedOnlyWithWhatHaproxySets) {
    ASSERT_TRUE(prepareSignatures());
    GateUnderTest gate;
    const PageRow& row = GetParam();
    HttpResponse response = gate.page(row.query, row.client, row.difficulty);
    EXPECT_EQ(response.status, row.status);
    EXPECT_TRUE(response.body.starts_with(row.body)) << response.body;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ChallengePages,
    testing::Values(
        PageRow{"page", "difficulty=1&return=%2Fo%2Fr", "10.0.0.1", "0.0001220703125", 200,
                "<!DOCTYPE html>"},
        PageRow{"page without return", "", "::1", "0.00048828125", 200, "<!DOCTYPE html>"},
        PageRow{"hardest difficulty", "", "10.0.0.1",
                "0.0000000000000000000542101086242752217003726400434970855712890625", 200,
                "<!DOCTYPE html>"},
        PageRow{"no client address", "return=%2F", "", "0.0001220703125", 400,
                "bad request: no_client\n"},
        PageRow{"no difficulty", "return=%2F", "10.0.0.1", "", 400, "bad request: no_difficulty\n"},
        PageRow{"difficulty too easy", "return=%2F", "10.0.0.1", "0.5", 400,
                "bad request: no_difficulty\n"},
        PageRow{"open redirect", "return=%2F%2Fevil.example", "10.0.0.1", "0.0001220703125", 400,
                "bad request: bad_return\n"},
        PageRow{"return twice", "return=%2Fa&return=%2Fb", "10.0.0.1", "0.0001220703125", 400,
                "bad request: bad_return\n"}),
    [](const testing::TestParamInfo<PageRow>& info) { return test::testName(info.param.name); });

TEST(ChallengePage, IsSmallSelfContainedAndEscapesTheReturnPath) {
    ASSERT_TRUE(prepareSignatures());
    GateUnderTest gate;
    HttpResponse response = gate.page("return=%2Fa%3Fb%3D1%26c%3D%22%3E");
    ASSERT_EQ(response.status, 200);
    const std::string& page = response.body;
    EXPECT_LT(page.size(), 20u * 1024);
    EXPECT_NE(page.find("<html lang=\"en\">"), std::string::npos);
    EXPECT_NE(page.find("<noscript>"), std::string::npos);
    EXPECT_NE(page.find("role=\"status\""), std::string::npos);
    EXPECT_NE(page.find("name=\"return\" value=\"/a?b=1&amp;c=&quot;&gt;\""), std::string::npos);
    EXPECT_EQ(page.find("src="), std::string::npos) << "no external assets";
    EXPECT_EQ(attribute(page, "bound"), hexText(workBound(0x1p-13)));
    EXPECT_EQ(attribute(page, "expected"), "8192");
    EXPECT_EQ(gate.metrics_.page().find("vorn_gate_challenges_total 1\n") != std::string::npos,
              true);
}

// How the answer differs from the good one made for 10.0.0.1.
struct AnswerRow {
    std::string name;
    int status;
    std::string reason;  // of a 400
    std::string client = "10.0.0.1";
    std::int64_t secondsLater = 0;
    std::string counter = "good";  // "good", "wrong" or the text sent
    std::string extra = "&return=%2Fo%2Fr";
    std::string host = "forge.example";
    bool nonce = true;
};

void PrintTo(const AnswerRow& row, std::ostream* out) {
    *out << row.name;
}

class Answers : public testing::TestWithParam<AnswerRow> {};

TEST_P(Answers, EarnACookieOnlyWhenGoodFreshAndFirst) {
    ASSERT_TRUE(prepareSignatures());
    const AnswerRow& row = GetParam();
    GateUnderTest gate;
    const std::string nonce = attribute(gate.page("return=%2Fo%2Fr").body, "nonce");
    std::string counter = row.counter;
    if (counter == "good" || counter == "wrong") {
        counter = counterThat(counter == "good", nonce, 0x1p-13);
    }
    gate.now += row.secondsLater;
    const std::string body =
        (row.nonce ? "nonce=" + nonce + "&" : "") + "counter=" + counter + row.extra;
    if (row.reason == "replayed") {
        ASSERT_EQ(gate.answer(body).status, 303);
    }
    HttpResponse response = gate.answer(body, row.client, row.host);
    EXPECT_EQ(response.status, row.status) << response.body;
    if (row.status == 400) {
        EXPECT_EQ(response.body, "bad request: " + row.reason + "\n");
        EXPECT_EQ(response.headers.size(), 2u) << "content type and no-store, no cookie";
        return;
    }
    ASSERT_EQ(response.headers.size(), 3u);
    EXPECT_EQ(response.headers[0].second, row.extra.empty() ? "/" : "/o/r");
    EXPECT_TRUE(response.headers[1].second.starts_with("bramble_pass=ey"));
    EXPECT_TRUE(response.headers[1].second.ends_with(
        "; Max-Age=3600; Path=/; Secure; HttpOnly; SameSite=Lax"));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Answers,
    testing::Values(
        AnswerRow{"good", 303, ""},
        AnswerRow{"good without return", 303, "", "10.0.0.1", 0, "good", ""},
        AnswerRow{"good in the last second", 303, "", "10.0.0.1", 299},
        AnswerRow{"good twice", 400, "replayed"},
        AnswerRow{"wrong", 400, "wrong_answer", "10.0.0.1", 0, "wrong"},
        AnswerRow{"too late", 400, "expired_nonce", "10.0.0.1", 300},
        AnswerRow{"another client", 400, "bad_nonce", "10.0.0.2"},
        AnswerRow{"no nonce", 400, "bad_form", "10.0.0.1", 0, "good", "&return=%2Fo%2Fr",
                  "forge.example", false},
        AnswerRow{"counter not a number", 400, "bad_form", "10.0.0.1", 0, "12a"},
        AnswerRow{"counter too long", 400, "bad_form", "10.0.0.1", 0, std::string(21, '1')},
        AnswerRow{"counter empty", 400, "bad_form", "10.0.0.1", 0, ""},
        AnswerRow{"open redirect", 400, "bad_return", "10.0.0.1", 0, "good",
                  "&return=https%3A%2F%2Fevil.example"},
        AnswerRow{"bad host", 400, "bad_host", "10.0.0.1", 0, "good", "&return=%2F", "a\"b"},
        AnswerRow{"no client", 400, "no_client", ""}),
    [](const testing::TestParamInfo<AnswerRow>& info) { return test::testName(info.param.name); });

}  // namespace
}  // namespace vorn::gate
