// The request path, one piece at a time and as a whole: what a NOTIFY costs
// the loop thread before its ACK is written.

#include <benchmark/benchmark.h>

#include <array>
#include <string>
#include <vector>

#include "common/wyhash.hpp"
#include "decision/agent_message.hpp"
#include "decision/path_class.hpp"
#include "decision/request_decision.hpp"
#include "support/spop_wire.hpp"
#include "support/vorn_check.hpp"

namespace vorn {
namespace {

const std::vector<std::string> paths = {
    "/owner/repo",
    "/owner/repo/commit/0123456789abcdef0123456789abcdef01234567",
    "/owner/repo/src/branch/main/src/lib/module/file.rs",
    "/owner/repo/issues/1234?state=open&page=3",
    "/api/v1/repos/owner/repo/git/commits/0123456789abcdef0123456789abcdef01234567",
    "/owner/repo.git/info/refs?service=git-upload-pack",
    "/assets/css/index.css",
    "/owner/repo/archive/0123456789abcdef0123456789abcdef01234567.tar.gz",
};

// A NOTIFY payload as HAProxy sends it for a browser's request.
std::string notifyPayload(const std::string& path) {
    test::VornCheck check;
    check.ip = test::Ipv4Bytes{198, 51, 100, 7};
    check.backlog = std::int64_t{2};
    check.path = path;
    check.headers = test::headerBlock({{"host", "forge.example"},
                                       {"user-agent", "Mozilla/5.0 (X11; Linux x86_64; rv:128.0)"},
                                       {"accept", "text/html"},
                                       {"referer", "https://forge.example/owner/repo"},
                                       {"cookie", "lang=en; forge_session=0123456789abcdef"},
                                       {"sec-fetch-site", "same-origin"}});
    return test::messageList({check.message()});
}

std::span<const std::byte> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::byte*>(text.data()), text.size()};
}

void classifyPaths(benchmark::State& state) {
    for (auto _ : state) {
        for (const std::string& path : paths) benchmark::DoNotOptimize(classifyPath(path));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(paths.size()));
}
BENCHMARK(classifyPaths);

void hashAddress(benchmark::State& state) {
    std::string address = "2001:db8:0:0:0:0:0:1";
    for (auto _ : state) benchmark::DoNotOptimize(wyhash(address));
}
BENCHMARK(hashAddress);

void readFacts(benchmark::State& state) {
    std::string payload = notifyPayload(paths[1]);
    std::array<char, ipTextCapacity> ipText{};
    for (auto _ : state) {
        RequestFacts facts;
        auto found = readAgentMessage(bytesOf(payload), facts, ipText);
        if (!found || !*found || facts.path != paths[1]) {
            state.SkipWithError("the message was not read");
            break;
        }
    }
}
BENCHMARK(readFacts);

void handleNotify(benchmark::State& state) {
    StatsBlock stats;
    ChallengePolicy policy;
    policy.difficulty = {1.0 / 8192, 1.0 / 2048, 1.0 / 2048};
    DecisionState decisionState(BacklogMeter(4, 16, 300 * nanosPerSecond), policy,
                                LogVerdicts::none, stats);
    ReceiptState receipts = *ReceiptState::create(600, 4);
    RequestDecision decision(decisionState, receipts);
    std::vector<std::string> payloads;
    for (const std::string& path : paths) payloads.push_back(notifyPayload(path));
    std::size_t next = 0;
    for (auto _ : state) {
        auto reply = decision.handleNotify(bytesOf(payloads[next]), wallClockNanos());
        if (!reply) {
            state.SkipWithError("the NOTIFY was not answered");
            break;
        }
        benchmark::DoNotOptimize(*reply);
        next = (next + 1) % payloads.size();
    }
}
BENCHMARK(handleNotify);

}  // namespace
}  // namespace vorn
