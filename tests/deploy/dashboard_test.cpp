// The dashboard, the alert rules and the man pages against a live daemon
// and a live gate: every metric an expression names is one their pages
// serve, and each man page describes every family on its program's page.
// The pages come from the real binaries after a little traffic, so that the
// families that wait for their first sample (decisions, backlog) are on
// them too.

#include <gtest/gtest.h>
#include <simdjson.h>

#include <cctype>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "support/running_agent.hpp"
#include "support/running_gate.hpp"
#include "support/text_file.hpp"
#include "support/vorn_check.hpp"

namespace vorn::test {
namespace {

struct Page {
    std::set<std::string> series;    // names of the samples, the names queries use
    std::set<std::string> families;  // names of TYPE lines and of untyped samples
};

Page readPage(const std::string& text) {
    Page page;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.starts_with("# TYPE ")) {
            std::string rest = line.substr(7);
            page.families.insert(rest.substr(0, rest.find(' ')));
        } else if (!line.empty() && line[0] != '#') {
            page.series.insert(line.substr(0, line.find_first_of("{ ")));
        }
    }
    for (const std::string& name : page.series) {
        bool typed = page.families.contains(name);
        for (std::string_view suffix : {"_bucket", "_sum", "_count"}) {
            if (name.ends_with(suffix) &&
                page.families.contains(name.substr(0, name.size() - suffix.size())))
                typed = true;
        }
        if (!typed) page.families.insert(name);
    }
    return page;
}

Page agentPage() {
    RunningAgent agent;
    if (!agent.ready()) return {};
    auto client = agent.connect();
    EXPECT_TRUE(client && client->hello());
    if (client) {
        VornCheck check;
        check.backlog = std::int64_t{2};
        EXPECT_TRUE(client->decide(check));
    }
    return readPage(agent.metrics());
}

Page gatePage() {
    RunningGate gate;
    if (!gate.ready()) return {};
    EXPECT_TRUE(gate.send("GET", "/.well-known/bramblegate/", "x-vorn-client: 192.0.2.1\r\n"));
    return readPage(gate.metrics());
}

// The daemon's page, the gate's, and both together.
const Page& daemonPage() {
    static const Page served = agentPage();
    return served;
}

const Page& issuerPage() {
    static const Page served = gatePage();
    return served;
}

const Page& page() {
    static const Page both = [] {
        Page merged = daemonPage();
        merged.series.insert(issuerPage().series.begin(), issuerPage().series.end());
        merged.families.insert(issuerPage().families.begin(), issuerPage().families.end());
        return merged;
    }();
    return both;
}

bool isNameStart(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == ':';
}
bool isNameChar(char c) {
    return isNameStart(c) || std::isdigit(static_cast<unsigned char>(c));
}

// Drops everything from `open` to the matching `close` (no nesting), and
// the quoted strings.
std::string without(std::string_view text, char open, char close) {
    std::string kept;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == open) {
            std::size_t end = text.find(close, i + 1);
            i = end == std::string_view::npos ? text.size() : end;
            kept += ' ';
        } else {
            kept += text[i];
        }
    }
    return kept;
}

// The metric names a PromQL expression selects: what is left once label
// matchers, ranges, strings, variables, numbers, functions, aggregations with
// their label lists, and keywords are taken out.
std::vector<std::string> metricNames(std::string_view expression) {
    std::string text = without(without(without(expression, '"', '"'), '{', '}'), '[', ']');
    // Aggregations may have their label list before the parenthesis.
    static const std::set<std::string_view> keywords = {
        "and",    "or",     "unless", "bool",         "offset",  "inf",  "nan",
        "Inf",    "NaN",    "sum",    "min",          "max",     "avg",  "group",
        "stddev", "stdvar", "count",  "count_values", "bottomk", "topk", "quantile"};
    static const std::set<std::string_view> labelLists = {"by",       "without",    "on",
                                                          "ignoring", "group_left", "group_right"};
    std::vector<std::string> names;
    std::size_t i = 0;
    auto nextNonSpace = [&](std::size_t from) {
        while (from < text.size() && std::isspace(static_cast<unsigned char>(text[from]))) ++from;
        return from;
    };
    while (i < text.size()) {
        char c = text[i];
        if (c == '$' || std::isdigit(static_cast<unsigned char>(c)) || c == '.') {
            // A variable or a number with its unit, as one token.
            ++i;
            while (i < text.size() && (isNameChar(text[i]) || text[i] == '.')) ++i;
            continue;
        }
        if (!isNameStart(c)) {
            ++i;
            continue;
        }
        std::size_t start = i;
        while (i < text.size() && isNameChar(text[i])) ++i;
        std::string word = text.substr(start, i - start);
        std::size_t after = nextNonSpace(i);
        if (labelLists.contains(word)) {
            if (after < text.size() && text[after] == '(') {
                std::size_t end = text.find(')', after);
                i = end == std::string::npos ? text.size() : end + 1;
            }
            continue;
        }
        if (after < text.size() && text[after] == '(') continue;  // a function
        if (keywords.contains(word)) continue;
        names.push_back(word);
    }
    return names;
}

// Series that Prometheus itself adds for every target.
bool scrapeSeries(const std::string& name) {
    return name == "up";
}

TEST(PromqlNames, TakesOnlyTheSelectedSeries) {
    EXPECT_EQ(
        metricNames("sum by (verdict, reason) (rate(vorn_spoa_decisions_total{instance=~\"$i\"}"
                    "[$__rate_interval]))"),
        std::vector<std::string>{"vorn_spoa_decisions_total"});
    EXPECT_EQ(
        metricNames("a / ignoring (state) b{state=\"limit\"} > 0.8 and on (instance) c offset 5m"),
        (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(metricNames("time() - x"), std::vector<std::string>{"x"});
}

void walkExpressions(simdjson::dom::element element, std::vector<std::string>& found) {
    if (element.is_object()) {
        for (auto [key, value] : element.get_object()) {
            if (key == "expr" && value.is_string()) {
                found.emplace_back(std::string_view(value.get_string()));
            } else {
                walkExpressions(value, found);
            }
        }
    } else if (element.is_array()) {
        for (simdjson::dom::element item : element.get_array()) walkExpressions(item, found);
    }
}

class Dashboard : public testing::Test {
protected:
    void SetUp() override {
        text = readTextFile(VORN_SOURCE_DIR "/deploy/grafana/vorn-spoa.json");
        auto error = parser.parse(text).get(root);
        ASSERT_FALSE(error) << "the dashboard is not valid JSON: " << error;
    }
    std::string text;
    simdjson::dom::parser parser;
    simdjson::dom::element root;
};

TEST_F(Dashboard, IsADashboardOfPanelsWithQueries) {
    std::string_view title;
    std::string_view uid;
    ASSERT_FALSE(root["title"].get(title));
    ASSERT_FALSE(root["uid"].get(uid));
    EXPECT_EQ(title, "vorn-spoa");
    int64_t schema = 0;
    EXPECT_FALSE(root["schemaVersion"].get(schema));
    simdjson::dom::array panels;
    ASSERT_FALSE(root["panels"].get(panels));
    std::set<int64_t> ids;
    int queried = 0;
    for (simdjson::dom::element panel : panels) {
        int64_t id = 0;
        std::string_view type;
        ASSERT_FALSE(panel["id"].get(id));
        ASSERT_FALSE(panel["type"].get(type));
        EXPECT_TRUE(ids.insert(id).second) << "panel id " << id << " twice";
        EXPECT_FALSE(panel["gridPos"].error()) << "panel " << id << " has no place";
        if (type == "row") continue;
        simdjson::dom::array targets;
        ASSERT_FALSE(panel["targets"].get(targets)) << "panel " << id << " has no queries";
        for (simdjson::dom::element target : targets) {
            std::string_view expression;
            EXPECT_FALSE(target["expr"].get(expression)) << "panel " << id;
            EXPECT_FALSE(expression.empty()) << "panel " << id;
            ++queried;
        }
    }
    EXPECT_GE(queried, 20);
}

TEST_F(Dashboard, NamesOnlyServedMetrics) {
    ASSERT_FALSE(page().series.empty());
    std::vector<std::string> expressions;
    walkExpressions(root, expressions);
    std::set<std::string> used;
    for (const std::string& expression : expressions) {
        for (const std::string& name : metricNames(expression)) {
            used.insert(name);
            EXPECT_TRUE(page().series.contains(name) || scrapeSeries(name))
                << name << " in " << expression << " is on neither program's page";
        }
    }
    // The agent and gate selectors' queries.
    simdjson::dom::array variables;
    ASSERT_FALSE(root["templating"]["list"].get(variables));
    for (simdjson::dom::element variable : variables) {
        std::string_view definition;
        if (variable["definition"].get(definition)) continue;
        std::string inside(definition.substr(definition.find('(') + 1));
        std::string name = inside.substr(0, inside.find(','));
        EXPECT_TRUE(page().series.contains(name)) << name << " in " << definition;
    }
    // The dashboard shows every family the issue asks for.
    for (const char* wanted :
         {"vorn_spoa_decisions_total", "vorn_spoa_level", "vorn_spoa_class_rate10m",
          "vorn_spoa_class_dip10m", "vorn_spoa_receipts_total", "vorn_spoa_score_band_total",
          "vorn_spoa_connections", "vorn_spoa_buffer_chunks", "vorn_gate_challenges_total",
          "vorn_gate_answers_good_total", "vorn_gate_refused_total",
          "vorn_gate_solve_seconds_bucket", "vorn_gate_replay_entries"}) {
        EXPECT_TRUE(used.contains(wanted)) << wanted << " is on no panel";
    }
}

// How many names with `prefix` the rules use that are not part of a
// recorded name (those hold colons); each must be on `served`.
int namesOnPage(const std::string& rules, std::string_view prefix, const Page& served) {
    int named = 0;
    for (std::size_t at = rules.find(prefix); at != std::string::npos;
         at = rules.find(prefix, at + 1)) {
        if (at > 0 && isNameChar(rules[at - 1])) continue;
        std::size_t end = at;
        while (end < rules.size() && isNameChar(rules[end])) ++end;
        std::string name = rules.substr(at, end - at);
        if (name.find(':') != std::string::npos) continue;
        ++named;
        EXPECT_TRUE(served.series.contains(name)) << name << " is not on its program's page";
    }
    return named;
}

TEST(AlertRules, NameOnlyServedMetrics) {
    std::string rules = readTextFile(VORN_SOURCE_DIR "/deploy/prometheus/vorn-spoa.rules.yml");
    ASSERT_FALSE(daemonPage().series.empty());
    ASSERT_FALSE(issuerPage().series.empty());
    EXPECT_GE(namesOnPage(rules, "vorn_spoa_", daemonPage()), 10);
    EXPECT_GE(namesOnPage(rules, "vorn_gate_", issuerPage()), 2);
}

void expectEveryFamilyListed(const std::string& manualPath, const Page& served) {
    std::string manual = readTextFile(manualPath);
    ASSERT_FALSE(served.families.empty());
    for (const std::string& family : served.families) {
        const bool listed = manual.find(".It Va " + family + "\n") != std::string::npos ||
                            manual.find(".It Va " + family + " ") != std::string::npos;
        EXPECT_TRUE(listed) << family << " is missing from the METRICS section of " << manualPath;
    }
}

TEST(ManPage, DescribesEveryFamilyOnThePage) {
    expectEveryFamilyListed(VORN_SOURCE_DIR "/man/vorn-spoa.8", daemonPage());
}

TEST(ManPage, OfTheGateDescribesEveryFamilyOnItsPage) {
    expectEveryFamilyListed(VORN_SOURCE_DIR "/man/vorn-gate.8", issuerPage());
}

// Every name beginning with `prefix` in `text` that is not part of a longer
// name.
std::set<std::string> namesWithPrefix(const std::string& text, std::string_view prefix) {
    std::set<std::string> names;
    for (std::size_t at = text.find(prefix); at != std::string::npos;
         at = text.find(prefix, at + 1)) {
        if (at > 0 && isNameChar(text[at - 1])) continue;
        std::size_t end = at;
        while (end < text.size() && isNameChar(text[end])) ++end;
        names.insert(text.substr(at, end - at));
    }
    return names;
}

TEST(ManPage, DescribesOnlyFamiliesThePageHas) {
    for (const auto& [manual, prefix, served] :
         {std::tuple{"/man/vorn-spoa.8", "vorn_spoa_", &daemonPage()},
          std::tuple{"/man/vorn-gate.8", "vorn_gate_", &issuerPage()}}) {
        ASSERT_FALSE(served->families.empty());
        for (const std::string& family :
             namesWithPrefix(readTextFile(VORN_SOURCE_DIR + std::string(manual)), prefix)) {
            EXPECT_TRUE(served->families.contains(family)) << family << " is not served";
        }
    }
}

// The READMEs' vorn_spoa_ and vorn_gate_ names are metrics or the rc.d
// scripts' rc.conf variables.
TEST(Readme, NamesOnlyServedMetrics) {
    ASSERT_FALSE(page().series.empty());
    std::set<std::string> variables;
    for (const char* script : {"/deploy/freebsd/vorn_spoa", "/deploy/freebsd/vorn_gate"}) {
        for (const char* prefix : {"vorn_spoa_", "vorn_gate_"}) {
            variables.merge(
                namesWithPrefix(readTextFile(VORN_SOURCE_DIR + std::string(script)), prefix));
        }
    }
    for (const char* document : {"/README.md", "/deploy/haproxy/README.md"}) {
        const std::string text = readTextFile(VORN_SOURCE_DIR + std::string(document));
        for (const char* prefix : {"vorn_spoa_", "vorn_gate_"}) {
            for (const std::string& name : namesWithPrefix(text, prefix)) {
                EXPECT_TRUE(page().families.contains(name) || page().series.contains(name) ||
                            variables.contains(name))
                    << name << " in " << document << " is neither served nor an rc.conf variable";
            }
        }
    }
}

}  // namespace
}  // namespace vorn::test
