#include <gtest/gtest.h>

#include <bit>
#include <cmath>

#include "osc/QVOSCDataUtilities.h"
#include "tests/osc/OscTestSupport.h"

using osctest::bytes;
using osctest::utc;
using U = QVOSCDataUtilities;

TEST(NumberBlocks, AreBigEndianWhateverTheValue) {
    EXPECT_EQ(U::dataBlockFromInt(1), bytes("00 00 00 01"));
    EXPECT_EQ(U::dataBlockFromInt(-1), bytes("FF FF FF FF"));
    EXPECT_EQ(U::dataBlockFromInt(INT32_MIN), bytes("80 00 00 00"));
    EXPECT_EQ(U::dataBlockFromUInt(0xDEADBEEF), bytes("DE AD BE EF"));
    EXPECT_EQ(U::dataBlockFromFloat(0.5f), bytes("3F 00 00 00"));
    EXPECT_EQ(U::dataBlockFromFloat(10.0f), bytes("41 20 00 00"));
    EXPECT_EQ(U::dataBlockFromFloat(-2.5f), bytes("C0 20 00 00"));
    EXPECT_EQ(U::dataBlockFromFloat(-0.0f), bytes("80 00 00 00"));
    EXPECT_EQ(U::dataBlockFromFloat(-INFINITY), bytes("FF 80 00 00"));
    // A NaN keeps its payload: the bit pattern is copied, not converted.
    EXPECT_EQ(U::dataBlockFromFloat(std::bit_cast<float>(0x7FC01234u)), bytes("7F C0 12 34"));
}

TEST(NumberBlocks, ReadersUseTheFirstFourBytesAndGiveZeroForFewer) {
    EXPECT_EQ(U::intFromDataBlock(bytes("00 00 01")), 0);
    EXPECT_EQ(U::intFromDataBlock(bytes("00 00 00 05 FF FF")), 5);
    EXPECT_EQ(U::intFromDataBlock(bytes("FF FF FF FE")), -2);
    EXPECT_EQ(U::intFromDataBlock(bytes("80 00 00 00")), INT32_MIN);
    EXPECT_EQ(U::uIntFromDataBlock(bytes("FF FF FF FE")), 0xFFFFFFFEu);
    EXPECT_EQ(U::uIntFromDataBlock(bytes("FF FF")), 0u);
    EXPECT_EQ(U::floatFromDataBlock(bytes("C0 20 00 00 01")), -2.5f);
    EXPECT_EQ(U::floatFromDataBlock(bytes("41")), 0.0f);
    EXPECT_TRUE(std::isnan(U::floatFromDataBlock(bytes("7F C0 00 00"))));
    float negativeZero = U::floatFromDataBlock(bytes("80 00 00 00"));
    EXPECT_EQ(negativeZero, 0.0f);
    EXPECT_TRUE(std::signbit(negativeZero));
}

TEST(StringBlocks, AlwaysEndWithOneToFourZeroBytes) {
    EXPECT_EQ(U::dataBlockFromString(""), bytes("00 00 00 00"));
    EXPECT_EQ(U::dataBlockFromString("abc"), bytes("61 62 63 00"));
    EXPECT_EQ(U::dataBlockFromString("abcd"), bytes("61 62 63 64 00 00 00 00"));
    EXPECT_EQ(U::dataBlockFromString(",f"), bytes("2C 66 00 00"));
    EXPECT_EQ(U::dataBlockFromString("#bundle"), bytes("23 62 75 6E 64 6C 65 00"));
    EXPECT_EQ(U::paddedDataFromData(bytes("")), bytes("00 00 00 00"));
    EXPECT_EQ(U::paddedDataFromData(bytes("01")), bytes("01 00 00 00"));
    EXPECT_EQ(U::paddedDataFromData(bytes("01 02 03 04 05")), bytes("01 02 03 04 05 00 00 00"));
}

TEST(StringBlocks, TextOutsideAsciiIsWrittenAsTheEmptyText) {
    EXPECT_EQ(U::dataBlockFromString("caf\xC3\xA9"), bytes("00 00 00 00"));
    EXPECT_EQ(U::dataBlockFromString("\x7F"), bytes("7F 00 00 00"));
}

TEST(StringBlocks, ReadingTrimsZeroCharactersOnlyAtTheEnds) {
    EXPECT_EQ(U::stringFromDataBlock(bytes("00 61 62 00")), "ab");
    EXPECT_EQ(U::stringFromDataBlock(bytes("61 00 62 00")), std::string("a\0b", 3));
    EXPECT_EQ(U::stringFromDataBlock(bytes("61 62 63 00 00 00 00 00")), "abc");
    EXPECT_EQ(U::stringFromDataBlock(bytes("20 09 61 00")), " \ta");
    EXPECT_EQ(U::stringFromDataBlock(bytes("00 00 00 00")), "");
    EXPECT_EQ(U::stringFromDataBlock(bytes("")), "");
    EXPECT_EQ(U::stringFromDataBlock(bytes("61 80 00 00")), std::nullopt);
    EXPECT_EQ(U::stringFromDataBlock(bytes("00 00 00 FF")), std::nullopt);
}

TEST(BlobBlocks, AreSizePrefixedAndPaddedToFourBytes) {
    EXPECT_EQ(U::dataBlockFromBlob(bytes("")), bytes("00 00 00 00"));
    EXPECT_EQ(U::dataBlockFromBlob(bytes("01 02 03")), bytes("00 00 00 03 01 02 03 00"));
    EXPECT_EQ(U::dataBlockFromBlob(bytes("01 02 03 04")), bytes("00 00 00 04 01 02 03 04"));
    EXPECT_EQ(U::dataBlockFromBlob(bytes("01 02 03 04 05")),
              bytes("00 00 00 05 01 02 03 04 05 00 00 00"));
}

TEST(BlobBlocks, ReadingChecksTheSizeAgainstTheBytesPresent) {
    EXPECT_EQ(U::blobFromDataBlock(bytes("00 00 00 00")), QVOSCData{});
    EXPECT_EQ(U::blobFromDataBlock(bytes("FF FF FF FF 00 00 00 00")), std::nullopt);
    EXPECT_EQ(U::blobFromDataBlock(bytes("00 00 00 05 01 02 03 04")), std::nullopt);
    EXPECT_EQ(U::blobFromDataBlock(bytes("00 00 00 02 0A 0B 00 00")), bytes("0A 0B"));
    EXPECT_EQ(U::blobFromDataBlock(bytes("00 00 00 02 0A 0B")), bytes("0A 0B"));
    EXPECT_EQ(U::blobFromDataBlock(bytes("00 00 00")), std::nullopt);
    EXPECT_EQ(U::blobFromDataBlock(bytes("7F FF FF FF 01")), std::nullopt);
}

TEST(TimeTags, CountSecondsAndBinaryFractionsFrom1900) {
    EXPECT_EQ(U::ntpTimestampFromNSDate(utc(osctest::k2001, 500)),
              bytes("BD FA 47 00 80 00 00 00"));
    EXPECT_EQ(U::ntpTimestampFromNSDate(utc(0, 250)), bytes("83 AA 7E 80 40 00 00 00"));
    EXPECT_EQ(U::ntpTimestampFromNSDate(utc(-2'208'988'800)), bytes("00 00 00 00 00 00 00 00"));
    // Before 1970 the fraction still counts forward from the whole second.
    EXPECT_EQ(U::ntpTimestampFromNSDate(utc(-1, 750)), bytes("83 AA 7E 7F C0 00 00 00"));
    EXPECT_EQ(U::ntpTimestampForImmediate(), bytes("00 00 00 00 00 00 00 01"));
}

TEST(TimeTags, SaturateOutsideTheirRangeAndDistantPastMeansImmediately) {
    EXPECT_EQ(U::ntpTimestampFromNSDate(distantPast), U::ntpTimestampForImmediate());
    EXPECT_EQ(U::ntpTimestampFromNSDate(utc(-2'208'988'801)), bytes("00 00 00 00 00 00 00 00"));
    // The last second a time tag can hold starts at 2036-02-07 06:28:15 UTC.
    EXPECT_EQ(U::ntpTimestampFromNSDate(utc(2'085'978'495)), bytes("FF FF FF FF 00 00 00 00"));
    EXPECT_EQ(U::ntpTimestampFromNSDate(utc(2'085'978'496)), bytes("FF FF FF FF FF FF FF FF"));
    EXPECT_EQ(U::ntpTimestampFromNSDate(QVOSCTimePoint::max()), bytes("FF FF FF FF FF FF FF FF"));
}

TEST(TimeTags, ReadBackAsWholeSeconds) {
    EXPECT_EQ(U::dateFromNTPTimestamp(bytes("00 00 00 00 00 00 00 01")), distantPast);
    EXPECT_EQ(U::dateFromNTPTimestamp(bytes("00 00 00 00 00 00 00 00")), utc(-2'208'988'800));
    EXPECT_EQ(U::dateFromNTPTimestamp(bytes("00 00 00 01 00 00 00 00")), utc(-2'208'988'799));
    EXPECT_EQ(U::dateFromNTPTimestamp(bytes("BD FA 47 00 80 00 00 00")), utc(osctest::k2001));
    EXPECT_EQ(U::dateFromNTPTimestamp(bytes("FF FF FF FF FF FF FF FF")), utc(2'085'978'495));
    EXPECT_LT(distantPast, U::dateFromNTPTimestamp(bytes("00 00 00 00 00 00 00 00")));

    for (QVOSCTimePoint time : {utc(osctest::k2001, 999), utc(-1, 1), utc(1'700'000'000, 123)}) {
        QVOSCTimePoint whole = std::chrono::floor<std::chrono::seconds>(time);
        EXPECT_EQ(U::dateFromNTPTimestamp(U::ntpTimestampFromNSDate(time)), whole);
    }
}
