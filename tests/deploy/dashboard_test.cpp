// The dashboard, the alert rules and the man page against a live daemon:
// every metric an expression names is one the daemon's page serves, and the
// man page describes every family on it. The page comes from the real
// binary after a little traffic, so that the families that wait for their
// first sample (decisions, backlog) are on it too. The gate's likewise.

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

Page readPage(const std::string& text);

Page servedPage() {
    RunningAgent agent;
    Page page;
    if (!agent.ready()) return page;
    auto client = agent.connect();
    EXPECT_TRUE(client && client->hello());
    if (client) {
        VornCheck check;
        check.backlog = std::int64_t{2};
        EXPECT_TRUE(client->decide(check));
    }
    return readPage(agent.metrics());
}

// The families and series of a metrics page.
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

const Page& page() {
    static const Page served = servedPage();
    return served;
}

// The gate's page, after a challenge.
const Page& gatePage() {
    static const Page served = [] {
        RunningGate gate;
        if (!gate.ready()) return Page();
        EXPECT_TRUE(gate.send("GET", "/.well-known/bramblegate/", "x-vorn-client: 192.0.2.1\r\n"));
        return readPage(gate.metrics());
    }();
    return served;
}

// A series on the daemon's page or the gate's.
bool servedSeries(const std::string& name) {
    return page().series.contains(name) || gatePage().series.contains(name);
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
            EXPECT_TRUE(servedSeries(name) || scrapeSeries(name))
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
        EXPECT_TRUE(servedSeries(name)) << name << " in " << definition;
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

// The names the rules use, but for recorded ones (those hold colons), are
// on their program's page.
TEST(AlertRules, NameOnlyServedMetrics) {
    std::string rules = readTextFile(VORN_SOURCE_DIR "/deploy/prometheus/vorn-spoa.rules.yml");
    for (const auto& [prefix, served, least] :
         {std::tuple{"vorn_spoa_", &page(), 10}, std::tuple{"vorn_gate_", &gatePage(), 2}}) {
        ASSERT_FALSE(served->series.empty());
        int named = 0;
        for (const std::string& name : namesWithPrefix(rules, prefix)) {
            if (name.find(':') != std::string::npos) continue;
            ++named;
            EXPECT_TRUE(served->series.contains(name)) << name << " is not on its program's page";
        }
        EXPECT_GE(named, least) << prefix;
    }
}

// The man page at `path` describes every family on `served`, and no other
// name beginning with `prefix`.
void expectFamiliesListed(const std::string& path, const Page& served, std::string_view prefix) {
    std::string manual = readTextFile(path);
    ASSERT_FALSE(served.families.empty());
    for (const std::string& family : served.families) {
        const bool listed = manual.find(".It Va " + family + "\n") != std::string::npos ||
                            manual.find(".It Va " + family + " ") != std::string::npos;
        EXPECT_TRUE(listed) << family << " is missing from the METRICS section of " << path;
    }
    for (const std::string& name : namesWithPrefix(manual, prefix)) {
        EXPECT_TRUE(served.families.contains(name)) << name << " in " << path << " is not served";
    }
}

TEST(ManPage, DescribesEveryFamilyOnThePage) {
    expectFamiliesListed(VORN_SOURCE_DIR "/man/vorn-spoa.8", page(), "vorn_spoa_");
    expectFamiliesListed(VORN_SOURCE_DIR "/man/vorn-gate.8", gatePage(), "vorn_gate_");
}

// The READMEs' vorn_spoa_ and vorn_gate_ names are metrics or the rc.d
// scripts' rc.conf variables.
TEST(Readme, NamesOnlyServedMetrics) {
    ASSERT_FALSE(page().series.empty() || gatePage().series.empty());
    std::set<std::string> known;
    for (const char* path : {"/deploy/freebsd/vorn_spoa", "/deploy/freebsd/vorn_gate"}) {
        const std::string script = readTextFile(VORN_SOURCE_DIR + std::string(path));
        known.merge(namesWithPrefix(script, "vorn_spoa_"));
        known.merge(namesWithPrefix(script, "vorn_gate_"));
    }
    for (const Page* served : {&page(), &gatePage()}) {
        known.insert(served->series.begin(), served->series.end());
        known.insert(served->families.begin(), served->families.end());
    }
    for (const char* document : {"/README.md", "/deploy/haproxy/README.md"}) {
        const std::string text = readTextFile(VORN_SOURCE_DIR + std::string(document));
        for (const char* prefix : {"vorn_spoa_", "vorn_gate_"}) {
            for (const std::string& name : namesWithPrefix(text, prefix)) {
                EXPECT_TRUE(known.contains(name))
                    << name << " in " << document << " is neither served nor an rc.conf variable";
            }
        }
    }
}

}  // namespace
}  // namespace vorn::test
