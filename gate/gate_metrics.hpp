#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "gate_fault.hpp"

namespace vorn::gate {

// What the gate did, counted from every connection thread.
class GateMetrics {
public:
    void challengeServed() { challenges_.fetch_add(1, std::memory_order_relaxed); }
    void goodAnswer() { goodAnswers_.fetch_add(1, std::memory_order_relaxed); }
    void refused(Fault fault) {
        refused_[static_cast<std::size_t>(fault)].fetch_add(1, std::memory_order_relaxed);
    }

    // The Prometheus text page (format 0.0.4).
    [[nodiscard]] std::string page() const;

private:
    std::atomic<std::uint64_t> challenges_{0};
    std::atomic<std::uint64_t> goodAnswers_{0};
    std::array<std::atomic<std::uint64_t>, faultCount> refused_{};
};

}  // namespace vorn::gate
