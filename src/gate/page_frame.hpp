#pragma once

#include <string_view>

#include "common/text_writer.hpp"

namespace vorn {

// What every page of the gate shows besides its own text: the site's name
// (--site-name, or the Host the visitor asked for) and, when the operator
// gave one, a contact (--contact).
struct SiteFacts {
    std::string_view name;
    std::string_view contact;  // empty: none
};

// The Content-Security-Policy of the gate's pages: their inline script and
// style, the worker made from a blob, the form posting to this site, and
// nothing else.
inline constexpr std::string_view gatePagePolicy =
    "default-src 'none'; script-src 'unsafe-inline'; worker-src blob:; "
    "style-src 'unsafe-inline'; form-action 'self'; base-uri 'none'; frame-ancestors 'none'";

// The host without its port: "forge.example:8080" and "[::1]:8080" give
// "forge.example" and "[::1]".
[[nodiscard]] std::string_view hostWithoutPort(std::string_view host);

// `text` with & < > " ' written as character references.
void writeHtmlEscaped(TextWriter& out, std::string_view text);

// The document up to and including the page's heading: `heading`, " - "
// and the site's name as the title, the site's name above the h1.
void writePageStart(TextWriter& out, std::string_view heading, const SiteFacts& site);

// The contact line (when there is a contact) and the end of the document.
void writePageEnd(TextWriter& out, const SiteFacts& site);

// The contact as a link when it is a mailto:, https: or http: address, as
// text otherwise.
void writeContact(TextWriter& out, std::string_view contact);

}  // namespace vorn
