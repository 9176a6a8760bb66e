// Pass receipts against the real daemon: each status in the ACK, the verdict
// line and the counters; revocation; every parking slot taken and a flood of
// forged tokens, with signature checks held back; reloads of the key file;
// the signature workers' threads.

#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/log_line.hpp"
#include "support/running_agent.hpp"
#include "support/vorn_check.hpp"
#include "token/token_maker.hpp"

namespace vorn::test {
namespace {

using namespace std::chrono_literals;

std::int64_t nowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// A token for this forge from key k1 (seed 1), good for ten minutes.
std::string goodToken(std::string_view jti = defaultJti) {
    return mint(headerJson("k1"), payloadJson(VORN_SITE_DOMAIN, nowSeconds() + 600, jti));
}

VornCheck withToken(const std::string& token, VornCheck::Ip ip = Ipv4Bytes{192, 0, 2, 1}) {
    VornCheck check;
    check.ip = ip;
    check.path = "/o/r/commit/0123abc";
    check.headers = headerBlock({{"host", VORN_SITE_DOMAIN}, {"cookie", "bramble_pass=" + token}});
    return check;
}

std::string jtiOf(int n) {
    std::string hex = std::to_string(n);
    return std::string(32 - hex.size(), '0') + hex;
}

std::size_t threadsOf(pid_t pid) {
    std::size_t count = 0;
    if (DIR* tasks = ::opendir(("/proc/" + std::to_string(pid) + "/task").c_str())) {
        while (dirent* entry = ::readdir(tasks)) count += entry->d_name[0] != '.';
        ::closedir(tasks);
    }
    return count;
}

class Receipts : public testing::Test {
protected:
    TempDir files;
    std::string keyFile = files.file("keys");
    std::unique_ptr<RunningAgent> agent;

    void start(std::vector<std::string> options, LaunchOptions launch = {}) {
        std::ofstream(keyFile) << "# test key\nk1 " << publicKeyText(seedOf(1)) << "\n";
        options.insert(options.begin(), {"--receipt-keys=" + keyFile, "--log-verdicts=all"});
        agent = std::make_unique<RunningAgent>(options, launch);
        ASSERT_TRUE(agent->ready());
    }
    std::string receiptOf(const VornCheck& check) {
        auto client = agent->connect();
        if (!client) return "no connection";
        auto reply = client->decide(check);
        if (!reply) return "no reply";
        return reply->vars.count("vorn_receipt") ? reply->vars.at("vorn_receipt") : "";
    }
    void reloadWith(const std::string& text, std::string_view expectedLine) {
        std::ofstream(keyFile, std::ios::trunc) << text;
        agent->process().sendSignal(SIGHUP);
        EXPECT_TRUE(agent->process().waitForLine(expectedLine)) << agent->process().linesText();
    }
};

struct TokenCase {
    std::string name;
    std::string token;
    std::string status;
};

void PrintTo(const TokenCase& row, std::ostream* out) {
    *out << row.name;
}

class ReceiptStatuses : public Receipts, public testing::WithParamInterface<TokenCase> {};

TEST_P(ReceiptStatuses, ReachTheAckTheLineAndTheCounter) {
    start({"--challenge=shadow"});
    const TokenCase& row = GetParam();
    EXPECT_EQ(receiptOf(withToken(row.token)), row.status);
    EXPECT_TRUE(agent->process().waitForLine(" receipt=" + row.status))
        << agent->process().linesText();
    EXPECT_EQ(agent->metric("vorn_spoa_receipts_total{status=\"" + row.status + "\"}"), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Tokens, ReceiptStatuses,
    testing::Values(
        TokenCase{"Valid", goodToken(), "valid"},
        TokenCase{"Expired",
                  mint(headerJson("k1"), payloadJson(VORN_SITE_DOMAIN, nowSeconds() - 1)),
                  "expired"},
        TokenCase{"WrongHost",
                  mint(headerJson("k1"), payloadJson("elsewhere.example", nowSeconds() + 600)),
                  "wrong_host"},
        TokenCase{"Malformed", "a.b.c", "bad"},
        TokenCase{"UnknownKey",
                  mint(headerJson("k2"), payloadJson(VORN_SITE_DOMAIN, nowSeconds() + 600)), "bad"},
        TokenCase{"ForgedSignature",
                  mint(headerJson("k1"), payloadJson(VORN_SITE_DOMAIN, nowSeconds() + 600), 2),
                  "bad"}),
    [](const testing::TestParamInfo<TokenCase>& info) { return info.param.name; });

TEST_F(Receipts, AReceiptFromTooManyAddressesIsRevokedForGood) {
    start({"--challenge=on", "--receipt-max-ips=1"});
    const std::string token = goodToken();
    EXPECT_EQ(receiptOf(withToken(token, Ipv4Bytes{192, 0, 2, 1})), "valid");
    EXPECT_EQ(receiptOf(withToken(token, Ipv4Bytes{192, 0, 2, 2})), "revoked");
    EXPECT_EQ(receiptOf(withToken(token, Ipv4Bytes{192, 0, 2, 1})), "revoked");
    EXPECT_EQ(agent->metric("vorn_spoa_receipts_revoked_total"), 1);
    EXPECT_EQ(agent->metric("vorn_spoa_receipt_book_entries"), 1);
}

TEST_F(Receipts, AForgedSignatureIsCheckedOnceAndStaysBad) {
    start({"--challenge=on"});
    const std::string forged =
        mint(headerJson("k1"), payloadJson(VORN_SITE_DOMAIN, nowSeconds() + 600), 2);
    EXPECT_EQ(receiptOf(withToken(forged)), "bad");
    EXPECT_EQ(receiptOf(withToken(forged)), "bad");
    EXPECT_EQ(agent->metric("vorn_spoa_notify_seconds_count{path=\"verify\"}"), 1)
        << "only the first request waited for a signature check";
}

// Requests whose signature checks are held back, one per connection, until
// `parked` of them wait.
class HeldChecks : public Receipts {
protected:
    const std::string holdFile = files.file("hold");
    std::vector<SpopClient> clients;

    void startHolding(std::vector<std::string> options) {
        std::ofstream(holdFile) << "";
        start(options, LaunchOptions{.environment = {"LD_PRELOAD=" VORN_HOLD_SIGNATURE_CHECKS,
                                                     "VORN_TEST_HOLD_FILE=" + holdFile}});
    }
    void send(const std::string& token) {
        auto client = agent->connect();
        ASSERT_TRUE(client && client->send(notify(1, 1, withToken(token))));
        clients.push_back(std::move(*client));
    }
    bool waitParked(double parked) {
        for (int i = 0; i < 500 && agent->metric("vorn_spoa_verify_pending") != parked; ++i) {
            std::this_thread::sleep_for(10ms);
        }
        return agent->metric("vorn_spoa_verify_pending") == parked;
    }
    std::string answerOf(SpopClient& client) {
        auto reply = client.receive(10s);
        if (!reply || !reply->is(FrameType::Ack)) return "no ACK";
        return reply->vars["vorn_receipt"];
    }
};

TEST_F(HeldChecks, EverySlotParksAtTheDefaultBudgetAndTheRestIsStillAnswered) {
    startHolding({"--challenge=on", "--verify-threads=1"});
    for (int i = 0; i < 1024; ++i) send(goodToken(jtiOf(i)));
    ASSERT_TRUE(waitParked(1024));
    EXPECT_EQ(receiptOf(withToken(goodToken(jtiOf(1024)))), "overload");
    VornCheck noCookie = withToken("");
    noCookie.headers = headerBlock({{"host", VORN_SITE_DOMAIN}});
    EXPECT_EQ(receiptOf(noCookie), "") << "answered, no receipt looked at";

    // A parked connection that closes gets nothing; the rest are answered.
    clients.front() = std::move(clients.back());
    clients.pop_back();
    ::unlink(holdFile.c_str());
    for (SpopClient& client : clients) ASSERT_EQ(answerOf(client), "valid");
    EXPECT_TRUE(waitParked(0));
    EXPECT_EQ(agent->metric("vorn_spoa_receipts_total{status=\"valid\"}"), 1023);
}

// Tokens that are never checked leave nothing behind, so that no flood can
// fill the book; each checked forgery takes one entry, and a fresh receipt
// is good right after.
TEST_F(HeldChecks, AFloodOfForgedTokensLeavesOnlyWhatWasChecked) {
    startHolding({"--challenge=on", "--verify-threads=1"});
    auto forged = [](int n) {
        return mint(headerJson("k1"), payloadJson(VORN_SITE_DOMAIN, 4'000'000'000, jtiOf(n)), 2);
    };
    for (int i = 0; i < 1100; ++i) send(forged(i));
    ASSERT_TRUE(waitParked(1024));
    for (std::size_t i = 1024; i < clients.size(); ++i) EXPECT_EQ(answerOf(clients[i]), "overload");
    EXPECT_EQ(agent->metric("vorn_spoa_receipt_book_entries"), 0);
    ::unlink(holdFile.c_str());
    for (std::size_t i = 0; i < 1024; ++i) ASSERT_EQ(answerOf(clients[i]), "bad") << i;
    EXPECT_EQ(agent->metric("vorn_spoa_receipt_book_entries"), 1024);
    EXPECT_EQ(receiptOf(withToken(goodToken(jtiOf(5000)))), "valid");
}

// A check made with a key that its id no longer names counts for nothing:
// a reload that replaces the key makes a known receipt bad, and so it does
// for one whose check was out during the reload.
TEST_F(HeldChecks, AReplacedKeyUndoesTheOldCheck) {
    startHolding({"--challenge=on"});
    ::unlink(holdFile.c_str());
    const std::string known = goodToken(jtiOf(1));
    EXPECT_EQ(receiptOf(withToken(known)), "valid");
    std::ofstream(holdFile) << "";
    send(goodToken(jtiOf(2)));
    ASSERT_TRUE(waitParked(1));
    reloadWith("k1 " + publicKeyText(seedOf(2)) + "\n", "SIGHUP: 1 receipt key(s)");
    ::unlink(holdFile.c_str());
    EXPECT_EQ(answerOf(clients.front()), "bad");
    EXPECT_EQ(receiptOf(withToken(known)), "bad");
    EXPECT_EQ(
        receiptOf(withToken(mint(headerJson("k1"),
                                 payloadJson(VORN_SITE_DOMAIN, nowSeconds() + 600, jtiOf(3)), 2))),
        "valid");
}

TEST_F(Receipts, AReloadKeepsTheKeysOnABadFileAndDropsThemOnAnEmptyOne) {
    start({"--challenge=on"});
    const std::string token = goodToken();
    reloadWith("k1 not-a-key\n",
               "SIGHUP: receipt keys " + keyFile + ": BadKeyLine; keeping 1 key(s)");
    EXPECT_EQ(agent->metric("vorn_spoa_receipt_keys"), 1);
    EXPECT_EQ(receiptOf(withToken(token)), "valid");

    reloadWith("", "SIGHUP: 0 receipt key(s) from " + keyFile);
    EXPECT_TRUE(agent->process().waitForLine("--challenge=on without receipt keys"));
    EXPECT_EQ(agent->metric("vorn_spoa_receipt_keys"), 0);
    EXPECT_EQ(receiptOf(withToken(token)), "bad");
    EXPECT_EQ(agent->metric("vorn_spoa_reloads_total"), 3);
}

TEST_F(Receipts, SignatureWorkersRunOnlyWhenChallengesAreNotOff) {
    start({"--challenge=shadow", "--verify-threads=3"});
    EXPECT_EQ(threadsOf(agent->process().pid()), 5u) << "loop, log writer and three workers";
    RunningAgent off({"--challenge=off"});
    ASSERT_TRUE(off.ready());
    EXPECT_EQ(threadsOf(off.process().pid()), 2u) << "loop and log writer";
}

}  // namespace
}  // namespace vorn::test
