#include "process/command_line.hpp"

#include <sys/resource.h>

#include <array>
#include <charconv>
#include <concepts>
#include <limits>

#include "common/decimal.hpp"
#include "common/socket_address.hpp"
#include "token/contract.hpp"

namespace vorn {

namespace {

// An option's verdict on its value: nothing when accepted, otherwise the text
// saying what the value should have been.
using Applied = std::expected<void, std::string_view>;
using ApplyOption = Applied (*)(std::string_view value, Settings& settings);

struct Option {
    std::string_view name;
    ApplyOption apply;
};

// sun_path holds 104 bytes on FreeBSD, one of them the terminating NUL.
constexpr std::size_t maxSocketPathLength = 103;
constexpr std::uint64_t bytesPerMebibyte = 1 << 20;
constexpr double maxDifficulty = 1.0 / 2048;
constexpr std::string_view difficultyShape = "three numbers: calm,hot,severe";
constexpr std::string_view difficultyRange = "numbers in (0, 1/2048]";

// Decimal digits of an unsigned value that fits T, with an optional leading
// "+"; nothing for anything else, the empty text included.
template <std::unsigned_integral T>
std::optional<T> parseUnsigned(std::string_view text) {
    if (text.starts_with('+')) text.remove_prefix(1);
    T value{};
    const char* last = text.data() + text.size();
    auto [end, ec] = std::from_chars(text.data(), last, value);
    if (ec != std::errc{} || end != last) return std::nullopt;
    return value;
}

template <std::unsigned_integral T>
std::optional<T> parseInRange(std::string_view text, T low, T high) {
    auto value = parseUnsigned<T>(text);
    if (!value || *value < low || *value > high) return std::nullopt;
    return value;
}

// The enumerator whose lower-case name is `text`, matched byte for byte.
template <typename Enum, std::size_t Count>
std::optional<Enum> enumFromName(const std::array<std::string_view, Count>& names,
                                 std::string_view text) {
    for (std::size_t i = 0; i < Count; ++i) {
        if (names[i] == text) return static_cast<Enum>(i);
    }
    return std::nullopt;
}

Applied applySocket(std::string_view value, Settings& settings) {
    if (value.empty() || value.size() > maxSocketPathLength) {
        return std::unexpected("a socket path shorter than sun_path");
    }
    settings.socketPath = value;
    return {};
}

Applied applyMetrics(std::string_view value, Settings& settings) {
    if (value == "off") {
        settings.metricsAddress.reset();
        return {};
    }
    if (!parseSocketAddress(value)) return std::unexpected("ADDRESS:PORT or off");
    settings.metricsAddress = value;
    return {};
}

Applied applyConnMemory(std::string_view value, Settings& settings) {
    auto mebibytes = parseInRange<std::uint64_t>(value, 16, 65536);
    if (!mebibytes) return std::unexpected("MiB per loop, 16 to 65536");
    settings.connMemoryBytes = *mebibytes * bytesPerMebibyte;
    return {};
}

// The distinct-address tables of all path classes together.
Applied applyAddressMemory(std::string_view value, Settings& settings) {
    auto mebibytes = parseInRange<std::uint64_t>(value, 1, 65536);
    if (!mebibytes) return std::unexpected("MiB per loop, 1 to 65536");
    settings.addressMemoryBytes = *mebibytes * bytesPerMebibyte;
    return {};
}

Applied applyVerifyThreads(std::string_view value, Settings& settings) {
    auto threads = parseInRange<std::uint8_t>(value, 1, 16);
    if (!threads) return std::unexpected("1 to 16");
    settings.verifyThreads = *threads;
    return {};
}

Applied applyLogVerdicts(std::string_view value, Settings& settings) {
    auto mode = enumFromName<LogVerdicts>(logVerdictsNames, value);
    if (!mode) return std::unexpected("none, trap, watch or all");
    settings.logVerdicts = *mode;
    return {};
}

Applied applyChallenge(std::string_view value, Settings& settings) {
    auto mode = enumFromName<ChallengeMode>(challengeModeNames, value);
    if (!mode) return std::unexpected("off, shadow or on");
    settings.challengeMode = *mode;
    return {};
}

Applied applyChallengePrefix(std::string_view value, Settings& settings) {
    if (!value.starts_with('/')) return std::unexpected("a path starting with /");
    settings.challengePrefix = value;
    return {};
}

Applied applyChallengeFrom(std::string_view value, Settings& settings) {
    auto level = enumFromName<MeterLevel>(meterLevelNames, value);
    if (!level) return std::unexpected("calm, hot or severe");
    settings.challengeFrom = *level;
    return {};
}

// One piece of --difficulty. Text that is not wholly a decimal number gives
// the shape text; a number outside (0, 1/2048] the range text. Magnitudes
// beyond a double (1e-400, 1e400) count as numbers out of range, and so do
// NaN and the infinities.
std::expected<double, std::string_view> parseDifficulty(std::string_view piece) {
    auto number = parseDecimal(piece, std::chars_format::general);
    if (!number && number.error() == DecimalFault::notANumber) {
        return std::unexpected(difficultyShape);
    }
    if (!number || !(*number > 0 && *number <= maxDifficulty)) {
        return std::unexpected(difficultyRange);
    }
    return *number;
}

// Pieces are taken left to right and each is checked in full before the next
// is looked at, so an early piece out of range wins over a bad shape later.
Applied applyDifficulty(std::string_view value, Settings& settings) {
    std::array<double, meterLevelCount> numbers{};
    std::string_view rest = value;
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        std::size_t comma = rest.find(',');
        auto number = parseDifficulty(rest.substr(0, comma));
        if (!number) return std::unexpected(number.error());
        numbers[i] = *number;
        bool lastPiece = i + 1 == numbers.size();
        if ((comma == std::string_view::npos) != lastPiece) {
            return std::unexpected(difficultyShape);
        }
        if (!lastPiece) rest.remove_prefix(comma + 1);
    }
    settings.difficulty = numbers;
    return {};
}

std::expected<std::uint32_t, std::string_view> parseQueueLength(std::string_view value) {
    auto length = parseUnsigned<std::uint32_t>(value);
    if (!length) return std::unexpected("a queue length");
    if (*length == 0) return std::unexpected("a queue length of 1 or more");
    return *length;
}

Applied applyBacklogHot(std::string_view value, Settings& settings) {
    auto length = parseQueueLength(value);
    if (!length) return std::unexpected(length.error());
    settings.backlogHot = *length;
    return {};
}

Applied applyBacklogSevere(std::string_view value, Settings& settings) {
    auto length = parseQueueLength(value);
    if (!length) return std::unexpected(length.error());
    settings.backlogSevere = *length;
    return {};
}

Applied applyBacklogHold(std::string_view value, Settings& settings) {
    auto seconds = parseInRange<std::uint32_t>(value, 10, 3600);
    if (!seconds) return std::unexpected("seconds, 10 to 3600");
    settings.backlogHoldNs = Nanos{*seconds} * nanosPerSecond;
    return {};
}

// Any text, the empty one too: the key loader reports a file it cannot read.
Applied applyReceiptKeys(std::string_view value, Settings& settings) {
    settings.receiptKeysPath = value;
    return {};
}

Applied applyReceiptMaxRequests(std::string_view value, Settings& settings) {
    auto count = parseUnsigned<std::uint32_t>(value);
    if (!count) return std::unexpected("a count");
    settings.receiptMaxRequests = *count;
    return {};
}

Applied applyReceiptMaxIps(std::string_view value, Settings& settings) {
    auto count = parseInRange<std::uint8_t>(value, 1, 7);
    if (!count) return std::unexpected("1 to 7");
    settings.receiptMaxIps = *count;
    return {};
}

// Labels of letters, digits and '-', as a Referer's host names them (in
// lower case: browsers send the host so), at most 63 bytes each and 253 in
// all.
bool isDomainName(std::string_view text) {
    constexpr std::size_t maxLabel = 63;
    constexpr std::size_t maxName = 253;
    if (text.empty() || text.size() > maxName) return false;
    std::size_t label = 0;
    for (char c : text) {
        if (c == '.') {
            if (label == 0) return false;
            label = 0;
        } else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-') {
            if (++label > maxLabel) return false;
        } else {
            return false;
        }
    }
    return label > 0;
}

// An RFC 6265 cookie name: an HTTP token, visible ASCII without separators.
bool isCookieName(std::string_view text) {
    constexpr std::string_view separators = "()<>@,;:\\\"/[]?={}";
    if (text.empty()) return false;
    for (char c : text) {
        if (c <= ' ' || c >= 0x7f || separators.contains(c)) return false;
    }
    return true;
}

Applied applySiteDomain(std::string_view value, Settings& settings) {
    if (!isDomainName(value)) {
        return std::unexpected("a domain name: dot-separated labels of a-z, 0-9 and -");
    }
    settings.site.domain = value;
    return {};
}

// The pass cookie cannot be the session cookie too: anyone could then sign
// in with a made-up receipt.
Applied applySessionCookie(std::string_view value, Settings& settings) {
    if (!isCookieName(value) || value == passCookie) {
        return std::unexpected("a cookie name (an RFC 6265 token) other than bramble_pass");
    }
    settings.site.sessionCookie = value;
    return {};
}

constexpr std::array<Option, 18> options = {{
    {"--socket", applySocket},
    {"--metrics", applyMetrics},
    {"--conn-memory", applyConnMemory},
    {"--address-memory", applyAddressMemory},
    {"--verify-threads", applyVerifyThreads},
    {"--log-verdicts", applyLogVerdicts},
    {"--challenge", applyChallenge},
    {"--challenge-prefix", applyChallengePrefix},
    {"--challenge-from", applyChallengeFrom},
    {"--difficulty", applyDifficulty},
    {"--backlog-hot", applyBacklogHot},
    {"--backlog-severe", applyBacklogSevere},
    {"--backlog-hold", applyBacklogHold},
    {"--receipt-keys", applyReceiptKeys},
    {"--receipt-max-requests", applyReceiptMaxRequests},
    {"--receipt-max-ips", applyReceiptMaxIps},
    {"--site-domain", applySiteDomain},
    {"--session-cookie", applySessionCookie},
}};

const Option* findOption(std::string_view name) {
    for (const Option& option : options) {
        if (option.name == name) return &option;
    }
    return nullptr;
}

// Splits one argument at its first "=" and applies it to `settings`.
std::expected<void, CommandLineError> applyArgument(std::string_view argument, Settings& settings) {
    std::size_t equals = argument.find('=');
    const Option* option =
        equals == std::string_view::npos ? nullptr : findOption(argument.substr(0, equals));
    if (option == nullptr) {
        return std::unexpected(
            CommandLineError{CommandLineError::Kind::unknownArgument, argument, {}});
    }
    auto applied = option->apply(argument.substr(equals + 1), settings);
    if (!applied) {
        return std::unexpected(
            CommandLineError{CommandLineError::Kind::badValue, argument, applied.error()});
    }
    return {};
}

}  // namespace

void writeCommandLineMessage(const CommandLineError& error, TextWriter& out) {
    switch (error.kind) {
        case CommandLineError::Kind::unknownArgument:
            out.text("unknown argument: ").text(error.argument);
            return;
        case CommandLineError::Kind::badValue:
            out.text(error.argument).text(": expected ").text(error.expected);
            return;
        case CommandLineError::Kind::backlogOrder:
            out.text("--backlog-severe must be at least --backlog-hot");
            return;
    }
}

std::expected<Settings, CommandLineError> parseCommandLine(std::span<const char* const> arguments) {
    Settings settings;
    for (const char* argument : arguments) {
        auto applied = applyArgument(argument, settings);
        if (!applied) return std::unexpected(applied.error());
    }
    if (settings.backlogSevere < settings.backlogHot) {
        return std::unexpected(CommandLineError{CommandLineError::Kind::backlogOrder, {}, {}});
    }
    return settings;
}

std::int64_t startTimeSecondsFrom(std::int64_t wallClockMillis) {
    return static_cast<std::int64_t>(floorDiv(wallClockMillis, 1000));
}

std::uint64_t descriptorBudgetFrom(std::optional<std::uint64_t> softLimit) {
    // Descriptors the daemon keeps for itself: listeners, kqueue, standard
    // streams, the files it reads.
    constexpr std::uint64_t reserved = 64;
    if (!softLimit) return std::numeric_limits<std::uint64_t>::max();
    return *softLimit < reserved ? 0 : *softLimit - reserved;
}

std::uint64_t readDescriptorBudget() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return descriptorBudgetFrom(std::nullopt);
    }
    return descriptorBudgetFrom(static_cast<std::uint64_t>(limit.rlim_cur));
}

}  // namespace vorn
