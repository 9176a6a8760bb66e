// vorn-load: opens SPOP connections to a running vorn-spoa, says HELLO on
// each, then sends NOTIFYs with a mix of forge requests for a while, one
// outstanding per connection as HAProxy does (or --depth=N, pipelined), and
// prints the request rate and the NOTIFY-to-ACK latency percentiles seen from
// the client side.
//
//   vorn-load --socket=/var/run/vorn-spoa.sock --connections=8 --seconds=10
//
//   --depth=N         keeps N NOTIFYs in flight on each connection (default 1)
//
// It also sets the daemon up for measurements of its flat cost:
//   --idle=N          holds N more connections open, HELLO said, idle
//                     (with --connections=0, only those, for --seconds)
//   --addresses=N     sends N requests, each from an address of its own
//                     (10.x.y.z; with --ipv6=1 from 2001:db8::/64, as a
//                     client rotating through its prefix would), over the
//                     forge's paths or, with --path=P, all for P
//   --receipts=N --key=FILE
//                     sends N requests, each with a receipt of its own minted
//                     with the private key FILE (vorn-receipt keygen)

#include <sys/resource.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <latch>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/nanos.hpp"
#include "support/spop_client.hpp"
#include "support/spop_wire.hpp"
#include "support/vorn_check.hpp"
#include "token/private_key_file.hpp"
#include "token/token_signer.hpp"

namespace vorn::test {
namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    std::string socket = "/var/run/vorn-spoa.sock";
    unsigned connections = 8;
    unsigned seconds = 10;
    unsigned idle = 0;
    unsigned addresses = 0;
    unsigned receipts = 0;
    unsigned depth = 1;  // NOTIFYs in flight per connection
    bool ipv6 = false;
    std::string key;
    std::string path;  // --addresses: every request's path, when set
};

std::optional<unsigned> parseCount(std::string_view text) {
    unsigned value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

bool applyOption(std::string_view argument, Options& options) {
    auto equals = argument.find('=');
    if (equals == std::string_view::npos) return false;
    auto name = argument.substr(0, equals);
    auto value = argument.substr(equals + 1);
    if (name == "--ipv6" && (value == "0" || value == "1")) {
        options.ipv6 = value == "1";
        return true;
    }
    if ((name == "--socket" || name == "--key" || name == "--path") && !value.empty()) {
        (name == "--socket" ? options.socket : name == "--key" ? options.key : options.path) =
            std::string(value);
        return true;
    }
    auto count = parseCount(value);
    if (!count) return false;
    for (auto [option, field] :
         {std::pair{"--connections", &options.connections},
          std::pair{"--seconds", &options.seconds}, std::pair{"--idle", &options.idle},
          std::pair{"--addresses", &options.addresses},
          std::pair{"--receipts", &options.receipts}, std::pair{"--depth", &options.depth}}) {
        if (name == option) {
            *field = *count;
            return true;
        }
    }
    return false;
}

std::optional<Options> parseOptions(std::span<char*> arguments) {
    Options options;
    for (const char* argument : arguments) {
        if (!applyOption(argument, options)) {
            std::fprintf(stderr, "vorn-load: bad argument: %s\n", argument);
            return std::nullopt;
        }
    }
    if (options.seconds == 0 || options.depth == 0 ||
        (options.connections == 0 && options.idle == 0)) {
        std::fprintf(stderr, "vorn-load: nothing to do\n");
        return std::nullopt;
    }
    if ((options.receipts > 0) != !options.key.empty() ||
        (options.receipts > 0 && options.addresses > 0)) {
        std::fprintf(stderr, "vorn-load: --receipts needs --key, and not --addresses\n");
        return std::nullopt;
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

// The payload of a connection's request number `n` (from 0), or nothing
// once the connection has sent its share.
using RequestSource = std::function<std::optional<Bytes>(unsigned connection, std::uint64_t n)>;

RequestSource mixSource(const std::vector<Bytes>& mix) {
    return [&mix](unsigned connection, std::uint64_t n) -> std::optional<Bytes> {
        // Connections start at different places in the mix.
        return mix[(connection * 131 + n) % mix.size()];
    };
}

// Request `index` of `total`, spread over the connections in turn.
std::optional<std::uint64_t> fillIndex(const Options& options, unsigned connection, std::uint64_t n,
                                       std::uint64_t total) {
    std::uint64_t index = n * options.connections + connection;
    if (index >= total) return std::nullopt;
    return index;
}

// Address `index` is 10.x.y.z (up to 16,777,216 distinct addresses), or with
// --ipv6 2001:db8::/64 with the index in the low bytes.
VornCheck::Ip addressOf(const Options& options, std::uint64_t index) {
    if (!options.ipv6) {
        return Ipv4Bytes{10, static_cast<std::uint8_t>(index >> 16),
                         static_cast<std::uint8_t>(index >> 8), static_cast<std::uint8_t>(index)};
    }
    Ipv6Bytes address{0x20, 0x01, 0x0d, 0xb8};
    for (std::size_t i = 0; i < 8; ++i) address[15 - i] = static_cast<std::uint8_t>(index >> (8 * i));
    return address;
}

RequestSource addressSource(const Options& options) {
    return [&options](unsigned connection, std::uint64_t n) -> std::optional<Bytes> {
        auto index = fillIndex(options, connection, n, options.addresses);
        if (!index) return std::nullopt;
        VornCheck check;
        check.ip = addressOf(options, *index);
        check.path = options.path.empty() ? std::string(forgePaths[*index % std::size(forgePaths)])
                                          : options.path;
        check.headers = headerBlock(clientHeaders(0));
        return messageList({check.message()});
    };
}

// Every receipt is new (a fresh jti), so the daemon checks each signature
// once and keeps it in its book.
RequestSource receiptSource(const Options& options, const PrivateKey& key) {
    return [&options, &key](unsigned connection, std::uint64_t n) -> std::optional<Bytes> {
        auto index = fillIndex(options, connection, n, options.receipts);
        if (!index) return std::nullopt;
        constexpr std::int64_t lifetime = 3600;
        const std::int64_t exp = wallClockMillis() / 1000 + lifetime;
        auto token = mintReceipt(key.seed, key.kid, VORN_SITE_DOMAIN, "0.0001", exp);
        if (!token) return std::nullopt;
        VornCheck check;
        check.path = std::string(forgePaths[*index % std::size(forgePaths)]);
        HeaderLines headers = clientHeaders(0);
        headers.emplace_back("cookie", "bramble_pass=" + *token);
        check.headers = headerBlock(headers);
        return messageList({check.message()});
    };
}

struct ConnectionResult {
    std::vector<std::int64_t> latenciesNs;
    bool failed = false;
};

// One connection: HELLO, wait for the others, then NOTIFY after NOTIFY for
// the given time or until its share is sent, keeping --depth of them in
// flight: the next is sent each time an ACK is in. ACKs come in order.
void runConnection(const Options& options, const RequestSource& source, unsigned connection,
                   std::latch& ready, ConnectionResult& result) {
    auto client = SpopClient::connect(options.socket);
    result.failed = !client || !client->hello();
    ready.arrive_and_wait();
    if (result.failed) return;
    auto stop = Clock::now() + std::chrono::seconds(options.seconds);
    std::vector<Clock::time_point> sentAt(options.depth);
    std::uint64_t sent = 0;
    bool more = true;
    auto sendNext = [&] {
        std::optional<Bytes> payload = source(connection, sent);
        if (!payload || Clock::now() >= stop) return false;
        ++sent;
        sentAt[sent % options.depth] = Clock::now();
        return client->send(frame(FrameType::Notify, finFlag, sent, sent, *payload));
    };
    while (more && sent < options.depth) more = sendNext();
    for (std::uint64_t answered = 1; answered <= sent; ++answered) {
        auto ack = client->receive();
        if (!ack || !ack->is(FrameType::Ack) || ack->streamId != answered) {
            result.failed = true;
            return;
        }
        const auto latency = Clock::now() - sentAt[answered % options.depth];
        result.latenciesNs.push_back(std::chrono::nanoseconds(latency).count());
        if (more) more = sendNext();
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

// Opens the idle connections; their descriptors need a limit above the
// usual 1,024.
std::optional<std::vector<SpopClient>> openIdle(const Options& options) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        (void)setrlimit(RLIMIT_NOFILE, &limit);
    }
    std::vector<SpopClient> idle;
    idle.reserve(options.idle);
    for (unsigned i = 0; i < options.idle; ++i) {
        auto client = SpopClient::connect(options.socket);
        if (!client || !client->hello()) {
            std::fprintf(stderr, "vorn-load: idle connection %u failed\n", i + 1);
            return std::nullopt;
        }
        idle.push_back(std::move(*client));
    }
    return idle;
}

int report(const Options& options, std::vector<ConnectionResult>& results, double seconds) {
    std::vector<std::int64_t> all;
    std::size_t failed = 0;
    for (auto& r : results) {
        all.insert(all.end(), r.latenciesNs.begin(), r.latenciesNs.end());
        failed += r.failed ? 1 : 0;
    }
    std::ranges::sort(all);
    std::printf("%u connections, %.1f s: %zu requests, %.1f requests/s\n", options.connections,
                seconds, all.size(), static_cast<double>(all.size()) / seconds);
    std::printf("latency p50 %.1f us, p99 %.1f us, max %.1f us\n", micros(percentile(all, 0.50)),
                micros(percentile(all, 0.99)), micros(all.empty() ? 0 : all.back()));
    if (failed > 0) std::printf("%zu connections failed\n", failed);
    return failed > 0 ? 1 : 0;
}

int run(const Options& options) {
    auto idle = openIdle(options);
    if (!idle) return 1;
    if (options.idle > 0) std::printf("%u idle connections open\n", options.idle);
    std::fflush(stdout);
    if (options.connections == 0) {
        std::this_thread::sleep_for(std::chrono::seconds(options.seconds));
        return 0;
    }
    auto mix = requestMix();
    PrivateKey key;
    if (!options.key.empty()) {
        auto read = readPrivateKeyFile(options.key);
        if (!read) {
            std::fprintf(stderr, "vorn-load: %s\n", read.error().c_str());
            return 1;
        }
        key = *read;
    }
    RequestSource source = options.addresses > 0  ? addressSource(options)
                           : options.receipts > 0 ? receiptSource(options, key)
                                                  : mixSource(mix);
    std::vector<ConnectionResult> results(options.connections);
    std::latch ready(options.connections);
    std::vector<std::jthread> threads;
    auto started = Clock::now();
    for (unsigned i = 0; i < options.connections; ++i) {
        threads.emplace_back([&, i] { runConnection(options, source, i, ready, results[i]); });
    }
    threads.clear();
    return report(options, results, std::chrono::duration<double>(Clock::now() - started).count());
}

}  // namespace
}  // namespace vorn::test

int main(int argc, char** argv) {
    auto options = vorn::test::parseOptions(std::span<char*>(argv + 1, argv + argc));
    if (!options) return 2;
    return vorn::test::run(*options);
}
