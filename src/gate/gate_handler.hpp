#pragma once

#include "gate/gate_fault.hpp"
#include "gate/gate_reply.hpp"
#include "gate/gate_request.hpp"
#include "gate/gate_time.hpp"

namespace vorn {

// What answers the requests of the gate's listener, one per connection.
// Called from every worker thread at once.
class GateHandler {
public:
    // `request` arrived whole at `now`; the answer goes into `reply`.
    virtual void handle(const GateRequest& request, const GateTime& now, GateReply& reply) = 0;
    // A request that could not be read was refused with refuseReply.
    virtual void refused(GateFault fault) = 0;

protected:
    ~GateHandler() = default;
};

}  // namespace vorn
