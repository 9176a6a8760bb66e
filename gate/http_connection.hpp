#pragma once

#include <chrono>

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

// Reads one request from the connected socket `fd`, head and body within
// `timeout` altogether (a slow sender cannot hold a thread longer), answers
// it and returns; the caller closes `fd`. A peer that closes before sending
// anything gets nothing; anything unreadable gets a 400.
void serveConnection(int fd, HttpHandler& handler, std::chrono::milliseconds timeout);

}  // namespace vorn::gate
