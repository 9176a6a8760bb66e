// vorn-gate: the challenge issuer behind HAProxy. Serves the proof-of-work
// page under /.well-known/bramblegate/ and, for a good answer, sets the
// bramble_pass cookie that vorn-spoa accepts.

#include <pthread.h>
#include <sodium.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <new>
#include <optional>
#include <span>
#include <string_view>

#include "gate/gate.hpp"
#include "gate/gate_key_file.hpp"
#include "gate/gate_options.hpp"
#include "gate/gate_server.hpp"
#include "observe/log.hpp"
#include "observe/log_queue.hpp"
#include "token/signature.hpp"

namespace {

using namespace vorn;

// The metrics side gets few connections: a scraper now and then.
constexpr int metricsWorkers = 2;
// From accept to the last byte of the request, and again for the answer:
// HAProxy sends a whole request at once, so only a stuck peer comes near it.
constexpr Nanos requestTimeout = 5 * nanosPerSecond;

class ChallengeService final : public ConnectionService {
public:
    explicit ChallengeService(Gate& gate) : gate_(gate) {}
    void serve(int fd, ConnectionBuffers& buffers) override {
        serveGateConnection(fd, gate_, buffers, requestTimeout);
    }

private:
    Gate& gate_;
};

class MetricsService final : public ConnectionService {
public:
    explicit MetricsService(MetricsSource& source) : source_(source) {}
    void serve(int fd, ConnectionBuffers& buffers) override {
        serveMetricsConnection(fd, source_, buffers, requestTimeout);
    }

private:
    MetricsSource& source_;
};

// A worker whose listener failed for good tells the main thread, which ends
// the process (SIGUSR1 is blocked everywhere and waited for there).
pthread_t mainThread;
std::atomic<Error> workerError{Error::Unexpected};
std::atomic<bool> workerStopped{false};

void stopFromWorker(Error error) {
    workerError.store(error);
    if (!workerStopped.exchange(true)) ::pthread_kill(mainThread, SIGUSR1);
}

int fail(std::string_view message, Error error) {
    logMessage(LogLevel::error, message);
    logMessage(LogLevel::error, errorName(error));
    return 1;
}

void reloadKey(const GateOptions& options, ReceiptMinter& minter, GateMetrics& metrics) {
    auto key = readGateKeyFile(options.key);
    LogMessage line;
    line.text("SIGHUP: ");
    if (!key) {
        line.text(key.error()).text("; keeping key ");
        minter.writeKeyId(line);
        logMessage(LogLevel::warning, line.view());
        metrics.reloaded(false);
        return;
    }
    minter.replaceKey(*key);
    sodium_memzero(key->seed.data(), key->seed.size());
    line.text("key ").text(key->kid).text(" from ").text(options.key);
    logMessage(LogLevel::info, line.view());
    metrics.reloaded(true);
}

// Until SIGHUP (reload the key) or a worker's failure; SIGTERM and SIGINT
// keep their default action and end the process at once.
[[noreturn]] void waitForSignals(const sigset_t& watched, const GateOptions& options,
                                 ReceiptMinter& minter, GateMetrics& metrics, LogQueue& queue) {
    for (;;) {
        int signal = 0;
        if (::sigwait(&watched, &signal) != 0) continue;
        if (signal == SIGHUP) {
            reloadKey(options, minter, metrics);
        } else if (signal == SIGUSR1 && workerStopped.load()) {
            logMessage(LogLevel::error, "a listener stopped accepting");
            logMessage(LogLevel::error, errorName(workerError.load()));
            // The workers still run: end without tearing down what they use.
            publishLogQueue(nullptr);
            queue.stop();
            std::_Exit(1);
        }
    }
}

int run(const GateOptions& options, const sigset_t& watched) {
    LogQueue queue;
    if (auto started = queue.start(); !started)
        return fail("cannot start the log writer", started.error());
    publishLogQueue(&queue);
    if (!prepareSignatures()) return fail("cannot start libsodium", Error::Unexpected);
    auto key = readGateKeyFile(options.key);
    if (!key) return fail("--key=" + options.key + ": " + key.error(), Error::InvalidArgument);
    ReceiptMinter minter(*key, options.receiptLifetime);
    sodium_memzero(key->seed.data(), key->seed.size());
    Gate gate(minter,
              {.nonceLifetime = options.nonceLifetime,
               .replayEntries = static_cast<std::size_t>(options.replayEntries),
               .challengesPerClient = static_cast<std::uint32_t>(options.challengesPerClient),
               .siteName = options.siteName,
               .contact = options.contact,
               .startTimeSeconds = static_cast<std::int64_t>(std::time(nullptr))});

    auto server = GateServer::listen(options.listen);
    if (!server)
        return fail("--listen=" + options.listen + ": " + std::string(errorName(server.error())),
                    server.error());
    std::optional<GateServer> metricsServer;
    if (options.metrics != "off") {
        auto listened = GateServer::listen(options.metrics);
        if (!listened) {
            return fail(
                "--metrics=" + options.metrics + ": " + std::string(errorName(listened.error())),
                listened.error());
        }
        metricsServer.emplace(std::move(*listened));
    }
    ChallengeService challenges(gate);
    MetricsService metrics(gate);
    if (metricsServer) {
        if (auto started = metricsServer->start(metricsWorkers, metrics, stopFromWorker);
            !started) {
            return fail("cannot start the metrics workers", started.error());
        }
    }
    if (auto started = server->start(options.maxConnections, challenges, stopFromWorker);
        !started) {
        return fail("cannot start the workers", started.error());
    }

    LogMessage line;
    line.text("start: key ").text(key->kid).text(" from ").text(options.key);
    logMessage(LogLevel::info, line.view());
    line.clear();
    line.text("challenges on ").text(options.listen);
    line.text(", ").number(options.maxConnections).text(" workers");
    logMessage(LogLevel::info, line.view());
    line.clear();
    if (metricsServer) {
        line.text("metrics on ").text(options.metrics).text("/metrics");
    } else {
        line.text("metrics off");
    }
    logMessage(LogLevel::info, line.view());
    waitForSignals(watched, options, minter, gate.metrics(), queue);
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t watched;
    sigemptyset(&watched);
    sigaddset(&watched, SIGHUP);
    sigaddset(&watched, SIGUSR1);
    ::pthread_sigmask(SIG_BLOCK, &watched, nullptr);
    mainThread = ::pthread_self();

    std::span<char* const> words(argv, static_cast<std::size_t>(argc));
    auto options = parseGateOptions(words.subspan(1));
    if (!options) return fail(options.error(), Error::InvalidArgument);
    try {
        return run(*options, watched);
    } catch (const std::bad_alloc&) {
        return fail("out of memory at start-up", Error::OutOfMemory);
    }
}
