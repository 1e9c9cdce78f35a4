#include "osc/QVOSCMessage.h"

#include <array>

#include "osc/QVOSCDataUtilities.h"
#include "osc/QVOSCPool.h"

void QVOSCMessage::attachArguments(const std::vector<std::shared_ptr<QVOSCArgument>>& arguments) {
    for (const std::shared_ptr<QVOSCArgument>& argument : arguments) {
        attachArgument(argument);
    }
}

std::vector<std::shared_ptr<QVOSCArgument>> QVOSCMessage::arguments() const {
    std::vector<std::shared_ptr<QVOSCArgument>> arguments;
    arguments.reserve(containedObjects.size());
    for (const std::shared_ptr<QVOSCObject>& object : containedObjects) {
        // canHold admits arguments only.
        arguments.push_back(std::static_pointer_cast<QVOSCArgument>(object));
    }
    return arguments;
}

void QVOSCMessage::writeTypeTags(char* tags) const {
    *tags++ = ',';
    for (const std::shared_ptr<QVOSCObject>& object : containedObjects) {
        *tags++ = static_cast<const QVOSCArgument&>(*object).type();
    }
}

std::string QVOSCMessage::typeTagString() const {
    std::string tags(1 + containedObjects.size(), ',');
    writeTypeTags(tags.data());
    return tags;
}

void QVOSCMessage::appendPacketizedData(QVOSCData& out) const {
    static const std::string kNoAddress;
    const std::string& address = address_ ? address_->address() : kNoAddress;

    // One allocation for the whole message: the blocks are at most these sizes.
    size_t bound = address.size() + 4 + containedObjects.size() + 5;
    for (const std::shared_ptr<QVOSCObject>& object : containedObjects) {
        bound += static_cast<const QVOSCArgument&>(*object).data().size();
    }
    if (out.capacity() < out.size() + bound) {
        out.reserve(std::max(out.size() + bound, 2 * out.capacity()));
    }

    QVOSCDataUtilities::appendString(out, address);
    // The type tags of a message with a few arguments are put together on the stack.
    std::array<char, 16> shortTags;
    if (1 + containedObjects.size() <= shortTags.size()) {
        writeTypeTags(shortTags.data());
        QVOSCDataUtilities::appendString(out, {shortTags.data(), 1 + containedObjects.size()});
    } else {
        QVOSCDataUtilities::appendString(out, typeTagString());
    }
    for (const std::shared_ptr<QVOSCObject>& object : containedObjects) {
        object->appendPacketizedData(out);
    }
}

std::string QVOSCMessage::stringRepresentation() const {
    std::string text = "MESSAGE:\naddress:";
    text += address_ ? address_->address() : "(null)";
    text += "\n types:";
    text += typeTagString();
    for (const std::shared_ptr<QVOSCObject>& object : containedObjects) {
        text += '\n';
        text += static_cast<const QVOSCArgument&>(*object).description();
    }
    return text;
}

bool QVOSCMessage::canHold(const QVOSCObject& object) const {
    return dynamic_cast<const QVOSCArgument*>(&object) != nullptr;
}
