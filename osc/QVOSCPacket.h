#pragma once

#include <memory>
#include <string>
#include <vector>

#include "osc/QVOSCObject.h"
#include "osc/QVOSCObjectList.h"

// Base of messages and bundles: an ordered list of attached objects.
class QVOSCPacket : public QVOSCObject {
  public:
    // Appends `object`; nothing, or an object this kind of packet cannot hold, is ignored.
    void attachObject(std::shared_ptr<QVOSCObject> object);
    void attachObjects(const std::vector<std::shared_ptr<QVOSCObject>>& objects);
    const QVOSCObjectList& attachedObjects() const { return containedObjects; }

    // The base packet has no bytes.
    void appendPacketizedData(QVOSCData& out) const override;
    virtual std::string stringRepresentation() const;

  protected:
    // A message holds arguments, a bundle holds packets.
    virtual bool canHold(const QVOSCObject& object) const;

    QVOSCObjectList containedObjects;
};
