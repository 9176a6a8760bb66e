#pragma once

#include <cstdint>
#include <string_view>

#include "common/text_writer.hpp"
#include "gate/page_frame.hpp"

namespace vorn {

struct ChallengeFacts {
    std::string_view nonce;        // base64url, safe in HTML as it is
    std::string_view bound;        // 64 hexadecimal digits
    double expectedTries = 0;      // 1 / difficulty
    std::string_view returnPath;   // checked, but escaped all the same
    std::int64_t passSeconds = 0;  // how long the pass lasts
};

// The proof-of-work page: one HTML document, its style and script inline.
// Without script it says what to do; with script, Web Workers look for a
// counter whose SHA-256(nonce || counter) is below the bound, with the
// browser's own SHA-256 where the page is a secure context and a script one
// elsewhere. The bar shows the chance that a search as long as the one so
// far would have ended, and fills when the answer is found; the form posts
// it. The form's data attributes carry the facts, and the search publishes
// its mode ("native" or "script") and hashes per second per worker there.
void writeChallengePage(TextWriter& out, const ChallengeFacts& facts, const SiteFacts& site);

}  // namespace vorn
