#pragma once

#include <memory>

#include "osc/QVOSCTypes.h"

// Receives the datagrams of a listener, one call per datagram, on the main thread, in the order
// received. The buffer holds exactly the received bytes (possibly none) and is never changed.
class QVOSCDatagramDelegate {
  public:
    virtual ~QVOSCDatagramDelegate() = default;
    virtual void dispatchRawPacket(std::shared_ptr<const QVOSCData> data) = 0;
};
