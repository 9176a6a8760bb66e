#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string_view>

#include "gate/client_limits.hpp"
#include "gate/gate_handler.hpp"
#include "gate/gate_log.hpp"
#include "gate/gate_metrics.hpp"
#include "gate/nonce_book.hpp"
#include "gate/page_frame.hpp"
#include "gate/receipt_minter.hpp"
#include "gate/replay_set.hpp"
#include "observe/metrics_endpoint.hpp"

namespace vorn {

struct GateSettings {
    std::int64_t nonceLifetime = 300;     // seconds
    std::size_t replayEntries = 262'144;  // answered nonces held at most
    std::uint32_t challengesPerClient = 32;
    std::size_t clientEntries = 65'536;  // clients counted at once
    std::string_view siteName{};         // empty: the Host the visitor asked for
    std::string_view contact{};          // empty: none
    std::int64_t startTimeSeconds = 0;
};

// The challenge issuer's routes, behind HAProxy:
//   GET  /.well-known/bramblegate/?return=PATH   the proof-of-work page
//   POST /.well-known/bramblegate/answer         nonce, counter, return
//   GET  /.well-known/bramblegate/health         200 "ok", for HAProxy's check
// The client address comes only from x-vorn-client, the difficulty only from
// x-vorn-difficulty and the scheme only from x-vorn-scheme, all set by
// HAProxy (which deletes any copy the client sent); the query's difficulty
// is for people reading the URL. Also the source of its metrics page.
class Gate final : public GateHandler, public MetricsSource {
public:
    Gate(ReceiptMinter& minter, const GateSettings& settings);

    void handle(const GateRequest& request, const GateTime& now, GateReply& reply) override;
    void refused(GateFault fault) override { metrics_.refused(fault); }
    [[nodiscard]] std::expected<void, Error> render(TextWriter& out) override;

    [[nodiscard]] GateMetrics& metrics() { return metrics_; }

private:
    // Each fills in `record` (what the request log says) as it goes, and
    // writes nothing into `reply` before it knows it will not refuse.
    [[nodiscard]] std::expected<void, GateFault> challenge(const GateRequest& request,
                                                           const GateTime& now, GateReply& reply,
                                                           GateLogRecord& record);
    [[nodiscard]] std::expected<void, GateFault> answer(const GateRequest& request,
                                                        const GateTime& now, GateReply& reply,
                                                        GateLogRecord& record);
    [[nodiscard]] SiteFacts site(std::string_view host) const;

    ReceiptMinter& minter_;
    const GateSettings settings_;
    GateMetrics metrics_;
    NonceBook nonces_;
    ReplaySet replays_;
    ClientLimits clients_;
};

}  // namespace vorn
