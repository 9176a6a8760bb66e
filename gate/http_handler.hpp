#pragma once

#include "gate_fault.hpp"
#include "http_request.hpp"
#include "http_response.hpp"

namespace vorn::gate {

// What answers the requests of one listener. Called from several connection
// threads at once.
class HttpHandler {
public:
    virtual ~HttpHandler() = default;
    [[nodiscard]] virtual HttpResponse handle(const HttpRequest& request) = 0;
    // A request that could not be read was refused with a 400.
    virtual void refused(Fault fault) = 0;
};

}  // namespace vorn::gate
