#include <gtest/gtest.h>

#include <bit>
#include <cmath>

#include "osc/QVOSCBundle.h"
#include "osc/QVOSCDataUtilities.h"
#include "osc/QVOSCMessage.h"
#include "tests/osc/OscTestSupport.h"

using osctest::bytes;

namespace {

std::shared_ptr<QVOSCMessage> messageTo(std::string_view address) {
    return QVOSCMessage::messageWithQVOSCAddress(QVOSCAddress::addressWithString(address));
}

QVOSCData dataOf(const QVOSCArgument& argument) {
    return QVOSCData(argument.data().begin(), argument.data().end());
}

QVOSCArgument argumentWithData(char type, const QVOSCData& data) {
    QVOSCArgument argument;
    argument.setType(type);
    argument.setData(data);
    return argument;
}

}  // namespace

TEST(Addresses, AreMadeFromTextOrComponents) {
    EXPECT_EQ(QVOSCAddress::addressWithString(std::nullopt), nullptr);
    EXPECT_EQ(QVOSCAddress::addressWithString("no/slash")->address(), "no/slash");
    EXPECT_EQ(QVOSCAddress::addressWithArray({"zandorex", "level"})->address(), "/zandorex/level");
    EXPECT_EQ(QVOSCAddress::addressWithArray({""})->address(), "/");
    EXPECT_EQ(QVOSCAddress::addressWithArray({})->address(), "");
    EXPECT_EQ(QVOSCAddress::addressWithString("")->packetizedData(), bytes("00 00 00 00"));
    EXPECT_EQ(QVOSCAddress::addressWithString("/a")->packetizedData(), bytes("2F 61 00 00"));
}

TEST(ArgumentValues, AreStoredAsWireBytesWithTheirType) {
    auto integer = QVOSCArgument::argumentWithInt(-2);
    EXPECT_EQ(integer->type(), 'i');
    EXPECT_EQ(dataOf(*integer), bytes("FF FF FF FE"));
    auto real = QVOSCArgument::argumentWithFloat(0.5f);
    EXPECT_EQ(real->type(), 'f');
    EXPECT_EQ(real->packetizedData(), bytes("3F 00 00 00"));
    auto text = QVOSCArgument::argumentWithString("hi");
    EXPECT_EQ(text->type(), 's');
    EXPECT_EQ(dataOf(*text), bytes("68 69 00 00"));
    EXPECT_EQ(text->stringValue(), "hi");
    auto blob = QVOSCArgument::argumentWithDataBlob(QVOSCBytes(bytes("0A 0B 0C")));
    EXPECT_EQ(blob->type(), 'b');
    EXPECT_EQ(dataOf(*blob), bytes("00 00 00 03 0A 0B 0C 00"));
    EXPECT_EQ(blob->dataBlobValue(), bytes("0A 0B 0C"));

    EXPECT_EQ(QVOSCArgument::argumentWithString(std::nullopt), nullptr);
    auto noBlob = QVOSCArgument::argumentWithDataBlob(std::nullopt);
    EXPECT_EQ(noBlob->type(), 'b');
    EXPECT_EQ(dataOf(*noBlob), bytes("00 00 00 00"));

    QVOSCArgument unset;
    EXPECT_EQ(unset.type(), 0);
    EXPECT_TRUE(unset.data().empty());
}

TEST(ArgumentValues, EachSetterReplacesTypeAndData) {
    QVOSCArgument argument(7);
    argument.setStringValue("abcd");
    EXPECT_EQ(argument.type(), 's');
    EXPECT_EQ(dataOf(argument), bytes("61 62 63 64 00 00 00 00"));
    argument.setFloatValue(-2.5f);
    EXPECT_EQ(argument.type(), 'f');
    EXPECT_EQ(dataOf(argument), bytes("C0 20 00 00"));
}

TEST(ArgumentValues, IntValueIsTheFloatValueTruncatedTowardZero) {
    EXPECT_EQ(QVOSCArgument(2.9f).intValue(), 2);
    EXPECT_EQ(QVOSCArgument(-2.9f).intValue(), -2);
    EXPECT_EQ(QVOSCArgument((1 << 24) + 1).intValue(), 1 << 24);
    EXPECT_EQ(QVOSCArgument((1 << 24) + 1).floatValue(), 16777216.0f);
    EXPECT_EQ(QVOSCArgument(-2147483648.0f).intValue(), INT32_MIN);
    EXPECT_EQ(QVOSCArgument(2147483520.0f).intValue(), 2147483520);
    EXPECT_EQ(QVOSCArgument(INT32_MIN).intValue(), INT32_MIN);
}

TEST(ArgumentValues, IntValueOutsideTheInt32RangeOrOfNaNIsTheSmallestInt) {
    EXPECT_EQ(QVOSCArgument(INT32_MAX).intValue(), INT32_MIN);  // its float is 2^31
    EXPECT_EQ(QVOSCArgument(2147483648.0f).intValue(), INT32_MIN);
    EXPECT_EQ(QVOSCArgument(-2147483904.0f).intValue(), INT32_MIN);
    EXPECT_EQ(QVOSCArgument(3e38f).intValue(), INT32_MIN);
    EXPECT_EQ(QVOSCArgument(INFINITY).intValue(), INT32_MIN);
    EXPECT_EQ(QVOSCArgument(-INFINITY).intValue(), INT32_MIN);
    EXPECT_EQ(QVOSCArgument(NAN).intValue(), INT32_MIN);
}

TEST(ArgumentValues, NumbersOfTextsAndBlobsAreZeroAndTextsDecodeAnyData) {
    QVOSCArgument text(std::string_view("12"));
    EXPECT_EQ(text.intValue(), 0);
    EXPECT_EQ(text.floatValue(), 0.0f);
    QVOSCArgument blob(bytes("01"));
    EXPECT_EQ(blob.intValue(), 0);
    EXPECT_EQ(blob.floatValue(), 0.0f);
    EXPECT_EQ(argumentWithData('i', bytes("41 42 43 44")).stringValue(), "ABCD");
    EXPECT_EQ(QVOSCArgument(0).dataBlobValue(), bytes(""));
    EXPECT_EQ(QVOSCArgument(1).dataBlobValue(), std::nullopt);  // announces one byte, holds none
    EXPECT_EQ(argumentWithData('s', bytes("C3 A9 00 00")).stringValue(), std::nullopt);
}

TEST(ArgumentDescriptions, ShowTheTypeAndTheValue) {
    EXPECT_EQ(QVOSCArgument(5).description(), "i { 5 }");
    EXPECT_EQ(QVOSCArgument(INT32_MAX).description(), "i { -2147483648 }");
    EXPECT_EQ(QVOSCArgument(10.0f).description(), "f { 10.000000 }");
    EXPECT_EQ(QVOSCArgument(0.5f).description(), "f { 0.500000 }");
    EXPECT_EQ(QVOSCArgument(-1.0f / 3).description(), "f { -0.333333 }");
    EXPECT_EQ(QVOSCArgument(std::string_view("hello")).description(), "s { hello }");
    EXPECT_EQ(QVOSCArgument(bytes("0A 0B FF")).description(), "b { <0a0bff> }");
    EXPECT_EQ(QVOSCArgument(bytes("")).description(), "b { <> }");
    EXPECT_EQ(QVOSCArgument().description(), "no arg value");
    EXPECT_EQ(argumentWithData('x', bytes("00 00 00 01")).description(), "no arg value");
    EXPECT_EQ(argumentWithData('s', bytes("C3 A9 00 00")).description(), "s { (null) }");
    EXPECT_EQ(argumentWithData('b', bytes("00 00 00 09")).description(), "b { (null) }");
}

TEST(MessageEncoding, MatchesTheWorkedExamples) {
    EXPECT_EQ(osctest::levelMessage()->packetizedData(), osctest::levelMessageBytes());

    auto message = messageTo("/zandorex/ab");
    message->attachArguments(
        {QVOSCArgument::argumentWithInt(1), QVOSCArgument::argumentWithString("hi")});
    EXPECT_EQ(message->packetizedData(), bytes("2F 7A 61 6E 64 6F 72 65 78 2F 61 62 00 00 00 00"
                                               "2C 69 73 00 00 00 00 01 68 69 00 00"));
}

TEST(MessageEncoding, WritesTheTypeTagBlockEvenWithoutArguments) {
    EXPECT_EQ(messageTo("/x")->packetizedData(), bytes("2F 78 00 00 2C 00 00 00"));
    EXPECT_EQ(messageTo("")->packetizedData(), bytes("00 00 00 00 2C 00 00 00"));

    auto message = messageTo("/x");
    message->attachArguments({QVOSCArgument::argumentWithInt(1),
                              QVOSCArgument::argumentWithFloat(0.5f),
                              QVOSCArgument::argumentWithString("")});
    EXPECT_EQ(message->typeTagString(), ",ifs");
    EXPECT_EQ(message->packetizedData(),
              bytes("2F 78 00 00 2C 69 66 73 00 00 00 00 00 00 00 01 3F 00 00 00 00 00 00 00"));
}

TEST(MessageEncoding, AnAbsentOrNonAsciiAddressIsWrittenAsTheEmptyText) {
    auto message = messageTo("/\xC3\xA9");
    EXPECT_EQ(message->packetizedData(), bytes("00 00 00 00 2C 00 00 00"));
    message->setAddress(nullptr);
    EXPECT_EQ(message->packetizedData(), bytes("00 00 00 00 2C 00 00 00"));
    EXPECT_EQ(message->stringRepresentation(), "MESSAGE:\naddress:(null)\n types:,");
}

TEST(MessageEncoding, OneByteOutsideAsciiAnywhereEmptiesItsText) {
    // The check reads whole words, so every length and position around them is tried.
    for (size_t length = 1; length <= 24; ++length) {
        for (size_t position = 0; position < length; ++position) {
            std::string address(length, 'a');
            address[position] = '\xE9';
            const QVOSCData encoded = messageTo(address)->packetizedData();
            EXPECT_EQ(encoded, bytes("00 00 00 00 2C 00 00 00")) << length << " " << position;

            address[position] = 'b';
            const QVOSCData data = QVOSCDataUtilities::dataBlockFromString(address);
            EXPECT_EQ(QVOSCDataUtilities::stringFromDataBlock(data), address);
            QVOSCData altered = data;
            altered[position] = 0x80;
            EXPECT_EQ(QVOSCDataUtilities::stringFromDataBlock(altered), std::nullopt);
        }
    }
    for (size_t count = 1; count <= 20; ++count) {
        auto message = messageTo("/t");
        for (size_t index = 0; index < count; ++index) {
            message->attachArgument(QVOSCArgument::argumentWithInt(0));
        }
        auto odd = QVOSCArgument::argumentWithInt(0);
        odd->setType('\xE9');
        message->attachArgument(odd);
        const QVOSCData encoded = message->packetizedData();
        ASSERT_GE(encoded.size(), 8u);
        EXPECT_EQ(QVOSCData(encoded.begin() + 4, encoded.begin() + 8), bytes("00 00 00 00"))
            << count;
    }
}

TEST(MessageEncoding, IsMadeAfreshFromSharedParts) {
    auto address = QVOSCAddress::addressWithString("/a");
    auto argument = QVOSCArgument::argumentWithInt(7);
    auto message = QVOSCMessage::messageWithQVOSCAddress(address);
    message->attachArgument(argument);
    message->attachArgument(argument);
    EXPECT_EQ(message->packetizedData(), bytes("2F 61 00 00 2C 69 69 00 00 00 00 07 00 00 00 07"));

    address->setAddress("/b");
    argument->setFloatValue(1.0f);
    EXPECT_EQ(message->packetizedData(), bytes("2F 62 00 00 2C 66 66 00 3F 80 00 00 3F 80 00 00"));
}

TEST(MessageAttachments, KeepOrderAndIgnoreNothingAndNonArguments) {
    auto message = messageTo("/a");
    message->attachArgument(nullptr);
    message->attachObject(nullptr);
    message->attachObject(osctest::levelMessage());
    message->attachObjects({QVOSCArgument::argumentWithString("s"),
                            QVOSCBundle::bundleWithTimestamp(distantPast),
                            QVOSCArgument::argumentWithInt(2)});
    ASSERT_EQ(message->attachedObjects().size(), 2u);
    EXPECT_EQ(message->typeTagString(), ",si");
    EXPECT_EQ(message->arguments()[1]->intValue(), 2);
    EXPECT_EQ(QVOSCMessage::messageWithQVOSCAddress(nullptr), nullptr);
}

TEST(MessageText, ListsAddressTypesAndEachArgument) {
    EXPECT_EQ(osctest::levelMessage()->stringRepresentation(),
              "MESSAGE:\naddress:/zandorex/level\n types:,f\nf { 10.000000 }");
    EXPECT_EQ(messageTo("/x")->stringRepresentation(), "MESSAGE:\naddress:/x\n types:,");

    auto message = messageTo("/m");
    message->attachArguments({QVOSCArgument::argumentWithInt(-3),
                              QVOSCArgument::argumentWithString("two words"),
                              QVOSCArgument::argumentWithDataBlob(QVOSCBytes(bytes("00 FF")))});
    EXPECT_EQ(message->stringRepresentation(),
              "MESSAGE:\naddress:/m\n types:,isb\ni { -3 }\ns { two words }\nb { <00ff> }");
}

TEST(BasePacket, HasNoBytesAndAFixedText) {
    QVOSCPacket packet;
    EXPECT_TRUE(packet.packetizedData().empty());
    EXPECT_EQ(packet.stringRepresentation(), "abstract parent class: QVOSCPacket");
}
