#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "common/text_writer.hpp"

namespace vorn {

// A histogram as a program keeps it: plain (not cumulative) counts per upper
// bound, and the count and sum of every sample, those above the last bound
// included. Bounds and sum are in units of 1/unitsPerSecond seconds.
struct HistogramCounts {
    std::span<const std::uint64_t> bounds;
    std::span<const std::uint64_t> buckets;  // one per bound
    std::uint64_t count = 0;
    std::uint64_t sum = 0;
    double unitsPerSecond = 1;
};

// Writes samples in the Prometheus text format 0.0.4 for families whose
// names share one prefix ("vorn_spoa_", "vorn_gate_"). Writes through `out`,
// whose overflow flag tells the caller that the page did not fit.
class PrometheusText {
public:
    PrometheusText(TextWriter& out, std::string_view prefix) : out_(out), prefix_(prefix) {}

    // The help line (when there is help) and the type line of one family.
    void family(std::string_view name, std::string_view type, std::string_view help = {});

    // A sample's name, its one label when given, and the space before the
    // value, which the caller writes with its newline.
    TextWriter& sample(std::string_view name);
    TextWriter& sample(std::string_view name, std::string_view label, std::string_view value);

    // One sample per label value: labels[i] with values[i], as many as there
    // are labels.
    void counts(std::string_view name, std::string_view label,
                std::span<const std::string_view> labels, std::span<const std::uint64_t> values);

    // The _bucket samples (cumulative, "+Inf" last), _sum and _count of one
    // histogram, each with `label` first when one is given.
    void histogram(std::string_view name, const HistogramCounts& histogram,
                   std::string_view label = {}, std::string_view value = {});

private:
    TextWriter& name(std::string_view name, std::string_view suffix = {});

    TextWriter& out_;
    std::string_view prefix_;
};

}  // namespace vorn
