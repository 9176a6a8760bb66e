// vorn-load: opens SPOP connections to a running vorn-spoa, says HELLO on
// each, then sends NOTIFYs with a mix of forge requests for a while, one
// outstanding per connection as HAProxy does, and prints the request rate and
// the NOTIFY-to-ACK latency percentiles seen from the client side.
//
//   vorn-load --socket=/var/run/vorn-spoa.sock --connections=8 --seconds=10

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <latch>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/spop_client.hpp"
#include "support/spop_wire.hpp"
#include "support/vorn_check.hpp"

namespace vorn::test {
namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    std::string socket = "/var/run/vorn-spoa.sock";
    unsigned connections = 8;
    unsigned seconds = 10;
};

std::optional<unsigned> parseCount(std::string_view text) {
    unsigned value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || value == 0) return std::nullopt;
    return value;
}

bool applyOption(std::string_view argument, Options& options) {
    auto equals = argument.find('=');
    if (equals == std::string_view::npos) return false;
    auto name = argument.substr(0, equals);
    auto value = argument.substr(equals + 1);
    if (name == "--socket" && !value.empty()) {
        options.socket = std::string(value);
        return true;
    }
    auto count = parseCount(value);
    if (!count) return false;
    if (name == "--connections") options.connections = *count;
    if (name == "--seconds") options.seconds = *count;
    return name == "--connections" || name == "--seconds";
}

std::optional<Options> parseOptions(std::span<char*> arguments) {
    Options options;
    for (const char* argument : arguments) {
        if (!applyOption(argument, options)) {
            std::fprintf(stderr, "vorn-load: bad argument: %s\n", argument);
            return std::nullopt;
        }
    }
    return options;
}

// Paths a forge serves, from cheap pages to expensive history views.
constexpr std::string_view forgePaths[] = {
    "/",
    "/explore/repos",
    "/alice/vorn",
    "/alice/vorn/src/branch/main/README.md",
    "/alice/vorn/src/commit/3f2a9c1e/src/main.cpp",
    "/alice/vorn/commits/branch/main",
    "/alice/vorn/commit/3f2a9c1e",
    "/alice/vorn/blame/branch/main/src/main.cpp",
    "/alice/vorn/compare/main...dev",
    "/alice/vorn/archive/main.tar.gz",
    "/alice/vorn/issues",
    "/alice/vorn/issues/42",
    "/alice/vorn/pulls/7/files",
    "/alice/vorn/actions",
    "/alice/vorn/releases",
    "/alice/vorn.rss",
    "/api/v1/repos/alice/vorn",
    "/alice/vorn.git/info/refs?service=git-upload-pack",
    "/user/login",
    "/assets/css/index.css",
};

// Who sends the request: browsers, a signed-in user, scrapers, git.
HeaderLines clientHeaders(std::size_t profile) {
    const std::string host = VORN_SITE_DOMAIN;
    const std::string firefox =
        "Mozilla/5.0 (X11; Linux x86_64; rv:128.0) Gecko/20100101 Firefox/128.0";
    switch (profile) {
        case 0:
            return {{"host", host},
                    {"user-agent", firefox},
                    {"accept", "text/html,application/xhtml+xml"},
                    {"sec-fetch-site", "same-origin"},
                    {"referer", "https://" + host + "/alice/vorn"}};
        case 1:
            return {{"host", host},
                    {"user-agent", firefox},
                    {"sec-fetch-site", "same-origin"},
                    {"cookie", std::string(VORN_SESSION_COOKIE) + "=c29tZSBzZXNzaW9u; lang=en"}};
        case 2:
            return {{"host", host}, {"user-agent", "python-requests/2.31.0"}, {"accept", "*/*"}};
        case 3:
            return {{"host", host}, {"user-agent", firefox}, {"referer", "https://" + host + "/"}};
        case 4:
            return {{"host", host}, {"user-agent", "git/2.43.0"}, {"git-protocol", "version=2"}};
        default:
            return {{"host", host}, {"user-agent", "FeedFetcher/1.0"}};
    }
}
constexpr std::size_t clientProfiles = 6;

// Enough distinct requests that the daemon's per-address state sees many
// clients; some arrive over IPv6.
std::vector<Bytes> requestMix() {
    constexpr std::size_t mixSize = 1024;
    constexpr std::size_t pathCount = std::size(forgePaths);
    std::vector<Bytes> payloads;
    for (std::size_t i = 0; i < mixSize; ++i) {
        VornCheck check;
        auto low = static_cast<std::uint8_t>(i);
        if (i % 5 == 0) {
            check.ip = Ipv6Bytes{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, low};
        } else {
            check.ip = Ipv4Bytes{203, 0, static_cast<std::uint8_t>(113 + i % 3), low};
        }
        check.backlog = static_cast<std::int64_t>(i % 7);
        check.path = std::string(forgePaths[i % pathCount]);
        check.headers = headerBlock(clientHeaders(i / pathCount % clientProfiles));
        payloads.push_back(messageList({check.message()}));
    }
    return payloads;
}

struct ConnectionResult {
    std::vector<std::int64_t> latenciesNs;
    bool failed = false;
};

// One connection: HELLO, wait for the others, then NOTIFY after NOTIFY for
// the given time, each sent only once the previous one's ACK is in.
void runConnection(const Options& options, std::span<const Bytes> mix, std::size_t offset,
                   std::latch& ready, ConnectionResult& result) {
    auto client = SpopClient::connect(options.socket);
    result.failed = !client || !client->hello();
    ready.arrive_and_wait();
    if (result.failed) return;
    auto stop = Clock::now() + std::chrono::seconds(options.seconds);
    for (std::uint64_t id = 1; Clock::now() < stop; ++id) {
        auto request = frame(FrameType::Notify, finFlag, id, id, mix[(offset + id) % mix.size()]);
        auto sent = Clock::now();
        auto ack = client->send(request) ? client->receive() : std::nullopt;
        if (!ack || !ack->is(FrameType::Ack) || ack->streamId != id) {
            result.failed = true;
            return;
        }
        result.latenciesNs.push_back(std::chrono::nanoseconds(Clock::now() - sent).count());
    }
}

// Nearest-rank percentile of sorted samples.
std::int64_t percentile(const std::vector<std::int64_t>& sorted, double fraction) {
    if (sorted.empty()) return 0;
    auto rank = static_cast<std::size_t>(fraction * static_cast<double>(sorted.size()) + 0.999999);
    return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

double micros(std::int64_t ns) {
    return static_cast<double>(ns) / 1000.0;
}

int report(const Options& options, std::vector<ConnectionResult>& results) {
    std::vector<std::int64_t> all;
    std::size_t failed = 0;
    for (auto& r : results) {
        all.insert(all.end(), r.latenciesNs.begin(), r.latenciesNs.end());
        failed += r.failed ? 1 : 0;
    }
    std::ranges::sort(all);
    std::printf("%u connections, %u s: %zu requests, %.1f requests/s\n", options.connections,
                options.seconds, all.size(),
                static_cast<double>(all.size()) / static_cast<double>(options.seconds));
    std::printf("latency p50 %.1f us, p99 %.1f us, max %.1f us\n", micros(percentile(all, 0.50)),
                micros(percentile(all, 0.99)), micros(all.empty() ? 0 : all.back()));
    if (failed > 0) std::printf("%zu connections failed\n", failed);
    return failed > 0 ? 1 : 0;
}

int run(const Options& options) {
    auto mix = requestMix();
    std::vector<ConnectionResult> results(options.connections);
    std::latch ready(options.connections);
    std::vector<std::jthread> threads;
    for (unsigned i = 0; i < options.connections; ++i) {
        // Connections start at different places in the mix.
        threads.emplace_back([&, i] { runConnection(options, mix, i * 131, ready, results[i]); });
    }
    threads.clear();
    return report(options, results);
}

}  // namespace
}  // namespace vorn::test

int main(int argc, char** argv) {
    auto options = vorn::test::parseOptions(std::span<char*>(argv + 1, argv + argc));
    if (!options) return 2;
    return vorn::test::run(*options);
}
