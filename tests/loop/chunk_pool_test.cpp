#include "loop/chunk_pool.hpp"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace vorn {
namespace {

class ChunkPoolTest : public testing::Test {
protected:
    StatsBlock stats;
    ChunkPool pool{4, 1, stats};  // the last chunk only for output
    std::array<Connection, 8> connections{};
    std::vector<std::byte*> held;

    void fill() {
        for (int i = 0; i < 4; ++i) held.push_back(pool.acquire(connections[0], ChunkUse::output));
    }
    void releaseAll() {
        for (std::byte* chunk : held) pool.release(chunk);
        held.clear();
    }
    std::vector<Connection*> waiting() {
        std::vector<Connection*> order;
        for (Connection* c = pool.waiters().front(); c != nullptr; c = WaitingConnections::next(*c))
            order.push_back(c);
        return order;
    }
};

TEST_F(ChunkPoolTest, AllocatesLazilyUpToTheLimit) {
    EXPECT_EQ(pool.allocated(), 0u);
    fill();
    EXPECT_EQ(pool.allocated(), 4u);
    EXPECT_EQ(pool.inUse(), 4u);
    EXPECT_FALSE(pool.canSupply(ChunkUse::output));
    EXPECT_EQ(pool.acquire(connections[1], ChunkUse::output), nullptr);
    EXPECT_TRUE(connections[1].is(awaitingChunk));
    pool.stopWaiting(connections[1]);
    releaseAll();
}

TEST_F(ChunkPoolTest, InputNeverTakesTheOutputReserve) {
    for (int i = 0; i < 3; ++i) held.push_back(pool.acquire(connections[i], ChunkUse::input));
    ASSERT_EQ(pool.inUse(), 3u);
    EXPECT_FALSE(pool.canSupply(ChunkUse::input));
    EXPECT_TRUE(pool.canSupply(ChunkUse::output));
    EXPECT_EQ(pool.acquire(connections[3], ChunkUse::input), nullptr);
    EXPECT_EQ(connections[3].waitingFor, ChunkUse::input);
    std::byte* reply = pool.acquire(connections[0], ChunkUse::output);
    EXPECT_NE(reply, nullptr) << "a complete request always finds room for its answer";
    held.push_back(reply);
    pool.stopWaiting(connections[3]);
    releaseAll();
}

TEST_F(ChunkPoolTest, ReusesReleasedChunksLastInFirstOut) {
    fill();
    std::byte* last = held.back();
    pool.release(last);
    held.pop_back();
    EXPECT_EQ(pool.acquire(connections[1], ChunkUse::output), last);
    held.push_back(last);
    releaseAll();
    fill();
    EXPECT_EQ(pool.allocated(), 4u) << "a burst's chunks are reused, never reallocated";
    releaseAll();
}

TEST_F(ChunkPoolTest, WaitersQueueInOrderOnceEachAndLeaveTheLineWhenReleased) {
    fill();
    for (int i : {3, 1, 2}) EXPECT_EQ(pool.acquire(connections[i], ChunkUse::output), nullptr);
    // A connection already waiting is neither queued nor counted twice.
    EXPECT_EQ(pool.acquire(connections[1], ChunkUse::input), nullptr);
    EXPECT_EQ(stats.bufferWaits, 3u);
    EXPECT_EQ(waiting(),
              (std::vector<Connection*>{&connections[3], &connections[1], &connections[2]}));
    pool.stopWaiting(connections[1]);
    EXPECT_FALSE(connections[1].is(awaitingChunk));
    EXPECT_EQ(waiting(), (std::vector<Connection*>{&connections[3], &connections[2]}));
    // Waiting again after leaving the line counts as a new wait, at the tail.
    EXPECT_EQ(pool.acquire(connections[1], ChunkUse::output), nullptr);
    EXPECT_EQ(stats.bufferWaits, 4u);
    EXPECT_EQ(waiting().back(), &connections[1]);
    for (int i : {3, 2, 1}) pool.stopWaiting(connections[i]);
    EXPECT_TRUE(pool.waiters().empty());
    releaseAll();
}

}  // namespace
}  // namespace vorn
