#pragma once

#include <atomic>
#include <memory>

#include "osc/QVOSCTypes.h"
#include "transport/QVOSCDatagramDelegate.h"

class KestranoController;

// Hands each datagram of a listener to one operation of the controller, untouched.
class DelegateWrapper : public QVOSCDatagramDelegate {
  public:
    using Selector = void (KestranoController::*)(std::shared_ptr<const QVOSCData> data);

    DelegateWrapper(KestranoController* target, Selector selector);

    KestranoController* target() const { return target_.load(); }
    // The controller clears it when it goes away: datagrams already posted then reach nobody.
    void setTarget(KestranoController* target) { target_.store(target); }
    Selector selector() const { return selector_; }
    void setSelector(Selector selector) { selector_ = selector; }

    void dispatchRawPacket(std::shared_ptr<const QVOSCData> data) override;

  private:
    std::atomic<KestranoController*> target_;
    Selector selector_;
};
