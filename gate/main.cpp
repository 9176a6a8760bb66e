// vorn-gate: the challenge issuer behind HAProxy. Serves the proof-of-work
// page under /.well-known/bramblegate/ and, for a good answer, sets the
// bramble_pass cookie that vorn-spoa accepts.

#include <cstdio>
#include <ctime>
#include <new>
#include <optional>
#include <span>
#include <string_view>

#include "common/thread.hpp"
#include "gate.hpp"
#include "gate_options.hpp"
#include "http_server.hpp"
#include "metrics_handler.hpp"
#include "receipt/signature.hpp"
#include "signing_key.hpp"

namespace {

using namespace vorn;
using namespace vorn::gate;

int fail(std::string_view message) {
    std::fprintf(stderr, "vorn-gate: %.*s\n", static_cast<int>(message.size()), message.data());
    return 1;
}

struct MetricsThread {
    HttpServer* server;
    MetricsHandler* handler;
};

void* serveMetrics(void* argument) {
    auto* job = static_cast<MetricsThread*>(argument);
    // The metrics side gets few connections: a scraper now and then.
    const Error error = job->server->run(*job->handler, 4);
    fail("metrics listener: " + std::string(errorName(error)));
    return nullptr;
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
    if (!server)
        return fail("--listen=" + options.listen + ": " + std::string(errorName(server.error())));
    MetricsHandler metricsHandler(metrics);
    std::optional<HttpServer> metricsServer;
    MetricsThread metricsJob{};
    if (options.metrics != "off") {
        auto listened = HttpServer::listen(options.metrics);
        if (!listened) {
            return fail("--metrics=" + options.metrics + ": " +
                        std::string(errorName(listened.error())));
        }
        metricsServer.emplace(std::move(*listened));
        metricsJob = {&*metricsServer, &metricsHandler};
        if (!startThread(serveMetrics, &metricsJob)) return fail("cannot start the metrics thread");
    }
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
