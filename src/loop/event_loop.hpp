#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "common/connection_io.hpp"
#include "common/error.hpp"
#include "loop/change_list.hpp"
#include "loop/chunk_pool.hpp"
#include "loop/completion_queue.hpp"
#include "loop/connection.hpp"
#include "loop/connection_records.hpp"
#include "loop/descriptor_set.hpp"
#include "loop/kevent.hpp"
#include "loop/listener.hpp"
#include "observe/stats_block.hpp"

namespace vorn {

// What the loop calls besides the connection handlers; the process wires it.
class LoopHandler {
public:
    // A worker finished the job of a parking slot.
    virtual void onCompletion(const Completion& completion) = 0;
    // SIGHUP: reload keys and model.
    virtual void reload() = 0;

protected:
    ~LoopHandler() = default;
};

// One kernel event, as the loop handles it.
struct LoopEvent {
    EventOwner* owner = nullptr;
    std::uint64_t data = 0;
    int signal = 0;
    bool readable = false;
    bool writable = false;
    bool endOfStream = false;
    bool error = false;
    bool wake = false;
};

// Metrics clients come through a side door: a few at a time (the rest wait
// in the listen queue), with buffers from a share of their own that SPOP
// never needs, and a few seconds to send their request and take the answer.
inline constexpr std::uint64_t metricsConnectionCap = 4;
inline constexpr std::uint64_t metricsChunkShare = 2 * metricsConnectionCap;
inline constexpr Nanos metricsExchangeTimeout = 5 * nanosPerSecond;

// The event loop of the main thread: its queue, listeners, connections and
// buffers. It owns all connection I/O (reading, flushing, buffers, write
// interest, back-pressure, closing) and knows protocols only through their
// ConnectionHandler. Everything here belongs to the loop thread except
// `wake`, the completion queue and the wait-failure flag.
class EventLoop final : public PausedConnections {
public:
    static constexpr std::size_t eventsPerWait = 64;  // one call drains a busy burst

    // Creates the queue and registers the wake-up event (KqueueFailed), with
    // the limits of the connection-memory budget (OutOfMemory); `chunkLimit`
    // is at least 16, of which the metrics share is set aside.
    [[nodiscard]] static std::expected<std::unique_ptr<EventLoop>, Error> create(
        std::uint64_t connectionLimit, std::uint64_t chunkLimit);
    ~EventLoop();
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    void setHandler(LoopHandler& handler) { handler_ = &handler; }

    [[nodiscard]] std::expected<void, Error> openSpopListener(std::string_view path,
                                                              ConnectionHandler& handler);
    [[nodiscard]] std::expected<void, Error> openMetricsListener(std::string_view address,
                                                                 ConnectionHandler& handler);
    [[nodiscard]] std::expected<void, Error> watchSignal(int signal);

    // Runs until an error stops the loop, and returns it.
    [[nodiscard]] Error run();

    // Releases every connection, closes the listeners (removing the socket
    // file if still ours) and puts watched signals back. Also run by the
    // destructor; safe to call twice.
    void tearDown();

    // Any thread: wakes the loop; a failure makes the loop stop with
    // WaitFailed.
    void wake();
    // Loop thread: stops the loop at the start of its next iteration.
    void setError(Error error);

    // Loop thread: lets a paused connection's handler have its input again.
    void resumeInput(ConnectionRef connection) override;

    // Loop thread: the statistics every subsystem counts into, and the
    // figures the metrics page shows of the loop.
    [[nodiscard]] StatsBlock& stats() { return stats_; }
    [[nodiscard]] CompletionQueue& completions() { return completions_; }
    [[nodiscard]] std::uint64_t openConnections() const { return openCount_; }
    [[nodiscard]] std::uint64_t connectionLimit() const { return connectionLimit_; }
    [[nodiscard]] std::uint64_t chunkLimit() const {
        return spopChunks_.limit() + metricsChunks_.limit();
    }
    [[nodiscard]] bool acceptPaused() const { return acceptPaused_; }

private:
    friend class BoundConnection;

    EventLoop(kev::Kqueue queue, std::uint64_t connectionLimit, std::uint64_t chunkLimit);

    std::size_t convertEvents(std::span<const kev::Event> events);
    void handle(const LoopEvent& event);
    void handleConnectionEvent(Connection& connection, const LoopEvent& event);
    void handleWake();
    void endIteration();
    void resumeWaiters(ChunkPool& pool);
    [[nodiscard]] std::optional<std::int64_t> millisToNextDeadline() const;
    void closeOverdue();
    void reapClosed();
    void release(Connection& connection);
    void publishGauges();
    void queueChange(const kev::Change& change);

    // Connection I/O.
    void onReadable(Connection& connection);
    void process(Connection& connection);
    void handleInput(Connection& connection);
    enum class Flush : std::uint8_t { done, blocked, closed };
    Flush flush(Connection& connection);
    void afterFlush(Connection& connection);
    bool acquire(Connection& connection, ChunkUse use);
    void giveBackEmptyChunks(Connection& connection);
    void armWritable(Connection& connection);
    void cancelWritable(Connection& connection);
    void close(Connection& connection);

    // Accept control.
    void openedListener(Listener& listener, ConnectionHandler& handler, ChunkPool& chunks);
    void registerListener(Listener& listener);
    void acceptLoop(Listener& listener, const LoopEvent* event);
    [[nodiscard]] int acceptOne(Listener& listener);
    void adopt(Listener& listener, Connection& connection, int fd);
    void pauseAccept(AcceptError reason);
    void resumeAccept();

    kev::Kqueue queue_;
    ChangeList changes_;
    std::array<kev::Event, eventsPerWait> kernelEvents_{};
    std::array<LoopEvent, eventsPerWait> events_{};
    DescriptorSet writeInterest_;
    bool watchesSighup_ = false;
    std::optional<Error> loopError_;
    std::atomic<bool> waitFailed_{false};

    StatsBlock stats_;
    ChunkPool spopChunks_;
    ChunkPool metricsChunks_;
    Listener spop_;
    Listener metrics_;
    bool acceptPaused_ = false;
    std::uint64_t connectionLimit_;
    std::uint64_t openCount_ = 0;
    std::uint64_t deadlinesPending_ = 0;  // open connections with a deadline
    ClosingConnections closing_;
    ConnectionRecords records_;
    CompletionQueue completions_;
    std::array<Completion, CompletionQueue::capacity> drained_{};
    LoopHandler* handler_ = nullptr;
};

}  // namespace vorn
