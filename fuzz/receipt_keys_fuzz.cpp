// Reads arbitrary text as a receipt key file. An accepted file holds at most
// one key per line, finds every key it holds by its identifier, and reads
// the same way twice.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "token/key_id.hpp"
#include "token/receipt_key_set.hpp"
#include "token/signature.hpp"

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto keys = vorn::parseReceiptKeys(text);
    auto again = vorn::parseReceiptKeys(text);
    require(keys.has_value() == again.has_value());
    if (!keys) {
        require(keys.error() == vorn::Error::BadKeyLine ||
                keys.error() == vorn::Error::DuplicateKeyId);
        require(keys.error() == again.error());
        return 0;
    }
    std::size_t lines = 1;
    for (char c : text) lines += c == '\n' ? 1 : 0;
    require(keys->size() <= lines && keys->size() == again->size());
    // Every field that could be a kid and is found must hold a canonical key.
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = start;
        while (end < text.size() && text[end] != ' ' && text[end] != '\t' && text[end] != '\n' &&
               text[end] != '\r') {
            ++end;
        }
        std::string_view word = text.substr(start, end - start);
        if (const vorn::PublicKey* key = keys->lookup(word)) {
            require(vorn::isKeyId(word) && vorn::isCanonicalPublicKey(*key));
        }
        start = end + 1;
    }
    return 0;
}
