#pragma once

#include "transport/udp/QVOSCDatagramDelegate.h"

// The default delegate: decodes each datagram and logs "DISPATCH: <text>", "(null)" when the
// datagram yields no packet.
class QVOSCDispatcher : public QVOSCDatagramDelegate {
  public:
    void dispatchRawPacket(std::shared_ptr<const QVOSCData> data) override;
};
