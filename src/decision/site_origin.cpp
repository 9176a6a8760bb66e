#include "decision/site_origin.hpp"

#include <cstddef>

namespace vorn {

namespace {

bool isLabelByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

// Whether `labels` is one or more non-empty dot-separated labels.
bool isLabelList(std::string_view labels) {
    std::size_t labelLength = 0;
    for (char c : labels) {
        if (c == '.') {
            if (labelLength == 0) return false;
            labelLength = 0;
        } else if (isLabelByte(c)) {
            ++labelLength;
        } else {
            return false;
        }
    }
    return labelLength > 0;
}

bool isDomainOrSubdomain(std::string_view host, std::string_view domain) {
    if (host == domain) return true;
    if (host.size() <= domain.size() + 1 || !host.ends_with(domain)) return false;
    std::size_t dot = host.size() - domain.size() - 1;
    return host[dot] == '.' && isLabelList(host.substr(0, dot));
}

}  // namespace

bool refererIsSiteOrigin(std::string_view referer, std::string_view domain) {
    std::string_view host;
    if (referer.starts_with("https://")) {
        host = referer.substr(8);
    } else if (referer.starts_with("http://")) {
        host = referer.substr(7);
    } else {
        return false;
    }
    if (host.empty()) return false;
    if (host.ends_with('/')) host.remove_suffix(1);
    return isDomainOrSubdomain(host, domain);
}

bool notSameOrigin(const std::optional<std::string_view>& secFetchSite) {
    return !secFetchSite || *secFetchSite != "same-origin";
}

bool botprint(const RequestFacts& facts, std::string_view domain) {
    return notSameOrigin(facts.secFetchSite) && refererIsSiteOrigin(facts.referer, domain);
}

}  // namespace vorn
