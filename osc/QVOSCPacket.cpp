#include "osc/QVOSCPacket.h"

void QVOSCPacket::attachObject(std::shared_ptr<QVOSCObject> object) {
    if (object && canHold(*object)) {
        containedObjects.push_back(std::move(object));
    }
}

void QVOSCPacket::attachObjects(const std::vector<std::shared_ptr<QVOSCObject>>& objects) {
    for (const std::shared_ptr<QVOSCObject>& object : objects) {
        attachObject(object);
    }
}

void QVOSCPacket::appendPacketizedData(QVOSCData&) const {}

std::string QVOSCPacket::stringRepresentation() const {
    return "abstract parent class: QVOSCPacket";
}

bool QVOSCPacket::canHold(const QVOSCObject&) const {
    return true;
}
