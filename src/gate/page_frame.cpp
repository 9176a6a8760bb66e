#include "gate/page_frame.hpp"

namespace vorn {

namespace {

constexpr std::string_view style = R"HTML(<style>
body { font: 1.1rem/1.5 system-ui, sans-serif; margin: 0; color: #1b1b1b; background: #fafafa; }
main { max-width: 36rem; margin: 4rem auto; padding: 0 1rem; }
h1 { font-size: 1.6rem; }
.site { color: #555; margin-bottom: 0; }
progress { width: 100%; height: 1.2rem; }
small { color: #555; }
@media (prefers-color-scheme: dark) {
  body { color: #eee; background: #181818; } .site, small { color: #aaa; } a { color: #8cf; }
}
</style>
)HTML";

}  // namespace

std::string_view hostWithoutPort(std::string_view host) {
    if (host.starts_with('[')) return host.substr(0, host.find(']') + 1);
    return host.substr(0, host.find(':'));
}

void writeHtmlEscaped(TextWriter& out, std::string_view text) {
    std::size_t runStart = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::string_view reference;
        switch (text[i]) {
            case '&':
                reference = "&amp;";
                break;
            case '<':
                reference = "&lt;";
                break;
            case '>':
                reference = "&gt;";
                break;
            case '"':
                reference = "&quot;";
                break;
            case '\'':
                reference = "&#39;";
                break;
            default:
                continue;
        }
        out.text(text.substr(runStart, i - runStart)).text(reference);
        runStart = i + 1;
    }
    out.text(text.substr(runStart));
}

void writePageStart(TextWriter& out, std::string_view heading, const SiteFacts& site) {
    out.text("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n");
    out.text("<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n");
    out.text("<meta name=\"robots\" content=\"noindex\">\n<title>");
    writeHtmlEscaped(out, heading);
    out.text(" - ");
    writeHtmlEscaped(out, site.name);
    out.text("</title>\n").text(style).text("</head>\n<body>\n<main>\n<p class=\"site\">");
    writeHtmlEscaped(out, site.name);
    out.text("</p>\n<h1>");
    writeHtmlEscaped(out, heading);
    out.text("</h1>\n");
}

void writeContact(TextWriter& out, std::string_view contact) {
    const bool link = contact.starts_with("mailto:") || contact.starts_with("https://") ||
                      contact.starts_with("http://");
    if (!link) {
        writeHtmlEscaped(out, contact);
        return;
    }
    out.text("<a href=\"");
    writeHtmlEscaped(out, contact);
    out.text("\">");
    writeHtmlEscaped(out, contact.starts_with("mailto:") ? contact.substr(7) : contact);
    out.text("</a>");
}

void writePageEnd(TextWriter& out, const SiteFacts& site) {
    if (!site.contact.empty()) {
        out.text("<p><small>Trouble getting through? Contact ");
        writeContact(out, site.contact);
        out.text(".</small></p>\n");
    }
    out.text("</main>\n</body>\n</html>\n");
}

}  // namespace vorn
