// The Linux event layer: kqueue semantics over epoll, eventfd and signalfd.
//
// The queue's descriptor is an epoll instance holding every read
// registration and three descriptors of our own: an eventfd for the user
// event, a signalfd for watched signals, and a second epoll instance holding
// every write registration. Keeping writes in their own instance makes read
// and write interest in one descriptor as independent as two knotes: arming
// a write never re-reports unread input, and each keeps its own udata.

#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <new>
#include <type_traits>
#include <utility>

#include "loop/kevent.hpp"

namespace vorn::kev {

namespace {

// epoll events fetched per wait; a longer event list just takes more waits.
constexpr std::size_t epollBatch = 64;
// Signal deliveries read per wait.
constexpr std::size_t signalBatch = 16;
constexpr std::size_t initialSlots = 64;

// epoll data of our own descriptors; a registered descriptor's data is its
// number, which is below 2^31.
constexpr std::uint64_t userTag = std::uint64_t{1} << 32;
constexpr std::uint64_t signalTag = std::uint64_t{2} << 32;
constexpr std::uint64_t writeSetTag = std::uint64_t{3} << 32;

// One filter's registration of one descriptor.
struct Interest {
    void* udata;
    bool armed;    // registered and able to fire
    bool inSet;    // in its epoll set; a fired one-shot stays there, disabled
    bool oneshot;  // disarmed by its first event
};

// Both registrations of one descriptor; all zero means none.
struct Slot {
    Interest read;
    Interest write;
};
static_assert(std::is_trivially_copyable_v<Slot>, "slots are grown with realloc");

Interest& interestOf(Slot& slot, Filter filter) {
    return filter == Filter::read ? slot.read : slot.write;
}

std::uint32_t epollMask(Filter filter, std::uint16_t flags) {
    std::uint32_t mask = filter == Filter::read ? EPOLLIN | EPOLLRDHUP : EPOLLOUT;
    if (flags & clear) mask |= EPOLLET;
    if (flags & oneshot) mask |= EPOLLONESHOT;
    return mask;
}

// The pending error of a descriptor on which epoll reported EPOLLERR.
int descriptorError(int fd) {
    int value = 0;
    socklen_t length = sizeof value;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &value, &length) != 0 || value == 0) return EIO;
    return value;
}

sigset_t onlySignal(int signal) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    return set;
}

}  // namespace

// Owned by the queue's thread, except the user-event fields that a trigger
// reads from any thread: they are set when the user event is registered,
// before any other thread may trigger it.
struct Kqueue::Platform {
    explicit Platform(int readSetFd) : readSet(readSetFd) {
        sigemptyset(&watched);
        sigemptyset(&blockedHere);
    }
    Platform(const Platform&) = delete;
    Platform& operator=(const Platform&) = delete;

    ~Platform() {
        for (int signal = 1; signal < NSIG; ++signal) release(signal);
        for (int fd : {writeSet, userFd, signalFd}) {
            if (fd >= 0) close(fd);
        }
        std::free(slots);
    }

    // Creates our own descriptors and puts them in the read set,
    // level-triggered so that what one wait has no room for comes back at the
    // next. Returns 0 or errno.
    int openOwnDescriptors() {
        writeSet = epoll_create1(EPOLL_CLOEXEC);
        if (writeSet < 0) return errno;
        userFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (userFd < 0) return errno;
        signalFd = signalfd(-1, &watched, SFD_NONBLOCK | SFD_CLOEXEC);
        if (signalFd < 0) return errno;
        const std::pair<int, std::uint64_t> own[] = {
            {writeSet, writeSetTag}, {userFd, userTag}, {signalFd, signalTag}};
        for (const auto& [fd, tag] : own) {
            epoll_event event{};
            event.events = EPOLLIN;
            event.data.u64 = tag;
            if (epoll_ctl(readSet, EPOLL_CTL_ADD, fd, &event) != 0) return errno;
        }
        return 0;
    }

    // Applies one change; returns 0 or errno.
    int apply(const Change& change) {
        if ((change.flags & add) && (change.flags & remove)) return EINVAL;
        switch (change.filter) {
            case Filter::read:
            case Filter::write:
                return applyDescriptor(change);
            case Filter::user:
                return applyUser(change);
            case Filter::signal:
                return applySignal(change);
        }
        return EINVAL;
    }

    // Turns `ready` entries of `batch` into events; returns how many.
    // `out` has room for at least `ready` events. Each descriptor entry yields
    // at most one event, so they go first; signals and writes take the room
    // left, and what does not fit stays pending for the next wait.
    std::size_t collect(int ready, std::span<Event> out) {
        std::size_t produced = 0;
        bool signalsReady = false;
        bool writesReady = false;
        for (int i = 0; i < ready; ++i) {
            const std::uint64_t key = batch[i].data.u64;
            if (key == userTag) {
                if (drainUser() && userRegistered) {
                    out[produced++] = Event{userIdent, Filter::user, 0, 0, 0, userUdata};
                }
            } else if (key == signalTag) {
                signalsReady = true;
            } else if (key == writeSetTag) {
                writesReady = true;
            } else if (report(Filter::read, static_cast<int>(key), batch[i].events,
                              out[produced])) {
                ++produced;
            }
        }
        if (signalsReady) produced += collectSignals(out.subspan(produced));
        if (writesReady) produced += collectWrites(out.subspan(produced));
        return produced;
    }

    // Drops every registration of `fd` before it is closed, so that a later
    // descriptor with the same number starts clean.
    void forget(int fd) {
        Slot* slot = find(fd);
        if (slot == nullptr) return;
        if (slot->read.inSet) epoll_ctl(readSet, EPOLL_CTL_DEL, fd, nullptr);
        if (slot->write.inSet) epoll_ctl(writeSet, EPOLL_CTL_DEL, fd, nullptr);
        *slot = Slot{};
    }

    // Blocks `signal` in the calling thread, which keeps it for the signalfd
    // (a signal set to SIG_IGN would be discarded before the signalfd saw
    // it). Remembers it when it was not blocked already. Returns 0 or errno.
    int block(int signal) {
        const sigset_t set = onlySignal(signal);
        sigset_t previous;
        if (const int failure = pthread_sigmask(SIG_BLOCK, &set, &previous); failure != 0) {
            return failure;
        }
        if (sigismember(&previous, signal) == 0) sigaddset(&blockedHere, signal);
        return 0;
    }

    // Unblocks a signal that `block` blocked. Deliveries that arrived
    // meanwhile were ignored as signals, so they are discarded first rather
    // than delivered now.
    void release(int signal) {
        if (sigismember(&blockedHere, signal) != 1) return;
        const sigset_t set = onlySignal(signal);
        const timespec now{};
        for (;;) {
            if (sigtimedwait(&set, nullptr, &now) < 0 && errno != EINTR) break;
        }
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        sigdelset(&blockedHere, signal);
    }

    // Removes `signal` from the signalfd if it is watched.
    void unwatch(int signal) {
        if (sigismember(&watched, signal) != 1) return;
        sigdelset(&watched, signal);
        signalUdata[static_cast<std::size_t>(signal)] = nullptr;
        signalfd(signalFd, &watched, 0);
    }

    const int readSet;
    std::array<epoll_event, epollBatch> batch{};

private:
    Slot* find(int fd) {
        return fd >= 0 && static_cast<std::size_t>(fd) < slotCount ? &slots[fd] : nullptr;
    }

    // The slot of `fd`, growing the table without throwing; null when out of
    // memory.
    Slot* reserve(int fd) {
        if (Slot* slot = find(fd)) return slot;
        const std::size_t count =
            std::max({static_cast<std::size_t>(fd) + 1, slotCount * 2, initialSlots});
        void* grown = std::realloc(static_cast<void*>(slots), count * sizeof(Slot));
        if (grown == nullptr) return nullptr;
        slots = static_cast<Slot*>(grown);
        std::memset(static_cast<void*>(slots + slotCount), 0, (count - slotCount) * sizeof(Slot));
        slotCount = count;
        return &slots[fd];
    }

    // Read or write interest in a descriptor: add, re-add (new udata, and
    // readiness is re-evaluated) or remove.
    int applyDescriptor(const Change& change) {
        if (change.ident > INT_MAX) return EBADF;
        const int fd = static_cast<int>(change.ident);
        const int set = change.filter == Filter::read ? readSet : writeSet;
        Slot* slot = find(fd);
        const Interest current = slot != nullptr ? interestOf(*slot, change.filter) : Interest{};
        if (change.flags & remove) {
            if (!current.armed) return ENOENT;
            const int result = epoll_ctl(set, EPOLL_CTL_DEL, fd, nullptr) == 0 ? 0 : errno;
            interestOf(*slot, change.filter) = Interest{};
            return result;
        }
        if (!(change.flags & add)) return current.armed ? 0 : ENOENT;

        epoll_event event{};
        event.events = epollMask(change.filter, change.flags);
        event.data.u64 = static_cast<std::uint64_t>(fd);
        int result = epoll_ctl(set, current.inSet ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd, &event);
        // A descriptor closed without closeDescriptor left its epoll entry
        // behind; its number now belongs to a new one.
        if (result != 0 && errno == ENOENT) result = epoll_ctl(set, EPOLL_CTL_ADD, fd, &event);
        if (result != 0) return errno;
        if (slot == nullptr) slot = reserve(fd);
        if (slot == nullptr) {
            epoll_ctl(set, EPOLL_CTL_DEL, fd, nullptr);
            return ENOMEM;
        }
        interestOf(*slot, change.filter) =
            Interest{change.udata, true, true, (change.flags & oneshot) != 0};
        return 0;
    }

    // The one user event of the queue: add (auto-resetting only), remove,
    // trigger. A trigger alone is the only change safe from other threads.
    int applyUser(const Change& change) {
        const bool known = userRegistered && change.ident == userIdent;
        if (change.flags & remove) {
            if (!known) return ENOENT;
            userRegistered = false;
            // A trigger left pending must not fire a later registration.
            drainUser();
            return 0;
        }
        if (change.flags & add) {
            if (!(change.flags & clear) || (userRegistered && !known)) return EINVAL;
            userIdent = change.ident;
            userUdata = change.udata;
            userRegistered = true;
        } else if (!known) {
            return ENOENT;
        }
        return (change.fflags & trigger) ? triggerUser() : 0;
    }

    int triggerUser() {
        const std::uint64_t one = 1;
        // EAGAIN: the counter is saturated, so the event is pending anyway.
        if (write(userFd, &one, sizeof one) < 0 && errno != EAGAIN) return errno;
        return 0;
    }

    // Resets the user event; returns whether it had been triggered.
    bool drainUser() {
        std::uint64_t count = 0;
        return read(userFd, &count, sizeof count) == static_cast<ssize_t>(sizeof count);
    }

    int applySignal(const Change& change) {
        if (change.ident == 0 || change.ident >= NSIG) return EINVAL;
        const int signal = static_cast<int>(change.ident);
        const bool watching = sigismember(&watched, signal) == 1;
        if (change.flags & remove) {
            if (!watching) return ENOENT;
            unwatch(signal);
            return 0;
        }
        if (!(change.flags & add)) return watching ? 0 : ENOENT;
        if (const int failure = block(signal); failure != 0) return failure;
        sigaddset(&watched, signal);
        if (signalfd(signalFd, &watched, 0) < 0) {
            const int failure = errno;
            sigdelset(&watched, signal);
            return failure;
        }
        signalUdata[static_cast<std::size_t>(signal)] = change.udata;
        return 0;
    }

    // Fills `event` from one epoll entry of a registered descriptor; false
    // when the registration is gone.
    bool report(Filter filter, int fd, std::uint32_t ready, Event& event) {
        Slot* slot = find(fd);
        if (slot == nullptr) return false;
        Interest& interest = interestOf(*slot, filter);
        if (!interest.armed) return false;
        // The kernel disabled a fired one-shot; it stays in the set so that
        // registering it again is one EPOLL_CTL_MOD.
        if (interest.oneshot) interest.armed = false;
        event = Event{static_cast<std::uintptr_t>(fd), filter, 0, 0, 0, interest.udata};
        const std::uint32_t hangup = filter == Filter::read ? EPOLLRDHUP | EPOLLHUP : EPOLLHUP;
        if (ready & hangup) event.flags |= endOfStream;
        if (ready & EPOLLERR) {
            event.flags |= error;
            event.data = descriptorError(fd);
        }
        return true;
    }

    // One event per signal number among the deliveries read now, `data`
    // counting them.
    std::size_t collectSignals(std::span<Event> out) {
        std::array<signalfd_siginfo, signalBatch> deliveries;
        const std::size_t wanted = std::min(out.size(), signalBatch);
        if (wanted == 0) return 0;
        const ssize_t bytes = read(signalFd, deliveries.data(), wanted * sizeof(signalfd_siginfo));
        if (bytes <= 0) return 0;
        std::size_t produced = 0;
        const auto count = static_cast<std::size_t>(bytes) / sizeof(signalfd_siginfo);
        for (std::size_t i = 0; i < count; ++i) {
            const std::uintptr_t signal = deliveries[i].ssi_signo;
            const auto reported = out.first(produced);
            const auto same = std::ranges::find(reported, signal, &Event::ident);
            if (same != reported.end()) {
                ++same->data;
            } else {
                out[produced++] = Event{signal, Filter::signal, 0, 0, 1, signalUdata[signal]};
            }
        }
        return produced;
    }

    std::size_t collectWrites(std::span<Event> out) {
        const auto room = static_cast<int>(std::min(out.size(), batch.size()));
        if (room == 0) return 0;
        const int ready = epoll_wait(writeSet, batch.data(), room, 0);
        std::size_t produced = 0;
        for (int i = 0; i < ready; ++i) {
            const auto fd = static_cast<int>(batch[i].data.u64);
            if (report(Filter::write, fd, batch[i].events, out[produced])) ++produced;
        }
        return produced;
    }

    int writeSet = -1;
    int userFd = -1;
    int signalFd = -1;
    bool userRegistered = false;
    std::uintptr_t userIdent = 0;
    void* userUdata = nullptr;
    sigset_t watched;
    sigset_t blockedHere;  // signals `block` blocked in the owning thread
    std::array<void*, NSIG> signalUdata{};
    Slot* slots = nullptr;  // indexed by descriptor
    std::size_t slotCount = 0;
};

std::expected<Kqueue, int> Kqueue::create() {
    const int fd = epoll_create1(EPOLL_CLOEXEC);
    if (fd < 0) return std::unexpected(errno);
    auto* platform = new (std::nothrow) Platform(fd);
    if (platform == nullptr) {
        close(fd);
        return std::unexpected(ENOMEM);
    }
    Kqueue queue(fd, platform);
    if (const int failure = platform->openOwnDescriptors(); failure != 0)
        return std::unexpected(failure);
    return queue;
}

Kqueue::Kqueue(Kqueue&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), platform_(std::exchange(other.platform_, nullptr)) {}

Kqueue& Kqueue::operator=(Kqueue&& other) noexcept {
    std::swap(fd_, other.fd_);
    std::swap(platform_, other.platform_);
    return *this;
}

Kqueue::~Kqueue() {
    delete platform_;
    if (fd_ >= 0) close(fd_);
}

std::expected<std::size_t, int> Kqueue::wait(std::span<const Change> changes,
                                             std::span<Event> events,
                                             std::optional<std::int64_t> timeoutMillis) {
    std::size_t produced = 0;
    for (const Change& change : changes) {
        const int failure = platform_->apply(change);
        if (failure == 0) continue;
        if (produced == events.size()) return std::unexpected(failure);
        events[produced++] = Event{change.ident, change.filter, error, 0, failure, change.udata};
    }
    if (produced > 0 || events.empty()) return produced;

    const auto room = static_cast<int>(std::min(events.size(), platform_->batch.size()));
    const int timeout = timeoutMillis ? static_cast<int>(std::clamp<std::int64_t>(
                                            *timeoutMillis, 0, std::numeric_limits<int>::max()))
                                      : -1;
    for (;;) {
        const int ready = epoll_wait(fd_, platform_->batch.data(), room, timeout);
        if (ready < 0) return std::unexpected(errno);
        // Nothing left to report (a registration removed meanwhile): wait on,
        // unless the wait has a limit, which the caller then looks at.
        const std::size_t count = platform_->collect(ready, events);
        if (count > 0 || timeoutMillis) return count;
    }
}

std::expected<void, int> Kqueue::submit(std::span<const Change> changes) {
    for (const Change& change : changes) {
        if (const int failure = platform_->apply(change); failure != 0) {
            return std::unexpected(failure);
        }
    }
    return {};
}

void Kqueue::closeDescriptor(int fd) {
    platform_->forget(fd);
    close(fd);
}

// Linux discards a signal set to SIG_IGN before a signalfd sees it, so the
// disposition stays as it is and the block keeps the signal from being
// delivered.
std::expected<void, int> Kqueue::ignoreSignal(int signal, struct sigaction& saved) {
    if (sigaction(signal, nullptr, &saved) != 0) return std::unexpected(errno);
    if (const int failure = platform_->block(signal); failure != 0) {
        return std::unexpected(failure);
    }
    return {};
}

void Kqueue::restoreSignal(int signal, const struct sigaction& saved) {
    platform_->unwatch(signal);
    sigaction(signal, &saved, nullptr);
    platform_->release(signal);
}

}  // namespace vorn::kev
