// The smallest memory budget against clients that hold buffers: a complete
// request is always answered, peers that leave give everything back, and
// metrics clients can neither starve SPOP nor hold the metrics port.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "support/metrics_page.hpp"
#include "support/running_agent.hpp"
#include "support/spop_wire.hpp"
#include "support/vorn_check.hpp"

namespace vorn::test {
namespace {

using namespace std::chrono_literals;

// 64 chunks at --conn-memory=16, 8 of them for metrics: more SPOP
// connections than chunks.
constexpr int holders = 64;

// A TCP client of the metrics port that sends `bytes` and then only waits.
class IdleHttpClient {
public:
    IdleHttpClient(std::uint16_t port, std::string_view bytes) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
                     ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                         static_cast<ssize_t>(bytes.size());
    }
    ~IdleHttpClient() { ::close(fd_); }
    IdleHttpClient(const IdleHttpClient&) = delete;
    IdleHttpClient& operator=(const IdleHttpClient&) = delete;

    [[nodiscard]] bool connected() const { return connected_; }
    // True when the server closes within the timeout without answering.
    [[nodiscard]] bool closedWithin(Millis timeout) const {
        pollfd ready{fd_, POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(timeout.count())) != 1) return false;
        char byte = 0;
        return ::recv(fd_, &byte, 1, 0) <= 0;
    }

private:
    int fd_ = -1;
    bool connected_ = false;
};

class MemoryBudget : public testing::Test {
protected:
    RunningAgent agent{{"--conn-memory=16"}};
    Bytes request = notify(1, 1, VornCheck{});

    // Opens `count` SPOP connections that each send the first bytes of a
    // NOTIFY and hold them.
    std::vector<SpopClient> holdPartialRequests(int count) {
        std::vector<SpopClient> clients;
        for (int i = 0; i < count; ++i) {
            auto client = agent.connect();
            EXPECT_TRUE(client && client->send(request.substr(0, 10))) << i;
            if (client) clients.push_back(std::move(*client));
        }
        return clients;
    }

    // Polls the page until the connection and chunk gauges are back to a
    // quiet daemon's (the scrape itself is the one open connection).
    void expectBackToBaseline() {
        std::optional<double> open;
        std::optional<double> inUse;
        for (int i = 0; i < 200 && !(open == 1 && inUse == 0); ++i) {
            std::string page = agent.metrics();
            open = metricValue(page, "vorn_spoa_connections");
            inUse = metricValue(page, "vorn_spoa_buffer_chunks{state=\"in_use\"}");
            std::this_thread::sleep_for(10ms);
        }
        EXPECT_EQ(open, 1);
        EXPECT_EQ(inUse, 0);
    }
};

TEST_F(MemoryBudget, EveryCompleteRequestIsAnsweredWhenInputHoldsTheChunks) {
    ASSERT_TRUE(agent.ready());
    std::vector<SpopClient> clients = holdPartialRequests(holders);
    std::this_thread::sleep_for(100ms);
    for (SpopClient& client : clients) ASSERT_TRUE(client.send(request.substr(10)));
    for (std::size_t i = 0; i < clients.size(); ++i) {
        auto reply = clients[i].receive();
        ASSERT_TRUE(reply && reply->is(FrameType::Ack)) << "connection " << i;
    }
    EXPECT_GT(agent.metric("vorn_spoa_buffer_waits_total"), 0);
    clients.clear();
    expectBackToBaseline();
}

TEST_F(MemoryBudget, PeersThatLeaveWhileWaitingForAChunkGiveEverythingBack) {
    ASSERT_TRUE(agent.ready());
    std::vector<SpopClient> clients = holdPartialRequests(holders);
    std::this_thread::sleep_for(100ms);
    EXPECT_GT(agent.metric("vorn_spoa_buffer_waits_total"), 0);
    clients.clear();
    expectBackToBaseline();
    auto fresh = agent.connect();
    ASSERT_TRUE(fresh && fresh->decide(VornCheck{}));
}

TEST_F(MemoryBudget, MetricsClientsTricklingAHeadNeitherStarveSpopNorStay) {
    ASSERT_TRUE(agent.ready());
    // More than the metrics port takes at once; the rest wait in its queue.
    std::vector<std::unique_ptr<IdleHttpClient>> scrapers;
    for (int i = 0; i < 12; ++i) {
        scrapers.push_back(std::make_unique<IdleHttpClient>(
            agent.metricsPort(), "GET /metrics HTTP/1.1\r\nHost: x\r\n"));
        ASSERT_TRUE(scrapers.back()->connected()) << i;
    }
    auto client = agent.connect();
    ASSERT_TRUE(client);
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(client->decide(VornCheck{}, 2000ms)) << i;
    // A head that is not complete after five seconds is closed.
    EXPECT_TRUE(scrapers.front()->closedWithin(7000ms));
    scrapers.clear();
    client.reset();
    expectBackToBaseline();
}

}  // namespace
}  // namespace vorn::test
