#pragma once

#include "gate_metrics.hpp"
#include "http_handler.hpp"

namespace vorn::gate {

// The metrics listener: GET /metrics gets the page, anything else a 404.
class MetricsHandler final : public HttpHandler {
public:
    explicit MetricsHandler(const GateMetrics& metrics) : metrics_(metrics) {}
    [[nodiscard]] HttpResponse handle(const HttpRequest& request) override;
    void refused(Fault) override {}

private:
    const GateMetrics& metrics_;
};

}  // namespace vorn::gate
