#include "support/metrics_page.hpp"

#include <charconv>

namespace vorn::test {

std::optional<double> metricValue(std::string_view page, std::string_view series) {
    while (!page.empty()) {
        auto end = page.find('\n');
        auto line = page.substr(0, end);
        page.remove_prefix(end == std::string_view::npos ? page.size() : end + 1);
        if (!line.starts_with(series) || line.size() <= series.size() ||
            line[series.size()] != ' ') {
            continue;
        }
        auto text = line.substr(series.size() + 1);
        double value = 0;
        auto [last, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (ec != std::errc{} || last != text.data() + text.size()) return std::nullopt;
        return value;
    }
    return std::nullopt;
}

}  // namespace vorn::test
