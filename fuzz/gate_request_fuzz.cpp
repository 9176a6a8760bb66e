// Feeds arbitrary bytes to vorn-gate as one request: head, then body. The
// parser either refuses them or yields a request that the gate answers with
// a page, a 303, a 400 naming a reason, or a 404; a 303 goes only to a path
// on the same site.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "gate.hpp"
#include "token/signature.hpp"

namespace {

using namespace vorn;
using namespace vorn::gate;

void require(bool condition) {
    if (!condition) std::abort();
}

Gate& fuzzedGate() {
    static ReceiptMinter minter(PrivateKey{.kid = "fuzz", .seed = {}}, 3600);
    static GateMetrics metrics;
    static Gate gate(minter, metrics, {.nonceLifetime = 300, .replaySlots = 1024},
                     [] { return std::int64_t{1'800'000'000}; });
    return gate;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool ready = prepareSignatures().has_value();
    require(ready);
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::size_t headEnd = bytes.find("\r\n\r\n");
    auto request = parseHttpHead(bytes.substr(0, headEnd));
    if (!request) return 0;
    auto length = bodyLength(*request);
    if (!length) return 0;
    if (headEnd != std::string_view::npos) request->body = bytes.substr(headEnd + 4, *length);
    const HttpResponse response = fuzzedGate().handle(*request);
    require(response.status == 200 || response.status == 303 || response.status == 400 ||
            response.status == 404);
    if (response.status == 303) {
        const std::string& location = response.headers.front().second;
        require(location.starts_with('/') && !location.starts_with("//"));
    }
    return 0;
}
