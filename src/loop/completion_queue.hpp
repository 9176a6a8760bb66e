#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <span>

#include "common/completion_sink.hpp"
#include "common/parking.hpp"

namespace vorn {

class EventLoop;

// A worker's finished job, for the loop to hand to its handler.
struct Completion {
    std::uint64_t slot = 0;
    std::uint8_t ok = 0;
};

// The ring through which worker threads hand results to the loop. Each
// result belongs to one parking slot and each slot has at most one job in
// flight, so a ring as large as the slots is never full.
class CompletionQueue final : public CompletionSink {
public:
    static constexpr std::size_t capacity = parkingCapacity;

    explicit CompletionQueue(EventLoop& loop) : loop_(loop) {}

    // Any thread: appends under the lock, then wakes the loop.
    void push(Completion completion);
    void post(std::uint64_t slot, bool ok) override {
        push({slot, ok ? std::uint8_t{1} : std::uint8_t{0}});
    }

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
