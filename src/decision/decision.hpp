#pragma once

#include <optional>

#include "common/path_class.hpp"
#include "common/verdict.hpp"

namespace vorn {

// The verdict rules' judgement of one request.
struct Decision {
    std::optional<PathClass> pathClass;  // none only for gateway decisions
    Verdict verdict = Verdict::pass;
    Reason reason = Reason::gateway;
    bool challengeable = false;

    // Counter slot: the class, or the gateway slot for a decision without one.
    [[nodiscard]] constexpr std::size_t classSlot() const {
        return pathClass ? indexOf(*pathClass) : gatewaySlot;
    }
};

}  // namespace vorn
