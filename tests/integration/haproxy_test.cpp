// A real HAProxy with the example configuration in front of the real agent
// (and a real vorn-gate behind its bramblegate backend), driven with curl: HAProxy's HELLO and
// health check are accepted, NOTIFYs are answered, the verdicts arrive as response headers, and the
// site stays reachable when the agent is gone (fail-open). Every test runs once per HAProxy series
// Debian ships, with the same configuration.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/command.hpp"
#include "support/curl_fetch.hpp"
#include "support/daemon_process.hpp"
#include "support/free_tcp_port.hpp"
#include "support/haproxy_program.hpp"
#include "support/log_line.hpp"
#include "support/running_agent.hpp"
#include "support/running_gate.hpp"
#include "support/temp_dir.hpp"

namespace vorn::test {
namespace {

using namespace std::chrono_literals;

bool ipv6Loopback() {
    int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return bound;
}

class BehindHaproxy : public testing::TestWithParam<std::string_view> {
protected:
    void SetUp() override {
        const HaproxyProgram& program = findHaproxy(GetParam());
        if (program.path.empty()) GTEST_SKIP() << program.missing;
        agent = std::make_unique<RunningAgent>(agentArguments());
        ASSERT_TRUE(agent->ready());
        gate = std::make_unique<RunningGate>();
        ASSERT_TRUE(gate->ready());
        hasIpv6 = ipv6Loopback();
        httpPort = freeTcpPort();
        std::string http = "127.0.0.1:" + std::to_string(httpPort);
        std::string http6 = hasIpv6 ? "[::1]:" + std::to_string(httpPort) : http;
        LaunchOptions options;
        options.program = program.path;
        // HAProxy writes its traffic log to standard output.
        options.prefix = {"sh", "-c", "exec \"$0\" \"$@\" >/dev/null"};
        options.environment = {"VORN_SPOA_SOCK=" + agent->socketPath(), "VORN_HTTP_ADDR=" + http,
                               "VORN_HTTP_ADDR6=" + http6,
                               "VORN_FORGE_ADDR=127.0.0.1:" + std::to_string(freeTcpPort()),
                               "VORN_GATE_ADDR=" + gate->address(),
                               // The load below comes from one address.
                               "VORN_SRC_CONN_MAX=100000", "VORN_SRC_CONN_RATE_MAX=100000",
                               "VORN_SRC_REQ_RATE_MAX=100000"};
        haproxy = std::make_unique<DaemonProcess>(
            std::vector<std::string>{"-f", configFolder() + "/haproxy.cfg", "-db"}, options);
        ASSERT_TRUE(haproxy->waitForLine("server vorn-spoa/vorn-spoa succeeded", 10s))
            << haproxy->linesText();
        ASSERT_TRUE(haproxy->waitForLine("server bramblegate/gate1 succeeded", 10s))
            << haproxy->linesText();
    }

    virtual std::vector<std::string> agentArguments() { return {"--log-verdicts=all"}; }
    // Where haproxy.cfg and the files it names are.
    virtual std::string configFolder() { return VORN_SOURCE_DIR "/deploy/haproxy"; }

    // A GET through HAProxy, from the loopback address `source` when given.
    Fetched get(const std::string& host, const std::string& path,
                const std::vector<std::string>& headers = {}, const std::string& source = {}) {
        std::vector<std::string> extra = {"-o", "/dev/null"};
        if (!source.empty()) extra.insert(extra.end(), {"--interface", source});
        for (const std::string& header : headers) extra.insert(extra.end(), {"-H", header});
        return curlFetch("http://" + host + ":" + std::to_string(httpPort) + path, extra);
    }

    std::unique_ptr<RunningAgent> agent;
    std::unique_ptr<RunningGate> gate;
    std::unique_ptr<DaemonProcess> haproxy;
    std::uint16_t httpPort = 0;
    bool hasIpv6 = false;
};

TEST_P(BehindHaproxy, VerdictsArriveAsResponseHeaders) {
    Fetched page = get("127.0.0.1", "/owner/repo");
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.headers["x-vorn-verdict"], "pass");

    // The shipped list of trusted balancers is empty: nobody may name the
    // client.
    Fetched commit =
        get("127.0.0.1", "/owner/repo/commit/0123abc?x=1", {"X-Forwarded-For: 203.0.113.9"});
    EXPECT_EQ(commit.status, 200);
    EXPECT_EQ(commit.headers["x-vorn-verdict"], "watch");

    Fetched bogus = get("127.0.0.1", "/owner/repo/commit/0123456789abcdef0123");
    EXPECT_EQ(bogus.status, 403);
    EXPECT_EQ(bogus.headers["x-vorn-verdict"], "trap");

    Fetched referer = get("127.0.0.1", "/owner/repo/actions/runs/5",
                          {std::string("Referer: https://") + VORN_SITE_DOMAIN + "/"});
    EXPECT_EQ(referer.status, 403);

    // The challenge issuer answers with its page, HAProxy adds the agent's
    // verdict and difficulty.
    Fetched gateway = get("127.0.0.1", "/.well-known/bramblegate/?return=/x");
    EXPECT_EQ(gateway.status, 200);
    EXPECT_EQ(gateway.headers["x-vorn-verdict"], "pass");
    EXPECT_EQ(gateway.headers["x-vorn-difficulty"], "0.0001220703125");

    // The agent counted what HAProxy asked, with the address HAProxy saw.
    EXPECT_EQ(
        agent->metric(
            "vorn_spoa_decisions_total{verdict=\"trap\",class=\"expensive\",reason=\"bogus\"}"),
        1);
    EXPECT_TRUE(agent->process().waitForLine([](std::string_view line) {
        return line.find(
                   " event=verdict ip=127.0.0.1 verdict=watch reason=expensive class=expensive "
                   "path=\"/owner/repo/commit/0123abc?x=1\" ") != std::string_view::npos;
    }));
}

TEST_P(BehindHaproxy, Ipv6ClientsAreJudgedWithTheirAddress) {
    if (!hasIpv6) GTEST_SKIP() << "no IPv6 loopback";
    Fetched commit = get("[::1]", "/owner/repo/commit/0123abc");
    EXPECT_EQ(commit.status, 200);
    EXPECT_EQ(commit.headers["x-vorn-verdict"], "watch");
    EXPECT_TRUE(agent->process().waitForLine(" event=verdict ip=0:0:0:0:0:0:0:1 verdict=watch"));
}

TEST_P(BehindHaproxy, TheSiteStaysReachableWhenTheAgentIsGone) {
    ASSERT_EQ(get("127.0.0.1", "/").headers["x-vorn-verdict"], "pass");
    agent->process().sendSignal(SIGKILL);
    ASSERT_TRUE(agent->process().waitExit().has_value());
    Fetched response = get("127.0.0.1", "/owner/repo/commit/0123456789abcdef0123");
    EXPECT_EQ(response.status, 200) << "forwarded without a verdict";
    EXPECT_EQ(response.headers.count("x-vorn-verdict"), 0u);
    // Until the health check marks the agent DOWN (2 from then on), 2.6 and
    // 3.0 wait for "timeout processing" (1); 3.1 and later fail at once when
    // the connection is refused (256 + SPOP status 1, an I/O error).
    const std::string atOnce = GetParam() < "3.1" ? "1" : "257";
    EXPECT_THAT(response.headers["x-vorn-error"], testing::AnyOf(atOnce, "2"));
    ASSERT_TRUE(haproxy->waitForLine("Server vorn-spoa/vorn-spoa is DOWN", 10s))
        << haproxy->linesText();

    // A new agent takes the socket file over and HAProxy finds it again.
    DaemonProcess next({"--socket=" + agent->socketPath(), "--metrics=off"});
    ASSERT_TRUE(next.waitForLine("metrics off"));
    ASSERT_TRUE(haproxy->waitForLine("Server vorn-spoa/vorn-spoa is UP", 10s))
        << haproxy->linesText();
    EXPECT_EQ(get("127.0.0.1", "/owner/repo/commit/0123456789abcdef0123").status, 403);
}

// 16 requests at a time on `paths` through HAProxy; one "status error" line
// per request.
std::vector<std::string> concurrentRequests(std::uint16_t port, int count) {
    return parallelCommitGets(port, count, "%{http_code} %header{x-vorn-error}\\n");
}

TEST_P(BehindHaproxy, OnceTheAgentIsDownRequestsUnderLoadSkipItAtOnce) {
    // Load that runs across the outage.
    std::vector<std::string> load = concurrentRequests(httpPort, 4000);
    load.erase(load.begin());
    DaemonProcess background(
        load,
        LaunchOptions{.prefix = {"sh", "-c", "exec \"$0\" \"$@\" >/dev/null"}, .program = "curl"});
    std::this_thread::sleep_for(300ms);
    agent->process().sendSignal(SIGKILL);
    ASSERT_TRUE(agent->process().waitExit().has_value());
    ASSERT_TRUE(haproxy->waitForLine("Server vorn-spoa/vorn-spoa is DOWN", 10s))
        << haproxy->linesText();

    // Each request is forwarded and tagged as skipped (2); none waited for
    // the agent's processing timeout (1).
    auto result = runCommand(concurrentRequests(httpPort, 64), 30s);
    ASSERT_TRUE(result);
    std::istringstream lines(result->output);
    std::string line;
    int answered = 0;
    while (std::getline(lines, line)) {
        EXPECT_EQ(line, "200 2");
        ++answered;
    }
    EXPECT_EQ(answered, 64);
}

// The shipped configuration with its two lists filled in: 127.0.0.1 is a
// trusted balancer, 127.0.0.2 a verified crawler, 127.0.0.3 neither.
class ListsBehindHaproxy : public BehindHaproxy {
protected:
    std::string configFolder() override {
        for (const char* name : {"haproxy.cfg", "vorn-spoe.conf"}) {
            std::ifstream shipped(std::string(VORN_SOURCE_DIR "/deploy/haproxy/") + name);
            std::ofstream(lists.file(name)) << shipped.rdbuf();
        }
        std::ofstream(lists.file("trusted-balancers.lst")) << "127.0.0.1\n";
        std::ofstream(lists.file("verified-crawlers.map")) << "127.0.0.2/32 testbot\n";
        return lists.path();
    }

    // The address in the agent's verdict line for `path`.
    std::string judgedAddress(const std::string& path) {
        std::string address;
        EXPECT_TRUE(agent->process().waitForLine([&](std::string_view line) {
            if (!line.contains(" path=" + path + " ")) return false;
            address = fieldOf(line, "ip").value_or("");
            return true;
        })) << path;
        return address;
    }

    TempDir lists;
};

TEST_P(ListsBehindHaproxy, OnlyATrustedBalancerNamesTheClient) {
    const std::vector<std::string> forwarded = {"X-Forwarded-For: 10.9.9.9, 203.0.113.9"};
    EXPECT_EQ(get("127.0.0.1", "/balanced", forwarded).headers["x-vorn-verdict"], "pass");
    EXPECT_EQ(judgedAddress("/balanced"), "203.0.113.9") << "the entry the balancer added";
    EXPECT_EQ(get("127.0.0.1", "/direct", {}, "127.0.0.3").headers["x-vorn-verdict"], "pass");
    EXPECT_EQ(get("127.0.0.1", "/forged", forwarded, "127.0.0.3").headers["x-vorn-verdict"],
              "pass");
    EXPECT_EQ(judgedAddress("/forged"), "127.0.0.3");
}

TEST_P(ListsBehindHaproxy, AVerifiedCrawlerIsForwardedWithoutAskingTheAgent) {
    const std::string bogus = "/owner/repo/commit/0123456789abcdef0123";
    Fetched crawler = get("127.0.0.1", bogus, {}, "127.0.0.2");
    EXPECT_EQ(crawler.status, 200);
    EXPECT_EQ(crawler.headers.count("x-vorn-verdict"), 0u);
    EXPECT_EQ(crawler.headers.count("x-vorn-error"), 0u);
    EXPECT_EQ(crawler.headers["x-vorn-crawler"], "testbot");
    Fetched other = get("127.0.0.1", bogus, {}, "127.0.0.3");
    EXPECT_EQ(other.status, 403);
    EXPECT_EQ(other.headers.count("x-vorn-crawler"), 0u);
    EXPECT_EQ(agent->metric("vorn_spoa_decisions_total{verdict=\"trap\",class=\"expensive\","
                            "reason=\"bogus\"}"),
              1);
}

// Challenges on, with a key made by vorn-receipt.
class ChallengedBehindHaproxy : public BehindHaproxy {
protected:
    std::vector<std::string> agentArguments() override {
        auto keygen =
            runCommand({VORN_RECEIPT_TOOL, "keygen", "k1", "--out", files.file("k1.key")});
        EXPECT_TRUE(keygen && keygen->status == 0);
        std::ofstream(files.file("keys")) << (keygen ? keygen->output : "");
        return {"--log-verdicts=all", "--challenge=on", "--receipt-keys=" + files.file("keys")};
    }

    TempDir files;
};

TEST_P(ChallengedBehindHaproxy, AChallengedRequestPassesWithAReceiptMintedForTheSite) {
    const std::string path = "/owner/repo/commit/0123abc";
    Fetched challenged = get("127.0.0.1", path);
    EXPECT_EQ(challenged.status, 302);
    EXPECT_EQ(challenged.headers["x-vorn-verdict"], "challenge");

    const std::string host = "127.0.0.1:" + std::to_string(httpPort);
    auto minted = runCommand({VORN_RECEIPT_TOOL, "mint", "--key", files.file("k1.key"), "--kid",
                              "k1", "--aud", host, "--ttl", "600"});
    ASSERT_TRUE(minted && minted->status == 0);
    std::string token = minted->output;
    while (!token.empty() && token.back() == '\n') token.pop_back();
    for (int i = 0; i < 2; ++i) {
        Fetched passed = get("127.0.0.1", path, {"Cookie: bramble_pass=" + token});
        EXPECT_EQ(passed.status, 200) << "request " << i;
        EXPECT_EQ(passed.headers["x-vorn-verdict"], "pass");
        EXPECT_EQ(passed.headers["x-vorn-receipt"], "valid");
    }
    EXPECT_TRUE(agent->process().waitForLine(" reason=receipt "));
}

INSTANTIATE_TEST_SUITE_P(Debian, BehindHaproxy, testing::ValuesIn(haproxySeries), haproxyRowName);
INSTANTIATE_TEST_SUITE_P(Debian, ChallengedBehindHaproxy, testing::ValuesIn(haproxySeries),
                         haproxyRowName);
INSTANTIATE_TEST_SUITE_P(Debian, ListsBehindHaproxy, testing::ValuesIn(haproxySeries),
                         haproxyRowName);

}  // namespace
}  // namespace vorn::test
