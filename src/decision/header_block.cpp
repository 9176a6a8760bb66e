#include "decision/header_block.hpp"

#include <cstddef>
#include <cstring>

#include "decision/site.hpp"
#include "token/contract.hpp"

namespace vorn {

namespace {

// Only spaces are trimmed. Most texts have none, and that case is decided
// inline, before any loop.
std::string_view trimSpaces(std::string_view text) {
    if (text.empty() || (text.front() != ' ' && text.back() != ' ')) return text;
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && text[first] == ' ') ++first;
    while (last > first && text[last - 1] == ' ') --last;
    return text.substr(first, last - first);
}

// Header names fold only ASCII A-Z; `lowerName` is already lower case.
// Compared from the end, where names of one length differ most
// (sec-fetch-site, -mode, -dest).
bool nameEquals(std::string_view name, std::string_view lowerName) {
    if (name.size() != lowerName.size()) return false;
    for (std::size_t i = name.size(); i-- > 0;) {
        char c = name[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != lowerName[i]) return false;
    }
    return true;
}

// The value when `piece` is `name`, '=' and at least one byte.
std::optional<std::string_view> cookieValue(std::string_view piece, std::string_view name) {
    if (piece.size() > name.size() + 1 && piece.starts_with(name) && piece[name.size()] == '=') {
        return piece.substr(name.size() + 1);
    }
    return std::nullopt;
}

// Calls `visit` with each trimmed piece until it returns true.
template <typename Visit>
void forEachCookie(std::string_view cookieHeaderValue, Visit visit) {
    std::string_view rest = cookieHeaderValue;
    while (true) {
        std::size_t end = rest.find(';');
        if (visit(trimSpaces(rest.substr(0, end)))) return;
        if (end == std::string_view::npos) return;
        rest.remove_prefix(end + 1);
    }
}

// Both cookies in one walk over the pieces; the first piece of each name
// counts.
void readCookies(std::string_view value, std::string_view sessionCookie, RequestFacts& facts) {
    bool sessionSeen = false;
    bool passSeen = false;
    forEachCookie(value, [&](std::string_view piece) {
        if (!sessionSeen && cookieValue(piece, sessionCookie)) {
            sessionSeen = true;
            facts.authed = true;
        }
        if (!passSeen) {
            if (std::optional<std::string_view> token = cookieValue(piece, passCookie)) {
                passSeen = true;
                facts.passToken = *token;
            }
        }
        return sessionSeen && passSeen;
    });
}

// `value` is everything after the colon; it is trimmed only for the
// headers that are read.
void readHeader(std::string_view rawName, std::string_view rawValue, std::string_view sessionCookie,
                RequestFacts& facts) {
    std::string_view name = trimSpaces(rawName);
    // Only five lengths can name a header of interest; most lines stop here.
    auto value = [&] { return trimSpaces(rawValue); };
    switch (name.size()) {
        case 4:
            if (nameEquals(name, "host")) facts.host = value();
            break;
        case 6:
            if (nameEquals(name, "cookie")) readCookies(value(), sessionCookie, facts);
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

// The first CR LF in `text`, or npos. memchr finds the CR, so the common
// case costs one library call.
std::size_t findLineEnd(std::string_view text) {
    std::size_t from = 0;
    while (from < text.size()) {
        const void* cr = std::memchr(text.data() + from, '\r', text.size() - from);
        if (cr == nullptr) return std::string_view::npos;
        auto at = static_cast<std::size_t>(static_cast<const char*>(cr) - text.data());
        if (at + 1 < text.size() && text[at + 1] == '\n') return at;
        from = at + 1;
    }
    return std::string_view::npos;
}

// An empty line, also the missing block of a NOTIFY without headers, has
// no bytes to search: its data may be null, which memchr must not see.
void readHeaderLine(std::string_view line, std::string_view sessionCookie, RequestFacts& facts) {
    if (line.empty()) return;
    const void* colon = std::memchr(line.data(), ':', line.size());
    if (colon == nullptr) return;
    auto nameSize = static_cast<std::size_t>(static_cast<const char*>(colon) - line.data());
    readHeader(line.substr(0, nameSize), line.substr(nameSize + 1), sessionCookie, facts);
}

}  // namespace

void readHeaderBlock(std::string_view block, std::string_view sessionCookie, RequestFacts& facts) {
    while (true) {
        std::size_t end = findLineEnd(block);
        readHeaderLine(block.substr(0, end), sessionCookie, facts);
        if (end == std::string_view::npos) return;
        block.remove_prefix(end + 2);
    }
}

std::optional<std::string_view> findCookie(std::string_view cookieHeaderValue,
                                           std::string_view name) {
    std::optional<std::string_view> found;
    forEachCookie(cookieHeaderValue, [&](std::string_view piece) {
        found = cookieValue(piece, name);
        return found.has_value();
    });
    return found;
}

}  // namespace vorn
