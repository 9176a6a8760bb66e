#pragma once

#include <string_view>

#include "decision/decision_state.hpp"
#include "decision/request_decision.hpp"
#include "loop/event_loop.hpp"
#include "observe/metrics_endpoint.hpp"
#include "process/settings.hpp"
#include "spop/connection_protocol.hpp"

namespace vorn {

// Wires one event loop to the protocols and the decision: what the loop
// calls for its connections, wake-ups and SIGHUP, and what the metrics
// endpoint renders. Belongs to the loop thread.
class Agent final : public LoopHandler, public MetricsSource {
public:
    Agent(const Settings& settings, EventLoop& loop);

    void onReadable(Connection& connection) override { protocol_.onReadable(connection); }
    void process(Connection& connection) override { protocol_.process(connection); }
    // No request parks for a signature check yet, so no completion arrives.
    void onCompletion(const Completion&) override {}
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
    RequestDecision requests_;
    ConnectionProtocol protocol_;
};

}  // namespace vorn
