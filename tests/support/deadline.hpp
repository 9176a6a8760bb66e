#pragma once

#include <chrono>

namespace vorn::test {

using Millis = std::chrono::milliseconds;

// Long enough for a loaded build machine, short enough that a hung daemon
// fails its test instead of stalling the whole run.
inline constexpr Millis defaultTimeout{5000};

// A point in time after which a wait gives up.
class Deadline {
public:
    explicit Deadline(Millis timeout) : end_(std::chrono::steady_clock::now() + timeout) {}

    [[nodiscard]] bool passed() const { return std::chrono::steady_clock::now() >= end_; }

    [[nodiscard]] std::chrono::steady_clock::time_point end() const { return end_; }

    // Milliseconds left, rounded up, in the form poll(2) takes; 0 once passed.
    [[nodiscard]] int pollMillis() const {
        auto left = std::chrono::ceil<Millis>(end_ - std::chrono::steady_clock::now()).count();
        if (left <= 0) return 0;
        return left > 1'000'000 ? 1'000'000 : static_cast<int>(left);
    }

private:
    std::chrono::steady_clock::time_point end_;
};

}  // namespace vorn::test
