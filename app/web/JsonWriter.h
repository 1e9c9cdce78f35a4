#pragma once

#include <QByteArray>
#include <optional>
#include <string_view>

// JSON text written straight out, for the message the page gets every tick: Qt's JSON classes
// build a tree of values and turn every key into UTF-16 first, which costs several times the
// text itself twenty times a second. Text is escaped as JSON wants: quotes, backslashes and
// control characters; the rest of the UTF-8 goes as it is.
class JsonWriter {
  public:
    // Room for a message of about `bytes` without growing.
    explicit JsonWriter(qsizetype bytes) { text_.reserve(bytes); }

    JsonWriter& beginObject();
    JsonWriter& endObject();
    JsonWriter& beginArray();
    JsonWriter& endArray();
    // The name of the object's next member.
    JsonWriter& key(std::string_view name);
    JsonWriter& text(std::string_view value);
    // Rounded to `decimals` places (0 to 4), written in the fewest digits that give that back.
    JsonWriter& number(double value, int decimals = 3);
    // Null when there is none.
    JsonWriter& number(const std::optional<double>& value, int decimals = 3);
    JsonWriter& flag(bool value);
    JsonWriter& null();

    QByteArray take() { return std::move(text_); }

  private:
    // A comma before a member or an element that follows another.
    void next();

    QByteArray text_;
    bool follows_ = false;
};
