#include "arguments.hpp"

#include <algorithm>

namespace vorn::tool {

std::optional<std::string_view> Arguments::option(std::string_view name) const {
    auto found =
        std::ranges::find(options, name, &std::pair<std::string_view, std::string_view>::first);
    if (found == options.end()) return std::nullopt;
    return found->second;
}

Result<Arguments> parseArguments(std::span<char* const> words,
                                 std::span<const std::string_view> known) {
    Arguments arguments;
    for (std::size_t i = 0; i < words.size(); ++i) {
        std::string_view word = words[i];
        if (!word.starts_with("--")) {
            arguments.positional.push_back(word);
            continue;
        }
        const std::size_t equals = word.find('=');
        std::string_view name = word.substr(0, equals);
        if (std::ranges::find(known, name) == known.end()) {
            return std::unexpected("unknown option " + std::string(name));
        }
        if (arguments.option(name)) return std::unexpected(std::string(name) + " given twice");
        if (equals != std::string_view::npos) {
            arguments.options.emplace_back(name, word.substr(equals + 1));
        } else if (i + 1 < words.size()) {
            arguments.options.emplace_back(name, words[++i]);
        } else {
            return std::unexpected(std::string(name) + " needs a value");
        }
    }
    return arguments;
}

Result<std::string_view> required(const Arguments& arguments, std::string_view name) {
    auto value = arguments.option(name);
    if (!value) return std::unexpected("missing " + std::string(name));
    return *value;
}

}  // namespace vorn::tool
