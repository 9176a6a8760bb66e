// The real vorn-gate on free ports, spoken to as HAProxy would: what it
// does on SIGHUP and SIGTERM, how its replay table fills from many
// addresses, and how one address is limited when its pages are issued.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "support/command.hpp"
#include "support/deadline.hpp"
#include "support/log_line.hpp"
#include "support/metrics_page.hpp"
#include "support/running_gate.hpp"
#include "support/temp_dir.hpp"

namespace vorn::test {
namespace {

using namespace std::chrono_literals;

// The easiest difficulty the agent asks for: about 2048 tries an answer.
const std::string easy = "x-vorn-difficulty: 0.00048828125\r\n";

std::string from(const std::string& client) {
    return "x-vorn-client: " + client + "\r\n";
}

std::optional<GateChallenge> pageFor(const RunningGate& gate, const std::string& client,
                                     int* status = nullptr) {
    auto page = gate.send("GET", "/.well-known/bramblegate/?return=%2Fo", from(client) + easy);
    if (status) *status = page ? page->status : 0;
    return page ? readGateChallenge(page->body) : std::nullopt;
}

std::optional<HttpResponse> answerAs(const RunningGate& gate, const std::string& client,
                                     const GateChallenge& challenge) {
    return gate.send("POST", "/.well-known/bramblegate/answer",
                     from(client) + "Content-Type: application/x-www-form-urlencoded\r\n",
                     gateAnswerBody(challenge, solveGateChallenge(challenge), "/o"));
}

// The reply to a good answer to a fresh page for `client`.
std::optional<HttpResponse> passAs(const RunningGate& gate, const std::string& client) {
    auto challenge = pageFor(gate, client);
    EXPECT_TRUE(challenge) << client;
    return challenge ? answerAs(gate, client, *challenge) : std::nullopt;
}

// What the operator's tool makes of the receipt in `cookie` with `keyLine`.
std::string toolCheck(const TempDir& files, const std::string& keyLine, const std::string& cookie) {
    std::ofstream(files.file("keys")) << keyLine;
    const std::string token =
        cookie.substr(cookie.find('=') + 1, cookie.find(';') - cookie.find('=') - 1);
    auto check = runCommand({VORN_RECEIPT_TOOL, "check", "--keys", files.file("keys"), "--host",
                             "forge.example", token});
    return check ? check->output : "";
}

// Keys made by vorn-receipt keygen: the tool's own check accepts what the
// gate signs with them.
TEST(GateProcess, SighupReadsTheKeyAgainAndKeepsItWhenTheFileIsBad) {
    RunningGate gate;
    ASSERT_TRUE(gate.ready());
    TempDir files;
    auto next = makeGateKey(files.file("k2.key"), "k2");
    ASSERT_TRUE(next);
    ASSERT_EQ(std::rename(files.file("k2.key").c_str(), gate.keyFile().c_str()), 0);
    ASSERT_TRUE(gate.process().sendSignal(SIGHUP));
    ASSERT_TRUE(gate.process().waitForLine("msg=\"SIGHUP: key k2 from " + gate.keyFile() + "\""))
        << gate.process().linesText();
    auto passed = passAs(gate, "192.0.2.1");
    ASSERT_TRUE(passed && passed->status == 303);
    EXPECT_EQ(toolCheck(files, *next, passed->headers["set-cookie"]), "valid\n");

    // A file that is not a key is refused; k2 stays and still signs.
    std::ofstream(gate.keyFile()) << "not a key\n";
    ASSERT_TRUE(gate.process().sendSignal(SIGHUP));
    ASSERT_TRUE(gate.process().waitForLine("level=warning")) << gate.process().linesText();
    EXPECT_TRUE(gate.process().waitForLine("; keeping key k2\"")) << gate.process().linesText();
    passed = passAs(gate, "192.0.2.2");
    ASSERT_TRUE(passed && passed->status == 303);
    EXPECT_EQ(toolCheck(files, *next, passed->headers["set-cookie"]), "valid\n");
    const std::string page = gate.metrics();
    EXPECT_EQ(metricValue(page, "vorn_gate_reloads_total{result=\"loaded\"}"), 1);
    EXPECT_EQ(metricValue(page, "vorn_gate_reloads_total{result=\"failed\"}"), 1);

    ASSERT_TRUE(gate.process().sendSignal(SIGTERM));
    EXPECT_EQ(gate.process().waitExit(), 128 + SIGTERM);
}

TEST(GateProcess, BadOptionsEndTheRunWithTheirReason) {
    for (const auto& [option, reason] : std::vector<std::pair<std::string, std::string>>{
             {"--nonce-ttl=5", "--nonce-ttl takes a whole number from 10 to 3600"},
             {"--site-name=a\tb", "--site-name takes at most 100 bytes of printable text"},
             {"--key=/nonexistent/k.key", "--key=/nonexistent/k.key: cannot read key file"},
             {"--frobnicate=1", "unknown option --frobnicate"}}) {
        DaemonProcess gate({option}, LaunchOptions{.program = VORN_GATE_BINARY});
        EXPECT_EQ(gate.waitExit(), 1) << option;
        const auto lines = gate.lines();
        ASSERT_GE(lines.size(), 2u) << gate.linesText();
        EXPECT_NE(lines[lines.size() - 2].find(reason), std::string::npos) << gate.linesText();
        EXPECT_EQ(lines.back().substr(lines.back().find(" level=")),
                  " level=error msg=InvalidArgument");
    }
}

// 1,024 entries and nonces that live 10 seconds: a good answer from each
// of 1,024 addresses fills the table and every one is accepted; the next
// is refused only while all of them can still be answered, and accepted as
// soon as the first have expired.
TEST(GateProcess, ItsReplayTableTakesEveryGoodAnswerUntilItIsFullOfLiveOnes) {
    RunningGate gate({"--replay-entries=1024", "--nonce-ttl=10", "--max-connections=8"});
    ASSERT_TRUE(gate.ready());
    const auto started = std::chrono::steady_clock::now();
    int accepted = 0;
    for (int i = 0; i < 1024; ++i) {
        const std::string client =
            "10.1." + std::to_string(i / 256) + "." + std::to_string(i % 256);
        auto passed = passAs(gate, client);
        ASSERT_TRUE(passed);
        if (passed->status == 303) ++accepted;
    }
    EXPECT_EQ(accepted, 1024);
    const auto filled = std::chrono::steady_clock::now() - started;
    auto refused = passAs(gate, "10.9.9.9");
    ASSERT_TRUE(refused);
    if (std::chrono::steady_clock::now() - started < 9s) {
        EXPECT_EQ(refused->status, 400);
        EXPECT_EQ(refused->body, "bad request: replay_set_full\n");
    }
    EXPECT_EQ(metricValue(gate.metrics(), "vorn_gate_replay_entries"), 1024);

    // The first answers' nonces expire 10 seconds after their pages.
    std::this_thread::sleep_until(started + 11s);
    auto later = passAs(gate, "10.9.9.10");
    ASSERT_TRUE(later);
    EXPECT_EQ(later->status, 303)
        << later->body << " (the table filled in "
        << std::chrono::duration_cast<std::chrono::milliseconds>(filled).count() << " ms)";
}

// Eight challenges for one address, then a 429 before any work is asked
// for, logged and counted; an answer to one of the eight still counts.
// Other addresses, and answers closing challenges, are left to the unit tests.
TEST(GateProcess, OneAddressIsLimitedWhenItsPagesAreIssued) {
    RunningGate gate({"--challenges-per-client=8"});
    ASSERT_TRUE(gate.ready());
    std::vector<GateChallenge> open;
    for (int i = 0; i < 8; ++i) {
        auto challenge = pageFor(gate, "198.51.100.7");
        ASSERT_TRUE(challenge) << "page " << i;
        open.push_back(*challenge);
    }
    int status = 0;
    EXPECT_FALSE(pageFor(gate, "198.51.100.7", &status));
    EXPECT_EQ(status, 429);
    auto passed = answerAs(gate, "198.51.100.7", open.front());
    ASSERT_TRUE(passed);
    EXPECT_EQ(passed->status, 303) << "the limit is not applied to answers";
    EXPECT_TRUE(gate.process().waitForLine(
        "event=challenge ip=198.51.100.7 outcome=refused reason=too_many_challenges"))
        << gate.process().linesText();
    EXPECT_TRUE(gate.process().waitForLine("event=answer ip=198.51.100.7 outcome=pass solve_ms="))
        << gate.process().linesText();
    EXPECT_EQ(
        metricValue(gate.metrics(), "vorn_gate_refused_total{reason=\"too_many_challenges\"}"), 1);
}

}  // namespace
}  // namespace vorn::test
