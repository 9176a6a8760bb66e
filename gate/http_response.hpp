#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "gate_fault.hpp"

namespace vorn::gate {

struct HttpResponse {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
};

// The whole response as sent: status line, the headers, Content-Length,
// "Connection: close" (one request per connection) and the body.
[[nodiscard]] std::string serialize(const HttpResponse& response);

// The plain 400 for `fault`: its name as the short reason, nothing else.
[[nodiscard]] HttpResponse badRequest(Fault fault);

[[nodiscard]] HttpResponse notFound();

}  // namespace vorn::gate
