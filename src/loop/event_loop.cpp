#include "loop/event_loop.hpp"

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

EventLoop::EventLoop(kev::Kqueue queue, std::uint64_t connectionLimit, std::uint64_t chunkLimit)
    : queue_(std::move(queue)),
      connectionLimit_(connectionLimit),
      chunks_(chunkLimit, stats_),
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

bool EventLoop::armWritable(Connection& connection) {
    if (writeInterest_.contains(connection.fd)) return true;
    if (!writeInterest_.insert(connection.fd)) {
        setError(Error::OutOfMemory);
        return false;
    }
    queueChange({static_cast<std::uintptr_t>(connection.fd), kev::Filter::write,
                 kev::add | kev::oneshot, 0, &connection});
    return true;
}

void EventLoop::cancelWritable(Connection& connection) {
    if (writeInterest_.erase(connection.fd)) {
        queueChange({static_cast<std::uintptr_t>(connection.fd), kev::Filter::write, kev::remove, 0,
                     nullptr});
    }
}

void EventLoop::close(Connection& connection) {
    if (connection.closed) return;
    connection.closed = true;
    connection.closeNext = nullptr;
    (closeTail_ != nullptr ? closeTail_->closeNext : closeHead_) = &connection;
    closeTail_ = &connection;
}

Error EventLoop::run() {
    for (;;) {
        if (loopError_ != Error{}) return loopError_;
        if (waitFailed_.exchange(false)) return Error::WaitFailed;
        auto waited = queue_.wait(changes_.view(), kernelEvents_);
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

void EventLoop::handleConnectionEvent(Connection& connection, const LoopEvent& event) {
    if (connection.closed) return;
    if (event.error) {
        close(connection);
        return;
    }
    if (connection.awaitingChunk) return;
    if (event.writable && connection.writeBlocked) {
        connection.writeBlocked = false;
        handler_->process(connection);
        handler_->onReadable(connection);
    } else if (event.readable || event.endOfStream) {
        connection.readable.known = event.data > 0 && !event.endOfStream;
        connection.readable.count = connection.readable.known ? event.data : 0;
        handler_->onReadable(connection);
    }
}

void EventLoop::handleWake() {
    if (reloadRequested.exchange(false)) handler_->reload();
    for (const Completion& completion : completions_.drain(drained_)) {
        handler_->onCompletion(completion);
    }
}

void EventLoop::endIteration() {
    reapClosed();
    if (chunks_.hasWaiters()) {
        resumeWaiters();
        reapClosed();
    }
    publishGauges();
}

// Waiters are served strictly in order, at most one per open connection per
// iteration, and only at the end of an iteration.
void EventLoop::resumeWaiters() {
    std::uint64_t budget = openCount_;
    while (budget > 0 && chunks_.canSupply() && chunks_.hasWaiters()) {
        Connection* waiter = chunks_.popWaiter();
        if (!waiter->closed) {
            handler_->process(*waiter);
            handler_->onReadable(*waiter);
        }
        --budget;
    }
}

void EventLoop::reapClosed() {
    bool released = false;
    while (closeHead_ != nullptr) {
        Connection* connection = closeHead_;
        closeHead_ = connection->closeNext;
        release(*connection);
        released = true;
    }
    closeTail_ = nullptr;
    if (released && acceptPaused_) resumeAccept();
}

void EventLoop::release(Connection& connection) {
    (connection.openPrev != nullptr ? connection.openPrev->openNext : openList_) =
        connection.openNext;
    if (connection.openNext != nullptr) connection.openNext->openPrev = connection.openPrev;
    chunks_.unlinkWaiter(connection);
    if (connection.input != nullptr) chunks_.release(connection.input);
    if (connection.output != nullptr) chunks_.release(connection.output);
    // No queued change may reach the kernel for a descriptor that is about
    // to be closed and may be reused.
    writeInterest_.erase(connection.fd);
    changes_.removeDescriptor(connection.fd);
    queue_.closeDescriptor(connection.fd);
    records_.give(&connection);
    --openCount_;
}

void EventLoop::publishGauges() {
    stats_.connections = openCount_;
    stats_.chunks[indexOf(ChunkGauge::in_use)] = chunks_.inUse();
    stats_.chunks[indexOf(ChunkGauge::allocated)] = chunks_.allocated();
}

void EventLoop::tearDown() {
    for (Connection* connection = openList_; connection != nullptr;
         connection = connection->openNext) {
        close(*connection);
    }
    while (closeHead_ != nullptr) {
        Connection* connection = closeHead_;
        closeHead_ = connection->closeNext;
        release(*connection);
    }
    closeTail_ = nullptr;
    closeListener(spop_, queue_);
    closeListener(metrics_, queue_);
    if (watchesSighup_) signal_table::restore(queue_, SIGHUP);
    watchesSighup_ = false;
}

}  // namespace vorn
