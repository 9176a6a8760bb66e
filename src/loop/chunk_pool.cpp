#include "loop/chunk_pool.hpp"

#include <cassert>
#include <cstdlib>

#include "loop/connection_limits.hpp"

namespace vorn {

ChunkPool::ChunkPool(std::uint64_t chunkLimit, StatsBlock& stats)
    : limit_(chunkLimit), stats_(stats) {}

ChunkPool::~ChunkPool() {
    assert(inUse_ == 0);
    while (freeList_ != nullptr) {
        FreeChunk* next = freeList_->next;
        std::free(freeList_);
        freeList_ = next;
    }
}

std::byte* ChunkPool::acquire(Connection& connection) {
    if (freeList_ != nullptr) {
        FreeChunk* chunk = freeList_;
        freeList_ = chunk->next;
        ++inUse_;
        return reinterpret_cast<std::byte*>(chunk);
    }
    if (allocated_ < limit_) {
        if (void* chunk = std::malloc(chunkBytes)) {
            ++allocated_;
            ++inUse_;
            return static_cast<std::byte*>(chunk);
        }
    }
    if (!connection.awaitingChunk) appendWaiter(connection);
    return nullptr;
}

void ChunkPool::release(std::byte* chunk) {
    auto* node = reinterpret_cast<FreeChunk*>(chunk);
    node->next = freeList_;
    freeList_ = node;
    --inUse_;
}

void ChunkPool::appendWaiter(Connection& connection) {
    ++stats_.bufferWaits;
    connection.awaitingChunk = true;
    connection.waitNext = nullptr;
    connection.waitPrev = waitTail_;
    if (waitTail_ != nullptr) {
        waitTail_->waitNext = &connection;
    } else {
        waitHead_ = &connection;
    }
    waitTail_ = &connection;
}

Connection* ChunkPool::popWaiter() {
    Connection* first = waitHead_;
    if (first != nullptr) unlinkWaiter(*first);
    return first;
}

void ChunkPool::unlinkWaiter(Connection& connection) {
    if (!connection.awaitingChunk) return;
    (connection.waitPrev != nullptr ? connection.waitPrev->waitNext : waitHead_) =
        connection.waitNext;
    (connection.waitNext != nullptr ? connection.waitNext->waitPrev : waitTail_) =
        connection.waitPrev;
    connection.waitPrev = nullptr;
    connection.waitNext = nullptr;
    connection.awaitingChunk = false;
}

}  // namespace vorn
