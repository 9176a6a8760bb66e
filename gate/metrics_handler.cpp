#include "metrics_handler.hpp"

namespace vorn::gate {

HttpResponse MetricsHandler::handle(const HttpRequest& request) {
    if (request.method != "GET" || request.path != "/metrics") return notFound();
    return {.status = 200,
            .headers = {{"Content-Type", "text/plain; version=0.0.4; charset=utf-8"}},
            .body = metrics_.page()};
}

}  // namespace vorn::gate
