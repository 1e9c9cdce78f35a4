#include "app/control/DelegateWrapper.h"

#include "app/control/KestranoController.h"

DelegateWrapper::DelegateWrapper(KestranoController* target, Selector selector)
    : target_(target), selector_(selector) {}

void DelegateWrapper::dispatchRawPacket(std::shared_ptr<const QVOSCData> data) {
    KestranoController* const target = target_.load();
    if (target != nullptr && selector_ != nullptr) {
        (target->*selector_)(std::move(data));
    }
}
