#include "loop/chunk_pool.hpp"

#include <cassert>
#include <cstdlib>

#include "loop/connection_limits.hpp"

namespace vorn {

ChunkPool::ChunkPool(std::uint64_t limit, std::uint64_t outputReserve, StatsBlock& stats)
    : limit_(limit), outputReserve_(outputReserve < limit ? outputReserve : 0), stats_(stats) {}

ChunkPool::~ChunkPool() {
    assert(inUse_ == 0);
    while (freeList_ != nullptr) {
        FreeChunk* next = freeList_->next;
        std::free(freeList_);
        freeList_ = next;
    }
}

bool ChunkPool::canSupply(ChunkUse use) const {
    std::uint64_t keep = use == ChunkUse::input ? outputReserve_ : 0;
    return limit_ - inUse_ > keep;
}

std::byte* ChunkPool::acquire(Connection& connection, ChunkUse use) {
    if (canSupply(use)) {
        if (std::byte* chunk = take()) return chunk;
    }
    if (!connection.is(awaitingChunk)) {
        ++stats_.bufferWaits;
        connection.set(awaitingChunk);
        connection.waitingFor = use;
        waiters_.pushBack(connection);
    }
    return nullptr;
}

// A free chunk first; a new one only when none is free (allocation failure
// is treated like the limit).
std::byte* ChunkPool::take() {
    if (freeList_ != nullptr) {
        FreeChunk* chunk = freeList_;
        freeList_ = chunk->next;
        ++inUse_;
        return reinterpret_cast<std::byte*>(chunk);
    }
    if (allocated_ == limit_) return nullptr;
    void* chunk = std::malloc(chunkBytes);
    if (chunk == nullptr) return nullptr;
    ++allocated_;
    ++inUse_;
    return static_cast<std::byte*>(chunk);
}

void ChunkPool::release(std::byte* chunk) {
    auto* node = reinterpret_cast<FreeChunk*>(chunk);
    node->next = freeList_;
    freeList_ = node;
    --inUse_;
}

void ChunkPool::stopWaiting(Connection& connection) {
    if (!connection.is(awaitingChunk)) return;
    waiters_.remove(connection);
    connection.clear(awaitingChunk);
}

}  // namespace vorn
