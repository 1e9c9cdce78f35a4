#pragma once

#include <memory>

#include "osc/QVOSCTypes.h"
#include "transport/NetworkEndpoint.h"

// An optional second interface for a listener's delegate that also wants to know where each
// datagram came from (to answer it, for one). A delegate that implements it beside
// QVOSCDatagramDelegate gets this call instead of the one without a source, under the same terms:
// on the main thread, one call per datagram, in the order received.
class QVOSCSourcedDatagramDelegate {
  public:
    virtual ~QVOSCSourcedDatagramDelegate() = default;
    virtual void dispatchRawPacket(std::shared_ptr<const QVOSCData> data,
                                   const NetworkEndpoint& source) = 0;
};
