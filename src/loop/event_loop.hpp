#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

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

// What the loop calls for connections and wake-ups; the process wires in the
// protocol handlers, so that the loop knows them only through this.
class LoopHandler {
public:
    // Reading (after the readable hint was set) and handling buffered input.
    virtual void onReadable(Connection& connection) = 0;
    virtual void process(Connection& connection) = 0;
    // A verification result for a parked request.
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

// The event loop of the main thread: its queue, listeners, connections and
// buffers. Everything here belongs to the loop thread except `wake`, the
// completion queue and the two atomic flags.
class EventLoop {
public:
    static constexpr std::size_t eventsPerWait = 64;  // one call drains a busy burst

    // Creates the queue and registers the wake-up event (KqueueFailed), with
    // the limits of the connection-memory budget (OutOfMemory).
    [[nodiscard]] static std::expected<std::unique_ptr<EventLoop>, Error> create(
        std::uint64_t connectionLimit, std::uint64_t chunkLimit);
    ~EventLoop();
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    void setHandler(LoopHandler& handler) { handler_ = &handler; }

    [[nodiscard]] std::expected<void, Error> openSpopListener(std::string_view path);
    [[nodiscard]] std::expected<void, Error> openMetricsListener(std::string_view address);
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

    // Loop thread services for the connection protocols.
    void queueChange(const kev::Change& change);
    // Registers one-shot writability unless already registered; false when
    // the interest set could not grow (the loop then stops, OutOfMemory).
    bool armWritable(Connection& connection);
    // Cancels an outstanding writability registration, if any.
    void cancelWritable(Connection& connection);
    // Marks a connection closed; it is released after the current batch.
    void close(Connection& connection);

    [[nodiscard]] ChunkPool& chunks() { return chunks_; }
    [[nodiscard]] StatsBlock& stats() { return stats_; }
    [[nodiscard]] CompletionQueue& completions() { return completions_; }
    [[nodiscard]] std::uint64_t openConnections() const { return openCount_; }
    [[nodiscard]] std::uint64_t connectionLimit() const { return connectionLimit_; }
    [[nodiscard]] std::uint64_t chunkLimit() const { return chunks_.limit(); }
    [[nodiscard]] bool acceptPaused() const { return acceptPaused_; }

    // Set by another loop after it handled SIGHUP.
    std::atomic<bool> reloadRequested{false};

private:
    EventLoop(kev::Kqueue queue, std::uint64_t connectionLimit, std::uint64_t chunkLimit);

    std::size_t convertEvents(std::span<const kev::Event> events);
    void handle(const LoopEvent& event);
    void handleConnectionEvent(Connection& connection, const LoopEvent& event);
    void handleWake();
    void endIteration();
    void reapClosed();
    void resumeWaiters();
    void release(Connection& connection);
    void publishGauges();

    // Accept control.
    void registerListener(Listener& listener);
    void acceptLoop(Listener& listener, const LoopEvent* event);
    void pauseAccept(AcceptError reason);
    void resumeAccept();

    kev::Kqueue queue_;
    ChangeList changes_;
    std::array<kev::Event, eventsPerWait> kernelEvents_{};
    std::array<LoopEvent, eventsPerWait> events_{};
    DescriptorSet writeInterest_;
    bool watchesSighup_ = false;
    Error loopError_{};
    std::atomic<bool> waitFailed_{false};

    Listener spop_;
    Listener metrics_;
    bool acceptPaused_ = false;
    std::uint64_t connectionLimit_;
    std::uint64_t openCount_ = 0;
    Connection* openList_ = nullptr;
    Connection* closeHead_ = nullptr;
    Connection* closeTail_ = nullptr;
    ConnectionRecords records_;
    StatsBlock stats_;
    ChunkPool chunks_;
    CompletionQueue completions_;
    std::array<Completion, CompletionQueue::capacity> drained_{};
    LoopHandler* handler_ = nullptr;
};

}  // namespace vorn
