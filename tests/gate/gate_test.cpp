#include "gate/gate.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "gate/work_threshold.hpp"
#include "support/http_client.hpp"
#include "support/test_name.hpp"
#include "token/signature.hpp"

namespace vorn {
namespace {

using test::HttpResponse;

constexpr std::int64_t wallStart = 1'800'000'000'000;  // milliseconds
constexpr std::int64_t steadyStart = 86'400'000;

PrivateKey testKey() {
    PrivateKey key{.kid = "k1"};
    key.seed.fill(std::byte{7});
    return key;
}

GateSettings smallGate() {
    return {
        .nonceLifetime = 300, .replayEntries = 1024, .challengesPerClient = 4, .clientEntries = 64};
}

// A gate on clocks the test moves, with requests as HAProxy sends them,
// parsed from their text, and replies parsed back.
class GateUnderTest {
public:
    explicit GateUnderTest(const GateSettings& settings = smallGate())
        : minter_(testKey(), 3600), gate_(minter_, settings) {}

    HttpResponse send(std::string head, std::string body = {}) {
        head_ = std::move(head);
        body_ = std::move(body);
        GateRequest request;
        auto parsed = parseRequestHead(head_, request);
        EXPECT_TRUE(parsed) << head_;
        request.body = body_;
        auto output = std::make_unique<std::array<char, 32 * 1024>>();
        GateReply reply(*output);
        gate_.handle(request, {.wallMillis = wall, .steadyMillis = steady}, reply);
        auto response = test::parseHttpResponse(reply.finish());
        EXPECT_TRUE(response);
        return response.value_or(HttpResponse{});
    }

    HttpResponse page(const std::string& query, const std::string& client = "10.0.0.1",
                      const std::string& difficulty = "0.0001220703125",
                      const std::string& extra = {}) {
        std::string head = "GET /.well-known/bramblegate/?" + query +
                           " HTTP/1.1\r\nHost: forge.example:8080" + extra;
        if (!client.empty()) head += "\r\nx-vorn-client: " + client;
        if (!difficulty.empty()) head += "\r\nx-vorn-difficulty: " + difficulty;
        return send(head);
    }

    HttpResponse answer(const std::string& body, const std::string& client = "10.0.0.1",
                        const std::string& host = "forge.example", const std::string& extra = {}) {
        std::string head = "POST /.well-known/bramblegate/answer HTTP/1.1\r\nHost: " + host +
                           "\r\nContent-Length: " + std::to_string(body.size()) + extra;
        if (!client.empty()) head += "\r\nx-vorn-client: " + client;
        return send(head, body);
    }

    std::string metrics() {
        FixedText<16 * 1024> out;
        EXPECT_TRUE(gate_.render(out));
        return std::string(out.view());
    }

    void advanceSeconds(std::int64_t seconds) {
        wall += seconds * 1000;
        steady += seconds * 1000;
    }

    std::int64_t wall = wallStart;
    std::int64_t steady = steadyStart;

private:
    ReceiptMinter minter_;
    Gate gate_;
    std::string head_;
    std::string body_;
};

std::string attribute(const std::string& page, const std::string& name) {
    const std::string key = "data-" + name + "=\"";
    const std::size_t at = page.find(key);
    if (at == std::string::npos) return "";
    const std::size_t from = at + key.size();
    return page.substr(from, page.find('"', from) - from);
}

std::string hexString(const Number256& number) {
    const Hex256 digits = hexDigits(number);
    return {digits.data(), digits.size()};
}

std::string counterThat(bool meets, const std::string& nonce, double difficulty) {
    for (int counter = 0;; ++counter) {
        const std::string text = std::to_string(counter);
        if (belowBound(workDigest(nonce, text), workBound(difficulty)) == meets) return text;
    }
}

// A good answer to a fresh page for `client`.
std::string goodAnswer(GateUnderTest& gate, const std::string& client = "10.0.0.1") {
    const std::string nonce = attribute(gate.page("return=%2Fo%2Fr", client).body, "nonce");
    return "nonce=" + nonce + "&counter=" + counterThat(true, nonce, 0x1p-13) + "&return=%2Fo%2Fr";
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
        PageRow{"client not an address", "return=%2F", "forge", "0.0001220703125", 400,
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
    EXPECT_LT(page.size(), 16u * 1024);
    EXPECT_EQ(response.headers["content-security-policy"], gatePagePolicy);
    EXPECT_EQ(response.headers["referrer-policy"], "same-origin");
    EXPECT_NE(page.find("<html lang=\"en\">"), std::string::npos);
    EXPECT_NE(page.find("<title>One moment, please - forge.example</title>"), std::string::npos)
        << "the site's name is the Host without its port";
    EXPECT_NE(page.find("Allow JavaScript for forge.example"), std::string::npos);
    EXPECT_NE(page.find("role=\"status\""), std::string::npos);
    EXPECT_NE(page.find("name=\"return\" value=\"/a?b=1&amp;c=&quot;&gt;\""), std::string::npos);
    EXPECT_EQ(page.find("src="), std::string::npos) << "no external assets";
    EXPECT_EQ(page.find("Contact"), std::string::npos) << "no contact was given";
    EXPECT_NE(page.find("crypto.subtle.digest"), std::string::npos);
    EXPECT_EQ(attribute(page, "bound"), hexString(workBound(0x1p-13)));
    EXPECT_EQ(attribute(page, "expected"), "8192");
    EXPECT_NE(page.find("about 8192 tries"), std::string::npos);
    EXPECT_NE(page.find("keeps a pass for 60 minutes"), std::string::npos);
    EXPECT_NE(gate.metrics().find("vorn_gate_challenges_total 1\n"), std::string::npos);
}

TEST(ChallengePage, NamesTheSiteAndItsContact) {
    ASSERT_TRUE(prepareSignatures());
    GateSettings settings = smallGate();
    settings.siteName = "Forge <of> Example";
    settings.contact = "mailto:ops@forge.example";
    GateUnderTest gate(settings);
    const std::string page = gate.page("").body;
    EXPECT_NE(page.find("<title>One moment, please - Forge &lt;of&gt; Example</title>"),
              std::string::npos);
    EXPECT_NE(page.find("If you cannot, contact <a href=\"mailto:ops@forge.example\">"
                        "ops@forge.example</a>."),
              std::string::npos);
    EXPECT_NE(page.find("Trouble getting through? Contact <a href=\"mailto:ops@forge.example\">"),
              std::string::npos);
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
    gate.advanceSeconds(row.secondsLater);
    const std::string body =
        (row.nonce ? "nonce=" + nonce + "&" : "") + "counter=" + counter + row.extra;
    if (row.reason == "replayed") {
        ASSERT_EQ(gate.answer(body).status, 303);
    }
    HttpResponse response = gate.answer(body, row.client, row.host);
    EXPECT_EQ(response.status, row.status) << response.body;
    if (row.status == 400) {
        EXPECT_EQ(response.body, "bad request: " + row.reason + "\n");
        EXPECT_EQ(response.headers.count("set-cookie"), 0u);
        return;
    }
    EXPECT_EQ(response.headers["location"], row.extra.empty() ? "/" : "/o/r");
    EXPECT_TRUE(response.headers["set-cookie"].starts_with("bramble_pass=ey"));
    EXPECT_TRUE(response.headers["set-cookie"].ends_with(
        "; Max-Age=3600; Path=/; Secure; HttpOnly; SameSite=Lax"));
    EXPECT_EQ(response.headers["cache-control"], "no-store");
    EXPECT_EQ(response.headers["referrer-policy"], "same-origin");
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

struct SchemeRow {
    std::string name;
    std::string header;  // the x-vorn-scheme line, or none
    bool secure;
};

void PrintTo(const SchemeRow& row, std::ostream* out) {
    *out << row.name;
}

class CookieScheme : public testing::TestWithParam<SchemeRow> {};

TEST_P(CookieScheme, IsSecureExactlyWhenTheVisitorCameOverHttps) {
    ASSERT_TRUE(prepareSignatures());
    GateUnderTest gate;
    HttpResponse response =
        gate.answer(goodAnswer(gate), "10.0.0.1", "forge.example", GetParam().header);
    ASSERT_EQ(response.status, 303);
    EXPECT_EQ(response.headers["set-cookie"].find("; Secure") != std::string::npos,
              GetParam().secure)
        << response.headers["set-cookie"];
}

INSTANTIATE_TEST_SUITE_P(Rows, CookieScheme,
                         testing::Values(SchemeRow{"https", "\r\nx-vorn-scheme: https", true},
                                         SchemeRow{"plain http", "\r\nx-vorn-scheme: http", false},
                                         SchemeRow{"not said", "", true}),
                         [](const testing::TestParamInfo<SchemeRow>& info) {
                             return test::testName(info.param.name);
                         });

struct ComebackRow {
    std::string name;
    std::string query;
    std::string extra;  // further header lines
    bool notice;
};

void PrintTo(const ComebackRow& row, std::ostream* out) {
    *out << row.name;
}

class Comebacks : public testing::TestWithParam<ComebackRow> {};

const std::string fromGate =
    "\r\nReferer: http://forge.example:8080/.well-known/bramblegate/?difficulty=1&return=%2Fo";

TEST_P(Comebacks, WithoutTheCookieFromTheGatesOwnPageGetTheNotice) {
    ASSERT_TRUE(prepareSignatures());
    GateUnderTest gate;
    const ComebackRow& row = GetParam();
    HttpResponse response = gate.page(row.query, "10.0.0.1", "0.0001220703125", row.extra);
    ASSERT_EQ(response.status, 200);
    const bool notice = response.body.find("did not keep the pass") != std::string::npos;
    EXPECT_EQ(notice, row.notice) << response.body;
    EXPECT_EQ(attribute(response.body, "nonce").empty(), row.notice);
    const bool counted =
        gate.metrics().find("vorn_gate_cookie_missing_total 1\n") != std::string::npos;
    EXPECT_EQ(counted, row.notice);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Comebacks,
    testing::Values(
        ComebackRow{"first visit", "return=%2Fo", "\r\nReferer: http://forge.example:8080/o",
                    false},
        ComebackRow{"no referer", "return=%2Fo", "", false},
        ComebackRow{"back from the gate without the cookie", "return=%2Fo", fromGate, true},
        ComebackRow{"back from the gate over https", "return=%2Fo",
                    "\r\nReferer: https://forge.example:8080/.well-known/bramblegate/?return=%2Fo",
                    true},
        ComebackRow{"back with a cookie the agent refused", "return=%2Fo",
                    fromGate + "\r\nCookie: bramble_pass=old.token.x", false},
        ComebackRow{"the notice's try again link", "retry=1&return=%2Fo", fromGate, false},
        ComebackRow{"from another site's gate", "return=%2Fo",
                    "\r\nReferer: http://evil.example/.well-known/bramblegate/", false}),
    [](const testing::TestParamInfo<ComebackRow>& info) {
        return test::testName(info.param.name);
    });

TEST(CookieNotice, SaysWhyAndOffersHttpsOnlyOverPlainHttp) {
    ASSERT_TRUE(prepareSignatures());
    GateUnderTest gate;
    const std::string plain = gate.page("return=%2Fo%3Fx%3D1", "10.0.0.1", "0.0001220703125",
                                        fromGate + "\r\nx-vorn-scheme: http")
                                  .body;
    EXPECT_NE(plain.find("Cookies may be blocked for forge.example:8080"), std::string::npos);
    EXPECT_NE(plain.find("<a href=\"https://forge.example/o?x=1\">"), std::string::npos) << plain;
    EXPECT_NE(plain.find("<a href=\"/.well-known/bramblegate/?retry=1&amp;return=/o%3Fx%3D1\">"
                         "Try again</a>"),
              std::string::npos)
        << plain;
    const std::string secure = gate.page("return=%2Fo", "10.0.0.1", "0.0001220703125",
                                         fromGate + "\r\nx-vorn-scheme: https")
                                   .body;
    EXPECT_NE(secure.find("Cookies may be blocked"), std::string::npos);
    EXPECT_EQ(secure.find("https://"), std::string::npos) << secure;
}

struct LimitStep {
    std::string client;
    std::int64_t secondsLater;  // before this step
    bool answer;                // answer a fresh page instead of just fetching one
    int status;
};

struct LimitRow {
    std::string name;
    std::vector<LimitStep> steps;
};

void PrintTo(const LimitRow& row, std::ostream* out) {
    *out << row.name;
}

class ClientLimitRows : public testing::TestWithParam<LimitRow> {};

std::vector<LimitStep> fourPages(const std::string& client) {
    return std::vector<LimitStep>(4, LimitStep{client, 0, false, 200});
}

std::vector<LimitStep> then(std::vector<LimitStep> steps, std::initializer_list<LimitStep> more) {
    steps.insert(steps.end(), more);
    return steps;
}

// Four challenges per client over a lifetime of 300 seconds.
TEST_P(ClientLimitRows, ApplyWhenThePageIsIssued) {
    ASSERT_TRUE(prepareSignatures());
    GateUnderTest gate;
    for (std::size_t i = 0; i < GetParam().steps.size(); ++i) {
        const LimitStep& step = GetParam().steps[i];
        gate.advanceSeconds(step.secondsLater);
        HttpResponse response = step.answer
                                    ? gate.answer(goodAnswer(gate, step.client), step.client)
                                    : gate.page("", step.client);
        EXPECT_EQ(response.status, step.status) << "step " << i << ": " << response.body;
        if (response.status == 429) {
            EXPECT_EQ(response.body, "too many requests: too_many_challenges\n");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ClientLimitRows,
    testing::Values(
        LimitRow{"four pages", fourPages("10.0.0.1")},
        LimitRow{"a fifth page", then(fourPages("10.0.0.1"), {{"10.0.0.1", 0, false, 429}})},
        LimitRow{"another address", then(fourPages("10.0.0.1"), {{"10.0.0.2", 0, false, 200}})},
        LimitRow{"the same /64",
                 then(fourPages("2001:db8:0:1::1"), {{"2001:db8:0:1:ffff::2", 0, false, 429}})},
        LimitRow{"the next /64",
                 then(fourPages("2001:db8:0:1::1"), {{"2001:db8:0:2::1", 0, false, 200}})},
        LimitRow{"mapped ipv4 is ipv4",
                 then(fourPages("10.0.0.1"), {{"::ffff:10.0.0.1", 0, false, 429}})},
        LimitRow{"one more after a quarter of the lifetime",
                 then(fourPages("10.0.0.1"), {{"10.0.0.1", 74, false, 429},
                                              {"10.0.0.1", 1, false, 200},
                                              {"10.0.0.1", 0, false, 429}})},
        LimitRow{"all again after the lifetime",
                 then(fourPages("10.0.0.1"), {{"10.0.0.1", 300, false, 200},
                                              {"10.0.0.1", 0, false, 200},
                                              {"10.0.0.1", 0, false, 200},
                                              {"10.0.0.1", 0, false, 200},
                                              {"10.0.0.1", 0, false, 429}})},
        LimitRow{"an answer closes its challenge",
                 {{"10.0.0.1", 0, false, 200},
                  {"10.0.0.1", 0, false, 200},
                  {"10.0.0.1", 0, false, 200},
                  {"10.0.0.1", 0, true, 303},
                  {"10.0.0.1", 0, false, 200},
                  {"10.0.0.1", 0, false, 429}}}),
    [](const testing::TestParamInfo<LimitRow>& info) { return test::testName(info.param.name); });

TEST(GateRoutes, AnswerTheHealthCheckAndNothingElse) {
    ASSERT_TRUE(prepareSignatures());
    GateUnderTest gate;
    HttpResponse health = gate.send("GET /.well-known/bramblegate/health HTTP/1.1\r\nHost: x");
    EXPECT_EQ(health.status, 200);
    EXPECT_EQ(health.body, "ok\n");
    EXPECT_EQ(gate.send("GET /.well-known/bramblegate/other HTTP/1.1\r\nHost: x").status, 404);
    EXPECT_EQ(gate.send("POST /.well-known/bramblegate/ HTTP/1.1\r\nHost: x").status, 404);
}

TEST(GateMetricsPage, CountsSolveTimesAndRefusals) {
    ASSERT_TRUE(prepareSignatures());
    GateUnderTest gate;
    const std::string body = goodAnswer(gate);
    gate.advanceSeconds(3);
    ASSERT_EQ(gate.answer(body).status, 303);
    ASSERT_EQ(gate.answer(body).status, 400);
    const std::string page = gate.metrics();
    for (const char* line :
         {"vorn_gate_answers_good_total 1\n", "vorn_gate_solve_seconds_bucket{le=\"2\"} 0\n",
          "vorn_gate_solve_seconds_bucket{le=\"5\"} 1\n",
          "vorn_gate_solve_seconds_bucket{le=\"+Inf\"} 1\n", "vorn_gate_solve_seconds_sum 3\n",
          "vorn_gate_solve_seconds_count 1\n", "vorn_gate_refused_total{reason=\"replayed\"} 1\n",
          "vorn_gate_replay_entries 1\n", "vorn_gate_replay_capacity 1024\n",
          "vorn_gate_clients 1\n", "vorn_gate_reloads_total{result=\"loaded\"} 0\n"}) {
        EXPECT_NE(page.find(line), std::string::npos) << line << " not in\n" << page;
    }
}

}  // namespace
}  // namespace vorn
