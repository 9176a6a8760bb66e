// The whole chain on loopback: HAProxy with the example configuration, the
// agent with challenges on, and vorn-gate with a key made by vorn-receipt.
// Headless Chromium meets the challenge, solves it and comes back with the
// receipt; a client that answers wrongly or twice gets no cookie. Once per
// HAProxy series Debian ships.

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "receipt/token_signer.hpp"
#include "support/command.hpp"
#include "support/daemon_process.hpp"
#include "support/free_tcp_port.hpp"
#include "support/haproxy_program.hpp"
#include "support/headless_browser.hpp"
#include "support/http_client.hpp"
#include "support/running_agent.hpp"
#include "support/temp_dir.hpp"
#include "work_threshold.hpp"

namespace vorn::test {
namespace {

using namespace std::chrono_literals;

const std::string challengedPath = "/owner/repo/commit/0123abc";

class GateBehindHaproxy : public testing::TestWithParam<std::string_view> {
protected:
    void SetUp() override {
        const HaproxyProgram& program = findHaproxy(GetParam());
        if (program.path.empty()) GTEST_SKIP() << program.missing;
        auto keygen =
            runCommand({VORN_RECEIPT_TOOL, "keygen", "k1", "--out", files.file("k1.key")});
        ASSERT_TRUE(keygen && keygen->status == 0);
        std::ofstream(files.file("keys")) << keygen->output;
        agent = std::make_unique<RunningAgent>(std::vector<std::string>{
            "--log-verdicts=all", "--challenge=on", "--receipt-keys=" + files.file("keys")});
        ASSERT_TRUE(agent->ready());

        const std::string gateAddress = "127.0.0.1:" + std::to_string(freeTcpPort());
        gateMetricsPort = freeTcpPort();
        gate = std::make_unique<DaemonProcess>(
            std::vector<std::string>{"--key=" + files.file("k1.key"), "--listen=" + gateAddress,
                                     "--metrics=127.0.0.1:" + std::to_string(gateMetricsPort)},
            LaunchOptions{.program = VORN_GATE_BINARY});
        ASSERT_TRUE(gate->waitForLine("vorn-gate: key k1")) << gate->linesText();

        httpPort = freeTcpPort();
        const std::string http = "127.0.0.1:" + std::to_string(httpPort);
        LaunchOptions options{
            .environment = {"VORN_SPOA_SOCK=" + agent->socketPath(), "VORN_HTTP_ADDR=" + http,
                            "VORN_HTTP_ADDR6=" + http,
                            "VORN_FORGE_ADDR=127.0.0.1:" + std::to_string(freeTcpPort()),
                            "VORN_GATE_ADDR=" + gateAddress},
            .prefix = {"sh", "-c", "exec \"$0\" \"$@\" >/dev/null"},
            .program = program.path};
        haproxy = std::make_unique<DaemonProcess>(
            std::vector<std::string>{"-f", VORN_SOURCE_DIR "/deploy/haproxy/haproxy.cfg", "-db"},
            options);
        ASSERT_TRUE(haproxy->waitForLine("Layer7 check passed", 10s)) << haproxy->linesText();
    }

    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(httpPort) + path;
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

    std::string gateMetrics() {
        auto page = httpGet(gateMetricsPort, "/metrics");
        return page ? page->body : "";
    }

    TempDir files;
    std::unique_ptr<RunningAgent> agent;
    std::unique_ptr<DaemonProcess> gate;
    std::unique_ptr<DaemonProcess> haproxy;
    std::uint16_t httpPort = 0;
    std::uint16_t gateMetricsPort = 0;
};

TEST_P(GateBehindHaproxy, ChromiumSolvesTheChallengeAndPassesWithItsReceipt) {
    if (::access(chromiumPath.data(), X_OK) != 0) GTEST_SKIP() << "chromium is not installed";
    HeadlessBrowser browser;
    if (!browser.failure().empty()) GTEST_SKIP() << "Chromium cannot start: " << browser.failure();
    auto session = browser.openPage();
    ASSERT_TRUE(session);
    ASSERT_TRUE(browser.call("Page.navigate",
                             "{\"url\":" + vorn::jsonString(url(challengedPath)) + "}", *session));

    // The page works, posts its answer and is sent back to the commit page,
    // which the forge stand-in answers with the headers HAProxy added.
    std::string text;
    Deadline deadline(30s);
    while (!deadline.passed() && text.find("forge stand-in") == std::string::npos) {
        std::this_thread::sleep_for(200ms);
        text = browser.evaluate(*session, "location.pathname + ' ' + document.body.innerText")
                   .value_or("");
    }
    EXPECT_NE(text.find(challengedPath + " forge stand-in: GET " + challengedPath),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("x-vorn-verdict=pass x-vorn-receipt=valid"), std::string::npos) << text;
    EXPECT_TRUE(agent->process().waitForLine([](std::string_view line) {
        return line.find(" verdict=pass reason=receipt ") != std::string_view::npos &&
               line.find(" receipt=valid") != std::string_view::npos;
    })) << agent->process().linesText();

    auto cookies = browser.call("Network.getCookies",
                                "{\"urls\":[" + vorn::jsonString(url("/")) + "]}", *session);
    ASSERT_TRUE(cookies);
    EXPECT_NE(cookies->find("\"name\":\"bramble_pass\""), std::string::npos) << *cookies;
    EXPECT_NE(cookies->find("\"httpOnly\":true"), std::string::npos) << *cookies;
    EXPECT_NE(cookies->find("\"secure\":true"), std::string::npos) << *cookies;
    EXPECT_NE(cookies->find("\"sameSite\":\"Lax\""), std::string::npos) << *cookies;
    EXPECT_NE(gateMetrics().find("vorn_gate_answers_good_total 1\n"), std::string::npos);
}

// The nonce and bound from a challenge page.
struct Challenge {
    std::string nonce;
    gate::Number256 bound{};
};

std::optional<Challenge> readChallenge(const std::string& page) {
    auto attribute = [&](const std::string& name) -> std::string {
        const std::string key = "data-" + name + "=\"";
        const std::size_t start = page.find(key);
        if (start == std::string::npos) return "";
        const std::size_t from = start + key.size();
        return page.substr(from, page.find('"', from) - from);
    };
    Challenge challenge{.nonce = attribute("nonce")};
    const std::string bound = attribute("bound");
    if (challenge.nonce.empty() || bound.size() != 64) return std::nullopt;
    for (std::size_t i = 0; i < 32; ++i) {
        challenge.bound[i] = static_cast<std::byte>(std::stoi(bound.substr(2 * i, 2), nullptr, 16));
    }
    return challenge;
}

// The first counter from 0 that meets (or, with `meets` false, misses) the
// bound.
std::string counterThat(bool meets, const Challenge& challenge) {
    for (unsigned long counter = 0;; ++counter) {
        const std::string text = std::to_string(counter);
        if (gate::belowBound(gate::workDigest(challenge.nonce, text), challenge.bound) == meets) {
            return text;
        }
    }
}

TEST_P(GateBehindHaproxy, WrongAndReplayedAnswersGetNoCookie) {
    // A forged client address is dropped by HAProxy: the nonce is bound to
    // the real one, so the answers below, sent without it, are checked
    // against the same address.
    auto page = send("GET", "/.well-known/bramblegate/?return=%2Fowner%2Frepo",
                     "x-vorn-client: 192.0.2.7\r\nx-vorn-difficulty: 0.5\r\n");
    ASSERT_TRUE(page);
    ASSERT_EQ(page->status, 200) << page->body;
    auto challenge = readChallenge(page->body);
    ASSERT_TRUE(challenge);
    EXPECT_EQ(gate::hexText(challenge->bound), gate::hexText(gate::workBound(0x1p-13)))
        << "the difficulty comes from the agent, not the client";

    auto answer = [&](const std::string& counter) {
        return send(
            "POST", "/.well-known/bramblegate/answer", "",
            "nonce=" + challenge->nonce + "&counter=" + counter + "&return=%2Fowner%2Frepo");
    };
    auto wrong = answer(counterThat(false, *challenge));
    ASSERT_TRUE(wrong);
    EXPECT_EQ(wrong->status, 400);
    EXPECT_EQ(wrong->body, "bad request: wrong_answer\n");
    EXPECT_EQ(wrong->headers.count("set-cookie"), 0u);

    const std::string good = counterThat(true, *challenge);
    auto passed = answer(good);
    ASSERT_TRUE(passed);
    EXPECT_EQ(passed->status, 303);
    EXPECT_EQ(passed->headers["location"], "/owner/repo");
    EXPECT_TRUE(passed->headers["set-cookie"].starts_with("bramble_pass="));

    auto replayed = answer(good);
    ASSERT_TRUE(replayed);
    EXPECT_EQ(replayed->status, 400);
    EXPECT_EQ(replayed->body, "bad request: replayed\n");
    EXPECT_EQ(replayed->headers.count("set-cookie"), 0u);

    const std::string metrics = gateMetrics();
    EXPECT_NE(metrics.find("vorn_gate_refused_total{reason=\"wrong_answer\"} 1\n"),
              std::string::npos);
    EXPECT_NE(metrics.find("vorn_gate_refused_total{reason=\"replayed\"} 1\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Debian, GateBehindHaproxy, testing::ValuesIn(haproxySeries),
                         haproxyRowName);

}  // namespace
}  // namespace vorn::test
