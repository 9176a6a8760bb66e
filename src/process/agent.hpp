#pragma once

#include <string_view>

#include "decision/decision_state.hpp"
#include "decision/request_decision.hpp"
#include "loop/event_loop.hpp"
#include "observe/metrics_endpoint.hpp"
#include "observe/metrics_handler.hpp"
#include "process/settings.hpp"
#include "receipt/receipt_state.hpp"
#include "spop/spop_handler.hpp"

namespace vorn {

// Wires one event loop to the protocols and the decision: the handlers of
// its two listeners, what it calls on wake-ups and SIGHUP, and what the
// metrics page renders. Large (the parking slots live in it), so it is made
// on the heap at start-up. Belongs to the loop thread.
class Agent final : public LoopHandler, public MetricsSource {
public:
    Agent(const Settings& settings, EventLoop& loop, ReceiptState receipts, ClassWindows windows);

    [[nodiscard]] ConnectionHandler& spop() { return spop_; }
    [[nodiscard]] ConnectionHandler& metrics() { return metrics_; }
    // The signature workers, once started (challenges not off).
    void useVerifyPool(VerifyPool& pool) { receipts_.pool = &pool; }

    void onCompletion(const Completion& completion) override;
    void reload() override { loadKeysAndModel("SIGHUP"); }

    [[nodiscard]] std::expected<void, Error> render(TextWriter& out) override;

    // (Re)reads the files the daemon depends on; `reason` ("start" or
    // "SIGHUP") prefixes the loaders' lines. Never fails: each failure is
    // logged and the daemon goes on.
    void loadKeysAndModel(std::string_view reason);

private:
    const Settings& settings_;
    EventLoop& loop_;
    DecisionState decision_;
    ReceiptState receipts_;
    SpopHandler spop_;
    RequestDecision requests_;
    MetricsHandler metrics_;
};

}  // namespace vorn
