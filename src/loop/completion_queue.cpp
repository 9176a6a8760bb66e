#include "loop/completion_queue.hpp"

#include "loop/event_loop.hpp"

namespace vorn {

void CompletionQueue::push(Completion completion) {
    {
        std::lock_guard lock(mutex_);
        ring_[(head_ + count_) % capacity] = completion;
        ++count_;
    }
    loop_.wake();
}

std::span<const Completion> CompletionQueue::drain(std::span<Completion, capacity> buffer) {
    std::lock_guard lock(mutex_);
    std::size_t n = count_;
    for (std::size_t i = 0; i < n; ++i) buffer[i] = ring_[(head_ + i) % capacity];
    head_ = (head_ + n) % capacity;
    count_ -= n;
    return buffer.first(n);
}

}  // namespace vorn
