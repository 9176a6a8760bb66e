// The BSD event layer: the interface is kqueue itself, so this file only
// converts records. Built on FreeBSD and macOS.

#include <sys/event.h>
#include <sys/time.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <ctime>
#include <utility>

#include "loop/kevent.hpp"

namespace vorn::kev {

namespace {

// Changes converted per kevent call; the loop's usual batch fits in one.
constexpr std::size_t changeBatch = 64;
// Kernel events fetched per wait; a longer event list just takes more waits.
constexpr std::size_t eventBatch = 64;

using NativeBatch = std::array<struct kevent, changeBatch>;

short nativeFilter(Filter filter) {
    switch (filter) {
        case Filter::read:
            return EVFILT_READ;
        case Filter::write:
            return EVFILT_WRITE;
        case Filter::user:
            return EVFILT_USER;
        case Filter::signal:
            return EVFILT_SIGNAL;
    }
    std::unreachable();
}

Filter ourFilter(short filter) {
    switch (filter) {
        case EVFILT_WRITE:
            return Filter::write;
        case EVFILT_USER:
            return Filter::user;
        case EVFILT_SIGNAL:
            return Filter::signal;
        default:
            return Filter::read;
    }
}

unsigned short nativeFlags(std::uint16_t flags) {
    unsigned short native = 0;
    if (flags & add) native |= EV_ADD;
    if (flags & remove) native |= EV_DELETE;
    if (flags & oneshot) native |= EV_ONESHOT;
    if (flags & clear) native |= EV_CLEAR;
    return native;
}

// Fields are set one by one rather than with EV_SET: some versions of the
// macro use a compound literal, which ISO C++ lacks.
struct kevent nativeChange(const Change& change, unsigned short extraFlags) {
    struct kevent native {};
    native.ident = change.ident;
    native.filter = nativeFilter(change.filter);
    native.flags = nativeFlags(change.flags) | extraFlags;
    native.fflags = (change.fflags & trigger) ? NOTE_TRIGGER : 0;
    native.udata = change.udata;
    return native;
}

// Converts at most changeBatch changes; returns how many.
int convert(std::span<const Change> changes, NativeBatch& out, unsigned short extraFlags) {
    const std::size_t count = std::min(changes.size(), out.size());
    for (std::size_t i = 0; i < count; ++i) out[i] = nativeChange(changes[i], extraFlags);
    return static_cast<int>(count);
}

Event ourEvent(const struct kevent& native) {
    Event event{native.ident,
                ourFilter(native.filter),
                0,
                native.fflags,
                static_cast<std::int64_t>(native.data),
                native.udata};
    if (native.flags & EV_EOF) event.flags |= endOfStream;
    if (native.flags & EV_ERROR) event.flags |= error;
    return event;
}

}  // namespace

std::expected<Kqueue, int> Kqueue::create() {
    const int fd = kqueue();
    if (fd < 0) return std::unexpected(errno);
    return Kqueue(fd, nullptr);
}

Kqueue::Kqueue(Kqueue&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), platform_(std::exchange(other.platform_, nullptr)) {}

Kqueue& Kqueue::operator=(Kqueue&& other) noexcept {
    std::swap(fd_, other.fd_);
    std::swap(platform_, other.platform_);
    return *this;
}

Kqueue::~Kqueue() {
    if (fd_ >= 0) close(fd_);
}

std::expected<std::size_t, int> Kqueue::wait(std::span<const Change> changes,
                                             std::span<Event> events,
                                             std::optional<std::int64_t> timeoutMillis) {
    std::size_t produced = 0;
    NativeBatch natives;
    // Every batch of changes but the last goes in with EV_RECEIPT: the kernel
    // answers each change (data 0 or errno) and drains no event before all
    // changes are in.
    while (changes.size() > changeBatch) {
        const int count = convert(changes, natives, EV_RECEIPT);
        const int answered = kevent(fd_, natives.data(), count, natives.data(), count, nullptr);
        if (answered < 0) return std::unexpected(errno);
        for (int i = 0; i < answered; ++i) {
            if (natives[i].data == 0) continue;
            if (produced == events.size())
                return std::unexpected(static_cast<int>(natives[i].data));
            events[produced++] = ourEvent(natives[i]);
        }
        changes = changes.subspan(changeBatch);
    }

    std::array<struct kevent, eventBatch> ready;
    const auto room = static_cast<int>(std::min(events.size() - produced, ready.size()));
    // Failed changes already reported: take what is ready, but do not block.
    const timespec now{};
    timespec limit{};
    if (timeoutMillis) {
        const std::int64_t millis = *timeoutMillis > 0 ? *timeoutMillis : 0;
        limit = {static_cast<time_t>(millis / 1000), static_cast<long>(millis % 1000) * 1000000};
    }
    const timespec* timeout = produced > 0 ? &now : timeoutMillis ? &limit : nullptr;
    const int count =
        kevent(fd_, natives.data(), convert(changes, natives, 0), ready.data(), room, timeout);
    if (count < 0) return std::unexpected(errno);
    for (int i = 0; i < count; ++i) events[produced++] = ourEvent(ready[i]);
    return produced;
}

std::expected<void, int> Kqueue::submit(std::span<const Change> changes) {
    NativeBatch natives;
    while (!changes.empty()) {
        const int count = convert(changes, natives, 0);
        if (kevent(fd_, natives.data(), count, nullptr, 0, nullptr) < 0) {
            return std::unexpected(errno);
        }
        changes = changes.subspan(static_cast<std::size_t>(count));
    }
    return {};
}

void Kqueue::closeDescriptor(int fd) {
    close(fd);
}

// kqueue still reports a signal whose disposition is SIG_IGN.
std::expected<void, int> Kqueue::ignoreSignal(int signal, struct sigaction& saved) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ignore.sa_flags = 0;
    if (sigaction(signal, &ignore, &saved) != 0) return std::unexpected(errno);
    return {};
}

void Kqueue::restoreSignal(int signal, const struct sigaction& saved) {
    sigaction(signal, &saved, nullptr);
}

}  // namespace vorn::kev
