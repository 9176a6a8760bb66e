// The whole chain: HAProxy with the example configuration, the agent with
// challenges on, and vorn-gate with a key made by vorn-receipt. Headless
// Chromium meets the challenge over plain HTTP on a name that is not
// loopback (forge.example, mapped to 127.0.0.1, so the page is not a secure
// context), solves it once and comes back with the receipt; on loopback
// (a secure context) it solves with its own SHA-256. A client that answers
// wrongly or twice gets no cookie; both run once per HAProxy series Debian
// ships. The hash rate of both ways of hashing is measured and printed.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "support/challenge_chain.hpp"
#include "support/haproxy_program.hpp"
#include "support/headless_browser.hpp"
#include "support/http_client.hpp"
#include "support/metrics_page.hpp"
#include "support/temp_dir.hpp"
#include "token/token_signer.hpp"

namespace vorn::test {
namespace {

using namespace std::chrono_literals;

const std::string challengedPath = "/owner/repo/commit/0123abc";
// Names Chromium resolves to loopback; pages on them are no secure context.
const std::vector<std::string> mappedNames = {
    "--host-resolver-rules=MAP forge.example 127.0.0.1, MAP gate.example 127.0.0.1"};

class GateBehindHaproxy : public testing::Test {
protected:
    void SetUp() override {
        const HaproxyProgram& program = findHaproxy(series());
        if (program.path.empty()) GTEST_SKIP() << program.missing;
        chain = std::make_unique<ChallengeChain>(
            ChainOptions{.haproxy = program.path,
                         .configuration = configuration(),
                         .agentArguments = {"--log-verdicts=all"}});
        ASSERT_TRUE(chain->ready());
        httpPort = chain->httpPort();
    }

    virtual std::string configuration() { return VORN_SOURCE_DIR "/deploy/haproxy/haproxy.cfg"; }
    // Bookworm's, unless a test runs on every series.
    virtual std::string_view series() { return haproxySeries.front(); }

    RunningGate& gate() { return chain->gate(); }
    RunningAgent& agent() { return chain->agent(); }

    std::string url(const std::string& host, const std::string& path) const {
        return "http://" + host + ":" + std::to_string(httpPort) + path;
    }

    // One request through HAProxy, with `extra` header lines (each ending
    // in CR LF) and `body` as a form.
    std::optional<HttpResponse> send(const std::string& method, const std::string& target,
                                     const std::string& extra = {}, const std::string& body = {}) {
        std::string request = method + " " + target +
                              " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(httpPort) +
                              "\r\nConnection: close\r\n" + extra;
        if (method == "POST") {
            request += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                       std::to_string(body.size()) + "\r\n";
        }
        auto raw = httpExchange(httpPort, request + "\r\n" + body);
        return raw ? parseHttpResponse(*raw) : std::nullopt;
    }

    TempDir files;
    std::unique_ptr<ChallengeChain> chain;
    std::uint16_t httpPort = 0;
};

// What the page shows as `expression` once it holds `wanted`, or what it
// showed last.
std::string waitForPage(HeadlessBrowser& browser, const std::string& session,
                        const std::string& expression, const std::string& wanted,
                        Millis timeout = 30s) {
    std::string text;
    Deadline deadline(timeout);
    while (!deadline.passed() && text.find(wanted) == std::string::npos) {
        std::this_thread::sleep_for(200ms);
        text = browser.evaluate(session, expression).value_or("");
    }
    return text;
}

struct Visit {
    std::string host;  // what Chromium is told to open
    bool secureContext;
};

class ChromiumVisits : public GateBehindHaproxy,
                       public testing::WithParamInterface<std::tuple<Visit, std::string_view>> {
protected:
    std::string_view series() override { return std::get<1>(GetParam()); }
    const Visit& visit() const { return std::get<0>(GetParam()); }
};

TEST_P(ChromiumVisits, SolveOnceAndReachThePageWithTheReceipt) {
    if (::access(chromiumPath.data(), X_OK) != 0) GTEST_SKIP() << "chromium is not installed";
    HeadlessBrowser browser(mappedNames);
    if (!browser.failure().empty()) GTEST_SKIP() << "Chromium cannot start: " << browser.failure();
    auto session = browser.openPage();
    ASSERT_TRUE(session);
    const std::string start = url(visit().host, challengedPath);
    ASSERT_TRUE(
        browser.call("Page.navigate", "{\"url\":" + vorn::jsonString(start) + "}", *session));

    // The page works, posts its answer and is sent back to the commit page,
    // which the forge stand-in answers with the headers HAProxy added.
    const std::string text = waitForPage(
        browser, *session, "location.pathname + ' ' + document.body.innerText", "forge stand-in");
    EXPECT_NE(text.find(challengedPath + " forge stand-in: GET " + challengedPath),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("x-vorn-verdict=pass x-vorn-receipt=valid"), std::string::npos) << text;
    EXPECT_TRUE(agent().process().waitForLine([](std::string_view line) {
        return line.find(" verdict=pass reason=receipt ") != std::string_view::npos &&
               line.find(" receipt=valid") != std::string_view::npos;
    })) << agent().process().linesText();

    auto cookies = browser.call("Network.getCookies",
                                "{\"urls\":[" + vorn::jsonString(start) + "]}", *session);
    ASSERT_TRUE(cookies);
    EXPECT_NE(cookies->find("\"name\":\"bramble_pass\""), std::string::npos) << *cookies;
    EXPECT_NE(cookies->find("\"httpOnly\":true"), std::string::npos) << *cookies;
    EXPECT_NE(cookies->find("\"secure\":false"), std::string::npos) << "plain HTTP: " << *cookies;
    EXPECT_NE(cookies->find("\"sameSite\":\"Lax\""), std::string::npos) << *cookies;
    // Once: one page, one answer, no notice.
    const std::string page = gate().metrics();
    EXPECT_EQ(metricValue(page, "vorn_gate_challenges_total"), 1);
    EXPECT_EQ(metricValue(page, "vorn_gate_answers_good_total"), 1);
    EXPECT_EQ(metricValue(page, "vorn_gate_cookie_missing_total"), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, ChromiumVisits,
    testing::Combine(testing::Values(Visit{"forge.example", false}, Visit{"127.0.0.1", true}),
                     testing::ValuesIn(haproxySeries)),
    [](const testing::TestParamInfo<std::tuple<Visit, std::string_view>>& info) {
        const std::string host = std::get<0>(info.param).secureContext ? "LoopbackSecureContext"
                                                                       : "PlainHttpForgeExample";
        return host + "_" +
               haproxyRowName(testing::TestParamInfo<std::string_view>(std::get<1>(info.param), 0));
    });

// An older configuration that does not tell the gate the scheme: the gate
// keeps the cookie Secure, which Chromium drops on a plain-HTTP page. The
// visitor solves once, is challenged again without the cookie, and gets the
// page that says why instead of a second challenge.
class GateWithoutScheme : public GateBehindHaproxy {
protected:
    std::string configuration() override {
        for (const char* name :
             {"haproxy.cfg", "vorn-spoe.conf", "trusted-balancers.lst", "verified-crawlers.map"}) {
            std::ifstream in(std::string(VORN_SOURCE_DIR "/deploy/haproxy/") + name);
            std::ofstream out(files.file(name));
            for (std::string line; std::getline(in, line);) {
                if (line.find("set-header x-vorn-scheme") == std::string::npos) out << line << '\n';
            }
        }
        return files.file("haproxy.cfg");
    }
};

TEST_F(GateWithoutScheme, ABrowserThatDropsTheCookieIsToldWhyInsteadOfChallengedAgain) {
    if (::access(chromiumPath.data(), X_OK) != 0) GTEST_SKIP() << "chromium is not installed";
    HeadlessBrowser browser(mappedNames);
    if (!browser.failure().empty()) GTEST_SKIP() << "Chromium cannot start: " << browser.failure();
    auto session = browser.openPage();
    ASSERT_TRUE(session);
    const std::string start = url("forge.example", challengedPath);
    ASSERT_TRUE(
        browser.call("Page.navigate", "{\"url\":" + vorn::jsonString(start) + "}", *session));
    const std::string text =
        waitForPage(browser, *session, "document.body.innerText", "did not keep the pass");
    EXPECT_NE(text.find("did not keep the pass"), std::string::npos) << text;
    EXPECT_NE(text.find("keep cookies only for secure sites"), std::string::npos) << text;
    const std::string page = gate().metrics();
    EXPECT_EQ(metricValue(page, "vorn_gate_answers_good_total"), 1) << "solved once";
    EXPECT_EQ(metricValue(page, "vorn_gate_challenges_total"), 1) << "and not asked again";
    EXPECT_EQ(metricValue(page, "vorn_gate_cookie_missing_total"), 1);
    EXPECT_TRUE(gate().process().waitForLine("event=challenge ip=127.0.0.1 outcome=cookie_missing"))
        << gate().process().linesText();
}

// The page straight from the gate, as HAProxy would pass it on, at a
// difficulty no browser finishes in the time it is watched.
struct RateProbe {
    std::string host;
    std::string mode;  // what the page should report
};

TEST_F(GateBehindHaproxy, MeasuresTheHashRateOfBothWaysOfHashing) {
    if (::access(chromiumPath.data(), X_OK) != 0) GTEST_SKIP() << "chromium is not installed";
    HeadlessBrowser browser(mappedNames);
    if (!browser.failure().empty()) GTEST_SKIP() << "Chromium cannot start: " << browser.failure();
    for (const RateProbe& probe :
         {RateProbe{"gate.example", "script"}, RateProbe{"127.0.0.1", "native"}}) {
        auto session = browser.openPage();
        ASSERT_TRUE(session);
        ASSERT_TRUE(browser.call("Network.enable", "{}", *session));
        ASSERT_TRUE(
            browser.call("Network.setExtraHTTPHeaders",
                         "{\"headers\":{\"x-vorn-client\":\"192.0.2.1\","
                         "\"x-vorn-difficulty\":\"0.0000000000009094947017729282379150390625\"}}",
                         *session));
        const std::string page = "http://" + probe.host + ":" + std::to_string(gate().port()) +
                                 "/.well-known/bramblegate/?return=%2F";
        ASSERT_TRUE(
            browser.call("Page.navigate", "{\"url\":" + vorn::jsonString(page) + "}", *session));
        const std::string mode =
            waitForPage(browser, *session, "document.getElementById('answer').dataset.mode || ''",
                        probe.mode, 15s);
        EXPECT_EQ(mode, probe.mode);
        // Let it run for three seconds, then read the rate it measured.
        std::this_thread::sleep_for(3s);
        const std::string rate =
            browser.evaluate(*session, "document.getElementById('answer').dataset.rate || ''")
                .value_or("");
        const std::string workers =
            browser.evaluate(*session, "document.getElementById('answer').dataset.workers || ''")
                .value_or("");
        ASSERT_FALSE(rate.empty()) << probe.host;
        ASSERT_FALSE(workers.empty()) << probe.host;
        EXPECT_GT(std::stod(rate), 1000) << probe.mode;
        std::printf(
            "hash rate, %s SHA-256 on %s: %s hashes a second per worker, %s worker(s), "
            "%.0f in all\n",
            probe.mode.c_str(), probe.host.c_str(), rate.c_str(), workers.c_str(),
            std::stod(rate) * std::stod(workers));
        // Its workers stop with the page, so that the next probe has the
        // machine to itself.
        ASSERT_TRUE(browser.call("Page.navigate", "{\"url\":\"about:blank\"}", *session));
    }
}

class GateOnEverySeries : public GateBehindHaproxy,
                          public testing::WithParamInterface<std::string_view> {
protected:
    std::string_view series() override { return GetParam(); }
};

TEST_P(GateOnEverySeries, WrongAndReplayedAnswersGetNoCookie) {
    // A forged client address, difficulty and scheme are dropped by HAProxy:
    // the nonce is bound to the real address, so the answers below, sent
    // without it, are checked against the same one.
    auto page =
        send("GET", "/.well-known/bramblegate/?return=%2Fowner%2Frepo",
             "x-vorn-client: 192.0.2.7\r\nx-vorn-difficulty: 0.5\r\nx-vorn-scheme: https\r\n");
    ASSERT_TRUE(page);
    ASSERT_EQ(page->status, 200) << page->body;
    auto challenge = readGateChallenge(page->body);
    ASSERT_TRUE(challenge);
    EXPECT_EQ(challenge->bound, "0008000000000000000000000000000000000000000000000000000000000000")
        << "the difficulty comes from the agent, not the client";

    auto answer = [&](const std::string& counter) {
        return send("POST", "/.well-known/bramblegate/answer", "x-vorn-scheme: https\r\n",
                    gateAnswerBody(*challenge, counter, "/owner/repo"));
    };
    auto wrong = answer(solveGateChallenge(*challenge, false));
    ASSERT_TRUE(wrong);
    EXPECT_EQ(wrong->status, 400);
    EXPECT_EQ(wrong->body, "bad request: wrong_answer\n");
    EXPECT_EQ(wrong->headers.count("set-cookie"), 0u);

    const std::string good = solveGateChallenge(*challenge);
    auto passed = answer(good);
    ASSERT_TRUE(passed);
    EXPECT_EQ(passed->status, 303);
    EXPECT_EQ(passed->headers["location"], "/owner/repo");
    EXPECT_TRUE(passed->headers["set-cookie"].starts_with("bramble_pass="));
    EXPECT_EQ(passed->headers["set-cookie"].find("Secure"), std::string::npos)
        << "plain HTTP, whatever the client said";

    auto replayed = answer(good);
    ASSERT_TRUE(replayed);
    EXPECT_EQ(replayed->status, 400);
    EXPECT_EQ(replayed->body, "bad request: replayed\n");
    EXPECT_EQ(replayed->headers.count("set-cookie"), 0u);

    const std::string metrics = gate().metrics();
    EXPECT_EQ(metricValue(metrics, "vorn_gate_refused_total{reason=\"wrong_answer\"}"), 1);
    EXPECT_EQ(metricValue(metrics, "vorn_gate_refused_total{reason=\"replayed\"}"), 1);
}

INSTANTIATE_TEST_SUITE_P(Debian, GateOnEverySeries, testing::ValuesIn(haproxySeries),
                         haproxyRowName);

}  // namespace
}  // namespace vorn::test
