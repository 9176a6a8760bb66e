#pragma once

#include <cstddef>
#include <cstdint>

#include "loop/connection.hpp"
#include "observe/stats_block.hpp"

namespace vorn {

// 64 KiB buffer chunks, allocated lazily up to the limit and never given back
// to the allocator while the loop runs. A connection that finds none waits
// in line (first in, first out) and is resumed when chunks come back.
//
// The last `outputReserve` chunks only go to output: input alone can then
// never hold every chunk, so a connection with a complete request always
// gets room to answer it, and answering is what frees input again.
// Belongs to the loop thread.
class ChunkPool {
public:
    ChunkPool(std::uint64_t limit, std::uint64_t outputReserve, StatsBlock& stats);
    ~ChunkPool();
    ChunkPool(const ChunkPool&) = delete;
    ChunkPool& operator=(const ChunkPool&) = delete;

    // A chunk for `connection` to use as `use`, or nullptr: it then waits on
    // the list (counted once per wait) and must do nothing until resumed.
    [[nodiscard]] std::byte* acquire(Connection& connection, ChunkUse use);
    void release(std::byte* chunk);

    // True when a chunk for `use` can be had without waiting.
    [[nodiscard]] bool canSupply(ChunkUse use) const;

    [[nodiscard]] WaitingConnections& waiters() { return waiters_; }
    // Takes a connection off the wait list, if it is on it.
    void stopWaiting(Connection& connection);

    [[nodiscard]] std::uint64_t limit() const { return limit_; }
    [[nodiscard]] std::uint64_t allocated() const { return allocated_; }
    [[nodiscard]] std::uint64_t inUse() const { return inUse_; }

private:
    struct FreeChunk {
        FreeChunk* next;
    };

    std::byte* take();

    std::uint64_t limit_;
    std::uint64_t outputReserve_;
    std::uint64_t allocated_ = 0;
    std::uint64_t inUse_ = 0;
    FreeChunk* freeList_ = nullptr;
    WaitingConnections waiters_;
    StatsBlock& stats_;
};

}  // namespace vorn
