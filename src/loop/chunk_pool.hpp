#pragma once

#include <cstddef>
#include <cstdint>

#include "loop/connection.hpp"
#include "observe/stats_block.hpp"

namespace vorn {

// The loop's 64 KiB buffer chunks, allocated lazily up to the limit and never
// given back to the allocator while the loop runs. A connection that finds
// none waits in line (first in, first out) and is resumed when chunks come
// back. Belongs to the loop thread.
class ChunkPool {
public:
    ChunkPool(std::uint64_t chunkLimit, StatsBlock& stats);
    ~ChunkPool();
    ChunkPool(const ChunkPool&) = delete;
    ChunkPool& operator=(const ChunkPool&) = delete;

    // A chunk for `connection`, or nullptr: it is then on the wait list
    // (counted once per wait) and must do nothing until resumed.
    [[nodiscard]] std::byte* acquire(Connection& connection);
    void release(std::byte* chunk);

    // True when a chunk can be had without waiting.
    [[nodiscard]] bool canSupply() const { return freeList_ != nullptr || allocated_ < limit_; }

    [[nodiscard]] bool hasWaiters() const { return waitHead_ != nullptr; }
    // Takes the first waiter off the list and clears its flag.
    [[nodiscard]] Connection* popWaiter();
    // Drops a connection from the wait list (when it is released).
    void unlinkWaiter(Connection& connection);

    [[nodiscard]] std::uint64_t limit() const { return limit_; }
    [[nodiscard]] std::uint64_t allocated() const { return allocated_; }
    [[nodiscard]] std::uint64_t inUse() const { return inUse_; }

private:
    struct FreeChunk {
        FreeChunk* next;
    };

    void appendWaiter(Connection& connection);

    std::uint64_t limit_;
    std::uint64_t allocated_ = 0;
    std::uint64_t inUse_ = 0;
    FreeChunk* freeList_ = nullptr;
    Connection* waitHead_ = nullptr;
    Connection* waitTail_ = nullptr;
    StatsBlock& stats_;
};

}  // namespace vorn
