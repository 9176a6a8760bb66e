#include "process/command_line.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <ostream>
#include <string>
#include <vector>

namespace vorn {
namespace {

// One command line and its outcome: the defaults changed by `change`, or,
// when `message` is not empty, the refusal with that message.
struct Row {
    std::vector<const char*> arguments;
    void (*change)(Settings&) = nullptr;
    std::string message;
};

void PrintTo(const Row& row, std::ostream* out) {
    for (const char* argument : row.arguments) *out << '[' << argument << ']';
}

std::string messageOf(const CommandLineError& error) {
    FixedText<512> out;
    writeCommandLineMessage(error, out);
    return std::string(out.view());
}

void expectSameSettings(const Settings& actual, const Settings& expected) {
    EXPECT_EQ(static_cast<std::int64_t>(actual.backlogHoldNs),
              static_cast<std::int64_t>(expected.backlogHoldNs));
    EXPECT_EQ(actual.backlogHot, expected.backlogHot);
    EXPECT_EQ(actual.backlogSevere, expected.backlogSevere);
    EXPECT_EQ(actual.challengePrefix, expected.challengePrefix);
    EXPECT_EQ(actual.difficulty, expected.difficulty);
    EXPECT_EQ(actual.challengeMode, expected.challengeMode);
    EXPECT_EQ(actual.challengeFrom, expected.challengeFrom);
    EXPECT_EQ(actual.receiptKeysPath, expected.receiptKeysPath);
    EXPECT_EQ(actual.modelPath, expected.modelPath);
    EXPECT_EQ(actual.connMemoryBytes, expected.connMemoryBytes);
    EXPECT_EQ(actual.receiptMaxRequests, expected.receiptMaxRequests);
    EXPECT_EQ(actual.receiptMaxIps, expected.receiptMaxIps);
    EXPECT_EQ(actual.logVerdicts, expected.logVerdicts);
    EXPECT_EQ(actual.socketPath, expected.socketPath);
    EXPECT_EQ(actual.metricsAddress, expected.metricsAddress);
    EXPECT_EQ(actual.verifyThreads, expected.verifyThreads);
}

class CommandLine : public testing::TestWithParam<Row> {};

TEST_P(CommandLine, AcceptsOrNamesTheFirstFault) {
    const Row& row = GetParam();
    auto parsed = parseCommandLine(row.arguments);
    if (!row.message.empty()) {
        ASSERT_FALSE(parsed.has_value());
        EXPECT_EQ(messageOf(parsed.error()), row.message);
        return;
    }
    ASSERT_TRUE(parsed.has_value()) << messageOf(parsed.error());
    Settings expected;
    if (row.change != nullptr) row.change(expected);
    expectSameSettings(*parsed, expected);
}

const std::string socket103 = "--socket=/" + std::string(102, 'p');
const std::string socket104 = socket103 + "p";

INSTANTIATE_TEST_SUITE_P(
    Arguments, CommandLine,
    testing::Values(
        Row{{}, nullptr, ""},
        // Argument form.
        Row{{"--socket", "/path"}, nullptr, "unknown argument: --socket"},
        Row{{"--help"}, nullptr, "unknown argument: --help"},
        Row{{"--Socket=/x"}, nullptr, "unknown argument: --Socket=/x"},
        Row{{"--sock=/x"}, nullptr, "unknown argument: --sock=/x"},
        Row{{"socket=/x"}, nullptr, "unknown argument: socket=/x"},
        Row{{"=x"}, nullptr, "unknown argument: =x"}, Row{{""}, nullptr, "unknown argument: "},
        Row{{"--socket=/a=b"}, [](Settings& s) { s.socketPath = "/a=b"; }, ""},
        // First bad argument ends parsing; last occurrence wins.
        Row{{"--verify-threads=0", "--bogus"}, nullptr, "--verify-threads=0: expected 1 to 16"},
        Row{{"--bogus", "--verify-threads=0"}, nullptr, "unknown argument: --bogus"},
        Row{{"--backlog-hot=20", "--bogus"}, nullptr, "unknown argument: --bogus"},
        Row{{"--challenge=on", "--challenge=off"}, nullptr, ""},
        Row{{"--metrics=off", "--metrics=[::1]:1"},
            [](Settings& s) { s.metricsAddress = "[::1]:1"; },
            ""},
        // --socket
        Row{{"--socket="}, nullptr, "--socket=: expected a socket path shorter than sun_path"},
        Row{{socket103.c_str()},
            [](Settings& s) { s.socketPath = std::string_view(socket103).substr(9); },
            ""},
        Row{{socket104.c_str()},
            nullptr,
            socket104 + ": expected a socket path shorter than sun_path"},
        // --metrics
        Row{{"--metrics=off"}, [](Settings& s) { s.metricsAddress.reset(); }, ""},
        Row{{"--metrics=OFF"}, nullptr, "--metrics=OFF: expected ADDRESS:PORT or off"},
        Row{{"--metrics="}, nullptr, "--metrics=: expected ADDRESS:PORT or off"},
        Row{{"--metrics=127.0.0.1:0"},
            nullptr,
            "--metrics=127.0.0.1:0: expected ADDRESS:PORT or off"},
        Row{{"--metrics=127.0.0.1:65536"},
            nullptr,
            "--metrics=127.0.0.1:65536: expected ADDRESS:PORT or off"},
        Row{{"--metrics=127.0.0.1"}, nullptr, "--metrics=127.0.0.1: expected ADDRESS:PORT or off"},
        Row{{"--metrics=[::1]:9190"}, [](Settings& s) { s.metricsAddress = "[::1]:9190"; }, ""},
        Row{{"--metrics=0.0.0.0:65535"},
            [](Settings& s) { s.metricsAddress = "0.0.0.0:65535"; },
            ""},
        // --conn-memory
        Row{{"--conn-memory=15"}, nullptr, "--conn-memory=15: expected MiB per loop, 16 to 65536"},
        Row{{"--conn-memory=65537"},
            nullptr,
            "--conn-memory=65537: expected MiB per loop, 16 to 65536"},
        Row{{"--conn-memory=16"}, [](Settings& s) { s.connMemoryBytes = 16'777'216; }, ""},
        Row{{"--conn-memory=65536"}, [](Settings& s) { s.connMemoryBytes = 65536ull << 20; }, ""},
        Row{{"--conn-memory=18446744073709551616"},
            nullptr,
            "--conn-memory=18446744073709551616: expected MiB per loop, 16 to 65536"},
        // Integer forms, on --verify-threads.
        Row{{"--verify-threads=+16"}, [](Settings& s) { s.verifyThreads = 16; }, ""},
        Row{{"--verify-threads=001"}, [](Settings& s) { s.verifyThreads = 1; }, ""},
        Row{{"--verify-threads=17"}, nullptr, "--verify-threads=17: expected 1 to 16"},
        Row{{"--verify-threads=257"}, nullptr, "--verify-threads=257: expected 1 to 16"},
        Row{{"--verify-threads="}, nullptr, "--verify-threads=: expected 1 to 16"},
        Row{{"--verify-threads=+"}, nullptr, "--verify-threads=+: expected 1 to 16"},
        Row{{"--verify-threads=++2"}, nullptr, "--verify-threads=++2: expected 1 to 16"},
        Row{{"--verify-threads=-2"}, nullptr, "--verify-threads=-2: expected 1 to 16"},
        Row{{"--verify-threads= 2"}, nullptr, "--verify-threads= 2: expected 1 to 16"},
        Row{{"--verify-threads=2 "}, nullptr, "--verify-threads=2 : expected 1 to 16"},
        Row{{"--verify-threads=0x2"}, nullptr, "--verify-threads=0x2: expected 1 to 16"},
        // Names, matched exactly.
        Row{{"--log-verdicts=all"}, [](Settings& s) { s.logVerdicts = LogVerdicts::all; }, ""},
        Row{{"--log-verdicts=none"}, [](Settings& s) { s.logVerdicts = LogVerdicts::none; }, ""},
        Row{{"--log-verdicts=All"},
            nullptr,
            "--log-verdicts=All: expected none, trap, watch or all"},
        Row{{"--challenge=shadow"},
            [](Settings& s) { s.challengeMode = ChallengeMode::shadow; },
            ""},
        Row{{"--challenge=yes"}, nullptr, "--challenge=yes: expected off, shadow or on"},
        Row{{"--challenge-from=severe"},
            [](Settings& s) { s.challengeFrom = MeterLevel::severe; },
            ""},
        Row{{"--challenge-from="}, nullptr, "--challenge-from=: expected calm, hot or severe"},
        // --challenge-prefix
        Row{{"--challenge-prefix=git/"},
            nullptr,
            "--challenge-prefix=git/: expected a path starting with /"},
        Row{{"--challenge-prefix="},
            nullptr,
            "--challenge-prefix=: expected a path starting with /"},
        Row{{"--challenge-prefix=/"}, [](Settings& s) { s.challengePrefix = "/"; }, ""},
        // --difficulty
        Row{{"--difficulty=0.0001,0.0002,0.0004"},
            [](Settings& s) {
                s.difficulty = {0.0001, 0.0002, 0.0004};
            },
            ""},
        Row{{"--difficulty=0.00048828125,0.00048828125,0.00048828125"},
            [](Settings& s) {
                s.difficulty = {1.0 / 2048, 1.0 / 2048, 1.0 / 2048};
            },
            ""},
        Row{{"--difficulty=1e-4,5E-5,.0001"},
            [](Settings& s) {
                s.difficulty = {1e-4, 5e-5, 1e-4};
            },
            ""},
        Row{{"--difficulty=0.0001"},
            nullptr,
            "--difficulty=0.0001: expected three numbers: calm,hot,severe"},
        Row{{"--difficulty=0.0001,0.0002"},
            nullptr,
            "--difficulty=0.0001,0.0002: expected three numbers: calm,hot,severe"},
        Row{{"--difficulty=0.0001,0.0002,0.0004,0.0004"},
            nullptr,
            "--difficulty=0.0001,0.0002,0.0004,0.0004: expected three numbers: calm,hot,severe"},
        Row{{"--difficulty=0.0001,0.0002,0.0004,"},
            nullptr,
            "--difficulty=0.0001,0.0002,0.0004,: expected three numbers: calm,hot,severe"},
        Row{{"--difficulty=0.0001,0.0002,0.001,x"},
            nullptr,
            "--difficulty=0.0001,0.0002,0.001,x: expected numbers in (0, 1/2048]"},
        Row{{"--difficulty=0.001,0.0002,0.0004"},
            nullptr,
            "--difficulty=0.001,0.0002,0.0004: expected numbers in (0, 1/2048]"},
        Row{{"--difficulty=0,x"}, nullptr, "--difficulty=0,x: expected numbers in (0, 1/2048]"},
        Row{{"--difficulty=0"}, nullptr, "--difficulty=0: expected numbers in (0, 1/2048]"},
        Row{{"--difficulty=0.0001,x,0.0001"},
            nullptr,
            "--difficulty=0.0001,x,0.0001: expected three numbers: calm,hot,severe"},
        Row{{"--difficulty=0.0001, 0.0002,0.0004"},
            nullptr,
            "--difficulty=0.0001, 0.0002,0.0004: expected three numbers: calm,hot,severe"},
        Row{{"--difficulty=0.0001,,0.0004"},
            nullptr,
            "--difficulty=0.0001,,0.0004: expected three numbers: calm,hot,severe"},
        Row{{"--difficulty=-0.0001,0.0002,0.0004"},
            nullptr,
            "--difficulty=-0.0001,0.0002,0.0004: expected numbers in (0, 1/2048]"},
        Row{{"--difficulty=nan,0.0002,0.0004"},
            nullptr,
            "--difficulty=nan,0.0002,0.0004: expected numbers in (0, 1/2048]"},
        Row{{"--difficulty=0.0001,inf,0.0004"},
            nullptr,
            "--difficulty=0.0001,inf,0.0004: expected numbers in (0, 1/2048]"},
        Row{{"--difficulty=1e-400,0.0002,0.0004"},
            nullptr,
            "--difficulty=1e-400,0.0002,0.0004: expected numbers in (0, 1/2048]"},
        Row{{"--difficulty=0.00048828126,0.0002,0.0004"},
            nullptr,
            "--difficulty=0.00048828126,0.0002,0.0004: expected numbers in (0, 1/2048]"},
        Row{{"--difficulty="}, nullptr, "--difficulty=: expected three numbers: calm,hot,severe"},
        // Backlog settings and the order of hot and severe.
        Row{{"--backlog-hot=0"}, nullptr, "--backlog-hot=0: expected a queue length of 1 or more"},
        Row{{"--backlog-hot=many"}, nullptr, "--backlog-hot=many: expected a queue length"},
        Row{{"--backlog-severe=0"},
            nullptr,
            "--backlog-severe=0: expected a queue length of 1 or more"},
        Row{{"--backlog-severe=4294967296"},
            nullptr,
            "--backlog-severe=4294967296: expected a queue length"},
        Row{{"--backlog-hot=20"}, nullptr, "--backlog-severe must be at least --backlog-hot"},
        Row{{"--backlog-severe=3"}, nullptr, "--backlog-severe must be at least --backlog-hot"},
        Row{{"--backlog-hot=20", "--backlog-severe=20"},
            [](Settings& s) { s.backlogHot = s.backlogSevere = 20; },
            ""},
        Row{{"--backlog-severe=2", "--backlog-hot=1"},
            [](Settings& s) {
                s.backlogSevere = 2;
                s.backlogHot = 1;
            },
            ""},
        Row{{"--backlog-hold=9"}, nullptr, "--backlog-hold=9: expected seconds, 10 to 3600"},
        Row{{"--backlog-hold=3601"}, nullptr, "--backlog-hold=3601: expected seconds, 10 to 3600"},
        Row{{"--backlog-hold=10"}, [](Settings& s) { s.backlogHoldNs = 10 * nanosPerSecond; }, ""},
        Row{{"--backlog-hold=3600"},
            [](Settings& s) { s.backlogHoldNs = 3600 * nanosPerSecond; },
            ""},
        // Receipt settings.
        Row{{"--receipt-keys="}, [](Settings& s) { s.receiptKeysPath = ""; }, ""},
        Row{{"--receipt-max-requests=0"}, [](Settings& s) { s.receiptMaxRequests = 0; }, ""},
        Row{{"--receipt-max-requests=4294967295"},
            [](Settings& s) { s.receiptMaxRequests = 4294967295u; },
            ""},
        Row{{"--receipt-max-requests=-1"}, nullptr, "--receipt-max-requests=-1: expected a count"},
        Row{{"--receipt-max-ips=7"}, [](Settings& s) { s.receiptMaxIps = 7; }, ""},
        Row{{"--receipt-max-ips=8"}, nullptr, "--receipt-max-ips=8: expected 1 to 7"},
        Row{{"--receipt-max-ips=0"}, nullptr, "--receipt-max-ips=0: expected 1 to 7"},
        Row{{"--receipt-max-ips=300"}, nullptr, "--receipt-max-ips=300: expected 1 to 7"}));

TEST(CommandLine, TextFieldsViewTheArguments) {
    const char* arguments[] = {"--socket=/run/a.sock", "--challenge-prefix=/gate/"};
    auto parsed = parseCommandLine(arguments);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->socketPath.data(), arguments[0] + 9);
    EXPECT_EQ(parsed->challengePrefix.data(), arguments[1] + 19);
}

TEST(CommandLine, ErrorViewsTheWholeArgument) {
    const char* arguments[] = {"--challenge=maybe"};
    auto parsed = parseCommandLine(arguments);
    ASSERT_FALSE(parsed.has_value());
    EXPECT_EQ(parsed.error().kind, CommandLineError::Kind::badValue);
    EXPECT_EQ(parsed.error().argument.data(), arguments[0]);
    EXPECT_EQ(parsed.error().argument.size(), 17u);
}

struct Division {
    std::int64_t millis;
    std::int64_t seconds;
};

class StartTime : public testing::TestWithParam<Division> {};

TEST_P(StartTime, RoundsTowardNegativeInfinity) {
    EXPECT_EQ(startTimeSecondsFrom(GetParam().millis), GetParam().seconds);
}

INSTANTIATE_TEST_SUITE_P(Millis, StartTime,
                         testing::Values(Division{0, 0}, Division{999, 0}, Division{1000, 1},
                                         Division{1'700'000'000'123, 1'700'000'000},
                                         Division{-1, -1}, Division{-1000, -1},
                                         Division{-1001, -2}));

struct Budget {
    std::optional<std::uint64_t> softLimit;
    std::uint64_t budget;
};

class DescriptorBudget : public testing::TestWithParam<Budget> {};

TEST_P(DescriptorBudget, KeepsSixtyFourForTheDaemon) {
    EXPECT_EQ(descriptorBudgetFrom(GetParam().softLimit), GetParam().budget);
}

constexpr std::uint64_t u64Max = std::numeric_limits<std::uint64_t>::max();

INSTANTIATE_TEST_SUITE_P(Limits, DescriptorBudget,
                         testing::Values(Budget{std::nullopt, u64Max}, Budget{0, 0}, Budget{63, 0},
                                         Budget{64, 0}, Budget{65, 1}, Budget{1024, 960},
                                         Budget{u64Max, u64Max - 64}));

}  // namespace
}  // namespace vorn
