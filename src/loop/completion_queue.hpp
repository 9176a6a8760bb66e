#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <span>

namespace vorn {

class EventLoop;

// A finished signature check for a parked request.
struct Completion {
    std::uint64_t slot = 0;
    std::uint8_t ok = 0;
};

// The ring through which verification threads hand results to the loop.
// Its capacity equals the number of parking slots and each parked slot
// yields exactly one completion, so it is never full.
class CompletionQueue {
public:
    static constexpr std::size_t capacity = 1024;

    explicit CompletionQueue(EventLoop& loop) : loop_(loop) {}

    // Any thread: appends under the lock, then wakes the loop.
    void push(Completion completion);

    // Loop thread: moves every queued completion into `buffer`, holding the
    // lock only for the copy.
    [[nodiscard]] std::span<const Completion> drain(std::span<Completion, capacity> buffer);

private:
    EventLoop& loop_;
    std::mutex mutex_;
    // Guarded by mutex_.
    std::array<Completion, capacity> ring_{};
    std::size_t head_ = 0;
    std::size_t count_ = 0;
};

}  // namespace vorn
