// Rendering the metrics page with every decision cell filled: the most
// work one metrics request asks of the loop thread.

#include <benchmark/benchmark.h>

#include <array>

#include "observe/metrics_page.hpp"

namespace vorn {
namespace {

void renderFullPage(benchmark::State& state) {
    StatsBlock stats;
    for (auto& byVerdict : stats.decisions) {
        for (auto& byClass : byVerdict) {
            for (auto& cell : byClass) cell = 123456789;
        }
    }
    MetricsGauges gauges;
    gauges.difficulty = {1.0 / 8192, 1.0 / 2048, 1.0 / 2048};
    gauges.backlog = 3;
    static std::array<char, 65536 - 256> page;
    for (auto _ : state) {
        TextWriter out(page);
        benchmark::DoNotOptimize(renderMetrics(stats, gauges, out));
        state.counters["bytes"] = static_cast<double>(out.size());
    }
}
BENCHMARK(renderFullPage);

}  // namespace
}  // namespace vorn
