#pragma once

#include <pthread.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <mutex>
#include <span>
#include <string_view>

#include "common/error.hpp"

namespace vorn {

// The byte ring between log producers and the log writer thread, which drains
// it to a descriptor in large batches so that producers never block on a slow
// reader. Each line is one record: a 16-bit little-endian length L (the
// line's length plus one), then the line and a newline; records may wrap
// around the end of the ring.
class LogQueue {
public:
    static constexpr std::size_t capacity = 524'288;
    // The writer hands at most this many bytes of whole records to one write().
    static constexpr std::size_t batchCapacity = 65'536;
    // The end of the ring that verdict lines may not take: a flood of them,
    // or a reader that stopped, still leaves room for the daemon's own
    // messages (fifteen of the longest, hundreds of the usual).
    static constexpr std::size_t messageReserve = 65'536;

    enum class LineKind : std::uint8_t { verdict, message };

    explicit LogQueue(int fd = 2) : fd_(fd) {}
    LogQueue(const LogQueue&) = delete;
    LogQueue& operator=(const LogQueue&) = delete;
    ~LogQueue() { stop(); }

    // Allocates the ring and starts the writer thread; call once. Fails with
    // OutOfMemory, or with the thread start's error (the ring is then freed).
    [[nodiscard]] std::expected<void, Error> start();

    // Appends one line of at most 4095 bytes. False when the ring lacks room
    // (a verdict line also when only the reserve is left), the line is
    // longer, or the queue is not running.
    [[nodiscard]] bool push(std::string_view line, LineKind kind = LineKind::message);

    // Lets the writer drain every queued line, joins it and frees the ring.
    // Producers must have stopped pushing. Safe to call more than once.
    void stop();

private:
    static void* writerMain(void* self);
    void runWriter();
    // Moves whole records, oldest first, into `batch`; returns the bytes moved.
    std::size_t takeBatch(std::span<char, batchCapacity> batch);
    void writeBatch(std::span<const char> batch) const;
    void copyIn(std::size_t position, std::string_view bytes);
    void copyOut(std::size_t position, std::span<char> into) const;

    const int fd_;
    pthread_t writer_{};
    bool started_ = false;  // touched only by the owner's start() and stop()

    std::mutex mutex_;
    std::condition_variable wake_;
    // Guarded by mutex_.
    std::unique_ptr<char[]> ring_;
    std::size_t head_ = 0;   // oldest byte
    std::size_t count_ = 0;  // bytes held
    bool stopping_ = false;
};

// The process-wide running queue, or null before start-up and once shutdown
// has begun; producers read it before every push.
void publishLogQueue(LogQueue* queue);
[[nodiscard]] LogQueue* publishedLogQueue();

}  // namespace vorn
