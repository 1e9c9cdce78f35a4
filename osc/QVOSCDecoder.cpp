#include "osc/QVOSCDecoder.h"

#include <limits>

#include "osc/QVOSCDataUtilities.h"
#include "osc/QVOSCPool.h"

// Offsets are int32 as in the readers' signatures but are computed in 64 bits, so no sum of an
// offset and a size read from the wire can overflow; a result beyond int32 counts as unreadable.

namespace {

constexpr int64_t kMaxOffset = std::numeric_limits<int32_t>::max();
constexpr size_t kBundleHeaderSize = 16;

// The offset `start` + `advance` if it lies within int32, else none.
std::optional<int32_t> advanced(int64_t start, int64_t advance) {
    int64_t end = start + advance;
    if (end > kMaxOffset) {
        return std::nullopt;
    }
    return static_cast<int32_t>(end);
}

// The four bytes at `start`, or none when fewer remain.
std::optional<QVOSCBytes> fourBytesAt(QVOSCBytes data, int32_t start, int32_t& ending) {
    if (start < 0 || static_cast<size_t>(start) > data.size() ||
        data.size() - static_cast<size_t>(start) < 4) {
        return std::nullopt;
    }
    std::optional<int32_t> end = advanced(start, 4);
    if (!end) {
        return std::nullopt;
    }
    ending = *end;
    return data.subspan(static_cast<size_t>(start), 4);
}

// The string reader: the text of the string block at `start`, as a view into `data`.
std::optional<std::string_view> textAt(QVOSCBytes data, int32_t start, int32_t& ending) {
    if (start < 0) {
        return std::nullopt;
    }
    const auto length = static_cast<int64_t>(data.size());
    // Only the last byte of each four-byte group is looked at.
    int64_t last = static_cast<int64_t>(start) + 3;
    while (last < length && data[static_cast<size_t>(last)] != 0) {
        last += 4;
    }
    if (last >= length) {
        return std::nullopt;
    }
    std::optional<int32_t> end = advanced(last, 1);
    if (!end) {
        return std::nullopt;
    }
    std::optional<std::string_view> text = QVOSCDataUtilities::stringViewFromDataBlock(
        data.subspan(static_cast<size_t>(start), static_cast<size_t>(last - start + 1)));
    if (text) {
        ending = *end;
    }
    return text;
}

// A message, or none; when none, `undecodable` tells whether the whole datagram is undecodable
// rather than just this element skipped. Typed as decodeData's result, so that it is returned
// from there without a copy.
std::shared_ptr<QVOSCPacket> readMessage(QVOSCBytes data, bool& undecodable) {
    undecodable = false;
    int32_t typeTagStart = 0;
    std::optional<std::string_view> address = textAt(data, 0, typeTagStart);
    if (!address) {
        return nullptr;
    }
    int32_t next = 0;
    std::optional<std::string_view> typeTags = textAt(data, typeTagStart, next);
    if (!typeTags) {
        return nullptr;
    }
    if (typeTags->empty() || (*typeTags)[0] != ',') {
        undecodable = typeTags->empty();
        return nullptr;
    }
    auto message = makePooled<QVOSCMessage>(QVOSCAddress::addressWithString(address));
    for (size_t count = 1; count < typeTags->size(); ++count) {
        // Handed straight to attachArgument, which ignores none: an argument that cannot be read
        // shows as a list that did not grow.
        message->attachArgument(
            QVOSCDecoder::argumentFromData(data, next, next, (*typeTags)[count]));
        if (message->attachedObjects().size() != count) {
            undecodable = true;
            return nullptr;
        }
    }
    return message;
}

// A bundle with its time stamp and no elements yet; none when too short for its header.
std::shared_ptr<QVOSCBundle> openBundle(QVOSCBytes data) {
    if (data.size() < kBundleHeaderSize) {
        return nullptr;
    }
    auto bundle = makePooled<QVOSCBundle>();
    bundle->setTimeStamp(QVOSCDataUtilities::dateFromNTPTimestamp(data.subspan(8, 8)));
    return bundle;
}

// A bundle whose elements are still being read.
struct BundleInProgress {
    QVOSCBundle* bundle;
    QVOSCBytes data;
    size_t offset;
};

// Walks nested bundles with an explicit stack: nesting is bounded only by the datagram's size.
// None when any part of the tree is undecodable.
std::shared_ptr<QVOSCBundle> readBundle(QVOSCBytes data) {
    std::shared_ptr<QVOSCBundle> root = openBundle(data);
    if (!root) {
        return nullptr;
    }
    std::vector<BundleInProgress> open{{root.get(), data, kBundleHeaderSize}};
    while (!open.empty()) {
        BundleInProgress& current = open.back();
        size_t length = current.data.size();
        // Elements are read while more than one byte is left, so a single trailing byte is
        // ignored and two or three make the size read below fail.
        if (current.offset + 1 >= length) {
            open.pop_back();
            continue;
        }
        if (length - current.offset < 4) {
            return nullptr;
        }
        int32_t size =
            QVOSCDataUtilities::intFromDataBlock(current.data.subspan(current.offset, 4));
        if (size < 0 || static_cast<size_t>(size) > length - current.offset - 4) {
            return nullptr;
        }
        QVOSCBytes element = current.data.subspan(current.offset + 4, static_cast<size_t>(size));
        current.offset += 4 + static_cast<size_t>(size);
        if (element.empty()) {
            continue;  // no packet: skipped
        }
        if (element[0] == '#') {
            std::shared_ptr<QVOSCBundle> nested = openBundle(element);
            if (!nested) {
                return nullptr;
            }
            QVOSCBundle* parent = current.bundle;
            open.push_back({nested.get(), element, kBundleHeaderSize});  // invalidates `current`
            parent->attachObject(std::move(nested));
            continue;
        }
        bool undecodable = false;
        std::shared_ptr<QVOSCPacket> message = readMessage(element, undecodable);
        if (undecodable) {
            return nullptr;
        }
        current.bundle->attachObject(std::move(message));
    }
    return root;
}

}  // namespace

std::shared_ptr<QVOSCPacket> QVOSCDecoder::decodeData(QVOSCBytes data) {
    if (data.empty()) {
        return nullptr;
    }
    if (data[0] == '#') {
        return readBundle(data);
    }
    bool undecodable = false;
    return readMessage(data, undecodable);
}

std::shared_ptr<QVOSCBundle> QVOSCDecoder::decodeRawBundle(QVOSCBytes data) {
    return readBundle(data);
}

std::shared_ptr<QVOSCMessage> QVOSCDecoder::decodeRawMessage(QVOSCBytes data) {
    bool undecodable = false;
    return std::static_pointer_cast<QVOSCMessage>(readMessage(data, undecodable));
}

std::shared_ptr<QVOSCArgument> QVOSCDecoder::argumentFromData(QVOSCBytes data, int32_t start,
                                                              int32_t& ending, char type) {
    switch (type) {
        case 'i': {
            std::optional<int32_t> value = intFromData(data, start, ending);
            return value ? QVOSCArgument::argumentWithInt(*value) : nullptr;
        }
        case 'f': {
            std::optional<QVOSCBytes> bytes = fourBytesAt(data, start, ending);
            if (!bytes) {
                return nullptr;
            }
            // The stored bytes are the wire bytes, so NaN payloads survive unchanged.
            auto argument = makePooled<QVOSCArgument>();
            argument->setType('f');
            argument->setData(*bytes);
            return argument;
        }
        case 's':
            return QVOSCArgument::argumentWithString(textAt(data, start, ending));
        case 'b': {
            std::optional<QVOSCData> blob = dataBlobFromData(data, start, ending);
            return blob ? QVOSCArgument::argumentWithDataBlob(QVOSCBytes(*blob)) : nullptr;
        }
        default:
            return nullptr;
    }
}

std::optional<std::string> QVOSCDecoder::stringFromData(QVOSCBytes data, int32_t start,
                                                        int32_t& ending) {
    std::optional<std::string_view> text = textAt(data, start, ending);
    if (!text) {
        return std::nullopt;
    }
    return std::string(*text);
}

std::optional<QVOSCData> QVOSCDecoder::dataBlobFromData(QVOSCBytes data, int32_t start,
                                                        int32_t& ending) {
    if (start < 0 || static_cast<size_t>(start) > data.size()) {
        return std::nullopt;
    }
    std::optional<QVOSCData> blob =
        QVOSCDataUtilities::blobFromDataBlock(data.subspan(static_cast<size_t>(start)));
    if (!blob) {
        return std::nullopt;
    }
    const auto size = static_cast<int64_t>(blob->size());
    std::optional<int32_t> end = advanced(start, 4 + size + (4 - size % 4) % 4);
    if (!end) {
        return std::nullopt;
    }
    ending = *end;
    return blob;
}

std::optional<int32_t> QVOSCDecoder::intFromData(QVOSCBytes data, int32_t start, int32_t& ending) {
    std::optional<QVOSCBytes> bytes = fourBytesAt(data, start, ending);
    if (!bytes) {
        return std::nullopt;
    }
    return QVOSCDataUtilities::intFromDataBlock(*bytes);
}

std::optional<float> QVOSCDecoder::floatFromData(QVOSCBytes data, int32_t start, int32_t& ending) {
    std::optional<QVOSCBytes> bytes = fourBytesAt(data, start, ending);
    if (!bytes) {
        return std::nullopt;
    }
    return QVOSCDataUtilities::floatFromDataBlock(*bytes);
}
