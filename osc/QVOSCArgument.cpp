#include "osc/QVOSCArgument.h"

#include <bit>
#include <cstdio>

#include "osc/QVOSCDataUtilities.h"
#include "osc/QVOSCPool.h"

void QVOSCArgument::Bytes::assign(QVOSCBytes bytes) {
    if (bytes.size() <= kInlineSize) {
        QVOSCDataUtilities::copyBytes(bytes, inline_.data());
    } else {
        heap_.assign(bytes.begin(), bytes.end());
    }
    size_ = bytes.size();
}

QVOSCArgument::QVOSCArgument(int32_t value) {
    setIntValue(value);
}

QVOSCArgument::QVOSCArgument(float value) {
    setFloatValue(value);
}

QVOSCArgument::QVOSCArgument(std::string_view text) {
    setStringValue(text);
}

QVOSCArgument::QVOSCArgument(const QVOSCData& blob) {
    setDataBlobValue(blob);
}

std::shared_ptr<QVOSCArgument> QVOSCArgument::argumentWithString(
    std::optional<std::string_view> text) {
    if (!text) {
        return nullptr;
    }
    return makePooled<QVOSCArgument>(*text);
}

std::shared_ptr<QVOSCArgument> QVOSCArgument::argumentWithDataBlob(std::optional<QVOSCBytes> blob) {
    auto argument = makePooled<QVOSCArgument>();
    argument->setDataBlobValue(blob.value_or(QVOSCBytes{}));
    return argument;
}

void QVOSCArgument::setIntValue(int32_t value) {
    type_ = 'i';
    data_.assign(QVOSCDataUtilities::bytesFromUInt(static_cast<uint32_t>(value)));
}

void QVOSCArgument::setFloatValue(float value) {
    type_ = 'f';
    data_.assign(QVOSCDataUtilities::bytesFromUInt(std::bit_cast<uint32_t>(value)));
}

void QVOSCArgument::setStringValue(std::string_view text) {
    type_ = 's';
    data_.assign(QVOSCDataUtilities::dataBlockFromString(text));
}

void QVOSCArgument::setDataBlobValue(QVOSCBytes blob) {
    type_ = 'b';
    data_.assign(QVOSCDataUtilities::dataBlockFromBlob(blob));
}

int32_t QVOSCArgument::intValue() const {
    float value = floatValue();
    // Written as a range test so that NaN fails it too; the cast below is then always defined.
    if (!(value >= -2147483648.0f && value < 2147483648.0f)) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(value);
}

float QVOSCArgument::floatValue() const {
    switch (type_) {
        case 'i':
            return static_cast<float>(QVOSCDataUtilities::intFromDataBlock(data()));
        case 'f':
            return QVOSCDataUtilities::floatFromDataBlock(data());
        default:
            return 0.0f;
    }
}

std::optional<std::string> QVOSCArgument::stringValue() const {
    return QVOSCDataUtilities::stringFromDataBlock(data());
}

std::optional<QVOSCData> QVOSCArgument::dataBlobValue() const {
    return QVOSCDataUtilities::blobFromDataBlock(data());
}

void QVOSCArgument::appendPacketizedData(QVOSCData& out) const {
    QVOSCBytes bytes = data();
    out.insert(out.end(), bytes.begin(), bytes.end());
}

namespace {

std::string blobText(const std::optional<QVOSCData>& blob) {
    if (!blob) {
        return "(null)";
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text = "<";
    for (uint8_t byte : *blob) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0f];
    }
    text += '>';
    return text;
}

std::string valueText(char type, const std::string& value) {
    std::string text(1, type);
    text += " { ";
    text += value;
    text += " }";
    return text;
}

}  // namespace

std::string QVOSCArgument::description() const {
    switch (type_) {
        case 'i':
            return valueText(type_, std::to_string(intValue()));
        case 'f': {
            char digits[64];
            std::snprintf(digits, sizeof digits, "%f", static_cast<double>(floatValue()));
            return valueText(type_, digits);
        }
        case 's':
            return valueText(type_, stringValue().value_or("(null)"));
        case 'b':
            return valueText(type_, blobText(dataBlobValue()));
        default:
            return "no arg value";
    }
}
