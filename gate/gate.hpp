#pragma once

#include <cstdint>
#include <expected>
#include <functional>

#include "gate_metrics.hpp"
#include "http_handler.hpp"
#include "nonce_book.hpp"
#include "receipt_minter.hpp"
#include "replay_set.hpp"

namespace vorn::gate {

// Seconds since the Unix epoch; tests pass their own clock.
using Clock = std::function<std::int64_t()>;

// The challenge issuer's routes, behind HAProxy:
//   GET  /.well-known/bramblegate/?return=PATH   the proof-of-work page
//   POST /.well-known/bramblegate/answer         nonce, counter, return
// The client address comes only from x-vorn-client and the difficulty only
// from x-vorn-difficulty, both set by HAProxy (which deletes any copy the
// client sent); the query's difficulty is for people reading the URL.
class Gate final : public HttpHandler {
public:
    struct Settings {
        std::int64_t nonceLifetime = 300;
        std::size_t replaySlots = 65536;
    };

    Gate(ReceiptMinter& minter, GateMetrics& metrics, Settings settings, Clock clock);

    [[nodiscard]] HttpResponse handle(const HttpRequest& request) override;
    void refused(Fault fault) override { metrics_.refused(fault); }

private:
    [[nodiscard]] std::expected<HttpResponse, Fault> challenge(const HttpRequest& request);
    [[nodiscard]] std::expected<HttpResponse, Fault> answer(const HttpRequest& request);

    ReceiptMinter& minter_;
    GateMetrics& metrics_;
    NonceBook nonces_;
    ReplaySet replays_;
    Clock clock_;
};

}  // namespace vorn::gate
