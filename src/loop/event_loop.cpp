#include "loop/event_loop.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <new>

#include "loop/signal_table.hpp"

namespace vorn {

namespace {

// The user data of the wake-up event: a kernel event carrying it is a
// wake-up, whatever else it says.
const char wakeMarkerByte = 0;
void* const wakeMarker = const_cast<char*>(&wakeMarkerByte);

constexpr std::size_t initialChanges = 256;

std::expected<void, int> submitRetrying(kev::Kqueue& queue, const kev::Change& change) {
    std::expected<void, int> result;
    do {
        result = queue.submit({&change, 1});
    } while (!result && result.error() == EINTR);
    return result;
}

}  // namespace

std::expected<std::unique_ptr<EventLoop>, Error> EventLoop::create(std::uint64_t connectionLimit,
                                                                   std::uint64_t chunkLimit) {
    auto queue = kev::Kqueue::create();
    if (!queue) return std::unexpected(Error::KqueueFailed);
    kev::Change wakeEvent{0, kev::Filter::user, kev::add | kev::clear, 0, wakeMarker};
    if (!submitRetrying(*queue, wakeEvent)) return std::unexpected(Error::KqueueFailed);
    std::unique_ptr<EventLoop> loop(new (std::nothrow)
                                        EventLoop(std::move(*queue), connectionLimit, chunkLimit));
    if (!loop || !loop->changes_.reserve(initialChanges)) {
        return std::unexpected(Error::OutOfMemory);
    }
    return loop;
}

// The last sixteenth of SPOP's chunks (at least one) only goes to output.
EventLoop::EventLoop(kev::Kqueue queue, std::uint64_t connectionLimit, std::uint64_t chunkLimit)
    : queue_(std::move(queue)),
      spopChunks_(chunkLimit - metricsChunkShare,
                  std::max<std::uint64_t>(1, (chunkLimit - metricsChunkShare) / 16), stats_),
      metricsChunks_(metricsChunkShare, 0, stats_),
      connectionLimit_(connectionLimit),
      completions_(*this) {
    stats_.connectionLimit = connectionLimit;
    stats_.chunks[indexOf(ChunkGauge::limit)] = chunkLimit;
}

EventLoop::~EventLoop() {
    tearDown();
}

std::expected<void, Error> EventLoop::watchSignal(int signal) {
    if (auto watched = signal_table::watch(queue_, signal); !watched) return watched;
    changes_.removeSignal(signal);
    watchesSighup_ = watchesSighup_ || signal == SIGHUP;
    return {};
}

void EventLoop::wake() {
    kev::Change trigger{0, kev::Filter::user, 0, kev::trigger, wakeMarker};
    if (!submitRetrying(queue_, trigger)) waitFailed_.store(true);
}

void EventLoop::setError(Error error) {
    loopError_ = error;
}

void EventLoop::queueChange(const kev::Change& change) {
    if (!changes_.append(change)) setError(Error::OutOfMemory);
}

Error EventLoop::run() {
    for (;;) {
        if (loopError_) return *loopError_;
        if (waitFailed_.exchange(false)) return Error::WaitFailed;
        auto waited = queue_.wait(changes_.view(), kernelEvents_, millisToNextDeadline());
        changes_.clear();
        std::size_t count = 0;
        if (waited) {
            count = convertEvents({kernelEvents_.data(), *waited});
        } else if (waited.error() != EINTR) {
            return Error::WaitFailed;
        }
        for (std::size_t i = 0; i < count; ++i) handle(events_[i]);
        endIteration();
    }
}

// One record per kernel event, in order, but a single wake record per batch.
std::size_t EventLoop::convertEvents(std::span<const kev::Event> events) {
    std::size_t count = 0;
    bool woken = false;
    for (const kev::Event& kernel : events) {
        LoopEvent event;
        if (kernel.udata == wakeMarker) {
            if (woken) continue;
            woken = true;
            event.wake = true;
            events_[count++] = event;
            continue;
        }
        event.endOfStream = (kernel.flags & kev::endOfStream) != 0;
        event.error = (kernel.flags & kev::error) != 0;
        switch (kernel.filter) {
            case kev::Filter::signal:
                event.signal = static_cast<int>(kernel.ident);
                break;
            case kev::Filter::write:
                writeInterest_.erase(static_cast<int>(kernel.ident));
                event.writable = !event.error;
                event.owner = static_cast<EventOwner*>(kernel.udata);
                break;
            case kev::Filter::read:
                event.readable = !event.error;
                event.data =
                    !event.error && kernel.data > 0 ? static_cast<std::uint64_t>(kernel.data) : 0;
                event.owner = static_cast<EventOwner*>(kernel.udata);
                break;
            case kev::Filter::user:
                break;
        }
        events_[count++] = event;
    }
    return count;
}

void EventLoop::handle(const LoopEvent& event) {
    if (event.signal == SIGHUP) {
        handler_->reload();
    } else if (event.wake) {
        handleWake();
    } else if (event.owner == nullptr) {
        return;
    } else if (event.owner->ownerKind == OwnerKind::listener) {
        acceptLoop(*static_cast<Listener*>(event.owner), &event);
    } else {
        handleConnectionEvent(*static_cast<Connection*>(event.owner), event);
    }
}

// A waiting connection ignores readiness but not its peer's going: a peer
// that leaves must not keep its descriptor and chunks.
void EventLoop::handleConnectionEvent(Connection& connection, const LoopEvent& event) {
    if (connection.closed()) return;
    if (event.error) {
        close(connection);
        return;
    }
    const bool readable = event.readable || event.endOfStream;
    // Noted even while waiting: the event that reported new bytes is the
    // only one that will.
    if (readable) connection.readable.note(event.data, event.endOfStream);
    if (connection.is(awaitingChunk)) {
        if (event.endOfStream) close(connection);
        return;
    }
    if (event.writable && connection.is(writeBlocked)) {
        connection.clear(writeBlocked);
        process(connection);
        onReadable(connection);
    } else if (readable) {
        onReadable(connection);
    }
}

void EventLoop::handleWake() {
    for (const Completion& completion : completions_.drain(drained_)) {
        handler_->onCompletion(completion);
    }
}

void EventLoop::endIteration() {
    if (deadlinesPending_ > 0) closeOverdue();
    reapClosed();
    for (ChunkPool* pool : {&spopChunks_, &metricsChunks_}) {
        if (!pool->waiters().empty()) {
            resumeWaiters(*pool);
            reapClosed();
        }
    }
    publishGauges();
}

// Waiters are served in the order they started waiting, at most one per
// open connection per iteration, and only at the end of an iteration. One
// that waits for input while only the output reserve is left stays in its
// place, and those behind it that wait for output go first.
void EventLoop::resumeWaiters(ChunkPool& pool) {
    std::uint64_t budget = openCount_;
    Connection* waiter = pool.waiters().front();
    while (waiter != nullptr && budget > 0 && pool.canSupply(ChunkUse::output)) {
        Connection* next = WaitingConnections::next(*waiter);
        if (pool.canSupply(waiter->waitingFor)) {
            pool.stopWaiting(*waiter);
            if (!waiter->closed()) {
                process(*waiter);
                onReadable(*waiter);
            }
            --budget;
        }
        waiter = next;
    }
}

// How long the next wait may last: until the earliest connection deadline,
// rounded up to whole milliseconds, or without limit when there is none.
std::optional<std::int64_t> EventLoop::millisToNextDeadline() const {
    if (deadlinesPending_ == 0) return std::nullopt;
    std::optional<Nanos> earliest;
    for (const Listener* listener : {&spop_, &metrics_}) {
        if (!listener->exchangeTimeout) continue;
        for (const Connection* connection = listener->connections.front(); connection != nullptr;
             connection = OpenConnections::next(*connection)) {
            if (!earliest || *connection->deadline < *earliest) earliest = connection->deadline;
        }
    }
    if (!earliest) return std::nullopt;
    Nanos left = *earliest - steadyNanos();
    return left <= 0 ? 0 : static_cast<std::int64_t>((left + 999'999) / 1'000'000);
}

// Connections past their deadline are closed, at the end of the iteration
// that the wait's limit made.
void EventLoop::closeOverdue() {
    Nanos now = steadyNanos();
    for (Listener* listener : {&spop_, &metrics_}) {
        if (!listener->exchangeTimeout) continue;
        for (Connection* connection = listener->connections.front(); connection != nullptr;
             connection = OpenConnections::next(*connection)) {
            if (now >= *connection->deadline) close(*connection);
        }
    }
}

void EventLoop::reapClosed() {
    bool released = false;
    while (Connection* connection = closing_.popFront()) {
        release(*connection);
        released = true;
    }
    if (!released) return;
    if (acceptPaused_) {
        resumeAccept();
        return;
    }
    for (Listener* listener : {&spop_, &metrics_}) {
        if (listener->deferred && !listener->full()) acceptLoop(*listener, nullptr);
    }
}

void EventLoop::release(Connection& connection) {
    Listener& listener = *connection.listener;
    listener.connections.remove(connection);
    --listener.openCount;
    if (connection.deadline) --deadlinesPending_;
    listener.chunks->stopWaiting(connection);
    if (connection.input != nullptr) listener.chunks->release(connection.input);
    if (connection.output != nullptr) listener.chunks->release(connection.output);
    // No queued change may reach the kernel for a descriptor that is about
    // to be closed and may be reused.
    writeInterest_.erase(connection.fd);
    changes_.removeDescriptor(connection.fd);
    queue_.closeDescriptor(connection.fd);
    records_.give(connection);
    --openCount_;
}

void EventLoop::publishGauges() {
    stats_.connections = openCount_;
    stats_.chunks[indexOf(ChunkGauge::in_use)] = spopChunks_.inUse() + metricsChunks_.inUse();
    stats_.chunks[indexOf(ChunkGauge::allocated)] =
        spopChunks_.allocated() + metricsChunks_.allocated();
}

void EventLoop::tearDown() {
    for (Listener* listener : {&spop_, &metrics_}) {
        for (Connection* connection = listener->connections.front(); connection != nullptr;
             connection = OpenConnections::next(*connection)) {
            close(*connection);
        }
    }
    while (Connection* connection = closing_.popFront()) release(*connection);
    closeListener(spop_, queue_);
    closeListener(metrics_, queue_);
    if (watchesSighup_) signal_table::restore(queue_, SIGHUP);
    watchesSighup_ = false;
}

}  // namespace vorn
