#include "gate_metrics.hpp"

namespace vorn::gate {

namespace {

void counter(std::string& page, std::string_view name, std::string_view help) {
    page += "# HELP ";
    page += name;
    page += ' ';
    page += help;
    page += "\n# TYPE ";
    page += name;
    page += " counter\n";
}

}  // namespace

std::string GateMetrics::page() const {
    std::string page;
    counter(page, "vorn_gate_challenges_total", "Challenge pages served.");
    page += "vorn_gate_challenges_total " +
            std::to_string(challenges_.load(std::memory_order_relaxed)) + "\n";
    counter(page, "vorn_gate_answers_good_total", "Answers that earned a pass receipt.");
    page += "vorn_gate_answers_good_total " +
            std::to_string(goodAnswers_.load(std::memory_order_relaxed)) + "\n";
    counter(page, "vorn_gate_refused_total",
            "Requests refused with a 400 (bad answers among them), by reason.");
    for (std::size_t i = 0; i < faultCount; ++i) {
        page += "vorn_gate_refused_total{reason=\"";
        page += faultNames[i];
        page += "\"} " + std::to_string(refused_[i].load(std::memory_order_relaxed)) + "\n";
    }
    return page;
}

}  // namespace vorn::gate
