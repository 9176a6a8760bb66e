#include "process/command_line.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "support/test_name.hpp"

namespace vorn {
namespace {

// One named command line and its outcome: the defaults changed by `change`, or,
// when `message` is not empty, the refusal with that message.
struct Row {
    const char* name;
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
    EXPECT_EQ(actual.addressMemoryBytes, expected.addressMemoryBytes);
    EXPECT_EQ(actual.receiptMaxRequests, expected.receiptMaxRequests);
    EXPECT_EQ(actual.receiptMaxIps, expected.receiptMaxIps);
    EXPECT_EQ(actual.logVerdicts, expected.logVerdicts);
    EXPECT_EQ(actual.socketPath, expected.socketPath);
    EXPECT_EQ(actual.metricsAddress, expected.metricsAddress);
    EXPECT_EQ(actual.verifyThreads, expected.verifyThreads);
    EXPECT_EQ(actual.site.domain, expected.site.domain);
    EXPECT_EQ(actual.site.sessionCookie, expected.site.sessionCookie);
}

// The row's name and whether the command line is taken: "VerifyThreadsHexRefused".
std::string rowName(const testing::TestParamInfo<Row>& info) {
    return test::testName({info.param.name, info.param.message.empty() ? "accepted" : "refused"});
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
        Row{"NoArguments", {}, nullptr, ""},
        // Argument form.
        Row{"OptionAndValueApart", {"--socket", "/path"}, nullptr, "unknown argument: --socket"},
        Row{"Help", {"--help"}, nullptr, "unknown argument: --help"},
        Row{"UpperCaseOptionName", {"--Socket=/x"}, nullptr, "unknown argument: --Socket=/x"},
        Row{"AbbreviatedOptionName", {"--sock=/x"}, nullptr, "unknown argument: --sock=/x"},
        Row{"WithoutDashes", {"socket=/x"}, nullptr, "unknown argument: socket=/x"},
        Row{"EqualsWithoutAName", {"=x"}, nullptr, "unknown argument: =x"},
        Row{"EmptyArgument", {""}, nullptr, "unknown argument: "},
        Row{"SocketPathWithEquals",
            {"--socket=/a=b"},
            [](Settings& s) { s.socketPath = "/a=b"; },
            ""},
        // First bad argument ends parsing; last occurrence wins.
        Row{"FirstFaultIsABadValue",
            {"--verify-threads=0", "--bogus"},
            nullptr,
            "--verify-threads=0: expected 1 to 16"},
        Row{"FirstFaultIsAnUnknownArgument",
            {"--bogus", "--verify-threads=0"},
            nullptr,
            "unknown argument: --bogus"},
        Row{"UnknownAfterAGoodValue",
            {"--backlog-hot=20", "--bogus"},
            nullptr,
            "unknown argument: --bogus"},
        Row{"LastChallengeWins", {"--challenge=on", "--challenge=off"}, nullptr, ""},
        Row{"LastMetricsWins",
            {"--metrics=off", "--metrics=[::1]:1"},
            [](Settings& s) { s.metricsAddress = "[::1]:1"; },
            ""},
        // --socket
        Row{"SocketEmpty",
            {"--socket="},
            nullptr,
            "--socket=: expected a socket path shorter than sun_path"},
        Row{"SocketPathOf103Bytes",
            {socket103.c_str()},
            [](Settings& s) { s.socketPath = std::string_view(socket103).substr(9); },
            ""},
        Row{"SocketPathOf104Bytes",
            {socket104.c_str()},
            nullptr,
            socket104 + ": expected a socket path shorter than sun_path"},
        // --metrics
        Row{"MetricsOff", {"--metrics=off"}, [](Settings& s) { s.metricsAddress.reset(); }, ""},
        Row{"MetricsOffUpperCase",
            {"--metrics=OFF"},
            nullptr,
            "--metrics=OFF: expected ADDRESS:PORT or off"},
        Row{"MetricsEmpty", {"--metrics="}, nullptr, "--metrics=: expected ADDRESS:PORT or off"},
        Row{"MetricsPortZero",
            {"--metrics=127.0.0.1:0"},
            nullptr,
            "--metrics=127.0.0.1:0: expected ADDRESS:PORT or off"},
        Row{"MetricsPort65536",
            {"--metrics=127.0.0.1:65536"},
            nullptr,
            "--metrics=127.0.0.1:65536: expected ADDRESS:PORT or off"},
        Row{"MetricsWithoutPort",
            {"--metrics=127.0.0.1"},
            nullptr,
            "--metrics=127.0.0.1: expected ADDRESS:PORT or off"},
        Row{"MetricsIpv6",
            {"--metrics=[::1]:9190"},
            [](Settings& s) { s.metricsAddress = "[::1]:9190"; },
            ""},
        Row{"MetricsAnyAddressHighestPort",
            {"--metrics=0.0.0.0:65535"},
            [](Settings& s) { s.metricsAddress = "0.0.0.0:65535"; },
            ""},
        // --conn-memory
        Row{"ConnMemory15",
            {"--conn-memory=15"},
            nullptr,
            "--conn-memory=15: expected MiB per loop, 16 to 65536"},
        Row{"ConnMemory65537",
            {"--conn-memory=65537"},
            nullptr,
            "--conn-memory=65537: expected MiB per loop, 16 to 65536"},
        Row{"ConnMemory16",
            {"--conn-memory=16"},
            [](Settings& s) { s.connMemoryBytes = 16'777'216; },
            ""},
        Row{"ConnMemory65536",
            {"--conn-memory=65536"},
            [](Settings& s) { s.connMemoryBytes = 65536ull << 20; },
            ""},
        Row{"ConnMemory2To64",
            {"--conn-memory=18446744073709551616"},
            nullptr,
            "--conn-memory=18446744073709551616: expected MiB per loop, 16 to 65536"},
        // Integer forms, on --verify-threads.
        Row{"VerifyThreadsWithPlus",
            {"--verify-threads=+16"},
            [](Settings& s) { s.verifyThreads = 16; },
            ""},
        Row{"VerifyThreadsWithLeadingZeros",
            {"--verify-threads=001"},
            [](Settings& s) { s.verifyThreads = 1; },
            ""},
        Row{"VerifyThreads17",
            {"--verify-threads=17"},
            nullptr,
            "--verify-threads=17: expected 1 to 16"},
        Row{"VerifyThreads257",
            {"--verify-threads=257"},
            nullptr,
            "--verify-threads=257: expected 1 to 16"},
        Row{"VerifyThreadsEmpty",
            {"--verify-threads="},
            nullptr,
            "--verify-threads=: expected 1 to 16"},
        Row{"VerifyThreadsPlusOnly",
            {"--verify-threads=+"},
            nullptr,
            "--verify-threads=+: expected 1 to 16"},
        Row{"VerifyThreadsTwoPluses",
            {"--verify-threads=++2"},
            nullptr,
            "--verify-threads=++2: expected 1 to 16"},
        Row{"VerifyThreadsNegative",
            {"--verify-threads=-2"},
            nullptr,
            "--verify-threads=-2: expected 1 to 16"},
        Row{"VerifyThreadsLeadingSpace",
            {"--verify-threads= 2"},
            nullptr,
            "--verify-threads= 2: expected 1 to 16"},
        Row{"VerifyThreadsTrailingSpace",
            {"--verify-threads=2 "},
            nullptr,
            "--verify-threads=2 : expected 1 to 16"},
        Row{"VerifyThreadsHex",
            {"--verify-threads=0x2"},
            nullptr,
            "--verify-threads=0x2: expected 1 to 16"},
        // Names, matched exactly.
        Row{"LogVerdictsAll",
            {"--log-verdicts=all"},
            [](Settings& s) { s.logVerdicts = LogVerdicts::all; },
            ""},
        Row{"LogVerdictsNone",
            {"--log-verdicts=none"},
            [](Settings& s) { s.logVerdicts = LogVerdicts::none; },
            ""},
        Row{"LogVerdictsUpperCase",
            {"--log-verdicts=All"},
            nullptr,
            "--log-verdicts=All: expected none, trap, watch or all"},
        Row{"ChallengeShadow",
            {"--challenge=shadow"},
            [](Settings& s) { s.challengeMode = ChallengeMode::shadow; },
            ""},
        Row{"ChallengeYes",
            {"--challenge=yes"},
            nullptr,
            "--challenge=yes: expected off, shadow or on"},
        Row{"ChallengeFromSevere",
            {"--challenge-from=severe"},
            [](Settings& s) { s.challengeFrom = MeterLevel::severe; },
            ""},
        Row{"ChallengeFromEmpty",
            {"--challenge-from="},
            nullptr,
            "--challenge-from=: expected calm, hot or severe"},
        // --challenge-prefix
        Row{"ChallengePrefixWithoutSlash",
            {"--challenge-prefix=git/"},
            nullptr,
            "--challenge-prefix=git/: expected a path starting with /"},
        Row{"ChallengePrefixEmpty",
            {"--challenge-prefix="},
            nullptr,
            "--challenge-prefix=: expected a path starting with /"},
        Row{"ChallengePrefixSlash",
            {"--challenge-prefix=/"},
            [](Settings& s) { s.challengePrefix = "/"; },
            ""},
        // --difficulty
        Row{"DifficultyThreeNumbers",
            {"--difficulty=0.0001,0.0002,0.0004"},
            [](Settings& s) {
                s.difficulty = {0.0001, 0.0002, 0.0004};
            },
            ""},
        Row{"DifficultyAllAtTheMaximum",
            {"--difficulty=0.00048828125,0.00048828125,0.00048828125"},
            [](Settings& s) {
                s.difficulty = {1.0 / 2048, 1.0 / 2048, 1.0 / 2048};
            },
            ""},
        Row{"DifficultyExponentsAndLeadingDot",
            {"--difficulty=1e-4,5E-5,.0001"},
            [](Settings& s) {
                s.difficulty = {1e-4, 5e-5, 1e-4};
            },
            ""},
        Row{"DifficultyOneNumber",
            {"--difficulty=0.0001"},
            nullptr,
            "--difficulty=0.0001: expected three numbers: calm,hot,severe"},
        Row{"DifficultyTwoNumbers",
            {"--difficulty=0.0001,0.0002"},
            nullptr,
            "--difficulty=0.0001,0.0002: expected three numbers: calm,hot,severe"},
        Row{"DifficultyFourNumbers",
            {"--difficulty=0.0001,0.0002,0.0004,0.0004"},
            nullptr,
            "--difficulty=0.0001,0.0002,0.0004,0.0004: expected three numbers: calm,hot,severe"},
        Row{"DifficultyTrailingComma",
            {"--difficulty=0.0001,0.0002,0.0004,"},
            nullptr,
            "--difficulty=0.0001,0.0002,0.0004,: expected three numbers: calm,hot,severe"},
        Row{"DifficultyOutOfRangeBeforeAFourthItem",
            {"--difficulty=0.0001,0.0002,0.001,x"},
            nullptr,
            "--difficulty=0.0001,0.0002,0.001,x: expected numbers in (0, 1/2048]"},
        Row{"DifficultyCalmAboveTheMaximum",
            {"--difficulty=0.001,0.0002,0.0004"},
            nullptr,
            "--difficulty=0.001,0.0002,0.0004: expected numbers in (0, 1/2048]"},
        Row{"DifficultyZeroBeforeTooFew",
            {"--difficulty=0,x"},
            nullptr,
            "--difficulty=0,x: expected numbers in (0, 1/2048]"},
        Row{"DifficultyZero",
            {"--difficulty=0"},
            nullptr,
            "--difficulty=0: expected numbers in (0, 1/2048]"},
        Row{"DifficultyTextInTheMiddle",
            {"--difficulty=0.0001,x,0.0001"},
            nullptr,
            "--difficulty=0.0001,x,0.0001: expected three numbers: calm,hot,severe"},
        Row{"DifficultySpaceAfterAComma",
            {"--difficulty=0.0001, 0.0002,0.0004"},
            nullptr,
            "--difficulty=0.0001, 0.0002,0.0004: expected three numbers: calm,hot,severe"},
        Row{"DifficultyEmptyItem",
            {"--difficulty=0.0001,,0.0004"},
            nullptr,
            "--difficulty=0.0001,,0.0004: expected three numbers: calm,hot,severe"},
        Row{"DifficultyNegative",
            {"--difficulty=-0.0001,0.0002,0.0004"},
            nullptr,
            "--difficulty=-0.0001,0.0002,0.0004: expected numbers in (0, 1/2048]"},
        Row{"DifficultyNan",
            {"--difficulty=nan,0.0002,0.0004"},
            nullptr,
            "--difficulty=nan,0.0002,0.0004: expected numbers in (0, 1/2048]"},
        Row{"DifficultyInf",
            {"--difficulty=0.0001,inf,0.0004"},
            nullptr,
            "--difficulty=0.0001,inf,0.0004: expected numbers in (0, 1/2048]"},
        Row{"DifficultyUnderflow",
            {"--difficulty=1e-400,0.0002,0.0004"},
            nullptr,
            "--difficulty=1e-400,0.0002,0.0004: expected numbers in (0, 1/2048]"},
        Row{"DifficultyJustAboveTheMaximum",
            {"--difficulty=0.00048828126,0.0002,0.0004"},
            nullptr,
            "--difficulty=0.00048828126,0.0002,0.0004: expected numbers in (0, 1/2048]"},
        Row{"DifficultyEmpty",
            {"--difficulty="},
            nullptr,
            "--difficulty=: expected three numbers: calm,hot,severe"},
        // Backlog settings and the order of hot and severe.
        Row{"BacklogHotZero",
            {"--backlog-hot=0"},
            nullptr,
            "--backlog-hot=0: expected a queue length of 1 or more"},
        Row{"BacklogHotText",
            {"--backlog-hot=many"},
            nullptr,
            "--backlog-hot=many: expected a queue length"},
        Row{"BacklogSevereZero",
            {"--backlog-severe=0"},
            nullptr,
            "--backlog-severe=0: expected a queue length of 1 or more"},
        Row{"BacklogSevere2To32",
            {"--backlog-severe=4294967296"},
            nullptr,
            "--backlog-severe=4294967296: expected a queue length"},
        Row{"BacklogHotAboveTheDefaultSevere",
            {"--backlog-hot=20"},
            nullptr,
            "--backlog-severe must be at least --backlog-hot"},
        Row{"BacklogSevereBelowTheDefaultHot",
            {"--backlog-severe=3"},
            nullptr,
            "--backlog-severe must be at least --backlog-hot"},
        Row{"BacklogHotEqualsSevere",
            {"--backlog-hot=20", "--backlog-severe=20"},
            [](Settings& s) { s.backlogHot = s.backlogSevere = 20; },
            ""},
        Row{"BacklogSevereBeforeHot",
            {"--backlog-severe=2", "--backlog-hot=1"},
            [](Settings& s) {
                s.backlogSevere = 2;
                s.backlogHot = 1;
            },
            ""},
        Row{"BacklogHold9",
            {"--backlog-hold=9"},
            nullptr,
            "--backlog-hold=9: expected seconds, 10 to 3600"},
        Row{"BacklogHold3601",
            {"--backlog-hold=3601"},
            nullptr,
            "--backlog-hold=3601: expected seconds, 10 to 3600"},
        Row{"BacklogHold10",
            {"--backlog-hold=10"},
            [](Settings& s) { s.backlogHoldNs = 10 * nanosPerSecond; },
            ""},
        Row{"BacklogHold3600",
            {"--backlog-hold=3600"},
            [](Settings& s) { s.backlogHoldNs = 3600 * nanosPerSecond; },
            ""},
        // Receipt settings.
        Row{"ReceiptKeysEmpty",
            {"--receipt-keys="},
            [](Settings& s) { s.receiptKeysPath = ""; },
            ""},
        Row{"ReceiptMaxRequestsZero",
            {"--receipt-max-requests=0"},
            [](Settings& s) { s.receiptMaxRequests = 0; },
            ""},
        Row{"ReceiptMaxRequestsUint32Max",
            {"--receipt-max-requests=4294967295"},
            [](Settings& s) { s.receiptMaxRequests = 4294967295u; },
            ""},
        Row{"ReceiptMaxRequestsNegative",
            {"--receipt-max-requests=-1"},
            nullptr,
            "--receipt-max-requests=-1: expected a count"},
        Row{"ReceiptMaxIps7",
            {"--receipt-max-ips=7"},
            [](Settings& s) { s.receiptMaxIps = 7; },
            ""},
        Row{"ReceiptMaxIps8",
            {"--receipt-max-ips=8"},
            nullptr,
            "--receipt-max-ips=8: expected 1 to 7"},
        Row{"ReceiptMaxIpsZero",
            {"--receipt-max-ips=0"},
            nullptr,
            "--receipt-max-ips=0: expected 1 to 7"},
        Row{"ReceiptMaxIps300",
            {"--receipt-max-ips=300"},
            nullptr,
            "--receipt-max-ips=300: expected 1 to 7"}),
    rowName);

// The options for the address tables and the site, one argument a row:
// taken, it changes its own setting and no other; refused, the message is
// the argument and what its option expects.
struct NewOptionRow {
    const char* name;
    std::string argument;
    bool taken;
};

void PrintTo(const NewOptionRow& row, std::ostream* out) {
    *out << '[' << row.argument << ']';
}

// What a refusal of `option` says its value should be.
std::string expectation(std::string_view option) {
    if (option == "--address-memory") return "MiB per loop, 1 to 65536";
    if (option == "--site-domain") return "a domain name: dot-separated labels of a-z, 0-9 and -";
    return "a cookie name (an RFC 6265 token) other than bramble_pass";
}

class NewOption : public testing::TestWithParam<NewOptionRow> {};

TEST_P(NewOption, SetsItsSettingOrIsRefused) {
    const auto& [name, argument, taken] = GetParam();
    const std::string option = argument.substr(0, argument.find('='));
    const std::string value = argument.substr(option.size() + 1);
    auto parsed = parseCommandLine(std::vector<const char*>{argument.c_str()});
    if (!taken) {
        ASSERT_FALSE(parsed.has_value());
        EXPECT_EQ(messageOf(parsed.error()), argument + ": expected " + expectation(option));
        return;
    }
    ASSERT_TRUE(parsed.has_value()) << messageOf(parsed.error());
    Settings expected;
    if (option == "--address-memory") {
        expected.addressMemoryBytes = std::strtoull(value.c_str(), nullptr, 10) << 20;
    }
    if (option == "--site-domain") expected.site.domain = value;
    if (option == "--session-cookie") expected.site.sessionCookie = value;
    expectSameSettings(*parsed, expected);
}

const std::string label63(63, 'a');
const std::string domain253 = label63 + "." + label63 + "." + label63 + "." + std::string(61, 'b');

INSTANTIATE_TEST_SUITE_P(
    Arguments, NewOption,
    testing::Values(
        NewOptionRow{"AddressMemory1", "--address-memory=1", true},
        NewOptionRow{"AddressMemory65536", "--address-memory=65536", true},
        NewOptionRow{"AddressMemory0", "--address-memory=0", false},
        NewOptionRow{"AddressMemory65537", "--address-memory=65537", false},
        NewOptionRow{"SiteDomainOneLabelWithDigitsAndHyphens", "--site-domain=git-01", true},
        NewOptionRow{"SiteDomainOf253Bytes", "--site-domain=" + domain253, true},
        NewOptionRow{"SiteDomainOf254Bytes", "--site-domain=" + domain253 + "b", false},
        NewOptionRow{"SiteDomainLabelOf64Bytes", "--site-domain=" + label63 + "a.org", false},
        NewOptionRow{"SiteDomainEmpty", "--site-domain=", false},
        NewOptionRow{"SiteDomainUpperCase", "--site-domain=Git.example.org", false},
        NewOptionRow{"SiteDomainEmptyLabel", "--site-domain=git..org", false},
        NewOptionRow{"SiteDomainTrailingDot", "--site-domain=git.org.", false},
        NewOptionRow{"SiteDomainWithPort", "--site-domain=git.org:443", false},
        NewOptionRow{"SiteDomainUnderscore", "--site-domain=x_y.org", false},
        NewOptionRow{"SessionCookieOfTokenPunctuation", "--session-cookie=a!#$%&'*+-.^_`|~9", true},
        NewOptionRow{"SessionCookieEmpty", "--session-cookie=", false},
        NewOptionRow{"SessionCookieWithEquals", "--session-cookie=a=b", false},
        NewOptionRow{"SessionCookieWithSemicolon", "--session-cookie=a;b", false},
        NewOptionRow{"SessionCookieWithSpace", "--session-cookie=a b", false},
        NewOptionRow{"SessionCookieWithQuote", "--session-cookie=\"a\"", false},
        NewOptionRow{"SessionCookieNonAscii", "--session-cookie=caf\xc3\xa9", false},
        NewOptionRow{"SessionCookieIsThePassCookie", "--session-cookie=bramble_pass", false}),
    [](const testing::TestParamInfo<NewOptionRow>& info) {
        return test::testName({info.param.name, info.param.taken ? "accepted" : "refused"});
    });

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

void PrintTo(const Division& row, std::ostream* out) {
    *out << row.millis << " ms";
}

std::string divisionName(const testing::TestParamInfo<Division>& info) {
    return test::testName({std::to_string(info.param.millis), "ms"});
}

class StartTime : public testing::TestWithParam<Division> {};

TEST_P(StartTime, RoundsTowardNegativeInfinity) {
    EXPECT_EQ(startTimeSecondsFrom(GetParam().millis), GetParam().seconds);
}

INSTANTIATE_TEST_SUITE_P(Millis, StartTime,
                         testing::Values(Division{0, 0}, Division{999, 0}, Division{1000, 1},
                                         Division{1'700'000'000'123, 1'700'000'000},
                                         Division{-1, -1}, Division{-1000, -1},
                                         Division{-1001, -2}),
                         divisionName);

struct Budget {
    std::optional<std::uint64_t> softLimit;
    std::uint64_t budget;
};

void PrintTo(const Budget& row, std::ostream* out) {
    *out << "soft limit " << (row.softLimit ? std::to_string(*row.softLimit) : "none");
}

std::string budgetName(const testing::TestParamInfo<Budget>& info) {
    if (!info.param.softLimit) return "NoSoftLimit";
    return test::testName({"soft limit", std::to_string(*info.param.softLimit)});
}

class DescriptorBudget : public testing::TestWithParam<Budget> {};

TEST_P(DescriptorBudget, KeepsSixtyFourForTheDaemon) {
    EXPECT_EQ(descriptorBudgetFrom(GetParam().softLimit), GetParam().budget);
}

constexpr std::uint64_t u64Max = std::numeric_limits<std::uint64_t>::max();

INSTANTIATE_TEST_SUITE_P(Limits, DescriptorBudget,
                         testing::Values(Budget{std::nullopt, u64Max}, Budget{0, 0}, Budget{63, 0},
                                         Budget{64, 0}, Budget{65, 1}, Budget{1024, 960},
                                         Budget{u64Max, u64Max - 64}),
                         budgetName);

}  // namespace
}  // namespace vorn
