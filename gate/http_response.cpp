#include "http_response.hpp"

namespace vorn::gate {

namespace {

std::string_view reasonPhrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 303:
            return "See Other";
        case 400:
            return "Bad Request";
        case 404:
            return "Not Found";
        default:
            return "Unknown";
    }
}

HttpResponse plainText(int status, std::string body) {
    return {
        .status = status,
        .headers = {{"Content-Type", "text/plain; charset=utf-8"}, {"Cache-Control", "no-store"}},
        .body = std::move(body)};
}

}  // namespace

std::string serialize(const HttpResponse& response) {
    std::string out = "HTTP/1.1 " + std::to_string(response.status) + " ";
    out += reasonPhrase(response.status);
    out += "\r\n";
    for (const auto& [name, value] : response.headers) out += name + ": " + value + "\r\n";
    out += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    out += "Connection: close\r\n\r\n";
    out += response.body;
    return out;
}

HttpResponse badRequest(Fault fault) {
    return plainText(400, "bad request: " + std::string(faultName(fault)) + "\n");
}

HttpResponse notFound() {
    return plainText(404, "not found\n");
}

}  // namespace vorn::gate
