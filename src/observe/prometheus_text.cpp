#include "observe/prometheus_text.hpp"

namespace vorn {

void PrometheusText::family(std::string_view name, std::string_view type, std::string_view help) {
    if (!help.empty())
        out_.text("# HELP ").text(prefix_).text(name).byte(' ').text(help).byte('\n');
    out_.text("# TYPE ").text(prefix_).text(name).byte(' ').text(type).byte('\n');
}

TextWriter& PrometheusText::name(std::string_view name, std::string_view suffix) {
    return out_.text(prefix_).text(name).text(suffix);
}

TextWriter& PrometheusText::sample(std::string_view name) {
    return this->name(name).byte(' ');
}

TextWriter& PrometheusText::sample(std::string_view name, std::string_view label,
                                   std::string_view value) {
    return this->name(name).byte('{').text(label).text("=\"").text(value).text("\"} ");
}

void PrometheusText::counts(std::string_view name, std::string_view label,
                            std::span<const std::string_view> labels,
                            std::span<const std::uint64_t> values) {
    for (std::size_t i = 0; i < labels.size() && i < values.size(); ++i) {
        sample(name, label, labels[i]).number(values[i]).byte('\n');
    }
}

void PrometheusText::histogram(std::string_view name, const HistogramCounts& histogram,
                               std::string_view label, std::string_view value) {
    auto open = [&](std::string_view suffix) -> TextWriter& {
        this->name(name, suffix).byte('{');
        if (!label.empty()) out_.text(label).text("=\"").text(value).text("\",");
        return out_.text("le=\"");
    };
    std::uint64_t cumulative = 0;
    for (std::size_t b = 0; b < histogram.bounds.size() && b < histogram.buckets.size(); ++b) {
        cumulative += histogram.buckets[b];
        open("_bucket").decimal(static_cast<double>(histogram.bounds[b]) /
                                histogram.unitsPerSecond);
        out_.text("\"} ").number(cumulative).byte('\n');
    }
    open("_bucket").text("+Inf\"} ").number(histogram.count).byte('\n');
    auto plain = [&](std::string_view suffix) -> TextWriter& {
        if (label.empty()) return this->name(name, suffix).byte(' ');
        return this->name(name, suffix).byte('{').text(label).text("=\"").text(value).text("\"} ");
    };
    plain("_sum").decimal(static_cast<double>(histogram.sum) / histogram.unitsPerSecond).byte('\n');
    plain("_count").number(histogram.count).byte('\n');
}

}  // namespace vorn
