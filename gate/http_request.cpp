#include "http_request.hpp"

#include <algorithm>
#include <charconv>

namespace vorn::gate {

namespace {

std::string_view trim(std::string_view text) {
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

bool hasControlBytes(std::string_view text) {
    return std::ranges::any_of(text, [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && c != '\t') || byte == 0x7f;
    });
}

bool isTokenChar(char c) {
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    return alnum || std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// "METHOD /target HTTP/1.x"
bool readRequestLine(std::string_view line, HttpRequest& request) {
    const std::size_t first = line.find(' ');
    const std::size_t last = line.rfind(' ');
    if (first == std::string_view::npos || first == last) return false;
    const std::string_view method = line.substr(0, first);
    const std::string_view target = line.substr(first + 1, last - first - 1);
    const std::string_view version = line.substr(last + 1);
    if (method.empty() || !std::ranges::all_of(method, isTokenChar)) return false;
    if (version != "HTTP/1.1" && version != "HTTP/1.0") return false;
    if (!target.starts_with('/') || target.find(' ') != std::string_view::npos) return false;
    const std::size_t question = target.find('?');
    request.method = method;
    request.path = target.substr(0, question);
    if (question != std::string_view::npos) request.query = target.substr(question + 1);
    return true;
}

bool readHeaderLine(std::string_view line, HttpRequest& request) {
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return false;
    const std::string_view name = line.substr(0, colon);
    if (!std::ranges::all_of(name, isTokenChar)) return false;
    request.headers.emplace_back(lower(name), trim(line.substr(colon + 1)));
    return true;
}

}  // namespace

std::optional<std::string_view> HttpRequest::header(std::string_view name) const {
    std::optional<std::string_view> found;
    for (const auto& [key, value] : headers) {
        if (key != name) continue;
        if (found) return std::nullopt;
        found = value;
    }
    return found;
}

std::expected<HttpRequest, Fault> parseHttpHead(std::string_view head) {
    if (head.size() > maxHeadBytes) return std::unexpected(Fault::TooLarge);
    HttpRequest request;
    bool first = true;
    while (!head.empty()) {
        const std::size_t end = head.find("\r\n");
        const std::string_view line = head.substr(0, end);
        head = end == std::string_view::npos ? std::string_view() : head.substr(end + 2);
        const bool folded = line.starts_with(' ') || line.starts_with('\t');
        if (hasControlBytes(line) || folded) return std::unexpected(Fault::BadHttp);
        const bool read = first ? readRequestLine(line, request) : readHeaderLine(line, request);
        if (!read) return std::unexpected(Fault::BadHttp);
        if (request.headers.size() > maxHeaderLines) return std::unexpected(Fault::TooLarge);
        first = false;
    }
    if (first) return std::unexpected(Fault::BadHttp);
    const bool chunked = std::ranges::any_of(
        request.headers, [](const auto& header) { return header.first == "transfer-encoding"; });
    if (chunked) return std::unexpected(Fault::BadHttp);
    return request;
}

std::expected<std::size_t, Fault> bodyLength(const HttpRequest& request) {
    const bool given = std::ranges::any_of(
        request.headers, [](const auto& header) { return header.first == "content-length"; });
    if (!given) return 0;
    const auto text = request.header("content-length");
    if (!text || text->empty()) return std::unexpected(Fault::BadHttp);
    std::size_t length = 0;
    auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), length);
    if (ec == std::errc::result_out_of_range) return std::unexpected(Fault::TooLarge);
    if (ec != std::errc{} || end != text->data() + text->size()) {
        return std::unexpected(Fault::BadHttp);
    }
    if (length > maxBodyBytes) return std::unexpected(Fault::TooLarge);
    return length;
}

}  // namespace vorn::gate
