#include "loop/kevent.hpp"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <optional>
#include <ostream>
#include <thread>
#include <utility>
#include <vector>

namespace vorn::kev {
namespace {

int wakeMarker;
int watchdogMarker;
int readMarker;
int writeMarker;
int staleMarker;
int signalMarker;

Change readChange(int fd, void* udata) {
    return {static_cast<std::uintptr_t>(fd), Filter::read, add | clear, 0, udata};
}
Change writeChange(int fd, void* udata) {
    return {static_cast<std::uintptr_t>(fd), Filter::write, add | oneshot, 0, udata};
}
Change triggerChange() {
    return {0, Filter::user, 0, trigger, nullptr};
}
Change signalChange(int signal) {
    return {static_cast<std::uintptr_t>(signal), Filter::signal, add | clear, 0, &signalMarker};
}

struct SocketPair {
    int near = -1;
    int far = -1;
    SocketPair() {
        int fds[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        near = fds[0];
        far = fds[1];
    }
    ~SocketPair() {
        for (int fd : {near, far}) {
            if (fd >= 0) close(fd);
        }
    }
    void send() const { ASSERT_EQ(write(far, "x", 1), 1); }
};

bool isBlocked(int signal) {
    sigset_t mask;
    pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    return sigismember(&mask, signal) == 1;
}

// Every test owns a queue with the loop's user event and a watchdog: a
// socket that becomes readable after ten seconds unless the test is over, so
// that a wait which would hang returns an event the test rejects.
class KqueueTest : public testing::Test {
protected:
    void SetUp() override {
        auto created = Kqueue::create();
        ASSERT_TRUE(created.has_value()) << created.error();
        queue_.emplace(std::move(*created));
        const Change setup[] = {{0, Filter::user, add | clear, 0, &wakeMarker},
                                readChange(watchdog_.near, &watchdogMarker)};
        ASSERT_TRUE(queue().submit(setup).has_value());
        watchdogThread_ = std::thread([this] {
            std::unique_lock lock(watchdogMutex_);
            if (!watchdogDone_.wait_for(lock, std::chrono::seconds(10), [this] { return over_; })) {
                watchdog_.send();
            }
        });
    }
    void TearDown() override {
        {
            std::lock_guard lock(watchdogMutex_);
            over_ = true;
        }
        watchdogDone_.notify_one();
        if (watchdogThread_.joinable()) watchdogThread_.join();
    }

    Kqueue& queue() { return *queue_; }

    // One wait; the events it returned.
    std::vector<Event> waitOnce(std::span<const Change> changes = {}, std::size_t room = 8) {
        std::vector<Event> events(room);
        auto count = queue().wait(changes, events);
        EXPECT_TRUE(count.has_value()) << count.error();
        events.resize(count.value_or(0));
        for (const Event& event : events) EXPECT_NE(event.udata, &watchdogMarker) << "wait hung";
        return events;
    }

    // Everything ready now: triggers the user event and waits until it is
    // reported; returns the other events.
    std::vector<Event> readyEvents() {
        const Change poke[] = {triggerChange()};
        EXPECT_TRUE(queue().submit(poke).has_value());
        std::vector<Event> found;
        bool woken = false;
        for (int round = 0; !woken && round < 16; ++round) {
            for (const Event& event : waitOnce()) {
                if (event.udata == &wakeMarker) {
                    woken = true;
                } else {
                    found.push_back(event);
                }
            }
        }
        EXPECT_TRUE(woken);
        return found;
    }

    SocketPair watchdog_;
    std::optional<Kqueue> queue_;
    std::thread watchdogThread_;
    std::mutex watchdogMutex_;
    std::condition_variable watchdogDone_;
    bool over_ = false;
};

TEST_F(KqueueTest, ReadIsEdgeTriggered) {
    SocketPair pair;
    const Change changes[] = {readChange(pair.near, &readMarker)};
    ASSERT_TRUE(queue().submit(changes).has_value());
    pair.send();
    auto first = waitOnce();
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].filter, Filter::read);
    EXPECT_EQ(first[0].ident, static_cast<std::uintptr_t>(pair.near));
    EXPECT_EQ(first[0].udata, &readMarker);
    EXPECT_EQ(first[0].flags & (endOfStream | error), 0);

    EXPECT_TRUE(readyEvents().empty()) << "the unread byte was reported again";
    pair.send();
    auto again = waitOnce();
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].udata, &readMarker);
}

TEST_F(KqueueTest, PeerCloseSetsEndOfStream) {
    SocketPair pair;
    const Change changes[] = {readChange(pair.near, &readMarker)};
    close(std::exchange(pair.far, -1));
    auto events = waitOnce(changes);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].udata, &readMarker);
    EXPECT_NE(events[0].flags & endOfStream, 0);
}

TEST_F(KqueueTest, OneShotWriteFiresOnceUntilRegisteredAgain) {
    SocketPair pair;
    const Change changes[] = {writeChange(pair.near, &writeMarker)};
    auto first = waitOnce(changes);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].filter, Filter::write);
    EXPECT_EQ(first[0].udata, &writeMarker);

    EXPECT_TRUE(readyEvents().empty());
    // Fired means gone: there is nothing left to cancel.
    const Change cancel[] = {
        {static_cast<std::uintptr_t>(pair.near), Filter::write, remove, 0, {}}};
    auto cancelled = queue().submit(cancel);
    ASSERT_FALSE(cancelled.has_value());
    EXPECT_EQ(cancelled.error(), ENOENT);
    auto again = waitOnce(changes);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].udata, &writeMarker);
}

TEST_F(KqueueTest, CancelledOneShotWriteNeverFires) {
    SocketPair pair;
    const Change changes[] = {
        writeChange(pair.near, &writeMarker),
        {static_cast<std::uintptr_t>(pair.near), Filter::write, remove, 0, nullptr}};
    ASSERT_TRUE(queue().submit(changes).has_value());
    EXPECT_TRUE(readyEvents().empty());
}

TEST_F(KqueueTest, ReadAndWriteOfOneDescriptorKeepTheirOwnUserData) {
    SocketPair pair;
    pair.send();
    const Change changes[] = {readChange(pair.near, &readMarker),
                              writeChange(pair.near, &writeMarker), triggerChange()};
    auto events = waitOnce(changes);
    ASSERT_EQ(events.size(), 3u);
    int reads = 0;
    int writes = 0;
    for (const Event& event : events) {
        if (event.filter == Filter::read) reads += event.udata == &readMarker;
        if (event.filter == Filter::write) writes += event.udata == &writeMarker;
    }
    EXPECT_EQ(reads, 1);
    EXPECT_EQ(writes, 1);
}

TEST_F(KqueueTest, OneEventPerWaitLosesNothing) {
    SocketPair both;
    SocketPair other;
    both.send();
    other.send();
    const Change changes[] = {readChange(both.near, &readMarker),
                              readChange(other.near, &staleMarker),
                              writeChange(both.near, &writeMarker)};
    std::vector<void*> seen;
    for (std::span<const Change> pending = changes; seen.size() < 3; pending = {}) {
        auto events = waitOnce(pending, 1);
        ASSERT_EQ(events.size(), 1u);
        seen.push_back(events[0].udata);
    }
    std::ranges::sort(seen);
    std::vector<void*> expected = {&readMarker, &writeMarker, &staleMarker};
    std::ranges::sort(expected);
    EXPECT_EQ(seen, expected);
}

TEST_F(KqueueTest, ReaddedListenerReportsPendingConnections) {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    auto* generic = reinterpret_cast<sockaddr*>(&address);
    ASSERT_EQ(bind(listener, generic, length), 0);
    ASSERT_EQ(listen(listener, 8), 0);
    ASSERT_EQ(getsockname(listener, generic, &length), 0);
    std::vector<int> clients;
    auto connectOne = [&] {
        clients.push_back(socket(AF_INET, SOCK_STREAM, 0));
        ASSERT_EQ(connect(clients.back(), generic, length), 0);
    };

    const Change watch[] = {readChange(listener, &readMarker)};
    const Change pause[] = {{static_cast<std::uintptr_t>(listener), Filter::read, remove, 0, {}}};
    ASSERT_TRUE(queue().submit(watch).has_value());
    connectOne();
    EXPECT_EQ(waitOnce().size(), 1u);
    ASSERT_TRUE(queue().submit(pause).has_value());
    connectOne();
    EXPECT_TRUE(readyEvents().empty());
    auto resumed = waitOnce(watch);
    ASSERT_EQ(resumed.size(), 1u);
    EXPECT_EQ(resumed[0].udata, &readMarker);

    queue().closeDescriptor(listener);
    for (int client : clients) close(client);
}

TEST_F(KqueueTest, TriggersBeforeAWaitMergeIntoOneEvent) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this] {
            const Change poke[] = {triggerChange()};
            for (int i = 0; i < 25; ++i) EXPECT_TRUE(queue().submit(poke).has_value());
        });
    }
    for (auto& thread : threads) thread.join();
    auto events = waitOnce();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].filter, Filter::user);
    EXPECT_EQ(events[0].udata, &wakeMarker);

    // Quiet until triggered again: another source's event comes alone.
    SocketPair pair;
    pair.send();
    const Change changes[] = {readChange(pair.near, &readMarker)};
    auto later = waitOnce(changes);
    ASSERT_EQ(later.size(), 1u);
    EXPECT_EQ(later[0].udata, &readMarker);
}

TEST_F(KqueueTest, TriggerFromAnotherThreadWakesABlockedWait) {
    std::thread waker([this] {
        // Most likely after the wait below has blocked; correct either way.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const Change poke[] = {triggerChange()};
        EXPECT_TRUE(queue().submit(poke).has_value());
    });
    auto events = waitOnce();
    waker.join();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].udata, &wakeMarker);
}

// Restores a signal's disposition when a test ends.
class DispositionGuard {
public:
    explicit DispositionGuard(int signal) : signal_(signal) { sigaction(signal, nullptr, &saved_); }
    ~DispositionGuard() { sigaction(signal_, &saved_, nullptr); }
    DispositionGuard(const DispositionGuard&) = delete;
    DispositionGuard& operator=(const DispositionGuard&) = delete;

private:
    int signal_;
    struct sigaction saved_ {};
};

volatile std::sig_atomic_t handled = 0;
void countSignal(int) {
    handled = handled + 1;
}

void install(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
}

TEST_F(KqueueTest, WatchedSignalIsAnEventNotADelivery) {
    DispositionGuard guard(SIGHUP);
    install(SIGHUP, SIG_DFL);
    const Change changes[] = {signalChange(SIGHUP)};
    ASSERT_TRUE(queue().submit(changes).has_value());
    struct sigaction saved {};
    ASSERT_TRUE(queue().ignoreSignal(SIGHUP, saved).has_value());

    // The default action would end the test process.
    raise(SIGHUP);
    raise(SIGHUP);
    SocketPair pair;
    pair.send();
    const Change alongside[] = {readChange(pair.near, &readMarker)};
    auto events = waitOnce(alongside);
    ASSERT_EQ(events.size(), 2u);
    const bool signalFirst = events[0].filter == Filter::signal;
    const Event& signal = events[signalFirst ? 0 : 1];
    EXPECT_EQ(signal.filter, Filter::signal);
    EXPECT_EQ(signal.ident, static_cast<std::uintptr_t>(SIGHUP));
    EXPECT_GE(signal.data, 1);
    EXPECT_EQ(signal.udata, &signalMarker);
    EXPECT_EQ(events[signalFirst ? 1 : 0].udata, &readMarker);
    EXPECT_TRUE(readyEvents().empty());
    queue().restoreSignal(SIGHUP, saved);
}

TEST_F(KqueueTest, RestoreSignalPutsTheDispositionBack) {
    DispositionGuard guard(SIGHUP);
    install(SIGHUP, countSignal);
    handled = 0;
    const Change changes[] = {signalChange(SIGHUP)};
    ASSERT_TRUE(queue().submit(changes).has_value());
    struct sigaction saved {};
    ASSERT_TRUE(queue().ignoreSignal(SIGHUP, saved).has_value());
    EXPECT_EQ(saved.sa_handler, countSignal);
    raise(SIGHUP);
    EXPECT_EQ(waitOnce().size(), 1u);
    EXPECT_EQ(handled, 0);

    queue().restoreSignal(SIGHUP, saved);
    struct sigaction now {};
    sigaction(SIGHUP, nullptr, &now);
    EXPECT_EQ(now.sa_handler, countSignal);
    EXPECT_FALSE(isBlocked(SIGHUP));
    raise(SIGHUP);
    EXPECT_EQ(handled, 1);
}

TEST_F(KqueueTest, DestroyingTheQueueReleasesItsSignalsQuietly) {
    DispositionGuard guard(SIGUSR2);
    install(SIGUSR2, SIG_DFL);
    {
        auto other = Kqueue::create();
        ASSERT_TRUE(other.has_value());
        const Change changes[] = {signalChange(SIGUSR2)};
        ASSERT_TRUE(other->submit(changes).has_value());
        struct sigaction saved {};
        ASSERT_TRUE(other->ignoreSignal(SIGUSR2, saved).has_value());
        // Arrives while watched and is never reported: it must not be
        // delivered (and end the process) once the queue is gone.
        raise(SIGUSR2);
    }
    EXPECT_FALSE(isBlocked(SIGUSR2));
}

TEST_F(KqueueTest, InterruptedWaitStillAppliesItsChanges) {
    DispositionGuard guard(SIGUSR1);
    install(SIGUSR1, countSignal);
    SocketPair pair;
    std::atomic<bool> returned = false;
    const pthread_t owner = pthread_self();
    std::thread interrupter([&] {
        while (!returned) {
            pthread_kill(owner, SIGUSR1);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    std::vector<Event> events(8);
    const Change changes[] = {readChange(pair.near, &readMarker)};
    auto result = queue().wait(changes, events);
    returned = true;
    interrupter.join();
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error(), EINTR);

    pair.send();
    auto ready = readyEvents();
    ASSERT_EQ(ready.size(), 1u);
    EXPECT_EQ(ready[0].udata, &readMarker);
}

TEST_F(KqueueTest, ReusedDescriptorNumberStartsClean) {
    SocketPair stale;
    const int number = stale.near;
    const Change changes[] = {readChange(number, &staleMarker), writeChange(number, &staleMarker)};
    ASSERT_TRUE(queue().submit(changes).has_value());
    // The old socket outlives its number, as when another process holds it.
    const int duplicate = dup(number);
    queue().closeDescriptor(std::exchange(stale.near, -1));

    SocketPair fresh;
    ASSERT_EQ(fresh.near, number) << "the lowest free number is reused";
    stale.send();
    fresh.send();
    EXPECT_TRUE(readyEvents().empty());
    const Change mine[] = {readChange(number, &readMarker), writeChange(number, &writeMarker),
                           triggerChange()};
    auto events = waitOnce(mine);
    EXPECT_EQ(events.size(), 3u);
    for (const Event& event : events) EXPECT_NE(event.udata, &staleMarker);
    stale.send();
    EXPECT_TRUE(readyEvents().empty()) << "the old socket reported under the new registration";
    close(duplicate);
}

TEST_F(KqueueTest, MovedQueueKeepsItsRegistrations) {
    auto spare = Kqueue::create();
    ASSERT_TRUE(spare.has_value());
    *spare = std::move(queue());
    queue_.emplace(std::move(*spare));
    EXPECT_TRUE(readyEvents().empty());
}

enum class Target { closedDescriptor, openSocket, unknownUserEvent };

struct FailingChange {
    const char* name;
    Filter filter;
    std::uint16_t flags;
    std::uint32_t fflags;
    Target target;
    int expected;
};

void PrintTo(const FailingChange& row, std::ostream* out) {
    *out << row.name;
}

class KqueueFailedChange : public KqueueTest, public testing::WithParamInterface<FailingChange> {};

TEST_P(KqueueFailedChange, IsReportedWithItsErrno) {
    const FailingChange& row = GetParam();
    SocketPair pair;
    std::uintptr_t ident = 7;
    if (row.target == Target::openSocket) ident = static_cast<std::uintptr_t>(pair.near);
    if (row.target == Target::closedDescriptor) {
        ident = static_cast<std::uintptr_t>(pair.far);
        close(std::exchange(pair.far, -1));
    }
    const Change changes[] = {{ident, row.filter, row.flags, row.fflags, &staleMarker}};

    auto events = waitOnce(changes);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_NE(events[0].flags & error, 0);
    EXPECT_EQ(events[0].data, row.expected);
    EXPECT_EQ(events[0].ident, ident);
    EXPECT_EQ(events[0].udata, &staleMarker);

    auto noRoom = queue().wait(changes, {});
    ASSERT_FALSE(noRoom.has_value());
    EXPECT_EQ(noRoom.error(), row.expected);
    auto submitted = queue().submit(changes);
    ASSERT_FALSE(submitted.has_value());
    EXPECT_EQ(submitted.error(), row.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, KqueueFailedChange,
    testing::Values(
        FailingChange{"ReadOnClosed", Filter::read, add | clear, 0, Target::closedDescriptor,
                      EBADF},
        FailingChange{"WriteOnClosed", Filter::write, add | oneshot, 0, Target::closedDescriptor,
                      EBADF},
        FailingChange{"RemoveAbsentRead", Filter::read, remove, 0, Target::openSocket, ENOENT},
        FailingChange{"RemoveAbsentWrite", Filter::write, remove, 0, Target::openSocket, ENOENT},
        FailingChange{"TriggerUnknownUser", Filter::user, 0, trigger, Target::unknownUserEvent,
                      ENOENT}),
    [](const testing::TestParamInfo<FailingChange>& info) { return info.param.name; });

}  // namespace
}  // namespace vorn::kev
