#include "decision/header_block.hpp"

#include <cstddef>

#include "decision/site.hpp"

namespace vorn {

namespace {

// Only spaces are trimmed; a plain loop, since most texts have none.
std::string_view trimSpaces(std::string_view text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && text[first] == ' ') ++first;
    while (last > first && text[last - 1] == ' ') --last;
    return text.substr(first, last - first);
}

// Header names fold only ASCII A-Z; `lowerName` is already lower case.
bool nameEquals(std::string_view name, std::string_view lowerName) {
    if (name.size() != lowerName.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        char c = name[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != lowerName[i]) return false;
    }
    return true;
}

void readCookies(std::string_view value, RequestFacts& facts) {
    if (findCookie(value, siteSessionCookie)) facts.authed = true;
    if (std::optional<std::string_view> token = findCookie(value, passCookie)) {
        facts.passToken = *token;
    }
}

void readHeaderLine(std::string_view line, RequestFacts& facts) {
    std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return;
    std::string_view name = trimSpaces(line.substr(0, colon));
    // Only five lengths can name a header of interest; most lines stop here,
    // before their value is looked at.
    auto value = [&] { return trimSpaces(line.substr(colon + 1)); };
    switch (name.size()) {
        case 4:
            if (nameEquals(name, "host")) facts.host = value();
            break;
        case 6:
            if (nameEquals(name, "cookie")) readCookies(value(), facts);
            break;
        case 7:
            if (nameEquals(name, "referer")) facts.referer = value();
            break;
        case 13:
            if (nameEquals(name, "authorization")) facts.authed = true;
            break;
        case 14:
            if (nameEquals(name, "sec-fetch-site")) facts.secFetchSite = value();
            break;
        default:
            break;
    }
}

}  // namespace

void readHeaderBlock(std::string_view block, RequestFacts& facts) {
    constexpr std::string_view lineEnd = "\r\n";
    while (true) {
        std::size_t end = block.find(lineEnd);
        readHeaderLine(block.substr(0, end), facts);
        if (end == std::string_view::npos) return;
        block.remove_prefix(end + lineEnd.size());
    }
}

std::optional<std::string_view> findCookie(std::string_view cookieHeaderValue,
                                           std::string_view name) {
    std::string_view rest = cookieHeaderValue;
    while (true) {
        std::size_t end = rest.find(';');
        std::string_view piece = trimSpaces(rest.substr(0, end));
        if (piece.size() > name.size() + 1 && piece.starts_with(name) &&
            piece[name.size()] == '=') {
            return piece.substr(name.size() + 1);
        }
        if (end == std::string_view::npos) return std::nullopt;
        rest.remove_prefix(end + 1);
    }
}

}  // namespace vorn
