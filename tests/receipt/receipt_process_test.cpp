// Pass receipts against the real daemon: each status in the ACK, the verdict
// line and the counters; revocation; every parking slot taken; reloads of
// the key file; the signature workers' threads.

#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <memory>
#include <string>
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

TEST_F(Receipts, WhenEveryParkingSlotIsTakenTheNextRequestIsOverload) {
    const std::string hold = files.file("hold");
    std::ofstream(hold) << "";
    // Each parked connection keeps a 64 KiB chunk for its reply: 1024 of
    // them need more than the default budget's 1024 chunks.
    start({"--challenge=on", "--verify-threads=1", "--conn-memory=512"},
          LaunchOptions{.environment = {"VORN_SPOA_TEST_HOLD_VERIFY=" + hold}});
    std::vector<SpopClient> parked;
    for (int i = 0; i < 1024; ++i) {
        auto client = agent->connect();
        ASSERT_TRUE(client && client->send(notify(1, 1, withToken(goodToken(jtiOf(i)))))) << i;
        parked.push_back(std::move(*client));
    }
    for (int i = 0; i < 500 && agent->metric("vorn_spoa_verify_pending") != 1024; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(agent->metric("vorn_spoa_verify_pending"), 1024);
    EXPECT_EQ(receiptOf(withToken(goodToken(jtiOf(1024)))), "overload");

    // A parked connection that closes gets nothing; the rest are answered.
    parked.front() = std::move(parked.back());
    parked.pop_back();
    ::unlink(hold.c_str());
    for (SpopClient& client : parked) {
        auto reply = client.receive(10s);
        ASSERT_TRUE(reply && reply->is(FrameType::Ack));
        EXPECT_EQ(reply->vars["vorn_receipt"], "valid");
    }
    for (int i = 0; i < 500 && agent->metric("vorn_spoa_verify_pending") != 0; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(agent->metric("vorn_spoa_verify_pending"), 0);
    EXPECT_EQ(agent->metric("vorn_spoa_receipts_total{status=\"valid\"}"), 1023);
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
