#include "gate/cookie_notice.hpp"

#include "token/contract.hpp"

namespace vorn {

namespace {

bool isUnreserved(char c) {
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    return alnum || c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
}

void writeQueryValue(TextWriter& out, std::string_view value) {
    constexpr std::string_view hex = "0123456789ABCDEF";
    for (char c : value) {
        if (isUnreserved(c)) {
            out.byte(c);
        } else {
            const auto byte = static_cast<unsigned char>(c);
            out.byte('%').byte(hex[byte >> 4]).byte(hex[byte & 0x0F]);
        }
    }
}

}  // namespace

void writeCookieNotice(TextWriter& out, const CookieNoticeFacts& facts, const SiteFacts& site) {
    writePageStart(out, "Your browser did not keep the pass", site);
    out.text("<p>Your browser finished the check, but it did not send back the pass cookie ");
    out.text("that ");
    writeHtmlEscaped(out, site.name);
    out.text(" gave it, so every check would end here again.</p>\n<ul>\n");
    out.text("<li>Cookies may be blocked for ");
    writeHtmlEscaped(out, facts.host);
    out.text(". Allow cookies for this site in your browser's settings (a cookie named ");
    out.text(passCookie).text(" is all it needs).</li>\n");
    if (!facts.knownHttps) {
        out.text("<li>This page came over plain HTTP, and your browser may keep cookies only ");
        out.text("for secure sites. If the site offers HTTPS, use <a href=\"https://");
        writeHtmlEscaped(out, hostWithoutPort(facts.host));
        writeHtmlEscaped(out, facts.returnPath);
        out.text("\">the https:// address</a> instead.</li>\n");
    }
    out.text("</ul>\n<p><a href=\"").text(gatewayPrefix).byte('?').text(retryField);
    out.text("=1&amp;return=");
    writeQueryValue(out, facts.returnPath);
    out.text("\">Try again</a> once that is done.</p>\n");
    writePageEnd(out, site);
}

}  // namespace vorn
