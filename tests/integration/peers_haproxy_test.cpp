// Two HAProxy nodes with the example configuration and VORN_PEERS, peering
// on loopback under the names node1 and node2 (-L), each in front of its
// own agent, with one forge stand-in and one gate behind both. A client
// takes turns between the nodes with one receipt: its uses are counted over
// both, a revocation on one node is heard on the other, and a receipt under
// the limit passes on both. Once per HAProxy series Debian ships.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/curl_fetch.hpp"
#include "support/daemon_process.hpp"
#include "support/deadline.hpp"
#include "support/free_tcp_port.hpp"
#include "support/haproxy_program.hpp"
#include "support/running_agent.hpp"
#include "support/running_gate.hpp"
#include "support/temp_dir.hpp"
#include "token/token_maker.hpp"

namespace vorn::test {
namespace {

using namespace std::chrono_literals;

// The Host both nodes are reached under, so that one receipt is good on both.
constexpr std::string_view site = "forge.test";
const std::string expensivePath = "/o/r/commit/0123456789abcdef0123456789abcdef01234567";
constexpr int clusterLimit = 10;

class PeeredNodes : public testing::TestWithParam<std::string_view> {
protected:
    void SetUp() override {
        const HaproxyProgram& program = findHaproxy(GetParam());
        if (program.path.empty()) GTEST_SKIP() << program.missing;
        std::ofstream(files.file("keys")) << "k1 " << publicKeyText(seedOf(1)) << "\n";
        gate = std::make_unique<RunningGate>();
        ASSERT_TRUE(gate->ready());
        const std::string forge = "127.0.0.1:" + std::to_string(freeTcpPort());
        // The per-source limits are raised: every request here comes from
        // loopback, and the waits below open a connection per request.
        const std::vector<std::string> peers = {
            "VORN_SRC_CONN_RATE_MAX=100000",
            "VORN_GATE_REQ_RATE_MAX=100000",
            "VORN_PEERS=1",
            "VORN_PEERS_RECEIPT_MAX=" + std::to_string(clusterLimit),
            "VORN_PEER1_NAME=node1",
            "VORN_PEER1_ADDR=127.0.0.1:" + std::to_string(freeTcpPort()),
            "VORN_PEER2_NAME=node2",
            "VORN_PEER2_ADDR=127.0.0.1:" + std::to_string(freeTcpPort())};
        for (const char* name : {"node1", "node2"}) {
            // One address per receipt: a second one revokes it on that node.
            nodes.push_back(std::make_unique<Node>());
            Node& node = *nodes.back();
            node.agent = std::make_unique<RunningAgent>(std::vector<std::string>{
                "--challenge=on", "--receipt-keys=" + files.file("keys"), "--receipt-max-ips=1"});
            ASSERT_TRUE(node.agent->ready());
            node.port = freeTcpPort();
            const std::string http = "127.0.0.1:" + std::to_string(node.port);
            LaunchOptions options{.environment = peers,
                                  .prefix = {"sh", "-c", "exec \"$0\" \"$@\" >/dev/null"},
                                  .program = program.path};
            options.environment.insert(
                options.environment.end(),
                {"VORN_SPOA_SOCK=" + node.agent->socketPath(), "VORN_HTTP_ADDR=" + http,
                 "VORN_HTTP_ADDR6=" + http, "VORN_FORGE_ADDR=" + forge,
                 "VORN_GATE_ADDR=" + gate->address()});
            node.haproxy = std::make_unique<DaemonProcess>(
                std::vector<std::string>{"-f", VORN_SOURCE_DIR "/deploy/haproxy/haproxy.cfg", "-L",
                                         name, "-db"},
                options);
            for (const char* server : {"vorn-spoa/vorn-spoa", "bramblegate/gate1"}) {
                ASSERT_TRUE(
                    node.haproxy->waitForLine("server " + std::string(server) + " succeeded", 10s))
                    << node.haproxy->linesText();
            }
        }
        // The nodes are in step once a revocation on node 1 is heard on node
        // 2. Right after start-up both nodes call each other at once, and
        // HAProxy may take a reconnection or two (seconds apart) to settle
        // on one connection; the next revocation shows the delay.
        ASSERT_TRUE(revokeOnNode1(receipt(100), 20s)) << "node 2 never heard of a revocation";
        const auto delay = revokeOnNode1(receipt(1), 5s);
        ASSERT_TRUE(delay);
        std::printf("HAProxy %s: node 2 refused a receipt node 1 had revoked %lld ms before\n",
                    std::string(GetParam()).c_str(), static_cast<long long>(delay->count()));
    }

    // Receipt number `n`, the same token whenever it is asked for.
    std::string receipt(int n) const {
        std::string jti = std::to_string(n);
        jti.insert(0, 32 - jti.size(), '0');
        return mint(headerJson("k1"), payloadJson(site, expiry, jti));
    }

    // Revokes `token` on node 1 (from a second address) and returns how long
    // it took until node 2 held it as revoked; nothing when it did not
    // within `timeout`. Node 2 is asked with requests for the gate's health
    // page, which count as no use of the receipt: uses would take it over
    // the limit first.
    std::optional<std::chrono::milliseconds> revokeOnNode1(const std::string& token,
                                                           Millis timeout) {
        EXPECT_EQ(visit(0, token).headers["x-vorn-receipt"], "valid");
        EXPECT_EQ(visit(0, token, "127.0.0.2").headers["x-vorn-receipt"], "revoked");
        const auto revoked = std::chrono::steady_clock::now();
        Deadline deadline(timeout);
        while (fetch(1, "/.well-known/bramblegate/health", token).headers["x-vorn-cluster"] !=
               "revoked") {
            if (deadline.passed()) return std::nullopt;
        }
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - revoked);
    }

    // A GET of the challengeable page through node `index` with `token`,
    // from the loopback address `source`.
    Fetched visit(std::size_t index, const std::string& token,
                  const std::string& source = "127.0.0.1") {
        return fetch(index, expensivePath, token, source);
    }

    Fetched fetch(std::size_t index, const std::string& path, const std::string& token,
                  const std::string& source = "127.0.0.1") {
        return curlFetch("http://127.0.0.1:" + std::to_string(nodes[index]->port) + path,
                         {"-o", "/dev/null", "--interface", source, "-H",
                          "Host: " + std::string(site), "-H", "Cookie: bramble_pass=" + token});
    }

    struct Node {
        std::unique_ptr<RunningAgent> agent;
        std::unique_ptr<DaemonProcess> haproxy;
        std::uint16_t port = 0;
    };

    const std::int64_t expiry = std::chrono::duration_cast<std::chrono::seconds>(
                                    std::chrono::system_clock::now().time_since_epoch())
                                    .count() +
                                600;
    TempDir files;
    std::unique_ptr<RunningGate> gate;
    std::vector<std::unique_ptr<Node>> nodes;
};

TEST_P(PeeredNodes, TheRevokedReceiptIsChallengedOnTheOtherNodeAsRevokedThere) {
    Fetched refused = visit(1, receipt(1));
    EXPECT_EQ(refused.status, 302);
    EXPECT_EQ(refused.headers["x-vorn-verdict"], "challenge");
    EXPECT_EQ(refused.headers["x-vorn-cluster"], "revoked");
    EXPECT_EQ(refused.headers.count("x-vorn-receipt"), 0u) << "node 2's agent saw no receipt";
}

TEST_P(PeeredNodes, OneReceiptCarriesTheLimitOverBothNodesTogether) {
    const std::string token = receipt(2);
    int passed = 0;
    for (int use = 0; use < 2 * clusterLimit; ++use) {
        Fetched answer = visit(use % 2, token);
        if (answer.headers["x-vorn-receipt"] == "valid" && answer.status == 200) ++passed;
        // Turns further apart than the replication delay: a node that has
        // not heard of the other's last use overwrites it with its own
        // count (peers replace an entry; they do not add to it).
        std::this_thread::sleep_for(100ms);
    }
    // A node that has not yet heard of the other's last use lets one more
    // through; each node alone would let twice as many.
    EXPECT_GE(passed, clusterLimit);
    EXPECT_LE(passed, clusterLimit + 1);
    for (std::size_t node : {0u, 1u}) {
        Fetched after = visit(node, token);
        EXPECT_EQ(after.headers["x-vorn-verdict"], "challenge") << "node " << node + 1;
        EXPECT_EQ(after.headers["x-vorn-cluster"], "over_limit") << "node " << node + 1;
    }
}

TEST_P(PeeredNodes, AReceiptUnderTheLimitPassesOnBothNodes) {
    const std::string token = receipt(3);
    for (std::size_t node : {0u, 1u, 0u, 1u}) {
        Fetched answer = visit(node, token);
        EXPECT_EQ(answer.status, 200) << "node " << node + 1;
        EXPECT_EQ(answer.headers["x-vorn-verdict"], "pass");
        EXPECT_EQ(answer.headers["x-vorn-receipt"], "valid");
        EXPECT_EQ(answer.headers.count("x-vorn-cluster"), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Debian, PeeredNodes, testing::ValuesIn(haproxySeries), haproxyRowName);

}  // namespace
}  // namespace vorn::test
