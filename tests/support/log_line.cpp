#include "support/log_line.hpp"

#include <algorithm>

namespace vorn::test {

namespace {

bool needsQuotes(std::string_view value) {
    if (value.empty()) return true;
    return std::ranges::any_of(value, [](char c) {
        auto b = static_cast<unsigned char>(c);
        return b <= 0x20 || c == '"' || c == '=' || c == '\\' || b == 0x7F;
    });
}

std::optional<int> lowerHexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return std::nullopt;
}

// Control bytes other than TAB and LF, and DEL, are the ones written as \xHH.
bool takesHexEscape(unsigned char b) {
    return (b < 0x20 && b != '\t' && b != '\n') || b == 0x7F;
}

struct Escape {
    char byte;
    std::size_t size;  // bytes of the escape, backslash included
};

std::optional<Escape> readEscape(std::string_view rest) {
    if (rest.size() < 2) return std::nullopt;
    switch (rest[1]) {
        case '"':
            return Escape{'"', 2};
        case '\\':
            return Escape{'\\', 2};
        case 't':
            return Escape{'\t', 2};
        case 'n':
            return Escape{'\n', 2};
        case 'x': {
            if (rest.size() < 4) return std::nullopt;
            auto high = lowerHexDigit(rest[2]);
            auto low = lowerHexDigit(rest[3]);
            if (!high || !low) return std::nullopt;
            auto b = static_cast<unsigned char>(*high * 16 + *low);
            if (!takesHexEscape(b)) return std::nullopt;
            return Escape{static_cast<char>(b), 4};
        }
        default:
            return std::nullopt;
    }
}

struct Value {
    std::string text;
    std::size_t size;  // bytes the value took in the line
};

// A quoted value from its opening quote to its closing quote.
std::optional<Value> readQuoted(std::string_view rest) {
    std::string text;
    std::size_t i = 1;
    while (i < rest.size()) {
        char c = rest[i];
        if (c == '"') {
            if (!needsQuotes(text)) return std::nullopt;
            return Value{std::move(text), i + 1};
        }
        if (c == '\\') {
            auto escape = readEscape(rest.substr(i));
            if (!escape) return std::nullopt;
            text.push_back(escape->byte);
            i += escape->size;
            continue;
        }
        if (takesHexEscape(static_cast<unsigned char>(c)) || c == '\t' || c == '\n') {
            return std::nullopt;
        }
        text.push_back(c);
        ++i;
    }
    return std::nullopt;
}

std::optional<Value> readValue(std::string_view rest) {
    if (!rest.empty() && rest[0] == '"') return readQuoted(rest);
    auto raw = rest.substr(0, rest.find(' '));
    if (needsQuotes(raw)) return std::nullopt;
    return Value{std::string(raw), raw.size()};
}

}  // namespace

std::optional<LogFields> logFields(std::string_view line) {
    LogFields fields;
    std::size_t i = 0;
    while (i < line.size()) {
        if (!fields.empty()) {
            if (line[i] != ' ') return std::nullopt;
            ++i;
        }
        auto equals = line.find('=', i);
        if (equals == std::string_view::npos) return std::nullopt;
        auto key = line.substr(i, equals - i);
        if (key.empty() || key.find(' ') != std::string_view::npos) return std::nullopt;
        auto value = readValue(line.substr(equals + 1));
        if (!value) return std::nullopt;
        fields.emplace_back(std::string(key), std::move(value->text));
        i = equals + 1 + value->size;
    }
    if (fields.size() < 2 || fields[0].first != "ts" || fields[1].first != "level") {
        return std::nullopt;
    }
    return fields;
}

std::optional<std::string> fieldOf(std::string_view line, std::string_view key) {
    auto fields = logFields(line);
    if (!fields) return std::nullopt;
    for (auto& [name, value] : *fields) {
        if (name == key) return std::move(value);
    }
    return std::nullopt;
}

std::optional<std::string> messageOf(std::string_view line) {
    return fieldOf(line, "msg");
}

}  // namespace vorn::test
