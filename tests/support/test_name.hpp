#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace vorn::test {

// The name of one row of a parameterised test, made from readable text: each
// run of letters and digits is kept with its first letter upper-cased, and
// everything else is dropped, except that an underscore keeps two numbers
// apart and a minus sign in front of a word reads "Minus":
//   "wrong_host" -> "WrongHost", "0.25" -> "0_25", "-1" -> "Minus1",
//   "1969-12-31" -> "1969_12_31".
// Text with no letter or digit gives "Empty". The result is always a valid
// gtest name; keeping it unique within its table is up to the table (gtest
// refuses to run one with two rows of the same name).
[[nodiscard]] inline std::string testName(std::string_view text) {
    auto isAlnum = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    };
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    std::string name;
    bool inWord = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (isAlnum(c)) {
            if (inWord) {
                name += c;
                continue;
            }
            if (isDigit(c) && !name.empty() && isDigit(name.back())) name += '_';
            name += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
            inWord = true;
            continue;
        }
        if (c == '-' && !inWord && i + 1 < text.size() && isAlnum(text[i + 1])) name += "Minus";
        inWord = false;
    }
    return name.empty() ? "Empty" : name;
}

// The same, for a name put together from several pieces of text.
[[nodiscard]] inline std::string testName(std::initializer_list<std::string_view> words) {
    std::string text;
    for (std::string_view word : words) {
        text += word;
        text += ' ';
    }
    return testName(text);
}

}  // namespace vorn::test
