#pragma once

#include <string_view>

#include "decision/class_windows.hpp"
#include "decision/decision.hpp"
#include "decision/request_facts.hpp"

namespace vorn {

// Judges one request by the fixed rule table: the gateway pass, then the
// fingerprint traps (a bare Referer names the site at `siteDomain`), then
// the load rules. A request that reaches the load rules is counted in
// `windows` at `facts.arrival` and may start its group's heat; nothing else
// is changed. Total: every request gets a decision.
[[nodiscard]] Decision decide(const RequestFacts& facts, std::string_view siteDomain,
                              ClassWindows& windows);

}  // namespace vorn
