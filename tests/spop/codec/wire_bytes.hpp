#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vorn::testing_wire {

// Bytes written as hex pairs and quoted text, e.g. R"(07 "version" 08 03 "2.0")";
// spaces between items are ignored. A malformed spelling is a bug in the test
// and yields an empty result, which the test then fails on.
inline std::vector<std::byte> wire(std::string_view spelled) {
    std::vector<std::byte> out;
    auto hexDigit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    for (std::size_t i = 0; i < spelled.size();) {
        char c = spelled[i];
        if (c == ' ') {
            ++i;
        } else if (c == '"') {
            auto close = spelled.find('"', i + 1);
            if (close == std::string_view::npos) return {};
            for (char t : spelled.substr(i + 1, close - i - 1)) out.push_back(std::byte(t));
            i = close + 1;
        } else {
            if (i + 1 >= spelled.size()) return {};
            int high = hexDigit(c);
            int low = hexDigit(spelled[i + 1]);
            if (high < 0 || low < 0) return {};
            out.push_back(std::byte(high * 16 + low));
            i += 2;
        }
    }
    return out;
}

inline std::vector<std::byte> toVector(std::span<const std::byte> bytes) {
    return {bytes.begin(), bytes.end()};
}

inline std::string toString(std::span<const std::byte> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace vorn::testing_wire
