#include "gate/gate_request.hpp"

#include <algorithm>
#include <charconv>

namespace vorn {

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

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view sent, std::string_view lowerName) {
    return sent.size() == lowerName.size() &&
           std::ranges::equal(sent, lowerName, [](char a, char b) { return lower(a) == b; });
}

// "METHOD /target HTTP/1.x"
bool readRequestLine(std::string_view line, GateRequest& request) {
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

std::expected<void, GateFault> readHeaderLine(std::string_view line, GateRequest& request) {
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return std::unexpected(GateFault::BadHttp);
    const std::string_view name = line.substr(0, colon);
    if (!std::ranges::all_of(name, isTokenChar)) return std::unexpected(GateFault::BadHttp);
    if (request.fieldCount == maxHeaderLines) return std::unexpected(GateFault::TooLarge);
    request.fields[request.fieldCount++] = {name, trim(line.substr(colon + 1))};
    return {};
}

std::size_t countOf(const GateRequest& request, std::string_view name) {
    return static_cast<std::size_t>(std::ranges::count_if(
        request.fields.begin(),
        request.fields.begin() + static_cast<std::ptrdiff_t>(request.fieldCount),
        [&](const HeaderField& field) { return sameName(field.name, name); }));
}

std::expected<void, GateFault> readFraming(GateRequest& request) {
    const std::size_t lengths = countOf(request, "content-length");
    const std::size_t codings = countOf(request, "transfer-encoding");
    if (codings > 0) {
        // Both at once is how requests are smuggled past a proxy.
        auto coding = request.header("transfer-encoding");
        if (lengths > 0 || !coding || !sameName(*coding, "chunked")) {
            return std::unexpected(GateFault::BadTransferEncoding);
        }
        request.framing = BodyFraming::chunked;
        return {};
    }
    if (lengths == 0) return {};
    const auto text = request.header("content-length");
    if (!text || text->empty()) return std::unexpected(GateFault::BadHttp);
    std::size_t length = 0;
    auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), length);
    if (ec == std::errc::result_out_of_range) return std::unexpected(GateFault::TooLarge);
    if (ec != std::errc{} || end != text->data() + text->size()) {
        return std::unexpected(GateFault::BadHttp);
    }
    if (length > maxBodyBytes) return std::unexpected(GateFault::TooLarge);
    request.framing = BodyFraming::length;
    request.contentLength = length;
    return {};
}

}  // namespace

std::optional<std::string_view> GateRequest::header(std::string_view name) const {
    std::optional<std::string_view> found;
    for (std::size_t i = 0; i < fieldCount; ++i) {
        if (!sameName(fields[i].name, name)) continue;
        if (found) return std::nullopt;
        found = fields[i].value;
    }
    return found;
}

bool GateRequest::hasCookie(std::string_view name) const {
    for (std::size_t i = 0; i < fieldCount; ++i) {
        if (!sameName(fields[i].name, "cookie")) continue;
        std::string_view rest = fields[i].value;
        while (!rest.empty()) {
            const std::size_t semicolon = rest.find(';');
            const std::string_view pair = trim(rest.substr(0, semicolon));
            rest = semicolon == std::string_view::npos ? std::string_view()
                                                       : rest.substr(semicolon + 1);
            if (pair.substr(0, pair.find('=')) == name) return true;
        }
    }
    return false;
}

std::expected<void, GateFault> parseRequestHead(std::string_view head, GateRequest& request) {
    if (head.size() > maxHeadBytes) return std::unexpected(GateFault::TooLarge);
    bool first = true;
    while (!head.empty()) {
        const std::size_t end = head.find("\r\n");
        const std::string_view line = head.substr(0, end);
        head = end == std::string_view::npos ? std::string_view() : head.substr(end + 2);
        const bool folded = line.starts_with(' ') || line.starts_with('\t');
        if (hasControlBytes(line) || folded) return std::unexpected(GateFault::BadHttp);
        if (first) {
            if (!readRequestLine(line, request)) return std::unexpected(GateFault::BadHttp);
            first = false;
        } else if (auto read = readHeaderLine(line, request); !read) {
            return read;
        }
    }
    if (first) return std::unexpected(GateFault::BadHttp);
    return readFraming(request);
}

}  // namespace vorn
