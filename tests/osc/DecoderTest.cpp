#include <gtest/gtest.h>

#include <cmath>

#include "osc/QVOSCDecoder.h"
#include "tests/osc/OscTestSupport.h"

using osctest::bytes;
using osctest::concat;
using osctest::element;

namespace {

std::shared_ptr<QVOSCPacket> decode(const QVOSCData& data) {
    return QVOSCDecoder::decodeData(data);
}

std::shared_ptr<QVOSCMessage> decodeMessage(const QVOSCData& data) {
    return std::dynamic_pointer_cast<QVOSCMessage>(decode(data));
}

std::shared_ptr<QVOSCBundle> decodeBundle(const QVOSCData& data) {
    return std::dynamic_pointer_cast<QVOSCBundle>(decode(data));
}

const QVOSCData kMessageA = bytes("2F 61 00 00 2C 66 00 00 3F 80 00 00");  // "/a" 1.0
const QVOSCData kAddressOnly = bytes("2F 61 00 00");
const QVOSCData kEmptyTypeTags = bytes("2F 61 00 00 00 00 00 00");
const QVOSCData kUnknownType = bytes("2F 61 00 00 2C 78 00 00");

}  // namespace

TEST(DecodingMessages, ReadsAddressAndArguments) {
    auto message = decodeMessage(kMessageA);
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->address()->address(), "/a");
    ASSERT_EQ(message->arguments().size(), 1u);
    EXPECT_EQ(message->arguments()[0]->floatValue(), 1.0f);

    auto mixed =
        decodeMessage(bytes("00 00 00 00 2C 69 73 62 66 00 00 00 FF FF FF F9"
                            "61 62 63 64 00 00 00 00 00 00 00 03 0A 0B 0C 00 C0 20 00 00"));
    ASSERT_NE(mixed, nullptr);
    EXPECT_EQ(mixed->address()->address(), "");  // no condition on the address text
    EXPECT_EQ(mixed->stringRepresentation(),
              "MESSAGE:\naddress:\n types:,isbf\ni { -7 }\ns { abcd }\nb { <0a0b0c> }\nf { "
              "-2.500000 }");
}

TEST(DecodingMessages, ToleratesZerosAroundTheTypeTagsAndTrailingBytes) {
    auto leadingZero = decodeMessage(bytes("2F 61 00 00 00 2C 00 00"));
    ASSERT_NE(leadingZero, nullptr);
    EXPECT_EQ(leadingZero->address()->address(), "/a");
    EXPECT_TRUE(leadingZero->attachedObjects().empty());
    auto noArguments = decodeMessage(bytes("2F 61 00 00 2C 00 00 00"));
    ASSERT_NE(noArguments, nullptr);
    EXPECT_TRUE(noArguments->attachedObjects().empty());

    auto trailing = decodeMessage(bytes("2F 61 00 00 2C 69 00 00 00 00 00 07 FF"));
    ASSERT_NE(trailing, nullptr);
    EXPECT_EQ(trailing->arguments()[0]->intValue(), 7);
}

TEST(DecodingMessages, OnlyTheLastByteOfEachGroupEndsAString) {
    // "/a" followed by zero bytes that are not in the fourth position, then more text.
    auto message = decodeMessage(bytes("2F 61 00 62 63 64 65 00 2C 00 00 00"));
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->address()->address(), std::string("/a\0bcde", 7));
    EXPECT_EQ(decode(bytes("2F 61 00")), nullptr);
}

TEST(DecodingMessages, GivesNothingWithoutAReadableAddressOrTypeTags) {
    EXPECT_EQ(decode(bytes("")), nullptr);
    EXPECT_EQ(decode(kAddressOnly), nullptr);
    EXPECT_EQ(decode(bytes("2F 61 00 00 66 00 00 00")), nullptr);  // tags lack the ','
    EXPECT_EQ(decode(bytes("2F E1 00 00 2C 00 00 00")), nullptr);  // address not ASCII
    EXPECT_EQ(decode(bytes("2F 61 00 00 2C E1 00 00")), nullptr);  // tags not ASCII
    EXPECT_EQ(decode(kEmptyTypeTags), nullptr);
    EXPECT_EQ(decode(kUnknownType), nullptr);
}

TEST(DecodingMessages, GivesNothingWhenAnArgumentCannotBeRead) {
    EXPECT_EQ(decode(bytes("2F 61 00 00 2C 69 00 00 00 00")), nullptr);
    EXPECT_EQ(decode(bytes("2F 61 00 00 2C 66 00 00 3F 80 00")), nullptr);
    EXPECT_EQ(decode(bytes("2F 61 00 00 2C 73 00 00 61 62 63 64")), nullptr);
    EXPECT_EQ(decode(bytes("2F 61 00 00 2C 73 00 00 61 62 C3 00")), nullptr);
    EXPECT_EQ(decode(bytes("2F 61 00 00 2C 62 00 00 00 00 00 05 01 02 03 04")), nullptr);
    EXPECT_EQ(decode(bytes("2F 61 00 00 2C 62 00 00 FF FF FF FF")), nullptr);
    EXPECT_EQ(decode(bytes("2F 61 00 00 2C 62 00 00 00 00")), nullptr);
    EXPECT_EQ(decode(bytes("2F 61 00 00 2C 69 54 00 00 00 00 01")),
              nullptr);  // 'T' carries no bytes
    // A zero character between type characters is a type of its own, and unknown.
    EXPECT_EQ(decode(bytes("2F 61 00 00 2C 69 00 69 00 00 00 00 00 00 00 01")), nullptr);
}

TEST(DecodingMessages, ArgumentsReencodeToTheirNormalForm) {
    // A blob's padding is not checked, and it is written back as zeros.
    auto message = decodeMessage(bytes("2F 61 00 00 2C 62 00 00 00 00 00 01 0A FF FF FF"));
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->packetizedData(), bytes("2F 61 00 00 2C 62 00 00 00 00 00 01 0A 00 00 00"));
    // NaN payloads pass through.
    auto nan = decodeMessage(bytes("2F 61 00 00 2C 66 00 00 7F C0 12 34"));
    ASSERT_NE(nan, nullptr);
    EXPECT_TRUE(std::isnan(nan->arguments()[0]->floatValue()));
    EXPECT_EQ(nan->packetizedData(), bytes("2F 61 00 00 2C 66 00 00 7F C0 12 34"));
}

TEST(ValueReaders, AdvanceAsTheWireFormatSays) {
    int32_t next = -1;
    EXPECT_EQ(QVOSCDecoder::stringFromData(bytes("FF 61 62 63 64 00 00 00 00"), 1, next), "abcd");
    EXPECT_EQ(next, 9);
    EXPECT_EQ(QVOSCDecoder::stringFromData(bytes("61 62 63 00"), 0, next), "abc");
    EXPECT_EQ(next, 4);

    const QVOSCData blobs = bytes(
        "00 00 00 05 01 02 03 04 05 00 00 00 00 00 00 04 01 02 03 04"
        "00 00 00 00");
    EXPECT_EQ(QVOSCDecoder::dataBlobFromData(blobs, 0, next), bytes("01 02 03 04 05"));
    EXPECT_EQ(next, 12);
    EXPECT_EQ(QVOSCDecoder::dataBlobFromData(blobs, 12, next), bytes("01 02 03 04"));
    EXPECT_EQ(next, 20);
    EXPECT_EQ(QVOSCDecoder::dataBlobFromData(blobs, 20, next), bytes(""));
    EXPECT_EQ(next, 24);

    EXPECT_EQ(QVOSCDecoder::intFromData(blobs, 16, next), 0x01020304);
    EXPECT_EQ(next, 20);
    EXPECT_EQ(QVOSCDecoder::floatFromData(bytes("00 C0 20 00 00"), 1, next), -2.5f);
    EXPECT_EQ(next, 5);

    auto argument = QVOSCDecoder::argumentFromData(bytes("2C 00 00 00 68 69 00 00"), 4, next, 's');
    ASSERT_NE(argument, nullptr);
    EXPECT_EQ(argument->stringValue(), "hi");
    EXPECT_EQ(next, 8);
}

TEST(ValueReaders, RefuseOffsetsOutsideTheBuffer) {
    const QVOSCData data = bytes("00 00 00 01 00 00 00 00");
    int32_t next = 99;
    EXPECT_EQ(QVOSCDecoder::intFromData(data, 5, next), std::nullopt);
    EXPECT_EQ(QVOSCDecoder::intFromData(data, -1, next), std::nullopt);
    EXPECT_EQ(QVOSCDecoder::intFromData(data, INT32_MAX, next), std::nullopt);
    EXPECT_EQ(QVOSCDecoder::floatFromData(data, 8, next), std::nullopt);
    EXPECT_EQ(QVOSCDecoder::stringFromData(data, INT32_MAX - 1, next), std::nullopt);
    EXPECT_EQ(QVOSCDecoder::stringFromData(data, -4, next), std::nullopt);
    EXPECT_EQ(QVOSCDecoder::dataBlobFromData(data, 9, next), std::nullopt);
    EXPECT_EQ(QVOSCDecoder::dataBlobFromData(data, 8, next), std::nullopt);
    EXPECT_EQ(QVOSCDecoder::argumentFromData(data, 0, next, 'T'), nullptr);
    EXPECT_EQ(next, 99);
}

TEST(DecodingBundles, MatchesTheWorkedExample) {
    QVOSCData data = concat({bytes("23 62 75 6E 64 6C 65 00 BD FA 47 00 80 00 00 00 00 00 00 18"),
                             osctest::levelMessageBytes()});
    auto bundle = decodeBundle(data);
    ASSERT_NE(bundle, nullptr);
    EXPECT_EQ(bundle->timeStamp(), osctest::utc(osctest::k2001));
    ASSERT_EQ(bundle->attachedObjects().size(), 1u);
    auto message = std::dynamic_pointer_cast<QVOSCMessage>(bundle->attachedObjects()[0]);
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->address()->address(), "/zandorex/level");
    EXPECT_EQ(message->arguments()[0]->floatValue(), 10.0f);
}

TEST(DecodingBundles, LookOnlyAtTheFirstMarkerByteAndTheLengthLeft) {
    const QVOSCData header = bytes("23 78 78 78 78 78 78 78 00 00 00 00 00 00 00 01");
    auto empty = decodeBundle(header);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->timeStamp(), distantPast);
    EXPECT_TRUE(empty->attachedObjects().empty());
    auto oneTrailing = decodeBundle(concat({header, bytes("00")}));
    ASSERT_NE(oneTrailing, nullptr);
    EXPECT_TRUE(oneTrailing->attachedObjects().empty());
    EXPECT_EQ(decode(concat({header, bytes("00 00")})), nullptr);
    EXPECT_EQ(decode(concat({header, bytes("00 00 00")})), nullptr);
    EXPECT_EQ(decode(bytes("23")), nullptr);
    EXPECT_EQ(decode(bytes("23 62 75 6E 64 6C 65 00 00 00 00 00 00 00 00")), nullptr);

    auto withTrailingByte = decodeBundle(concat({header, element(kMessageA), bytes("FF")}));
    ASSERT_NE(withTrailingByte, nullptr);
    EXPECT_EQ(withTrailingByte->attachedObjects().size(), 1u);
}

TEST(DecodingBundles, SkipElementsThatHoldNoPacket) {
    auto bundle =
        decodeBundle(concat({osctest::bundleHeader(), bytes("00 00 00 00"), element(kAddressOnly),
                             element(bytes("2F 61 00 00 66 00 00 00")), element(kMessageA)}));
    ASSERT_NE(bundle, nullptr);
    ASSERT_EQ(bundle->attachedObjects().size(), 1u);
    EXPECT_EQ(bundle->attachedObjects()[0]->packetizedData(), kMessageA);
}

TEST(DecodingBundles, GiveNothingWhenAnyElementIsUndecodable) {
    const QVOSCData header = osctest::bundleHeader();
    EXPECT_EQ(decode(concat({header, element(kEmptyTypeTags), element(kMessageA)})), nullptr);
    EXPECT_EQ(decode(concat({header, element(kUnknownType), element(kMessageA)})), nullptr);
    EXPECT_EQ(decode(concat({header, element(kMessageA), bytes("FF FF FF FC")})), nullptr);
    EXPECT_EQ(decode(concat({header, bytes("00 00 00 0D"), kMessageA})), nullptr);
    EXPECT_EQ(decode(concat({header, element(kMessageA), bytes("7F FF FF FF 00 00 00 00")})),
              nullptr);
    // Nested: a short inner bundle, or a bad message deep inside.
    EXPECT_EQ(decode(concat({header, element(bytes("23 62 75 6E 64 6C 65 00"))})), nullptr);
    QVOSCData inner = concat({header, element(kMessageA), element(kUnknownType)});
    EXPECT_EQ(decode(concat({header, element(kMessageA), element(inner)})), nullptr);
}

TEST(DecodingBundles, ReadNestedBundlesWithTheirOwnTimeStamps) {
    QVOSCData innerHeader = bytes("23 62 75 6E 64 6C 65 00 00 00 00 00 00 00 00 01");
    QVOSCData inner = concat({innerHeader, element(kMessageA), element(innerHeader)});
    QVOSCData data = concat({osctest::bundleHeader(), element(inner), element(kMessageA)});
    auto bundle = decodeBundle(data);
    ASSERT_NE(bundle, nullptr);
    ASSERT_EQ(bundle->attachedObjects().size(), 2u);
    auto nested = std::dynamic_pointer_cast<QVOSCBundle>(bundle->attachedObjects()[0]);
    ASSERT_NE(nested, nullptr);
    EXPECT_EQ(nested->timeStamp(), distantPast);
    ASSERT_EQ(nested->attachedObjects().size(), 2u);
    EXPECT_NE(std::dynamic_pointer_cast<QVOSCBundle>(nested->attachedObjects()[1]), nullptr);
    EXPECT_NE(std::dynamic_pointer_cast<QVOSCMessage>(bundle->attachedObjects()[1]), nullptr);
    // The empty innermost bundle is written back as an element of size 0.
    EXPECT_EQ(bundle->packetizedData(),
              concat({osctest::bundleHeader(),
                      element(concat({innerHeader, element(kMessageA), bytes("00 00 00 00")})),
                      element(kMessageA)}));
}

TEST(DecodingEntryPoints, RawReadersAgreeWithDecodeData) {
    EXPECT_NE(QVOSCDecoder::decodeRawMessage(kMessageA), nullptr);
    EXPECT_EQ(QVOSCDecoder::decodeRawMessage(kUnknownType), nullptr);
    EXPECT_NE(QVOSCDecoder::decodeRawBundle(osctest::bundleHeader()), nullptr);
    EXPECT_EQ(QVOSCDecoder::decodeRawBundle(bytes("23 00 00")), nullptr);
}
