// vorn-gate: the challenge issuer behind HAProxy. Serves the proof-of-work
// page under /.well-known/bramblegate/ and, for a good answer, sets the
// bramble_pass cookie that vorn-spoa accepts.

#include <cstdio>
#include <ctime>
#include <expected>
#include <new>
#include <optional>
#include <span>
#include <string_view>

#include "common/thread.hpp"
#include "gate.hpp"
#include "gate_options.hpp"
#include "http_server.hpp"
#include "metrics_handler.hpp"
#include "signing_key.hpp"
#include "token/signature.hpp"

namespace {

using namespace vorn;
using namespace vorn::gate;

int fail(std::string_view message) {
    std::fprintf(stderr, "vorn-gate: %.*s\n", static_cast<int>(message.size()), message.data());
    return 1;
}

// The metrics listener and what answers it, for its thread.
struct MetricsSide {
    std::optional<HttpServer> server;
    MetricsHandler* handler = nullptr;
};

void* serveMetrics(void* argument) {
    auto* side = static_cast<MetricsSide*>(argument);
    // The metrics side gets few connections: a scraper now and then.
    const Error error = side->server->run(*side->handler, 4);
    fail("metrics listener: " + std::string(errorName(error)));
    return nullptr;
}

// Listens on `address` and serves it on a thread of its own; a message when
// it cannot.
std::expected<void, std::string> startMetrics(const std::string& address, MetricsSide& side) {
    auto listened = HttpServer::listen(address);
    if (!listened) {
        return std::unexpected("--metrics=" + address + ": " +
                               std::string(errorName(listened.error())));
    }
    side.server.emplace(std::move(*listened));
    if (!startThread(serveMetrics, &side))
        return std::unexpected("cannot start the metrics thread");
    return {};
}

int run(const GateOptions& options) {
    if (!prepareSignatures()) return fail("cannot start libsodium");
    auto key = readGateKey(options.key);
    if (!key) return fail(key.error());
    const std::string kid = key->kid;
    ReceiptMinter minter(std::move(*key), options.receiptLifetime);
    GateMetrics metrics;
    Gate gate(minter, metrics, {.nonceLifetime = options.nonceLifetime, .replaySlots = 65536},
              [] { return static_cast<std::int64_t>(std::time(nullptr)); });

    auto server = HttpServer::listen(options.listen);
    if (!server) {
        return fail("--listen=" + options.listen + ": " + std::string(errorName(server.error())));
    }
    MetricsHandler metricsHandler(metrics);
    MetricsSide metricsSide{.server = std::nullopt, .handler = &metricsHandler};
    auto started = options.metrics == "off" ? std::expected<void, std::string>()
                                            : startMetrics(options.metrics, metricsSide);
    if (!started) return fail(started.error());
    std::fprintf(stderr, "vorn-gate: key %s, challenges on port %u, metrics %s\n", kid.c_str(),
                 server->port(), options.metrics.c_str());
    return fail("listener: " + std::string(errorName(server->run(gate, options.maxConnections))));
}

}  // namespace

int main(int argc, char** argv) {
    std::span<char* const> words(argv, static_cast<std::size_t>(argc));
    auto options = parseGateOptions(words.subspan(1));
    if (!options) return fail(options.error());
    try {
        return run(*options);
    } catch (const std::bad_alloc&) {
        return fail("OutOfMemory");
    }
}
