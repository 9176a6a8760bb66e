#include "receipt/verify_pool.hpp"

#include <new>

#include "common/thread.hpp"
#include "token/signature.hpp"

namespace vorn {

std::expected<void, Error> VerifyPool::start(unsigned threadCount, CompletionSink& sink) {
    if (threadCount == 0 || threadCount > maxThreads || threadCount_ > 0) {
        return std::unexpected(Error::InvalidArgument);
    }
    if (auto ready = prepareSignatures(); !ready) return ready;
    std::unique_ptr<VerifyJob[]> ring(new (std::nothrow) VerifyJob[ringCapacity]);
    if (!ring) return std::unexpected(Error::OutOfMemory);
    {
        std::lock_guard lock(mutex_);
        ring_ = std::move(ring);
        head_ = 0;
        count_ = 0;
        stopping_ = false;
    }
    sink_ = &sink;
    while (threadCount_ < threadCount) {
        auto thread = startThread(&VerifyPool::workerBody, this);
        if (!thread) {
            stop();
            return std::unexpected(thread.error());
        }
        threads_[threadCount_++] = *thread;
    }
    return {};
}

bool VerifyPool::submit(const VerifyJob& job) {
    {
        std::lock_guard lock(mutex_);
        if (!ring_ || stopping_ || count_ == ringCapacity) return false;
        ring_[(head_ + count_) % ringCapacity] = job;
        ++count_;
    }
    wake_.notify_one();
    return true;
}

void VerifyPool::stop() {
    {
        std::lock_guard lock(mutex_);
        if (!ring_) return;
        stopping_ = true;
        count_ = 0;
    }
    wake_.notify_all();
    for (unsigned i = 0; i < threadCount_; ++i) pthread_join(threads_[i], nullptr);
    threadCount_ = 0;
    sink_ = nullptr;
    std::lock_guard lock(mutex_);
    ring_.reset();
}

void* VerifyPool::workerBody(void* pool) {
    static_cast<VerifyPool*>(pool)->work();
    return nullptr;
}

bool VerifyPool::take(VerifyJob& job) {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return count_ > 0 || stopping_; });
    if (count_ == 0) return false;
    job = ring_[head_];
    head_ = (head_ + 1) % ringCapacity;
    --count_;
    return true;
}

void VerifyPool::work() {
    VerifyJob job;
    while (take(job)) {
        const bool fits = job.messageLength <= job.message.size();
        const bool ok =
            fits && verifyReceiptSignature(std::string_view(job.message.data(), job.messageLength),
                                           job.signature, job.publicKey);
        sink_->post(job.slot, ok);
    }
}

}  // namespace vorn
