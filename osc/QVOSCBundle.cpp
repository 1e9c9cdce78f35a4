#include "osc/QVOSCBundle.h"

#include <cstdio>

#include "osc/QVOSCDataUtilities.h"
#include "osc/QVOSCPool.h"

// Bundles may nest as deep as a datagram allows (thousands of levels), so encoding, printing and
// destruction walk the tree with an explicit stack instead of recursing.

namespace {

// ISO 8601 in UTC, with 3, 6 or 9 fractional digits only when there is a sub-second part.
std::string timeText(QVOSCTimePoint time) {
    constexpr int64_t kNanosPerSecond = 1'000'000'000;
    constexpr int64_t kSecondsPerDay = 86'400;
    int64_t nanos =
        std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count();
    int64_t seconds = nanos / kNanosPerSecond;
    int64_t subSecond = nanos % kNanosPerSecond;
    if (subSecond < 0) {
        seconds -= 1;
        subSecond += kNanosPerSecond;
    }
    int64_t days = seconds / kSecondsPerDay;
    int64_t secondOfDay = seconds % kSecondsPerDay;
    if (secondOfDay < 0) {
        days -= 1;
        secondOfDay += kSecondsPerDay;
    }
    // Civil date from days since 1970-01-01 (proleptic Gregorian calendar).
    int64_t z = days + 719'468;
    int64_t era = (z >= 0 ? z : z - 146'096) / 146'097;
    int64_t dayOfEra = z - era * 146'097;
    int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
    int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);

    char text[64];
    int length = std::snprintf(
        text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld",
        static_cast<long long>(year), static_cast<long long>(month), static_cast<long long>(day),
        static_cast<long long>(secondOfDay / 3600), static_cast<long long>(secondOfDay / 60 % 60),
        static_cast<long long>(secondOfDay % 60));
    if (subSecond % 1'000'000 == 0 && subSecond != 0) {
        std::snprintf(text + length, sizeof text - length, ".%03lld",
                      static_cast<long long>(subSecond / 1'000'000));
    } else if (subSecond % 1'000 == 0 && subSecond != 0) {
        std::snprintf(text + length, sizeof text - length, ".%06lld",
                      static_cast<long long>(subSecond / 1'000));
    } else if (subSecond != 0) {
        std::snprintf(text + length, sizeof text - length, ".%09lld",
                      static_cast<long long>(subSecond));
    }
    return std::string(text) + 'Z';
}

std::string timeStampText(const std::optional<QVOSCTimePoint>& timeStamp) {
    if (!timeStamp) {
        return "(null)";
    }
    if (*timeStamp == distantPast) {
        return "immediately";
    }
    return timeText(*timeStamp);
}

// A bundle whose elements are still being walked, and for encoding where its size field is.
struct OpenBundle {
    const QVOSCBundle* bundle;
    size_t nextElement;
    size_t sizeFieldOffset;
};

constexpr size_t kNoSizeField = SIZE_MAX;

void patchSize(QVOSCData& out, size_t sizeFieldOffset) {
    auto size = static_cast<uint32_t>(out.size() - sizeFieldOffset - 4);
    out[sizeFieldOffset] = static_cast<uint8_t>(size >> 24);
    out[sizeFieldOffset + 1] = static_cast<uint8_t>(size >> 16);
    out[sizeFieldOffset + 2] = static_cast<uint8_t>(size >> 8);
    out[sizeFieldOffset + 3] = static_cast<uint8_t>(size);
}

}  // namespace

QVOSCBundle::QVOSCBundle(QVOSCTimePoint timeStamp) : timeStamp_(timeStamp) {}

QVOSCBundle::~QVOSCBundle() {
    // Takes over the elements of every nested bundle that dies with this one, so that each of
    // them is destroyed already empty.
    std::vector<std::shared_ptr<QVOSCObject>> pending(
        std::make_move_iterator(containedObjects.begin()),
        std::make_move_iterator(containedObjects.end()));
    while (!pending.empty()) {
        std::shared_ptr<QVOSCObject> object = std::move(pending.back());
        pending.pop_back();
        if (object.use_count() == 1) {
            if (auto* bundle = dynamic_cast<QVOSCBundle*>(object.get())) {
                for (std::shared_ptr<QVOSCObject>& element : bundle->containedObjects) {
                    pending.push_back(std::move(element));
                }
                bundle->containedObjects.clear();
            }
        }
    }
}

std::shared_ptr<QVOSCBundle> QVOSCBundle::bundleWithTimestamp(QVOSCTimePoint timeStamp) {
    return makePooled<QVOSCBundle>(timeStamp);
}

void QVOSCBundle::appendHeader(QVOSCData& out) const {
    QVOSCDataUtilities::appendString(out, "#bundle");
    QVOSCDataUtilities::appendNtpTimestamp(out, timeStamp_.value_or(distantPast));
}

void QVOSCBundle::appendPacketizedData(QVOSCData& out) const {
    if (containedObjects.empty()) {
        return;
    }
    appendHeader(out);
    std::vector<OpenBundle> open{{this, 0, kNoSizeField}};
    while (!open.empty()) {
        OpenBundle& current = open.back();
        if (current.nextElement == current.bundle->containedObjects.size()) {
            if (current.sizeFieldOffset != kNoSizeField) {
                patchSize(out, current.sizeFieldOffset);
            }
            open.pop_back();
            continue;
        }
        const QVOSCObject& element = *current.bundle->containedObjects[current.nextElement++];
        size_t sizeFieldOffset = out.size();
        QVOSCDataUtilities::appendUInt(out, 0);
        auto* nested = dynamic_cast<const QVOSCBundle*>(&element);
        if (nested && !nested->containedObjects.empty()) {
            nested->appendHeader(out);
            open.push_back({nested, 0, sizeFieldOffset});  // `current` is not used after this
        } else {
            element.appendPacketizedData(out);
            patchSize(out, sizeFieldOffset);
        }
    }
}

std::string QVOSCBundle::stringRepresentation() const {
    std::string text;
    std::vector<OpenBundle> open{{this, 0, kNoSizeField}};
    text += "BUNDLE:\ntime: ";
    text += timeStampText(timeStamp_);
    while (!open.empty()) {
        OpenBundle& current = open.back();
        if (current.nextElement == current.bundle->containedObjects.size()) {
            open.pop_back();
            continue;
        }
        const QVOSCObject& element = *current.bundle->containedObjects[current.nextElement++];
        text += "\n---\n";
        // canHold admits packets only.
        const auto& packet = static_cast<const QVOSCPacket&>(element);
        if (auto* nested = dynamic_cast<const QVOSCBundle*>(&packet)) {
            text += "BUNDLE:\ntime: ";
            text += timeStampText(nested->timeStamp_);
            open.push_back({nested, 0, kNoSizeField});
        } else {
            text += packet.stringRepresentation();
        }
    }
    return text;
}

bool QVOSCBundle::canHold(const QVOSCObject& object) const {
    return dynamic_cast<const QVOSCPacket*>(&object) != nullptr;
}
