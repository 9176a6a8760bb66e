#pragma once

#include <string>
#include <string_view>

namespace vorn::gate {

struct ChallengeFacts {
    std::string_view nonce;       // base64url, safe in HTML as it is
    std::string_view bound;       // 64 hexadecimal digits
    double expectedTries = 0;     // 1 / difficulty, for the progress bar
    std::string_view returnPath;  // checked, but escaped all the same
};

// The proof-of-work page: one HTML document, its style and script inline.
// Without script it explains itself; with script, Web Workers look for a
// counter whose SHA-256(nonce || counter) is below the bound, show how far
// they got, and post the answer with the form.
[[nodiscard]] std::string challengePage(const ChallengeFacts& facts);

// The Content-Security-Policy that lets the page run and nothing else.
inline constexpr std::string_view challengePagePolicy =
    "default-src 'none'; script-src 'unsafe-inline'; worker-src blob:; "
    "style-src 'unsafe-inline'; form-action 'self'; base-uri 'none'; frame-ancestors 'none'";

// `text` with & < > " ' written as character references.
[[nodiscard]] std::string htmlEscape(std::string_view text);

}  // namespace vorn::gate
