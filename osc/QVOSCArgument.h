#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "osc/QVOSCObject.h"
#include "osc/QVOSCPool.h"

// One typed message argument, stored already encoded: `type` is 'i', 'f', 's' or 'b' (0 when
// unset) and `data` holds the value's wire bytes exactly as they follow the type tag.
class QVOSCArgument : public QVOSCObject {
  public:
    QVOSCArgument() = default;
    explicit QVOSCArgument(int32_t value);          // initWithInt
    explicit QVOSCArgument(float value);            // initWithFloat
    explicit QVOSCArgument(std::string_view text);  // initWithString
    explicit QVOSCArgument(const QVOSCData& blob);  // initWithDataBlob

    // Inline, so that the new argument's pointer stays in registers on its way to a message.
    static std::shared_ptr<QVOSCArgument> argumentWithInt(int32_t value) {
        return makePooled<QVOSCArgument>(value);
    }
    static std::shared_ptr<QVOSCArgument> argumentWithFloat(float value) {
        return makePooled<QVOSCArgument>(value);
    }
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
    QVOSCBytes data() const { return data_.view(); }
    void setData(QVOSCBytes data) { data_.assign(data); }
    void setData(const QVOSCData& data) { data_.assign(data); }

    void appendPacketizedData(QVOSCData& out) const override;
    // "i { 5 }", "f { 10.000000 }", "s { hello }", "b { <0a0bff> }" (the blob's bytes as
    // lowercase hexadecimal digits), "(null)" in place of a value the data does not hold, and
    // "no arg value" for any other type.
    std::string description() const;

  private:
    // The wire bytes. An int, a float or a short text fits in the object itself, so that making
    // such an argument takes no buffer of its own; longer values go to a heap buffer.
    class Bytes {
      public:
        QVOSCBytes view() const {
            return {size_ <= kInlineSize ? inline_.data() : heap_.data(), size_};
        }
        void assign(QVOSCBytes bytes);

      private:
        static constexpr size_t kInlineSize = 16;
        std::array<uint8_t, kInlineSize> inline_{};
        size_t size_ = 0;
        QVOSCData heap_;
    };

    char type_ = 0;
    Bytes data_;
};
