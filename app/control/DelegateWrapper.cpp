#include "app/control/DelegateWrapper.h"

#include "app/control/KestranoController.h"

DelegateWrapper::DelegateWrapper(KestranoController* target, Selector selector,
                                 SourcedSelector sourcedSelector)
    : target_(target), selector_(selector), sourcedSelector_(sourcedSelector) {}

void DelegateWrapper::dispatchRawPacket(std::shared_ptr<const QVOSCData> data) {
    KestranoController* const target = target_.load();
    if (target != nullptr && selector_ != nullptr) {
        (target->*selector_)(std::move(data));
    }
}

void DelegateWrapper::dispatchRawPacket(std::shared_ptr<const QVOSCData> data,
                                        const NetworkEndpoint& source) {
    KestranoController* const target = target_.load();
    if (target != nullptr && sourcedSelector_ != nullptr) {
        (target->*sourcedSelector_)(std::move(data), source);
    } else {
        dispatchRawPacket(std::move(data));
    }
}
