#pragma once

#include <cstdint>

#include "loop/completion_queue.hpp"
#include "receipt/completion_sink.hpp"

namespace vorn {

// Hands the signature workers' results to the loop's completion queue,
// which wakes the loop. Called on worker threads.
//
// A test hook: while the file named by VORN_SPOA_TEST_HOLD_VERIFY (read at
// start-up) exists, a finished check waits before it is handed over, which
// stalls the workers so that a test can fill every parking slot.
class LoopCompletions final : public CompletionSink {
public:
    explicit LoopCompletions(CompletionQueue& queue);

    void post(std::uint64_t slot, bool ok) override;

private:
    CompletionQueue& queue_;
    const char* holdFile_;
};

}  // namespace vorn
