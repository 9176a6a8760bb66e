// The operator's documents against the code, where a fact can be checked
// mechanically: the options the parser takes are the ones the man page, the
// README and the rc.d script's comments name (install_tree_test.sh runs the
// daemon with each, and the script with every variable), and the words of
// verdict lines and reply variables are the ones the man page lists.

#include <gtest/gtest.h>

#include <ostream>
#include <regex>
#include <set>
#include <span>
#include <sstream>
#include <string>
#include <string_view>

#include "common/path_class.hpp"
#include "common/receipt_status.hpp"
#include "common/verdict.hpp"
#include "support/text_file.hpp"

namespace vorn::test {
namespace {

// The first group of every match of `pattern` in `text`, with '_' read as
// '-' (the rc.d script's variables).
std::set<std::string> namesIn(const std::string& text, const std::string& pattern) {
    std::set<std::string> names;
    const std::regex expression(pattern);
    for (auto it = std::sregex_iterator(text.begin(), text.end(), expression);
         it != std::sregex_iterator(); ++it) {
        std::string name = (*it)[1].str();
        for (char& c : name) c = c == '_' ? '-' : c;
        names.insert(name);
    }
    return names;
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

// One place that lists the options: its file, the section (or all of it),
// and where the names are.
struct ListRow {
    std::string name, path, heading, pattern;
};

void PrintTo(const ListRow& row, std::ostream* out) {
    *out << row.path << ' ' << row.heading;
}

class OptionList : public testing::TestWithParam<ListRow> {};

TEST_P(OptionList, NamesEveryOptionOfTheParser) {
    const std::string parser = readTextFile(VORN_SOURCE_DIR "/src/process/command_line.cpp");
    const std::set<std::string> options = namesIn(parser, R"re(\{"--([a-z-]+)", apply)re");
    std::smatch declared;
    ASSERT_TRUE(std::regex_search(parser, declared, std::regex(R"(std::array<Option, (\d+)>)")));
    ASSERT_EQ(std::to_string(options.size()), declared[1].str()) << "the table as read";
    std::string text = readTextFile(VORN_SOURCE_DIR + GetParam().path);
    if (!GetParam().heading.empty()) text = section(text, GetParam().heading);
    EXPECT_EQ(namesIn(text, GetParam().pattern), options);
}

INSTANTIATE_TEST_SUITE_P(Documents, OptionList,
                         testing::Values(ListRow{"ManPageSynopsis", "/man/vorn-spoa.8", "",
                                                 R"re(\n\.Op Fl -([a-z-]+) Ns =)re"},
                                         ListRow{"ManPageOptions", "/man/vorn-spoa.8",
                                                 ".Sh OPTIONS", R"re(\n\.It Fl -([a-z-]+) Ns =)re"},
                                         ListRow{"ReadmeTable", "/README.md", "## Options",
                                                 R"re(\n\| `--([a-z-]+)` \|)re"},
                                         ListRow{"RcdVariables", "/deploy/freebsd/vorn_spoa", "",
                                                 R"re(\n# vorn_spoa_([a-z_]+) +--)re"}),
                         [](const auto& info) { return info.param.name; });

// The words the man page sets with .Cm: "pass", "trap" and "watch" from
// ".Cm pass , trap , watch". Every verdict, reason, class and written
// receipt status ("none" never is: vorn_receipt and receipt= are then
// absent) is one of them.
TEST(WordDocs, TheManPageListsEveryVerdictReasonClassAndReceiptStatus) {
    std::set<std::string> words;
    std::istringstream lines(readTextFile(VORN_SOURCE_DIR "/man/vorn-spoa.8"));
    for (std::string line; std::getline(lines, line);) {
        if (!line.starts_with(".Cm ")) continue;
        std::istringstream tokens(line.substr(4));
        for (std::string token; tokens >> token;) words.insert(token);
    }
    using Names = std::pair<const char*, std::span<const std::string_view>>;
    for (auto [what, names] : {Names{"verdict", verdictNames}, Names{"reason", reasonNames},
                               Names{"class", classSlotNames},
                               Names{"receipt status", std::span(receiptStatusNames).subspan(1)}}) {
        for (std::string_view name : names) {
            EXPECT_TRUE(words.contains(std::string(name)))
                << what << " " << name << " is not in the man page";
        }
    }
}

}  // namespace
}  // namespace vorn::test
