#include "observe/log_queue.hpp"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>

#include "common/thread.hpp"
#include "observe/log_line.hpp"

namespace vorn {

namespace {

constexpr std::size_t lengthBytes = 2;

std::atomic<LogQueue*> published{nullptr};

}  // namespace

std::expected<void, Error> LogQueue::start() {
    {
        std::lock_guard lock(mutex_);
        ring_.reset(new (std::nothrow) char[capacity]);
        if (!ring_) return std::unexpected(Error::OutOfMemory);
        head_ = 0;
        count_ = 0;
        stopping_ = false;
    }
    auto thread = startThread(&LogQueue::writerMain, this);
    if (!thread) {
        std::lock_guard lock(mutex_);
        ring_.reset();
        return std::unexpected(thread.error());
    }
    writer_ = *thread;
    started_ = true;
    return {};
}

bool LogQueue::push(std::string_view line, LineKind kind) {
    if (line.size() > logLineCapacity) return false;
    const std::size_t recordLength = line.size() + 1;
    const std::array<char, lengthBytes> length = {static_cast<char>(recordLength & 0xFF),
                                                  static_cast<char>(recordLength >> 8)};
    const std::size_t limit = kind == LineKind::verdict ? capacity - messageReserve : capacity;
    {
        std::lock_guard lock(mutex_);
        if (!ring_ || stopping_ || count_ + recordLength + lengthBytes > limit) return false;
        copyIn(head_ + count_, {length.data(), length.size()});
        copyIn(head_ + count_ + lengthBytes, line);
        copyIn(head_ + count_ + lengthBytes + line.size(), "\n");
        count_ += recordLength + lengthBytes;
    }
    wake_.notify_one();
    return true;
}

void LogQueue::stop() {
    if (started_) {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        pthread_join(writer_, nullptr);
        started_ = false;
    }
    std::lock_guard lock(mutex_);
    ring_.reset();
}

void* LogQueue::writerMain(void* self) {
    static_cast<LogQueue*>(self)->runWriter();
    return nullptr;
}

// Exits only once stopping and the ring is empty, so stop() loses nothing.
void LogQueue::runWriter() {
    std::array<char, batchCapacity> batch;
    while (true) {
        std::size_t size = 0;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return count_ != 0 || stopping_; });
            if (count_ == 0) return;
            size = takeBatch(batch);
        }
        writeBatch(std::span<const char>(batch.data(), size));
    }
}

std::size_t LogQueue::takeBatch(std::span<char, batchCapacity> batch) {
    std::size_t size = 0;
    while (count_ != 0) {
        std::array<char, lengthBytes> length{};
        copyOut(head_, length);
        const std::size_t recordLength = static_cast<unsigned char>(length[0]) |
                                         (std::size_t{static_cast<unsigned char>(length[1])} << 8);
        if (size + recordLength > batch.size()) break;
        copyOut(head_ + lengthBytes, batch.subspan(size, recordLength));
        size += recordLength;
        head_ = (head_ + lengthBytes + recordLength) % capacity;
        count_ -= lengthBytes + recordLength;
    }
    return size;
}

// A failed write loses the rest of the batch; there is nowhere to report it.
void LogQueue::writeBatch(std::span<const char> batch) const {
    while (!batch.empty()) {
        ssize_t written = write(fd_, batch.data(), batch.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        batch = batch.subspan(static_cast<std::size_t>(written));
    }
}

// `position` may lie past the end of the ring; the bytes wrap to its start.
void LogQueue::copyIn(std::size_t position, std::string_view bytes) {
    if (bytes.empty()) return;
    position %= capacity;
    const std::size_t first = std::min(bytes.size(), capacity - position);
    std::memcpy(ring_.get() + position, bytes.data(), first);
    std::memcpy(ring_.get(), bytes.data() + first, bytes.size() - first);
}

void LogQueue::copyOut(std::size_t position, std::span<char> into) const {
    position %= capacity;
    const std::size_t first = std::min(into.size(), capacity - position);
    std::memcpy(into.data(), ring_.get() + position, first);
    std::memcpy(into.data() + first, ring_.get(), into.size() - first);
}

void publishLogQueue(LogQueue* queue) {
    published.store(queue, std::memory_order_release);
}

LogQueue* publishedLogQueue() {
    return published.load(std::memory_order_acquire);
}

}  // namespace vorn
