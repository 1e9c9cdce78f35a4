// The page's state text: whatever a device name, a preset file or a peer puts in it, a browser's
// JSON parser reads back the same values, and a reading that is no number reads as null.
#include "app/web/JsonWriter.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

TEST(JsonWriterTest, HostileTextAndOddNumbersReadBackAsWritten) {
    const std::vector<std::string> texts = {
        "",
        R"(quote " and backslash \ and <em>markup</em>)",
        std::string("nul \0 bell \a tab \t newline \n escape \x1b unit \x1f delete \x7f", 53),
        "Focusrite Scarlett 2i2 – Analog Stereo · größer 🎛",
        "line separator \u2028 paragraph \u2029",
    };
    JsonWriter writer(256);
    writer.beginObject().key("texts").beginArray();
    for (const std::string& text : texts) {
        writer.text(text);
    }
    writer.endArray().key("numbers").beginArray();
    writer.number(-0.12345).number(2.5, 0).number(123456.789, 4).number(std::nan(""));
    writer.number(std::numeric_limits<double>::infinity()).number(std::optional<double>());
    writer.endArray().key(R"(odd "key")").beginObject().key("on").flag(true).key("gone").null();
    writer.endObject().endObject();

    const QByteArray json = writer.take();
    // Qt's parser lets a raw control character pass; a browser's JSON.parse refuses the message.
    EXPECT_TRUE(std::none_of(json.begin(), json.end(), [](char byte) {
        return static_cast<unsigned char>(byte) < 0x20;
    })) << json.toStdString();
    QJsonParseError error;
    const QJsonObject read = QJsonDocument::fromJson(json, &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << json.toStdString();
    const QJsonArray readTexts = read["texts"].toArray();
    ASSERT_EQ(readTexts.size(), std::ssize(texts));
    for (size_t index = 0; index < texts.size(); ++index) {
        EXPECT_EQ(readTexts[qsizetype(index)].toString(), QString::fromStdString(texts[index]))
            << index;
    }
    const QJsonArray numbers = read["numbers"].toArray();
    ASSERT_EQ(numbers.size(), 6);
    EXPECT_DOUBLE_EQ(numbers[0].toDouble(), -0.123);
    EXPECT_DOUBLE_EQ(numbers[1].toDouble(), 3.0);
    EXPECT_DOUBLE_EQ(numbers[2].toDouble(), 123456.789);
    for (qsizetype index = 3; index < 6; ++index) {
        EXPECT_TRUE(numbers[index].isNull()) << index;
    }
    const QJsonObject odd = read[R"(odd "key")"].toObject();
    EXPECT_TRUE(odd["on"].toBool());
    EXPECT_TRUE(odd.contains("gone") && odd["gone"].isNull());
}

}  // namespace
