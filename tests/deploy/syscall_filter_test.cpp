// The daemon and the gate under the system-call filters of their systemd
// units, without systemd: the SystemCallFilter= lines of
// deploy/systemd/vorn-spoa.service (vorn-gate.service) are expanded with
// systemd-analyze exactly as systemd reads them (the first line is an
// allow-list that also takes in @default, a "~" line takes its calls out
// again), and syscall_filter_exec loads that list with the unit's action,
// killing the process on any other call, before it starts the program. The
// daemon then starts its threads, answers SPOP, serves its page and reloads
// on SIGHUP; the gate serves a challenge, takes its answer, serves its page
// and reloads its key; and both must still be running.

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/command.hpp"
#include "support/daemon_process.hpp"
#include "support/running_agent.hpp"
#include "support/running_gate.hpp"
#include "support/temp_dir.hpp"
#include "support/vorn_check.hpp"

namespace vorn::test {
namespace {

using namespace std::chrono_literals;

std::vector<std::string> words(std::string_view text) {
    std::istringstream in{std::string(text)};
    std::vector<std::string> found;
    for (std::string word; in >> word;) found.push_back(word);
    return found;
}

// The system calls of a group, its nested groups expanded; a plain name is
// itself. Empty (and a test failure) when systemd-analyze does not know it.
std::set<std::string> expand(const std::string& entry) {
    if (!entry.starts_with("@")) return {entry};
    auto listed = runCommand({"systemd-analyze", "syscall-filter", "--no-pager", entry});
    EXPECT_TRUE(listed && listed->status == 0) << "systemd-analyze syscall-filter " << entry;
    std::set<std::string> calls;
    if (!listed) return calls;
    std::istringstream lines(listed->output);
    std::string line;
    std::getline(lines, line);  // the group's own name
    while (std::getline(lines, line)) {
        auto item = words(line);
        if (item.empty() || item[0].starts_with("#")) continue;
        calls.merge(expand(item[0]));
    }
    return calls;
}

// The allow-list the unit's SystemCallFilter= lines give, as systemd builds
// it; false when they do not make an allow-list.
bool unitAllowList(const std::string& unitPath, std::set<std::string>& allowed) {
    std::ifstream unit(unitPath);
    std::string line;
    bool first = true;
    while (std::getline(unit, line)) {
        const std::string key = "SystemCallFilter=";
        if (!line.starts_with(key)) continue;
        std::string value = line.substr(key.size());
        const bool removes = value.starts_with("~");
        if (removes) value.erase(0, 1);
        if (first) {
            if (removes) return false;  // a deny-list: not what the unit promises
            allowed = expand("@default");
            first = false;
        }
        for (const std::string& entry : words(value)) {
            for (const std::string& call : expand(entry)) {
                if (removes) {
                    allowed.erase(call);
                } else {
                    allowed.insert(call);
                }
            }
        }
    }
    return !first;
}

class UnitSyscallFilter : public testing::Test {
protected:
    explicit UnitSyscallFilter(std::string unitFile = VORN_UNIT_FILE)
        : unitFile_(std::move(unitFile)) {}

    void SetUp() override {
#ifndef VORN_SYSCALL_FILTER_EXEC
        GTEST_SKIP() << "built without libseccomp (Linux only): the filter cannot be applied";
#else
        auto found = runCommand({"sh", "-c", "command -v systemd-analyze"});
        if (!found || found->status != 0) {
            GTEST_SKIP() << "systemd-analyze is not installed: the unit's groups cannot be read";
        }
        ASSERT_TRUE(unitAllowList(unitFile_, allowed))
            << unitFile_ << " has no SystemCallFilter= allow-list";
        ASSERT_GT(allowed.size(), 50u);
#endif
    }

    // The list in a file and the command that runs the daemon under it.
    LaunchOptions underFilter(const std::set<std::string>& calls) {
        std::ofstream list(directory.file("allowed"));
        for (const std::string& call : calls) list << call << '\n';
        LaunchOptions options;
#ifdef VORN_SYSCALL_FILTER_EXEC
        options.prefix = {VORN_SYSCALL_FILTER_EXEC, directory.file("allowed")};
#endif
        return options;
    }

    std::string unitFile_;
    std::set<std::string> allowed;
    TempDir directory;
};

TEST_F(UnitSyscallFilter, TheDaemonSurvivesItsUnitsFilter) {
    // Shadow mode starts the verification threads; every verdict is logged.
    RunningAgent agent({"--challenge=shadow", "--verify-threads=2", "--log-verdicts=all"},
                       underFilter(allowed));
    ASSERT_TRUE(agent.ready()) << agent.process().linesText();
    auto client = agent.connect();
    ASSERT_TRUE(client);
    ASSERT_TRUE(client->hello());
    for (const char* path : {"/", "/o/r/commit/0123abc", "/o/r/commit/0123456789abcdef0123",
                             "/.well-known/bramblegate/?return=/"}) {
        VornCheck check;
        check.path = path;
        check.backlog = std::int64_t{20};
        auto reply = client->decide(check);
        ASSERT_TRUE(reply) << path;
        EXPECT_FALSE(reply->vars["vorn_verdict"].empty()) << path;
    }
    EXPECT_EQ(agent.metric("vorn_spoa_reloads_total"), 1);
    ASSERT_TRUE(agent.process().sendSignal(SIGHUP));
    for (int i = 0; i < 50 && agent.metric("vorn_spoa_reloads_total") != 2; ++i) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(agent.metric("vorn_spoa_reloads_total"), 2);
    EXPECT_TRUE(agent.process().waitForLine(" event=verdict "));
    auto second = agent.connect();
    ASSERT_TRUE(second && second->hello());
    EXPECT_EQ(agent.metric("vorn_spoa_level"), 2);
    EXPECT_FALSE(agent.process().waitExit(300ms).has_value())
        << "the daemon ended under the filter:\n"
        << agent.process().linesText();
}

TEST_F(UnitSyscallFilter, ReceiptsAreCheckedUnderTheFilter) {
    // Challenges on: the key file is read at start and on SIGHUP, and the
    // verification threads check a receipt's signature.
    auto keygen = runCommand({VORN_RECEIPT_TOOL, "keygen", "k1", "--out", directory.file("k1.key")});
    ASSERT_TRUE(keygen && keygen->status == 0);
    std::ofstream(directory.file("keys")) << keygen->output;
    auto minted = runCommand({VORN_RECEIPT_TOOL, "mint", "--key", directory.file("k1.key"),
                              "--kid", "k1", "--aud", VORN_SITE_DOMAIN, "--ttl", "600"});
    ASSERT_TRUE(minted && minted->status == 0);
    std::string token = minted->output;
    while (!token.empty() && token.back() == '\n') token.pop_back();

    RunningAgent agent({"--challenge=on", "--receipt-keys=" + directory.file("keys")},
                       underFilter(allowed));
    ASSERT_TRUE(agent.ready()) << agent.process().linesText();
    EXPECT_EQ(agent.metric("vorn_spoa_receipt_keys"), 1);
    auto client = agent.connect();
    ASSERT_TRUE(client && client->hello());
    VornCheck commit;
    commit.path = "/o/r/commit/0123abc";
    auto challenged = client->decide(commit);
    ASSERT_TRUE(challenged);
    EXPECT_EQ(challenged->vars["vorn_verdict"], "challenge");
    commit.headers = headerBlock({{"host", VORN_SITE_DOMAIN}, {"cookie", "bramble_pass=" + token}});
    auto passed = client->decide(commit);
    ASSERT_TRUE(passed);
    EXPECT_EQ(passed->vars["vorn_verdict"], "pass");
    EXPECT_EQ(passed->vars["vorn_receipt"], "valid");
    ASSERT_TRUE(agent.process().sendSignal(SIGHUP));
    EXPECT_TRUE(agent.process().waitForLine("SIGHUP: 1 receipt key(s) from "));
    EXPECT_FALSE(agent.process().waitExit(300ms).has_value())
        << "the daemon ended under the filter:\n"
        << agent.process().linesText();
}

TEST_F(UnitSyscallFilter, TheFilterIsInForce) {
    // Without the calls its event loop waits with, the daemon is killed by
    // SIGSYS: the list is applied, not just read.
    std::set<std::string> fewer = allowed;
    for (const char* call : {"epoll_wait", "epoll_pwait", "epoll_pwait2"}) fewer.erase(call);
    DaemonProcess daemon({"--socket=" + directory.file("s.sock"), "--metrics=off"},
                         underFilter(fewer));
    auto status = daemon.waitExit(10s);
    ASSERT_TRUE(status.has_value()) << daemon.linesText();
    EXPECT_EQ(*status, 128 + SIGSYS) << daemon.linesText();
}

class GateUnitSyscallFilter : public UnitSyscallFilter {
protected:
    GateUnitSyscallFilter() : UnitSyscallFilter(VORN_GATE_UNIT_FILE) {}
};

TEST_F(GateUnitSyscallFilter, TheGateSurvivesItsUnitsFilter) {
    RunningGate gate({"--max-connections=4"}, "k1", underFilter(allowed));
    ASSERT_TRUE(gate.ready()) << gate.process().linesText();
    auto page = gate.send("GET", "/.well-known/bramblegate/?return=%2F",
                          "x-vorn-client: 192.0.2.1\r\nx-vorn-difficulty: 0.00048828125\r\n");
    ASSERT_TRUE(page);
    auto challenge = readGateChallenge(page->body);
    ASSERT_TRUE(challenge) << page->body;
    auto passed = gate.send("POST", "/.well-known/bramblegate/answer",
                            "x-vorn-client: 192.0.2.1\r\n",
                            gateAnswerBody(*challenge, solveGateChallenge(*challenge)));
    ASSERT_TRUE(passed);
    EXPECT_EQ(passed->status, 303);
    EXPECT_NE(gate.metrics().find("vorn_gate_answers_good_total 1\n"), std::string::npos);
    ASSERT_TRUE(gate.process().sendSignal(SIGHUP));
    EXPECT_TRUE(gate.process().waitForLine("SIGHUP: key k1 from ")) << gate.process().linesText();
    EXPECT_TRUE(gate.process().waitForLine("event=answer ip=192.0.2.1 outcome=pass"));
    EXPECT_FALSE(gate.process().waitExit(300ms).has_value())
        << "the gate ended under the filter:\n"
        << gate.process().linesText();
}

}  // namespace
}  // namespace vorn::test
