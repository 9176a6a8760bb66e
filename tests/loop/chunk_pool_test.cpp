#include "loop/chunk_pool.hpp"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace vorn {
namespace {

class ChunkPoolTest : public testing::Test {
protected:
    StatsBlock stats;
    ChunkPool pool{4, stats};
    std::array<Connection, 8> connections{};
    std::vector<std::byte*> held;

    void fill() {
        for (int i = 0; i < 4; ++i) held.push_back(pool.acquire(connections[0]));
    }
    void releaseAll() {
        for (std::byte* chunk : held) pool.release(chunk);
        held.clear();
    }
};

TEST_F(ChunkPoolTest, AllocatesLazilyUpToTheLimit) {
    EXPECT_EQ(pool.allocated(), 0u);
    fill();
    EXPECT_EQ(pool.allocated(), 4u);
    EXPECT_EQ(pool.inUse(), 4u);
    EXPECT_FALSE(pool.canSupply());
    EXPECT_EQ(pool.acquire(connections[1]), nullptr);
    EXPECT_TRUE(connections[1].awaitingChunk);
    releaseAll();
}

TEST_F(ChunkPoolTest, ReusesReleasedChunksLastInFirstOut) {
    fill();
    std::byte* last = held.back();
    pool.release(last);
    held.pop_back();
    EXPECT_EQ(pool.acquire(connections[1]), last);
    held.push_back(last);
    releaseAll();
    fill();
    EXPECT_EQ(pool.allocated(), 4u) << "a burst's chunks are reused, never reallocated";
    releaseAll();
}

TEST_F(ChunkPoolTest, WaitersAreServedInTheOrderTheyStartedWaiting) {
    fill();
    for (int i : {3, 1, 2}) EXPECT_EQ(pool.acquire(connections[i]), nullptr);
    // A connection already waiting is neither queued nor counted twice.
    EXPECT_EQ(pool.acquire(connections[1]), nullptr);
    EXPECT_EQ(stats.bufferWaits, 3u);
    for (Connection* expected : {&connections[3], &connections[1], &connections[2]}) {
        Connection* waiter = pool.popWaiter();
        EXPECT_EQ(waiter, expected);
        EXPECT_FALSE(waiter->awaitingChunk);
    }
    EXPECT_FALSE(pool.hasWaiters());
    releaseAll();
}

TEST_F(ChunkPoolTest, AReleasedWaiterLeavesTheLineAndTheNextOneMovesUp) {
    fill();
    for (int i : {1, 2, 3}) EXPECT_EQ(pool.acquire(connections[i]), nullptr);
    pool.unlinkWaiter(connections[2]);
    pool.unlinkWaiter(connections[1]);
    EXPECT_EQ(pool.popWaiter(), &connections[3]);
    EXPECT_EQ(pool.popWaiter(), nullptr);
    // Waiting again after leaving the line counts as a new wait.
    EXPECT_EQ(pool.acquire(connections[1]), nullptr);
    EXPECT_EQ(stats.bufferWaits, 4u);
    pool.unlinkWaiter(connections[1]);
    releaseAll();
}

}  // namespace
}  // namespace vorn
