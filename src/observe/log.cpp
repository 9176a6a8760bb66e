#include "observe/log.hpp"

#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <mutex>

#include "observe/log_queue.hpp"

namespace vorn {

namespace {

constexpr int standardError = 2;

// Any thread that logs may add; the metrics page reads it.
std::atomic<std::uint64_t> droppedMessages{0};

std::recursive_mutex& standardErrorLock() {
    static std::recursive_mutex lock;
    return lock;
}

void writeAll(std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = write(standardError, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

}  // namespace

void logMessage(LogLevel level, std::string_view message) {
    LogLine line;
    line.begin(level);
    line.pair("msg", message);
    LogQueue* queue = publishedLogQueue();
    if (queue == nullptr) {
        writeDirect(line.view());
    } else if (!queue->push(line.view(), LogQueue::LineKind::message)) {
        droppedMessages.fetch_add(1, std::memory_order_relaxed);
    }
}

std::uint64_t logMessagesDropped() {
    return droppedMessages.load(std::memory_order_relaxed);
}

void writeDirect(std::string_view line) {
    std::array<char, logLineCapacity + 1> bytes{};
    const std::size_t length = line.copy(bytes.data(), logLineCapacity);
    bytes[length] = '\n';
    std::lock_guard lock(standardErrorLock());
    writeAll(std::string_view(bytes.data(), length + 1));
}

}  // namespace vorn
