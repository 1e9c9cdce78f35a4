#pragma once

#include <atomic>
#include <memory>

#include "osc/QVOSCTypes.h"
#include "transport/udp/QVOSCDatagramDelegate.h"
#include "transport/udp/QVOSCSourcedDatagramDelegate.h"

class KestranoController;

// Hands each datagram of a listener to one operation of the controller, untouched; with its
// source to a second one, when the controller names one.
class DelegateWrapper : public QVOSCDatagramDelegate, public QVOSCSourcedDatagramDelegate {
  public:
    using Selector = void (KestranoController::*)(std::shared_ptr<const QVOSCData> data);
    using SourcedSelector = void (KestranoController::*)(std::shared_ptr<const QVOSCData> data,
                                                         const NetworkEndpoint& source);

    DelegateWrapper(KestranoController* target, Selector selector,
                    SourcedSelector sourcedSelector = nullptr);

    KestranoController* target() const { return target_.load(); }
    // The controller clears it when it goes away: datagrams already posted then reach nobody.
    void setTarget(KestranoController* target) { target_.store(target); }
    Selector selector() const { return selector_; }
    void setSelector(Selector selector) { selector_ = selector; }

    void dispatchRawPacket(std::shared_ptr<const QVOSCData> data) override;
    // Through `sourcedSelector`, or `selector` without the source when there is none.
    void dispatchRawPacket(std::shared_ptr<const QVOSCData> data,
                           const NetworkEndpoint& source) override;

  private:
    std::atomic<KestranoController*> target_;
    Selector selector_;
    SourcedSelector sourcedSelector_;
};
