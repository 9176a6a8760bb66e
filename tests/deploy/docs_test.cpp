// The operator's documents against the code, where a fact can be checked
// mechanically: the options the parser takes are the ones the man page, the
// README and the rc.d script name, and the words of verdict lines and reply
// variables are the ones the man page lists.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/path_class.hpp"
#include "common/receipt_status.hpp"
#include "common/verdict.hpp"
#include "support/daemon_process.hpp"
#include "support/text_file.hpp"

namespace vorn::test {
namespace {

using namespace std::chrono_literals;

// The first group of every match of `pattern` in `text`, in order.
std::vector<std::string> matches(const std::string& text, const std::string& pattern) {
    std::vector<std::string> found;
    const std::regex expression(pattern);
    for (auto it = std::sregex_iterator(text.begin(), text.end(), expression);
         it != std::sregex_iterator(); ++it) {
        found.push_back((*it)[1].str());
    }
    return found;
}

// The text from the line `heading` to the next heading of its level.
std::string section(const std::string& text, const std::string& heading) {
    std::size_t start = text.find("\n" + heading + "\n");
    EXPECT_NE(start, std::string::npos) << heading;
    if (start == std::string::npos) return {};
    const std::string level = heading.substr(0, heading.find(' ') + 1);
    std::size_t end = text.find("\n" + level, start + heading.size() + 1);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::set<std::string> asSet(const std::vector<std::string>& names) {
    return {names.begin(), names.end()};
}

// The option table of the parser, as written in its source.
const std::vector<std::string>& parserOptions() {
    static const std::vector<std::string> options =
        matches(readTextFile(VORN_SOURCE_DIR "/src/process/command_line.cpp"),
                R"re(\{"(--[a-z-]+)", apply)re");
    return options;
}

const std::string& manual() {
    static const std::string text = readTextFile(VORN_SOURCE_DIR "/man/vorn-spoa.8");
    return text;
}

TEST(OptionDocs, TheParserTableIsReadable) {
    EXPECT_GE(parserOptions().size(), 17u);
    EXPECT_EQ(asSet(parserOptions()).size(), parserOptions().size()) << "an option twice";
}

TEST(OptionDocs, TheManPageNamesEveryOptionInSynopsisAndList) {
    const std::set<std::string> parser = asSet(parserOptions());
    std::set<std::string> synopsis;
    for (const std::string& name : matches(manual(), R"re(\n\.Op Fl -([a-z-]+) Ns =)re")) {
        synopsis.insert("--" + name);
    }
    EXPECT_EQ(synopsis, parser) << "SYNOPSIS";
    std::set<std::string> listed;
    for (const std::string& name :
         matches(section(manual(), ".Sh OPTIONS"), R"re(\n\.It Fl -([a-z-]+) Ns =)re")) {
        listed.insert("--" + name);
    }
    EXPECT_EQ(listed, parser) << "OPTIONS";
}

TEST(OptionDocs, TheReadmeTableNamesEveryOption) {
    const std::string options = section(readTextFile(VORN_SOURCE_DIR "/README.md"), "## Options");
    EXPECT_EQ(asSet(matches(options, R"re(\n\| `(--[a-z-]+)` \|)re")), asSet(parserOptions()));
}

TEST(OptionDocs, TheRcdScriptHasAVariableForEveryOption) {
    const std::string script = readTextFile(VORN_SOURCE_DIR "/deploy/freebsd/vorn_spoa");
    std::set<std::string> documented;
    for (const std::string& name : matches(script, R"re(\n# vorn_spoa_([a-z_]+) +--)re")) {
        std::string option = "--" + name;
        for (char& c : option) c = c == '_' ? '-' : c;
        documented.insert(option);
    }
    EXPECT_EQ(documented, asSet(parserOptions())) << "the variables listed at the top";
    const std::string loop = script.substr(script.find("for option in "));
    std::set<std::string> passed;
    for (const std::string& name :
         matches(loop.substr(0, loop.find("; do")), R"re(([a-z][a-z-]*[a-z]))re")) {
        if (name != "for" && name != "option" && name != "in") passed.insert("--" + name);
    }
    EXPECT_EQ(passed, asSet(parserOptions())) << "the options the script passes";
}

// The daemon itself knows every option of the table: a value followed by an
// unknown argument never starts it, and only the unknown one is refused.
TEST(OptionDocs, TheDaemonKnowsEveryOptionOfTheTable) {
    for (const std::string& option : parserOptions()) {
        DaemonProcess daemon({option + "=@", "--zz-unknown"});
        ASSERT_EQ(daemon.waitExit(), 1) << option;
        const std::string lines = daemon.linesText();
        EXPECT_EQ(lines.find("unknown argument: " + option + "="), std::string::npos) << lines;
    }
}

// The words the man page sets with .Cm: "pass", "trap" and "watch" from
// ".Cm pass , trap , watch".
const std::set<std::string>& commandWords() {
    static const std::set<std::string> words = [] {
        std::set<std::string> found;
        std::istringstream lines(manual());
        std::string line;
        while (std::getline(lines, line)) {
            if (!line.starts_with(".Cm ")) continue;
            std::istringstream tokens(line.substr(4));
            std::string token;
            while (tokens >> token) {
                if (token != "," && token != "." && token != ";" && token != "or") {
                    found.insert(token);
                }
            }
        }
        return found;
    }();
    return words;
}

template <std::size_t N>
void expectListed(const std::array<std::string_view, N>& names, const std::string& what) {
    for (std::string_view name : names) {
        EXPECT_TRUE(commandWords().contains(std::string(name)))
            << what << " " << name << " is not in the man page";
    }
}

TEST(WordDocs, TheManPageListsEveryVerdictReasonClassAndReceiptStatus) {
    expectListed(verdictNames, "verdict");
    expectListed(reasonNames, "reason");
    expectListed(classSlotNames, "class");
    // "none" is never written: vorn_receipt and receipt= are then absent.
    std::array<std::string_view, receiptStatusCount - 1> written{};
    std::copy(receiptStatusNames.begin() + 1, receiptStatusNames.end(), written.begin());
    expectListed(written, "receipt status");
}

}  // namespace
}  // namespace vorn::test
