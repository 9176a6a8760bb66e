#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/deadline.hpp"

namespace vorn::test {

// How a request is cut into pieces that the server reads separately.
struct HttpSplit {
    std::vector<std::size_t> cuts{};  // offsets into the request, ascending
    Millis pause{20};
};

// Connects to 127.0.0.1:`port`, sends `request` exactly as given and reads
// until the server closes the connection. Returns everything received, which
// is empty when the server closed without answering. Nothing (and a test
// failure) when the connection fails or the timeout passes first.
[[nodiscard]] std::optional<std::string> httpExchange(std::uint16_t port, std::string_view request,
                                                      Millis timeout = defaultTimeout,
                                                      const HttpSplit& split = {});

// The same for an address written as on the command line: "127.0.0.1:9190"
// or "[::1]:9190".
[[nodiscard]] std::optional<std::string> httpExchange(std::string_view address,
                                                      std::string_view request,
                                                      Millis timeout = defaultTimeout,
                                                      const HttpSplit& split = {});

struct HttpResponse {
    std::string statusLine;  // without CR LF
    int status = 0;
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
};

// Splits a raw response into status line, headers and body. Nothing when the
// head is not complete or a line is not of the form it should be.
[[nodiscard]] std::optional<HttpResponse> parseHttpResponse(std::string_view raw);

// A plain GET of `target` on 127.0.0.1:`port`, parsed; a test failure when
// the response is not readable.
[[nodiscard]] std::optional<HttpResponse> httpGet(std::uint16_t port, std::string_view target);

}  // namespace vorn::test
