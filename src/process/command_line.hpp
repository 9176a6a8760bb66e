#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string_view>

#include "common/text_writer.hpp"
#include "process/settings.hpp"

namespace vorn {

// Why the command line was refused. The views point into the arguments or at
// static text.
struct CommandLineError {
    enum class Kind : std::uint8_t { unknownArgument, badValue, backlogOrder };
    Kind kind;
    std::string_view argument;  // the whole argument as passed (unknownArgument, badValue)
    std::string_view expected;  // the option's expected text (badValue)
};

// Writes the specific message (the first of the two fatal lines) without a
// line end.
void writeCommandLineMessage(const CommandLineError& error, TextWriter& out);

// Takes the arguments after the program name, in order, each of the form
// --name=value. Returns the settings with every option applied (the last
// occurrence of an option wins) or the first error; the text fields of the
// result view the arguments. Writes nothing and allocates nothing. The
// computed fields (start time, descriptor budget) keep their defaults.
[[nodiscard]] std::expected<Settings, CommandLineError> parseCommandLine(
    std::span<const char* const> arguments);

// The wall clock in milliseconds since the epoch, as whole seconds rounded
// toward negative infinity.
[[nodiscard]] std::int64_t startTimeSecondsFrom(std::int64_t wallClockMillis);

// Descriptors left for connections under the soft RLIMIT_NOFILE limit
// (nothing: unlimited or unreadable): the limit less 64 for the daemon's own
// descriptors, 0 below that, the largest u64 without a limit.
[[nodiscard]] std::uint64_t descriptorBudgetFrom(std::optional<std::uint64_t> softLimit);

// descriptorBudgetFrom applied to this process's current limit.
[[nodiscard]] std::uint64_t readDescriptorBudget();

}  // namespace vorn
