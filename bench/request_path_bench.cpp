// What one request costs the loop thread, stage by stage in the order the
// request meets them, then as a whole; after it, the signature check a
// worker makes once per receipt. One program, so `make bench` prints one
// table.

#include <benchmark/benchmark.h>

#include <array>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "common/wyhash.hpp"
#include "decision/agent_message.hpp"
#include "decision/client_address.hpp"
#include "decision/finish_decision.hpp"
#include "decision/path_class.hpp"
#include "decision/request_decision.hpp"
#include "decision/site.hpp"
#include "decision/verdict_rules.hpp"
#include "observe/metrics_page.hpp"
#include "observe/verdict_log.hpp"
#include "process/settings.hpp"
#include "receipt/receipt_book.hpp"
#include "spop/codec/frame.hpp"
#include "spop/codec/frame_writer.hpp"
#include "spop/codec/kv_reader.hpp"
#include "support/spop_wire.hpp"
#include "support/vorn_check.hpp"
#include "token/receipt_checker.hpp"
#include "token/signature.hpp"
#include "token/token_signer.hpp"

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

constexpr std::string_view host = "forge.example";
constexpr std::string_view clientIp = "198.51.100.7";
// The daemon's default --address-memory.
constexpr std::uint64_t defaultAddressMemory = Settings{}.addressMemoryBytes;

// A browser's request as HAProxy sends it.
test::VornCheck browserCheck(
    const std::string& path,
    const std::string& cookie = "lang=en; forge_session=0123456789abcdef") {
    test::VornCheck check;
    check.ip = test::Ipv4Bytes{198, 51, 100, 7};
    check.backlog = std::int64_t{2};
    check.path = path;
    check.headers = test::headerBlock(
        {{"host", std::string(host)},
         {"user-agent", "Mozilla/5.0 (X11; Linux x86_64; rv:128.0) Gecko/20100101 Firefox/128.0"},
         {"accept", "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8"},
         {"accept-language", "en-US,en;q=0.5"},
         {"accept-encoding", "gzip, deflate, br, zstd"},
         {"referer", "https://forge.example/owner/repo"},
         {"cookie", cookie},
         {"sec-fetch-dest", "document"},
         {"sec-fetch-mode", "navigate"},
         {"sec-fetch-site", "same-origin"}});
    return check;
}

std::string notifyPayload(const std::string& path) {
    return test::messageList({browserCheck(path).message()});
}

// A visitor who is not signed in, with a pass receipt when `passToken` is
// not empty.
std::string visitorPayload(const std::string& path, const std::string& passToken) {
    std::string cookie = passToken.empty() ? "lang=en" : "lang=en; bramble_pass=" + passToken;
    return test::messageList({browserCheck(path, cookie).message()});
}

std::span<const std::byte> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::byte*>(text.data()), text.size()};
}

DecisionState makeDecisionState(StatsBlock& stats, ChallengeMode mode = ChallengeMode::off) {
    ChallengePolicy policy;
    policy.mode = mode;
    policy.difficulty = {1.0 / 8192, 1.0 / 2048, 1.0 / 2048};
    return DecisionState(BacklogMeter(4, 16, 300 * nanosPerSecond),
                         *ClassWindows::create(defaultAddressMemory), policy, LogVerdicts::none,
                         stats);
}

RequestFacts factsOf(const std::string& payload, std::span<char, ipTextCapacity> ipText) {
    RequestFacts facts;
    facts.arrival = wallClockNanos();
    (void)readAgentMessage(bytesOf(payload), defaultSite.sessionCookie, facts, ipText);
    facts.ipHash = ipHash(facts.ip);
    return facts;
}

SigningSeed seed() {
    SigningSeed bytes{};
    bytes.fill(std::byte{7});
    return bytes;
}

std::int64_t receiptNow() {
    return wallClockMillis() / 1000;
}

std::string goodToken() {
    return *mintReceipt(seed(), "2024-05", host, "0.0001220703125", receiptNow() + 3600);
}

ReceiptKeySet keys() {
    return *parseReceiptKeys("2024-05 " + publicKeyText(seed()));
}

// The book learns that the receipt's signature is good, as after a worker's
// check.
void admit(ReceiptState& receipts, const std::string& token, std::uint64_t addressHash) {
    const std::int64_t now = receiptNow();
    const Receipt receipt = *receipts.checker.check(token, host, receipts.keys, now);
    (void)receipts.book.complete(receipt, true, addressHash, now);
}

void cutNotifyFrame(benchmark::State& state) {
    const std::string frame = test::notify(1, 1, browserCheck(paths[1]));
    for (auto _ : state) benchmark::DoNotOptimize(cutFrame(bytesOf(frame)));
}
BENCHMARK(cutNotifyFrame);

// Every argument decoded, none interpreted.
void walkArguments(benchmark::State& state) {
    const std::string payload = notifyPayload(paths[1]);
    const std::size_t nameSize = 1 + agentMessageName.size();
    for (auto _ : state) {
        KvReader reader(bytesOf(payload), nameSize + 1);
        KvItem item;
        while (reader.next(item).value_or(false)) benchmark::DoNotOptimize(item);
    }
}
BENCHMARK(walkArguments);

void readFacts(benchmark::State& state) {
    const std::string payload = notifyPayload(paths[1]);
    std::array<char, ipTextCapacity> ipText{};
    for (auto _ : state) {
        RequestFacts facts;
        auto found = readAgentMessage(bytesOf(payload), defaultSite.sessionCookie, facts, ipText);
        if (!found || !*found || facts.path != paths[1]) {
            state.SkipWithError("the message was not read");
            break;
        }
    }
}
BENCHMARK(readFacts);

void classifyPaths(benchmark::State& state) {
    for (auto _ : state) {
        for (const std::string& path : paths) benchmark::DoNotOptimize(examinePath(path));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(paths.size()));
}
BENCHMARK(classifyPaths);

void hashAddress(benchmark::State& state) {
    std::string address = "2001:db8:0:0:0:0:0:1";
    for (auto _ : state) benchmark::DoNotOptimize(ipHash(address));
}
BENCHMARK(hashAddress);

// Counting in the rolling windows and evaluating heat, from 4,096 addresses.
void countInWindows(benchmark::State& state) {
    ClassWindows windows = *ClassWindows::create(defaultAddressMemory);
    const Nanos now = wallClockNanos();
    std::uint64_t address = 0;
    for (auto _ : state) {
        std::uint64_t addressHash =
            wyhash(std::string_view(reinterpret_cast<const char*>(&address), sizeof address)) | 1;
        windows.countRequest(PathClass::page, addressHash, now);
        benchmark::DoNotOptimize(windows.evaluateHeat(PathClass::page, now));
        address = (address + 1) % 4096;
    }
}
BENCHMARK(countInWindows);

// The whole rule table, classification and window counting included.
void decideRules(benchmark::State& state) {
    ClassWindows windows = *ClassWindows::create(defaultAddressMemory);
    std::vector<std::string> payloads;
    for (const std::string& path : paths) payloads.push_back(notifyPayload(path));
    std::vector<std::array<char, ipTextCapacity>> ipTexts(payloads.size());
    std::vector<RequestFacts> facts;
    for (std::size_t i = 0; i < payloads.size(); ++i)
        facts.push_back(factsOf(payloads[i], ipTexts[i]));
    std::size_t next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(decide(facts[next], defaultSite.domain, windows));
        next = (next + 1) % facts.size();
    }
}
BENCHMARK(decideRules);

// Form, expiry, audience and key of a receipt, then the book's answer for
// one already verified: what every request after the first costs.
void receiptUpToBook(benchmark::State& state) {
    ReceiptState receipts = *ReceiptState::create(std::numeric_limits<std::uint32_t>::max(), 4);
    receipts.keys = keys();
    const std::string token = goodToken();
    const std::uint64_t addressHash = ipHash(clientIp);
    admit(receipts, token, addressHash);
    const std::int64_t now = receiptNow();
    for (auto _ : state) {
        auto receipt = receipts.checker.check(token, host, receipts.keys, now);
        if (!receipt) {
            state.SkipWithError("the token was refused");
            break;
        }
        BookAnswer answer = receipts.book.lookup(*receipt, addressHash, now);
        if (answer.status != ReceiptStatus::valid) {
            state.SkipWithError("the receipt was not admitted");
            break;
        }
    }
}
BENCHMARK(receiptUpToBook);

// The challenge policy and counters, the ACK encoded, then the answer time.
void finishAndAck(benchmark::State& state) {
    StatsBlock stats;
    DecisionState decisionState = makeDecisionState(stats);
    const Decision decision{.pathClass = PathClass::expensive,
                            .verdict = Verdict::pass,
                            .reason = Reason::cold,
                            .challengeable = true};
    RequestSummary summary;
    summary.path = paths[1];
    summary.ip = clientIp;
    FrameWriter writer;
    for (auto _ : state) {
        summary.arrival = wallClockNanos();
        NotifyReply reply = finishDecision(decisionState, decision, summary);
        writer.begin(FrameType::ack, 1, 1);
        writer.putSetVar("vorn_verdict", verdictName(reply.verdict));
        benchmark::DoNotOptimize(writer.finish());
        recordAnswerTime(stats, *reply.arrival, false, wallClockNanos());
    }
}
BENCHMARK(finishAndAck);

void verdictLine(benchmark::State& state) {
    VerdictRecord record{.ip = clientIp,
                         .verdict = Verdict::challenge,
                         .reason = Reason::expensive,
                         .classSlot = indexOf(PathClass::expensive),
                         .path = paths[1],
                         .referer = "https://forge.example/owner/repo",
                         .receipt = ReceiptStatus::expired,
                         .level = MeterLevel::hot,
                         .difficulty = "0.00048828125",
                         .score = 0.25};
    LogLine line;
    const std::int64_t millis = wallClockMillis();
    for (auto _ : state) {
        writeVerdictLine(line, record, millis);
        benchmark::DoNotOptimize(line.view());
    }
}
BENCHMARK(verdictLine);

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

// Every receipt here is known to the book, so nothing parks.
class NoParking final : public ParkedNotifies {
public:
    void answerParked(std::uint16_t, const NotifyReply&) override {}
};

// Everything between a cut NOTIFY and its reply, over the paths above, with
// challenges in shadow; with receipts:1 every third request carries a valid
// receipt the book already knows.
void handleNotify(benchmark::State& state) {
    StatsBlock stats;
    DecisionState decisionState = makeDecisionState(stats, ChallengeMode::shadow);
    ReceiptState receipts = *ReceiptState::create(std::numeric_limits<std::uint32_t>::max(), 4);
    receipts.keys = keys();
    const std::string token = goodToken();
    admit(receipts, token, ipHash(clientIp));
    NoParking noParking;
    auto decision = std::make_unique<RequestDecision>(decisionState, receipts, noParking);
    std::vector<std::string> payloads;
    for (std::size_t i = 0; i < 3 * paths.size(); ++i) {
        const bool withReceipt = state.range(0) == 1 && i % 3 == 0;
        payloads.push_back(visitorPayload(paths[i % paths.size()], withReceipt ? token : ""));
    }
    std::size_t next = 0;
    for (auto _ : state) {
        auto reply = decision->handleNotify(bytesOf(payloads[next]), wallClockNanos());
        if (!reply) {
            state.SkipWithError("the NOTIFY was not answered");
            break;
        }
        decision->replied(*reply);
        benchmark::DoNotOptimize(*reply);
        next = (next + 1) % payloads.size();
    }
}
BENCHMARK(handleNotify)->ArgName("receipts")->Arg(0)->Arg(1);

void verifySignature(benchmark::State& state) {
    const ReceiptKeySet keySet = keys();
    auto checker = ReceiptChecker::create();
    const Receipt receipt = *checker->check(goodToken(), host, keySet, receiptNow());
    for (auto _ : state) {
        if (!verifyReceiptSignature(receipt.signedText(), receipt.signature, receipt.publicKey)) {
            state.SkipWithError("the signature was refused");
            break;
        }
    }
}
BENCHMARK(verifySignature);

}  // namespace
}  // namespace vorn
