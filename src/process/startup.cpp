#include "process/startup.hpp"

#include <csignal>
#include <memory>
#include <new>

#include "decision/class_windows.hpp"
#include "loop/connection_limits.hpp"
#include "loop/event_loop.hpp"
#include "observe/log.hpp"
#include "observe/log_queue.hpp"
#include "process/agent.hpp"
#include "process/command_line.hpp"
#include "process/standard_streams.hpp"

namespace vorn {

namespace {

void ignorePeerGone(int) {}

// Writing to a peer that has gone then fails with EPIPE instead of ending
// the process.
void handleSigpipe() {
    struct sigaction action {};
    action.sa_handler = ignorePeerGone;
    sigemptyset(&action.sa_mask);
    sigaction(SIGPIPE, &action, nullptr);
}

void logSettings(const Settings& settings) {
    LogMessage message;
    message.text("logging ").text(logVerdictsName(settings.logVerdicts)).text(" verdicts");
    logMessage(LogLevel::info, message.view());

    message.clear();
    message.text("challenge ").text(challengeModeName(settings.challengeMode));
    if (!settings.challengePrefix.empty()) message.text(" under ").text(settings.challengePrefix);
    message.text(", from meter level ").text(meterLevelName(settings.challengeFrom));
    logMessage(LogLevel::info, message.view());

    message.clear();
    message.text("meter level from the backend queue: hot at ")
        .number(settings.backlogHot)
        .text(", severe at ")
        .number(settings.backlogSevere)
        .text(", held ")
        .number(static_cast<std::int64_t>(settings.backlogHoldNs / nanosPerSecond))
        .text(" s");
    logMessage(LogLevel::info, message.view());

    // Only when it is not the build's own, so that a start with the
    // defaults says what it always said.
    if (settings.site.domain != defaultSite.domain ||
        settings.site.sessionCookie != defaultSite.sessionCookie) {
        message.clear();
        message.text("site ")
            .text(settings.site.domain)
            .text(", session cookie ")
            .text(settings.site.sessionCookie);
        logMessage(LogLevel::info, message.view());
    }
}

void logLoopSummary(const Settings& settings, const EventLoop& loop) {
    LogMessage message;
    message.text("connection memory ")
        .number(settings.connMemoryBytes >> 20)
        .text(" MiB: up to ")
        .number(loop.connectionLimit())
        .text(" connections, ")
        .number(loop.chunkLimit())
        .text(" buffer chunks of 64 KiB");
    logMessage(LogLevel::info, message.view());

    message.clear();
    message.text("SPOP on ").text(settings.socketPath);
    logMessage(LogLevel::info, message.view());

    message.clear();
    if (settings.metricsAddress) {
        message.text("metrics on ").text(*settings.metricsAddress).text("/metrics");
    } else {
        message.text("metrics off");
    }
    logMessage(LogLevel::info, message.view());

    message.clear();
    const std::size_t perClass =
        AddressTable::capacityFor(ClassWindows::addressSlotsFor(settings.addressMemoryBytes));
    message.text("address memory ")
        .number(settings.addressMemoryBytes >> 20)
        .text(" MiB: up to ")
        .number(perClass)
        .text(" distinct addresses in each of ")
        .number(pathClassCount)
        .text(" path classes");
    logMessage(LogLevel::info, message.view());
}

// Brings up the loop, its listeners and the SIGHUP watch, then runs it.
// Whatever was set up is taken down when this returns.
Error runLoop(const Settings& settings) {
    ConnectionLimits limits =
        computeConnectionLimits(settings.connMemoryBytes, settings.descriptorBudget);
    auto loop = EventLoop::create(limits.connectionLimit, limits.chunkLimit);
    if (!loop) return loop.error();
    auto receipts = ReceiptState::create(settings.receiptMaxRequests, settings.receiptMaxIps);
    if (!receipts) return receipts.error();
    auto windows = ClassWindows::create(settings.addressMemoryBytes);
    if (!windows) return windows.error();
    std::unique_ptr<Agent> agent(new (std::nothrow) Agent(settings, **loop, std::move(*receipts),
                                                          std::move(*windows)));
    if (!agent) return Error::OutOfMemory;
    (*loop)->setHandler(*agent);
    if (auto opened = (*loop)->openSpopListener(settings.socketPath, agent->spop()); !opened) {
        return opened.error();
    }
    if (settings.metricsAddress) {
        if (auto opened = (*loop)->openMetricsListener(*settings.metricsAddress, agent->metrics());
            !opened) {
            return opened.error();
        }
    }
    if (auto watched = (*loop)->watchSignal(SIGHUP); !watched) return watched.error();
    agent->loadKeysAndModel("start");
    VerifyPool pool;
    if (settings.challengeMode != ChallengeMode::off) {
        if (auto started = pool.start(settings.verifyThreads, (*loop)->completions()); !started) {
            return started.error();
        }
        agent->useVerifyPool(pool);
    }
    logLoopSummary(settings, **loop);
    Error error = (*loop)->run();
    // The workers stop first; closing connections then tells their
    // handlers, which the agent owns.
    pool.stop();
    (*loop)->tearDown();
    return error;
}

int failWith(Error error) {
    logMessage(LogLevel::error, errorName(error));
    return 1;
}

}  // namespace

int runDaemon(std::span<const char* const> arguments) {
    if (auto opened = openMissingStandardStreams(); !opened) return failWith(opened.error());
    handleSigpipe();
    auto settings = parseCommandLine(arguments);
    if (!settings) {
        LogMessage message;
        writeCommandLineMessage(settings.error(), message);
        logMessage(LogLevel::error, message.view());
        return failWith(Error::InvalidArgument);
    }
    settings->startTimeSeconds = startTimeSecondsFrom(wallClockMillis());
    settings->descriptorBudget = readDescriptorBudget();

    LogQueue queue;
    if (auto started = queue.start(); !started) return failWith(started.error());
    publishLogQueue(&queue);
    logSettings(*settings);
    Error error = runLoop(*settings);
    publishLogQueue(nullptr);
    queue.stop();
    return failWith(error);
}

}  // namespace vorn
