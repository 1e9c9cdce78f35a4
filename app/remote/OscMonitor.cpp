#include "app/remote/OscMonitor.h"

#include <cstdio>
#include <ctime>

#include "app/settings/values/DisplayText.h"
#include "osc/QVOSCDecoder.h"
#include "osc/QVOSCMessage.h"
#include "transport/NetworkEndpointText.h"

namespace {

// Enough to recognise a datagram; the rest is elided.
constexpr size_t hexBytesShown = 64;
constexpr size_t textCharactersShown = 1000;

std::string timeOfDay(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count() %
        1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<int>(milliseconds));
    return text;
}

std::string hexText(const QVOSCData& bytes) {
    std::string text = "undecodable " + std::to_string(bytes.size()) + " bytes:";
    char digits[4];
    for (size_t index = 0; index < bytes.size() && index < hexBytesShown; ++index) {
        std::snprintf(digits, sizeof digits, " %02x", bytes[index]);
        text += digits;
    }
    if (bytes.size() > hexBytesShown) {
        text += " ...";
    }
    return text;
}

// The message with its address and string arguments escaped; other arguments are shared.
QVOSCMessage escapedCopy(const QVOSCMessage& message) {
    QVOSCMessage copy(QVOSCAddress::addressWithString(
        escapedText(message.address() ? message.address()->address() : "(null)")));
    for (const std::shared_ptr<QVOSCArgument>& argument : message.arguments()) {
        copy.attachArgument(argument->type() == 's' ? QVOSCArgument::argumentWithString(escapedText(
                                                          argument->stringValue().value_or("")))
                                                    : argument);
    }
    return copy;
}

}  // namespace

std::string monitorText(const QVOSCData& bytes) {
    const std::shared_ptr<QVOSCPacket> packet = QVOSCDecoder::decodeData(bytes);
    if (!packet) {
        return hexText(bytes);
    }
    // A message's own texts are escaped before they are joined, so that a line break in a string
    // shows as \x0a; the text form's breaks between its parts then become spaces. In a bundle the
    // parts cannot be told apart any more, and a break in a string shows as a space.
    std::string text;
    if (const auto message = std::dynamic_pointer_cast<QVOSCMessage>(packet)) {
        text = escapedCopy(*message).stringRepresentation();
    } else {
        text = packet->stringRepresentation();
    }
    for (char& c : text) {
        if (c == '\n') {
            c = ' ';
        }
    }
    text = escapedText(text);
    if (text.size() > textCharactersShown) {
        // A copy, not a resize: the entry must not keep the long text's capacity.
        text = text.substr(0, textCharactersShown) + " ...";
    }
    return text;
}

std::string monitorLine(const MonitorEntry& entry) {
    const bool incoming = entry.direction == MonitorEntry::Direction::in;
    return timeOfDay(entry.time) + (incoming ? " in  " : " out ") + endpointText(entry.peer) + " " +
           entry.text;
}

std::string leftOutLine(uint64_t count) {
    return "(" + std::to_string(count) + " messages not listed: too many at once)";
}

void OscMonitor::record(MonitorEntry::Direction direction, const NetworkEndpoint& peer,
                        std::shared_ptr<const QVOSCData> bytes) {
    if (!recording_) {
        return;
    }
    const auto now = clock_();
    if (now - secondStart_ >= std::chrono::seconds(1) || now < secondStart_) {
        secondStart_ = now;
        keptThisSecond_ = 0;
    }
    if (keptThisSecond_ >= entriesPerSecond) {
        ++leftOutPending_;
        ++leftOutCount_;
        ++revision_;
        return;
    }
    ++keptThisSecond_;
    entries_.push_back(
        {now, direction, peer, bytes ? monitorText(*bytes) : std::string(), leftOutPending_});
    leftOutPending_ = 0;
    if (entries_.size() > capacity) {
        entries_.pop_front();
    }
    ++revision_;
    if (entryHandler_) {
        entryHandler_(entries_.back());
    }
}

void OscMonitor::clear() {
    entries_.clear();
    leftOutCount_ = 0;
    leftOutPending_ = 0;
    ++revision_;
}
