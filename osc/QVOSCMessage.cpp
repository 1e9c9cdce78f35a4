#include "osc/QVOSCMessage.h"

#include <algorithm>
#include <array>
#include <cstring>

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

bool QVOSCMessage::writeTypeTags(char* tags) const {
    *tags++ = ',';
    unsigned char allBits = 0;
    for (const std::shared_ptr<QVOSCObject>& object : containedObjects) {
        const char type = static_cast<const QVOSCArgument&>(*object).type();
        *tags++ = type;
        allBits |= static_cast<unsigned char>(type);
    }
    return allBits < 0x80;
}

std::string QVOSCMessage::typeTagString() const {
    std::string tags(1 + containedObjects.size(), ',');
    writeTypeTags(tags.data());
    return tags;
}

void QVOSCMessage::appendPacketizedData(QVOSCData& out) const {
    static const std::string kNoAddress;
    std::string_view address = address_ ? address_->address() : kNoAddress;
    // The type tags of a message with a few arguments are put together on the stack.
    std::array<char, 16> shortTags;
    std::string longTags;
    std::string_view tags;
    bool asciiTags = true;
    if (1 + containedObjects.size() <= shortTags.size()) {
        asciiTags = writeTypeTags(shortTags.data());
        tags = {shortTags.data(), 1 + containedObjects.size()};
    } else {
        longTags = typeTagString();
        tags = longTags;
        asciiTags = QVOSCDataUtilities::isAscii(tags.data(), tags.size());
    }
    // Texts outside ASCII are written as the empty string block, as by appendString.
    if (!QVOSCDataUtilities::isAscii(address.data(), address.size())) {
        address = {};
    }
    if (!asciiTags) {
        tags = {};
    }

    // The whole message in one step: the buffer grows once, and its zeros are the padding.
    const size_t addressBlock = QVOSCDataUtilities::stringBlockSize(address.size());
    const size_t tagsBlock = QVOSCDataUtilities::stringBlockSize(tags.size());
    size_t size = addressBlock + tagsBlock;
    for (const std::shared_ptr<QVOSCObject>& object : containedObjects) {
        size += static_cast<const QVOSCArgument&>(*object).data().size();
    }
    const size_t start = out.size();
    if (start == 0) {
        out = QVOSCData(size);  // a message of its own: sized in one step, without growth logic
    } else {
        out.resize(start + size);
    }
    uint8_t* at = out.data() + start;
    // memcpy rather than std::copy, which is a byte loop from char to uint8_t; an empty view
    // may have no data pointer, which memcpy must not see.
    if (!address.empty()) {
        std::memcpy(at, address.data(), address.size());
    }
    if (!tags.empty()) {
        std::memcpy(at + addressBlock, tags.data(), tags.size());
    }
    at += addressBlock + tagsBlock;
    for (const std::shared_ptr<QVOSCObject>& object : containedObjects) {
        at = QVOSCDataUtilities::copyBytes(static_cast<const QVOSCArgument&>(*object).data(), at);
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
