#include "observe/stats_block.hpp"

namespace vorn {

namespace {

template <typename T, std::size_t N>
void addArray(std::array<T, N>& into, const std::array<T, N>& from) {
    for (std::size_t i = 0; i < N; ++i) into[i] += from[i];
}

}  // namespace

void LatencyHistogram::record(std::uint64_t nanos) {
    for (std::size_t i = 0; i < buckets.size(); ++i) {
        if (nanos <= latencyBucketBoundsNs[i]) {
            ++buckets[i];
            break;
        }
    }
    ++count;
    sumNanos += nanos;
}

void StatsBlock::add(const StatsBlock& other) {
    for (std::size_t v = 0; v < verdictCount; ++v) {
        for (std::size_t c = 0; c < classSlotCount; ++c)
            addArray(decisions[v][c], other.decisions[v][c]);
    }
    addArray(receipts, other.receipts);
    addArray(wouldChallenge, other.wouldChallenge);
    addArray(challenges, other.challenges);
    for (std::size_t p = 0; p < latency.size(); ++p) {
        addArray(latency[p].buckets, other.latency[p].buckets);
        latency[p].count += other.latency[p].count;
        latency[p].sumNanos += other.latency[p].sumNanos;
    }
    addArray(scoreBands, other.scoreBands);
    scoreSumMillionths += other.scoreSumMillionths;
    reloads += other.reloads;
    addArray(acceptErrors, other.acceptErrors);
    logDropped += other.logDropped;
    bufferWaits += other.bufferWaits;
    connections += other.connections;
    connectionLimit += other.connectionLimit;
    addArray(chunks, other.chunks);
}

}  // namespace vorn
