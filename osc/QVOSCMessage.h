#pragma once

#include <memory>
#include <string>
#include <vector>

#include "osc/QVOSCAddress.h"
#include "osc/QVOSCArgument.h"
#include "osc/QVOSCPacket.h"
#include "osc/QVOSCPool.h"

// An address and its arguments, in order. Making a message and attaching its arguments is
// inline, so that the shared pointers passed along stay in registers: one of these is made for
// every message sent and received.
class QVOSCMessage : public QVOSCPacket {
  public:
    // initWithQVOSCAddress
    explicit QVOSCMessage(std::shared_ptr<QVOSCAddress> address) : address_(std::move(address)) {}

    // Nothing when `address` is nothing.
    static std::shared_ptr<QVOSCMessage> messageWithQVOSCAddress(
        std::shared_ptr<QVOSCAddress> address) {
        return address ? makePooled<QVOSCMessage>(std::move(address)) : nullptr;
    }

    void attachArgument(std::shared_ptr<QVOSCArgument> argument) {
        if (argument) {
            containedObjects.push_back(std::move(argument));
        }
    }
    void attachArguments(const std::vector<std::shared_ptr<QVOSCArgument>>& arguments);
    // The attached arguments, in order.
    std::vector<std::shared_ptr<QVOSCArgument>> arguments() const;

    // ',' and one type character per argument.
    std::string typeTagString() const;

    const std::shared_ptr<QVOSCAddress>& address() const { return address_; }
    void setAddress(std::shared_ptr<QVOSCAddress> address) { address_ = std::move(address); }

    void appendPacketizedData(QVOSCData& out) const override;
    std::string stringRepresentation() const override;

  protected:
    bool canHold(const QVOSCObject& object) const override;

  private:
    // Writes ',' and one type character per argument to `tags`, which has room for them;
    // whether they are all ASCII.
    bool writeTypeTags(char* tags) const;

    std::shared_ptr<QVOSCAddress> address_;
};
