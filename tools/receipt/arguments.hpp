#pragma once

#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vorn::tool {

// A command's arguments: options written "--name VALUE" or "--name=VALUE",
// and everything else, in order.
struct Arguments {
    std::vector<std::pair<std::string_view, std::string_view>> options;
    std::vector<std::string_view> positional;

    [[nodiscard]] std::optional<std::string_view> option(std::string_view name) const;
};

// Failures are the one-line message the tool prints.
template <typename T>
using Result = std::expected<T, std::string>;

// Splits `words` (what follows the command name). Fails on an option not in
// `known`, one without a value, or one given twice.
[[nodiscard]] Result<Arguments> parseArguments(std::span<char* const> words,
                                               std::span<const std::string_view> known);

// The value of a required option, or the message naming it.
[[nodiscard]] Result<std::string_view> required(const Arguments& arguments, std::string_view name);

}  // namespace vorn::tool
