#pragma once

#include <csignal>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>

namespace vorn::kev {

// A small kevent-style interface. On FreeBSD and macOS it is kqueue itself;
// on Linux a layer over epoll, eventfd and signalfd keeps the semantics the
// event loop relies on (see kevent_linux.cpp).

enum class Filter : std::uint8_t { read, write, user, signal };

// Change flags.
inline constexpr std::uint16_t add = 0x0001;
inline constexpr std::uint16_t remove = 0x0002;   // EV_DELETE
inline constexpr std::uint16_t oneshot = 0x0010;  // fires once, then is gone
inline constexpr std::uint16_t clear = 0x0020;    // edge-triggered; a user event resets
// Result flags.
inline constexpr std::uint16_t endOfStream = 0x8000;
inline constexpr std::uint16_t error =
    0x4000;  // the change or the descriptor failed; data is errno

// Filter flag of a user-event change that triggers it.
inline constexpr std::uint32_t trigger = 0x01000000;

struct Change {
    std::uintptr_t ident = 0;  // descriptor, signal number or user-event number
    Filter filter = Filter::read;
    std::uint16_t flags = 0;
    std::uint32_t fflags = 0;
    void* udata = nullptr;
};

struct Event {
    std::uintptr_t ident = 0;
    Filter filter = Filter::read;
    std::uint16_t flags = 0;
    std::uint32_t fflags = 0;
    // Read: bytes readable or connections pending, 0 when unknown (Linux never
    // knows). Signal: deliveries since the last report. Error: errno.
    std::int64_t data = 0;
    void* udata = nullptr;
};

class Kqueue {
public:
    // Creates the queue; fails with errno.
    [[nodiscard]] static std::expected<Kqueue, int> create();

    Kqueue(Kqueue&& other) noexcept;
    Kqueue& operator=(Kqueue&& other) noexcept;
    Kqueue(const Kqueue&) = delete;
    Kqueue& operator=(const Kqueue&) = delete;
    ~Kqueue();

    // Applies `changes` in order, then waits for up to events.size() events,
    // for at most `timeoutMillis` when given (0 events when it passes). A
    // change that fails is reported as an event with `error` set (udata of
    // the change, data = errno) when there is room, and the call then returns
    // without waiting. Returns the number of events, or errno (EINTR when
    // interrupted; the changes were applied all the same).
    [[nodiscard]] std::expected<std::size_t, int> wait(
        std::span<const Change> changes, std::span<Event> events,
        std::optional<std::int64_t> timeoutMillis = std::nullopt);

    // Applies `changes` at once without waiting; the first failure is
    // returned as errno. Triggering a user event this way is safe from any
    // thread; every other change belongs to the owning thread.
    [[nodiscard]] std::expected<void, int> submit(std::span<const Change> changes);

    // Closes a descriptor; its registrations go with it, as close() does with
    // kqueue.
    void closeDescriptor(int fd);

    // Makes `signal` ignored as a signal while a Filter::signal registration
    // still reports it, saving the previous disposition in `saved`.
    [[nodiscard]] std::expected<void, int> ignoreSignal(int signal, struct sigaction& saved);
    // Puts the disposition saved by ignoreSignal back.
    void restoreSignal(int signal, const struct sigaction& saved);

    // The queue's own descriptor, for identity (the signal table).
    [[nodiscard]] int descriptor() const { return fd_; }

private:
    struct Platform;
    Kqueue(int fd, Platform* platform) : fd_(fd), platform_(platform) {}

    int fd_ = -1;
    Platform* platform_ = nullptr;  // Linux bookkeeping; null on BSD
};

}  // namespace vorn::kev
