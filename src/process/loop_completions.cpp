#include "process/loop_completions.hpp"

#include <unistd.h>

#include <cstdlib>
#include <ctime>

namespace vorn {

LoopCompletions::LoopCompletions(CompletionQueue& queue)
    : queue_(queue), holdFile_(std::getenv("VORN_SPOA_TEST_HOLD_VERIFY")) {}

void LoopCompletions::post(std::uint64_t slot, bool ok) {
    while (holdFile_ != nullptr && ::access(holdFile_, F_OK) == 0) {
        const timespec pause{0, 10'000'000};
        ::nanosleep(&pause, nullptr);
    }
    queue_.push({slot, static_cast<std::uint8_t>(ok ? 1 : 0)});
}

}  // namespace vorn
