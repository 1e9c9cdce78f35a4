#include "osc/QVOSCAddress.h"

#include "osc/QVOSCDataUtilities.h"
#include "osc/QVOSCPool.h"

std::shared_ptr<QVOSCAddress> QVOSCAddress::addressWithArray(
    const std::vector<std::string>& components) {
    std::string text;
    for (const std::string& component : components) {
        text += '/';
        text += component;
    }
    return makePooled<QVOSCAddress>(text);
}

void QVOSCAddress::appendPacketizedData(QVOSCData& out) const {
    QVOSCDataUtilities::appendString(out, address_);
}

QVOSCData QVOSCAddress::packetizedData() const {
    return QVOSCDataUtilities::dataBlockFromString(address_);
}
