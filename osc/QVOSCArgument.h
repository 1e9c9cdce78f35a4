#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "osc/QVOSCObject.h"

// One typed message argument, stored already encoded: `type` is 'i', 'f', 's' or 'b' (0 when
// unset) and `data` holds the value's wire bytes exactly as they follow the type tag.
class QVOSCArgument : public QVOSCObject {
  public:
    QVOSCArgument() = default;
    explicit QVOSCArgument(int32_t value);          // initWithInt
    explicit QVOSCArgument(float value);            // initWithFloat
    explicit QVOSCArgument(std::string_view text);  // initWithString
    explicit QVOSCArgument(const QVOSCData& blob);  // initWithDataBlob

    static std::shared_ptr<QVOSCArgument> argumentWithInt(int32_t value);
    static std::shared_ptr<QVOSCArgument> argumentWithFloat(float value);
    // Nothing when `text` is nothing.
    static std::shared_ptr<QVOSCArgument> argumentWithString(std::optional<std::string_view> text);
    // Nothing is stored as the empty blob.
    static std::shared_ptr<QVOSCArgument> argumentWithDataBlob(std::optional<QVOSCBytes> blob);

    void setIntValue(int32_t value);
    void setFloatValue(float value);
    void setStringValue(std::string_view text);
    void setDataBlobValue(QVOSCBytes blob);

    int32_t intValue() const;
    float floatValue() const;
    std::optional<std::string> stringValue() const;
    std::optional<QVOSCData> dataBlobValue() const;

    char type() const { return type_; }
    void setType(char type) { type_ = type; }
    const QVOSCData& data() const { return data_; }
    void setData(QVOSCData data) { data_ = std::move(data); }

    void appendPacketizedData(QVOSCData& out) const override;
    // "i { 5 }", "f { 10.000000 }", "s { hello }", "b { <0a0bff> }" (the blob's bytes as
    // lowercase hexadecimal digits), "(null)" in place of a value the data does not hold, and
    // "no arg value" for any other type.
    std::string description() const;

  private:
    char type_ = 0;
    QVOSCData data_;
};
