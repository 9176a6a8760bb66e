// The metrics endpoint against the real daemon: the fresh page, the page
// after traffic, and every kind of request that does not get it.

#include <gtest/gtest.h>

#include <string>

#include "support/http_client.hpp"
#include "support/running_agent.hpp"
#include "support/vorn_check.hpp"

namespace vorn::test {
namespace {

const std::string notFound =
    "HTTP/1.1 404 Not Found\r\ncontent-type: text/plain\r\ncontent-length: 10\r\n"
    "connection: close\r\n\r\nnot found\n";

bool contains(const std::string& page, const std::string& line) {
    return page.find(line + "\n") != std::string::npos;
}

class MetricsEndpoint : public testing::Test {
protected:
    RunningAgent agent;

    std::string exchange(std::string_view request, const HttpSplit& split = {}) {
        return httpExchange(agent.metricsPort(), request, defaultTimeout, split).value_or("<none>");
    }
};

TEST_F(MetricsEndpoint, TheFreshPage) {
    auto response = httpGet(agent.metricsPort(), "/metrics");
    ASSERT_TRUE(response);
    EXPECT_EQ(response->statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(response->headers["content-type"], "text/plain; version=0.0.4");
    EXPECT_EQ(response->headers["content-length"], std::to_string(response->body.size()));
    EXPECT_EQ(response->headers["connection"], "close");
    const std::string& page = response->body;
    EXPECT_TRUE(page.starts_with(
        "# HELP vorn_spoa_decisions_total Requests classified, by verdict, path class and rule\n"
        "# TYPE vorn_spoa_decisions_total counter\n# HELP vorn_spoa_notify_seconds "));
    EXPECT_TRUE(contains(page, "vorn_spoa_notify_seconds_bucket{path=\"verify\",le=\"+Inf\"} 0"));
    EXPECT_TRUE(contains(page, "vorn_spoa_notify_seconds_sum{path=\"direct\"} 0"));
    EXPECT_TRUE(contains(page, "vorn_spoa_score_band_total{band=\"gt0.8\"} 0"));
    EXPECT_TRUE(contains(page, "vorn_spoa_score_count 0"));
    EXPECT_TRUE(contains(page, "vorn_spoa_reloads_total 1"));
    EXPECT_TRUE(contains(page, "vorn_spoa_expensive_share 0.0000"));
    EXPECT_TRUE(contains(page, "vorn_spoa_difficulty{level=\"calm\"} 0.0001220703125"));
    EXPECT_TRUE(contains(page, "vorn_spoa_difficulty{level=\"severe\"} 0.00048828125"));
    EXPECT_TRUE(contains(page, "vorn_spoa_buffer_chunks{state=\"limit\"} 1024"));
    EXPECT_TRUE(contains(page, "vorn_spoa_level 0"));
    EXPECT_EQ(page.find("vorn_spoa_backlog"), std::string::npos);
    EXPECT_EQ(page.find("vorn_spoa_decisions_total{"), std::string::npos);
}

TEST_F(MetricsEndpoint, ThePageAfterTraffic) {
    auto client = agent.connect();
    ASSERT_TRUE(client);
    VornCheck commit;
    commit.path = "/o/r/commit/0123abc";
    commit.backlog = std::int64_t{5};
    ASSERT_TRUE(client->decide(commit));
    ASSERT_TRUE(client->decide(VornCheck{}));
    ASSERT_TRUE(client->decide(VornCheck{}));
    std::string page = agent.metrics();
    EXPECT_TRUE(contains(
        page, "vorn_spoa_decisions_total{verdict=\"pass\",class=\"page\",reason=\"cold\"} 2"));
    EXPECT_TRUE(contains(
        page,
        "vorn_spoa_decisions_total{verdict=\"watch\",class=\"expensive\",reason=\"expensive\"} 1"));
    EXPECT_TRUE(contains(page, "vorn_spoa_notify_seconds_count{path=\"direct\"} 3"));
    EXPECT_TRUE(contains(page, "vorn_spoa_notify_seconds_bucket{path=\"direct\",le=\"+Inf\"} 3"));
    EXPECT_TRUE(contains(page,
                         "# HELP vorn_spoa_backlog Requests queued at the protected backend, as "
                         "HAProxy last sent it"));
    EXPECT_TRUE(contains(page, "vorn_spoa_backlog 0"));
    EXPECT_TRUE(contains(page, "vorn_spoa_level 1")) << "the backlog of 5 made the meter hot";
    EXPECT_TRUE(contains(page, "vorn_spoa_class_rate10m{class=\"page\"} 2"));
    EXPECT_TRUE(contains(page, "vorn_spoa_class_dip10m{class=\"page\"} 1"));
    EXPECT_TRUE(contains(page, "vorn_spoa_expensive_share 0.3333"));
}

TEST_F(MetricsEndpoint, AnythingElseIsTheFixed404) {
    for (const char* request :
         {"GET /x HTTP/1.1\r\n\r\n", "GET /metrics?x=1 HTTP/1.1\r\n\r\n",
          "HEAD /metrics HTTP/1.1\r\n\r\n", "POST /metrics HTTP/1.1\r\ncontent-length: 0\r\n\r\n",
          "get /metrics HTTP/1.1\r\n\r\n", "GET /metrics\r\n\r\n",
          "GET /Metrics HTTP/1.1\r\n\r\n"}) {
        EXPECT_EQ(exchange(request), notFound) << request;
    }
    EXPECT_EQ(notFound.size(), 101u);
}

TEST_F(MetricsEndpoint, AHeadInPiecesIsAnsweredOnceComplete) {
    std::string request = "GET /metrics HTTP/1.1\r\nhost: x\r\n\r\n";
    std::string raw = exchange(request, HttpSplit{{3, 4, 13, 30, 32, 33}});
    auto response = parseHttpResponse(raw);
    ASSERT_TRUE(response) << raw;
    EXPECT_EQ(response->status, 200);
}

TEST_F(MetricsEndpoint, TwoRequestsBackToBackGetOneResponse) {
    std::string raw = exchange("GET /x HTTP/1.1\r\n\r\nGET /metrics HTTP/1.1\r\n\r\n");
    EXPECT_EQ(raw, notFound);
}

TEST_F(MetricsEndpoint, SixtyFourKibWithoutAHeadAreClosedWithoutAResponse) {
    EXPECT_EQ(exchange(std::string(65536, 'a')), "");
    // The endpoint still answers afterwards.
    EXPECT_EQ(exchange("GET /y HTTP/1.0\r\n\r\n"), notFound);
}

}  // namespace
}  // namespace vorn::test
