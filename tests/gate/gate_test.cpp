#include "gate/gate.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

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
// parsed from their text, and replies parsed back. Passes last 600 seconds,
// not the default, so that a fixed lifetime would show.
class GateUnderTest {
public:
    explicit GateUnderTest(const GateSettings& settings = smallGate())
        : minter_(testKey(), 600), gate_(minter_, settings) {}

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

std::string boundOf(double difficulty) {
    const Hex256 digits = hexDigits(workBound(difficulty));
    return "data-bound=\"" + std::string(digits.data(), digits.size()) + "\"";
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

// Rows are printed and named by their `name`.
template <class Row>
requires requires(const Row& row) {
    row.name;
}
void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

const auto rowName = [](const auto& info) { return test::testName(info.param.name); };

// A page for 10.0.0.1 at difficulty 2^-13 on forge.example:8080, unless the
// row says otherwise; `notice`: the page for a browser that came back from
// the gate's own page without the pass cookie, instead of a challenge.
struct PageRow {
    std::string name;
    std::string query = "return=%2Fo";
    std::string extra{};  // further header lines
    std::string client = "10.0.0.1";
    std::string difficulty = "0.0001220703125";
    std::string refusal{};  // the reason of a 400; none: served
    std::vector<std::string> has{};
    std::vector<std::string> lacks{};
    bool notice = false;
    bool named = false;  // the site's name and contact are set
};

class Pages : public testing::TestWithParam<PageRow> {};

TEST_P(Pages, AreServedOnlyWithWhatHaproxySets) {
    ASSERT_TRUE(prepareSignatures());
    const PageRow& row = GetParam();
    GateSettings settings = smallGate();
    if (row.named) {
        settings.siteName = "Forge <of> Example";
        settings.contact = "mailto:ops@forge.example";
    }
    GateUnderTest gate(settings);
    HttpResponse response = gate.page(row.query, row.client, row.difficulty, row.extra);
    const std::string& body = response.body;
    if (!row.refusal.empty()) {
        EXPECT_EQ(response.status, 400);
        EXPECT_EQ(body, "bad request: " + row.refusal + "\n");
        return;
    }
    EXPECT_EQ(response.status, 200) << body;
    for (const std::string& text : row.has) {
        EXPECT_NE(body.find(text), std::string::npos) << text << " not in\n" << body;
    }
    for (const std::string& text : row.lacks) {
        EXPECT_EQ(body.find(text), std::string::npos) << text << " in\n" << body;
    }
    EXPECT_LT(body.size(), 16u * 1024);
    EXPECT_EQ(response.headers["content-security-policy"], gatePagePolicy);
    EXPECT_EQ(response.headers["referrer-policy"], "same-origin");
    EXPECT_EQ(body.find("did not keep the pass") != std::string::npos, row.notice);
    EXPECT_EQ(attribute(body, "nonce").empty(), row.notice);
    const std::string metrics = gate.metrics();
    EXPECT_EQ(metrics.find("vorn_gate_cookie_missing_total 1\n") != std::string::npos, row.notice);
    EXPECT_EQ(metrics.find("vorn_gate_challenges_total 1\n") != std::string::npos, !row.notice);
}

const std::string fromGate =
    "\r\nReferer: http://forge.example:8080/.well-known/bramblegate/?difficulty=1&return=%2Fo";
const std::string httpsLink = "<a href=\"https://forge.example/o?x=1\">";

INSTANTIATE_TEST_SUITE_P(
    Rows, Pages,
    testing::Values(
        // The difficulty comes from HAProxy's header, never the query; the
        // site's name is the Host without its port.
        PageRow{.name = "page",
                .query = "difficulty=1&return=%2Fa%3Fb%3D1%26c%3D%22%3E",
                .has = {"<html lang=\"en\">", "<title>One moment, please - forge.example</title>",
                        "Allow JavaScript for forge.example", "role=\"status\"",
                        "name=\"return\" value=\"/a?b=1&amp;c=&quot;&gt;\"", "crypto.subtle.digest",
                        boundOf(0x1p-13), "data-expected=\"8192\"", "about 8192 tries",
                        "keeps a pass for 10 minutes"},
                .lacks = {"src=", "Contact"}},
        PageRow{.name = "page without return for ipv6",
                .query = "",
                .client = "::1",
                .difficulty = "0.00048828125",
                .has = {"name=\"return\" value=\"/\"", "data-expected=\"2048\""}},
        PageRow{.name = "hardest difficulty",
                .difficulty = "0.0000000000000000000542101086242752217003726400434970855712890625",
                .has = {boundOf(0x1p-64)}},
        PageRow{.name = "named site and contact",
                .has = {"<title>One moment, please - Forge &lt;of&gt; Example</title>",
                        "If you cannot, contact <a href=\"mailto:ops@forge.example\">"
                        "ops@forge.example</a>.",
                        "Trouble getting through? Contact <a href=\"mailto:ops@forge.example\">"},
                .named = true},
        PageRow{.name = "no client address", .client = "", .refusal = "no_client"},
        PageRow{.name = "client not an address", .client = "forge", .refusal = "no_client"},
        PageRow{.name = "no difficulty", .difficulty = "", .refusal = "no_difficulty"},
        PageRow{.name = "difficulty too easy", .difficulty = "0.5", .refusal = "no_difficulty"},
        PageRow{.name = "open redirect", .query = "return=%2F%2Fx", .refusal = "bad_return"},
        PageRow{
            .name = "return twice", .query = "return=%2Fa&return=%2Fb", .refusal = "bad_return"},
        // Coming back from the gate's page without the cookie: a notice, and
        // a link to https unless HAProxy says the visitor is on it already.
        PageRow{.name = "first visit", .extra = "\r\nReferer: http://forge.example:8080/o"},
        PageRow{.name = "back from the gate without the cookie",
                .query = "return=%2Fo%3Fx%3D1",
                .extra = fromGate,
                .has = {"Cookies may be blocked for forge.example:8080", httpsLink,
                        "<a href=\"/.well-known/bramblegate/?retry=1&amp;return=/o%3Fx%3D1\">"
                        "Try again</a>"},
                .notice = true},
        PageRow{.name = "back over plain http",
                .query = "return=%2Fo%3Fx%3D1",
                .extra = fromGate + "\r\nx-vorn-scheme: http",
                .has = {httpsLink},
                .notice = true},
        PageRow{.name = "back over https",
                .extra = "\r\nReferer: https://forge.example:8080/.well-known/bramblegate/"
                         "?return=%2Fo\r\nx-vorn-scheme: https",
                .has = {"Cookies may be blocked"},
                .lacks = {"https://"},
                .notice = true},
        PageRow{.name = "back with a cookie the agent refused",
                .extra = fromGate + "\r\nCookie: bramble_pass=old.token.x"},
        PageRow{.name = "the notice's try again link",
                .query = "retry=1&return=%2Fo",
                .extra = fromGate},
        PageRow{.name = "from another site's gate",
                .extra = "\r\nReferer: http://evil.example/.well-known/bramblegate/"}),
    rowName);

// How the answer differs from the good one made for 10.0.0.1.
struct AnswerRow {
    std::string name;
    std::string refusal{};  // the reason of a 400; none: a pass
    std::string client = "10.0.0.1";
    std::int64_t secondsLater = 0;
    std::string counter = "good";  // "good", "wrong" or the text sent
    std::string fields = "&return=%2Fo%2Fr";
    std::string host = "forge.example";
    std::string extra{};  // further header lines
    bool nonce = true;
    std::string cookie = "; Max-Age=600; Path=/; Secure; HttpOnly; SameSite=Lax";
};

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
        (row.nonce ? "nonce=" + nonce + "&" : "") + "counter=" + counter + row.fields;
    if (row.refusal == "replayed") {
        ASSERT_EQ(gate.answer(body).status, 303);
    }
    HttpResponse response = gate.answer(body, row.client, row.host, row.extra);
    if (!row.refusal.empty()) {
        EXPECT_EQ(response.status, 400);
        EXPECT_EQ(response.body, "bad request: " + row.refusal + "\n");
        EXPECT_EQ(response.headers.count("set-cookie"), 0u);
        return;
    }
    EXPECT_EQ(response.status, 303) << response.body;
    EXPECT_EQ(response.headers["location"], row.fields.empty() ? "/" : "/o/r");
    const std::string& cookie = response.headers["set-cookie"];
    EXPECT_TRUE(cookie.starts_with("bramble_pass=ey")) << cookie;
    EXPECT_TRUE(cookie.ends_with(row.cookie)) << cookie;
    EXPECT_EQ(response.headers["cache-control"], "no-store");
    EXPECT_EQ(response.headers["referrer-policy"], "same-origin");
}

// The cookie is Secure unless HAProxy says the visitor came over plain http.
INSTANTIATE_TEST_SUITE_P(
    Rows, Answers,
    testing::Values(
        AnswerRow{.name = "good"}, AnswerRow{.name = "good without return", .fields = ""},
        AnswerRow{.name = "good in the last second", .secondsLater = 299},
        AnswerRow{.name = "good over https", .extra = "\r\nx-vorn-scheme: https"},
        AnswerRow{.name = "good over plain http",
                  .extra = "\r\nx-vorn-scheme: http",
                  .cookie = "; Max-Age=600; Path=/; HttpOnly; SameSite=Lax"},
        AnswerRow{.name = "good twice", .refusal = "replayed"},
        AnswerRow{.name = "wrong", .refusal = "wrong_answer", .counter = "wrong"},
        AnswerRow{.name = "too late", .refusal = "expired_nonce", .secondsLater = 300},
        AnswerRow{.name = "another client", .refusal = "bad_nonce", .client = "10.0.0.2"},
        AnswerRow{.name = "no nonce", .refusal = "bad_form", .nonce = false},
        AnswerRow{.name = "counter not a number", .refusal = "bad_form", .counter = "12a"},
        AnswerRow{
            .name = "counter too long", .refusal = "bad_form", .counter = std::string(21, '1')},
        AnswerRow{.name = "counter empty", .refusal = "bad_form", .counter = ""},
        AnswerRow{.name = "open redirect",
                  .refusal = "bad_return",
                  .fields = "&return=https%3A%2F%2Fevil.example"},
        AnswerRow{.name = "bad host", .refusal = "bad_host", .host = "a\"b"},
        AnswerRow{.name = "no client", .refusal = "no_client", .client = ""}),
    rowName);

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

class ClientLimitRows : public testing::TestWithParam<LimitRow> {};

// `count` pages for `client`, the first `secondsLater` after the step before,
// each answered with `status`.
std::vector<LimitStep> pages(std::size_t count, int status, const std::string& client = "10.0.0.1",
                             std::int64_t secondsLater = 0) {
    std::vector<LimitStep> steps(count, LimitStep{client, 0, false, status});
    steps.front().secondsLater = secondsLater;
    return steps;
}

std::vector<LimitStep> operator+(std::vector<LimitStep> steps, const std::vector<LimitStep>& more) {
    steps.insert(steps.end(), more.begin(), more.end());
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

const std::string net1 = "2001:db8:0:1::1";

INSTANTIATE_TEST_SUITE_P(
    Rows, ClientLimitRows,
    testing::Values(
        LimitRow{"a fifth page", pages(4, 200) + pages(1, 429)},
        LimitRow{"another address", pages(4, 200) + pages(1, 200, "10.0.0.2")},
        LimitRow{"the same /64", pages(4, 200, net1) + pages(1, 429, "2001:db8:0:1:ffff::2")},
        LimitRow{"the next /64", pages(4, 200, net1) + pages(1, 200, "2001:db8:0:2::1")},
        LimitRow{"mapped ipv4 is ipv4", pages(4, 200) + pages(1, 429, "::ffff:10.0.0.1")},
        LimitRow{"one more after a quarter of the lifetime",
                 pages(4, 200) + pages(1, 429, "10.0.0.1", 74) + pages(1, 200, "10.0.0.1", 1) +
                     pages(1, 429)},
        LimitRow{"all again after the lifetime",
                 pages(4, 200) + pages(4, 200, "10.0.0.1", 300) + pages(1, 429)},
        LimitRow{"an answer closes its challenge",
                 pages(3, 200) + std::vector<LimitStep>{{"10.0.0.1", 0, true, 303}} +
                     pages(1, 200) + pages(1, 429)}),
    rowName);

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
