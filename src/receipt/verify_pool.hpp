#pragma once

#include <pthread.h>

#include <array>
#include <condition_variable>
#include <cstddef>
#include <expected>
#include <memory>
#include <mutex>

#include "common/completion_sink.hpp"
#include "common/error.hpp"
#include "receipt/verify_job.hpp"

namespace vorn {

// Worker threads that check receipt signatures off the loop thread. The loop
// submits jobs to a bounded ring; each worker takes one, verifies it and
// posts the result to the sink. Not copyable or movable: workers hold its
// address.
class VerifyPool {
public:
    static constexpr std::size_t ringCapacity = 4096;
    static constexpr unsigned maxThreads = 16;

    VerifyPool() = default;
    VerifyPool(const VerifyPool&) = delete;
    VerifyPool& operator=(const VerifyPool&) = delete;
    ~VerifyPool() { stop(); }

    // Reserves the ring and starts `threadCount` (1-16) workers that post to
    // `sink`, which must outlive the pool. InvalidArgument for a bad count or
    // a pool already started; OutOfMemory, or the thread error, leaving
    // nothing running.
    [[nodiscard]] std::expected<void, Error> start(unsigned threadCount, CompletionSink& sink);

    // Queues a job and wakes one worker; false when the ring is full or the
    // pool is not running. Loop thread.
    [[nodiscard]] bool submit(const VerifyJob& job);

    // Drops the jobs still queued (the loop that would take their results
    // has stopped), lets each worker finish the check in its hands, joins
    // them and frees the ring. Does nothing when not started.
    void stop();

private:
    static void* workerBody(void* pool);
    void work();
    // Waits for a job; false when the pool stops and the ring is empty.
    [[nodiscard]] bool take(VerifyJob& job);

    std::mutex mutex_;
    std::condition_variable wake_;
    // Guarded by mutex_: the ring, its head and count, and stopping_.
    std::unique_ptr<VerifyJob[]> ring_;
    std::size_t head_ = 0;
    std::size_t count_ = 0;
    bool stopping_ = false;

    // Set by start before any worker runs, cleared by stop after the last
    // one is joined; the workers only read the sink.
    CompletionSink* sink_ = nullptr;
    std::array<pthread_t, maxThreads> threads_{};
    unsigned threadCount_ = 0;
};

}  // namespace vorn
