// Feeds arbitrary bytes to vorn-gate as one request: head, then body. The
// parser either refuses them or yields a request that the gate answers with
// a page, a 303, a 400 or 429 naming a reason, or a 404; a 303 goes only to
// a path on the same site, and every reply fits its buffer.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "gate/gate.hpp"
#include "gate/gate_connection.hpp"
#include "token/signature.hpp"

namespace {

using namespace vorn;

void require(bool condition) {
    if (!condition) std::abort();
}

Gate& fuzzedGate() {
    static ReceiptMinter minter(PrivateKey{.kid = "fuzz", .seed = {}}, 3600);
    static Gate gate(minter, {.nonceLifetime = 300,
                              .replayEntries = 1024,
                              .challengesPerClient = 32,
                              .clientEntries = 1024});
    return gate;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool ready = prepareSignatures().has_value();
    require(ready);
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::size_t headEnd = bytes.find("\r\n\r\n");
    GateRequest request;
    if (!parseRequestHead(bytes.substr(0, headEnd), request)) return 0;
    if (headEnd != std::string_view::npos) {
        request.body = bytes.substr(headEnd + 4, request.contentLength);
    }
    static auto output = std::make_unique<ConnectionBuffers>();
    GateReply reply(output->output);
    fuzzedGate().handle(request, {.wallMillis = 1'800'000'000'000, .steadyMillis = 86'400'000},
                        reply);
    const std::string_view sent = reply.finish();
    require(sent.starts_with("HTTP/1.1 "));
    const int status = reply.status();
    require(status == 200 || status == 303 || status == 400 || status == 404 || status == 429);
    require(!sent.starts_with("HTTP/1.1 500"));
    if (status == 303) {
        const std::size_t location = sent.find("\r\nLocation: ");
        require(location != std::string_view::npos);
        const std::string_view target = sent.substr(location + 12);
        require(target.starts_with('/') && !target.starts_with("//"));
    }
    return 0;
}
