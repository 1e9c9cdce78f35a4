#include <gtest/gtest.h>

#include "osc/QVOSCBundle.h"
#include "osc/QVOSCMessage.h"
#include "tests/osc/OscTestSupport.h"

using osctest::bytes;
using osctest::concat;
using osctest::element;
using osctest::k2001;
using osctest::utc;

namespace {

const std::string kLevelText = "MESSAGE:\naddress:/zandorex/level\n types:,f\nf { 10.000000 }";

}  // namespace

TEST(BundleEncoding, MatchesTheWorkedExamples) {
    auto bundle = QVOSCBundle::bundleWithTimestamp(utc(k2001, 500));
    bundle->attachObject(osctest::levelMessage());
    QVOSCData expected =
        concat({bytes("23 62 75 6E 64 6C 65 00 BD FA 47 00 80 00 00 00 00 00 00 18"),
                osctest::levelMessageBytes()});
    ASSERT_EQ(expected.size(), 44u);
    EXPECT_EQ(bundle->packetizedData(), expected);

    auto outer = QVOSCBundle::bundleWithTimestamp(utc(k2001, 500));
    outer->attachObject(bundle);
    QVOSCData nested = outer->packetizedData();
    ASSERT_EQ(nested.size(), 64u);
    EXPECT_EQ(nested, concat({bytes("23 62 75 6E 64 6C 65 00 BD FA 47 00 80 00 00 00 00 00 00 2C"),
                              expected}));
}

TEST(BundleEncoding, WritesNothingForABundleWithoutElements) {
    EXPECT_TRUE(QVOSCBundle::bundleWithTimestamp(utc(k2001))->packetizedData().empty());

    // Nested, an empty bundle is an element of size 0.
    auto bundle = QVOSCBundle::bundleWithTimestamp(utc(k2001));
    bundle->attachObject(QVOSCBundle::bundleWithTimestamp(utc(k2001)));
    bundle->attachObject(osctest::levelMessage());
    EXPECT_EQ(bundle->packetizedData(), concat({osctest::bundleHeader(), bytes("00 00 00 00"),
                                                element(osctest::levelMessageBytes())}));
}

TEST(BundleEncoding, WritesImmediatelyForDistantPastOrNoTimeStamp) {
    const QVOSCData immediate = bytes("23 62 75 6E 64 6C 65 00 00 00 00 00 00 00 00 01");
    QVOSCBundle unstamped;
    unstamped.attachObject(osctest::levelMessage());
    EXPECT_EQ(unstamped.packetizedData(),
              concat({immediate, element(osctest::levelMessageBytes())}));
    auto immediately = QVOSCBundle::bundleWithTimestamp(distantPast);
    immediately->attachObject(osctest::levelMessage());
    EXPECT_EQ(immediately->packetizedData(), unstamped.packetizedData());
}

TEST(BundleEncoding, KeepsAttachmentOrderAndSharedElementsAndIsMadeAfresh) {
    auto first = QVOSCMessage::messageWithQVOSCAddress(QVOSCAddress::addressWithString("/1"));
    auto second = QVOSCMessage::messageWithQVOSCAddress(QVOSCAddress::addressWithString("/2"));
    auto bundle = QVOSCBundle::bundleWithTimestamp(utc(k2001));
    bundle->attachObjects({first, second, first});
    bundle->attachObject(nullptr);
    bundle->attachObject(QVOSCArgument::argumentWithInt(1));  // not a packet: ignored
    EXPECT_EQ(bundle->attachedObjects().size(), 3u);
    EXPECT_EQ(bundle->packetizedData(),
              concat({osctest::bundleHeader(), element(first->packetizedData()),
                      element(second->packetizedData()), element(first->packetizedData())}));

    first->attachArgument(QVOSCArgument::argumentWithInt(5));
    bundle->setTimeStamp(utc(k2001 + 1));
    ASSERT_EQ(first->packetizedData().size(), 12u);
    EXPECT_EQ(bundle->packetizedData(),
              concat({bytes("23 62 75 6E 64 6C 65 00 BD FA 47 01 00 00 00 00"),
                      element(first->packetizedData()), element(second->packetizedData()),
                      element(first->packetizedData())}));
}

TEST(BundleText, ShowsTheTimeStampAndEachElementInFull) {
    auto bundle = QVOSCBundle::bundleWithTimestamp(utc(k2001));
    EXPECT_EQ(bundle->stringRepresentation(), "BUNDLE:\ntime: 2001-01-01T00:00:00Z");
    bundle->attachObject(osctest::levelMessage());
    EXPECT_EQ(bundle->stringRepresentation(),
              "BUNDLE:\ntime: 2001-01-01T00:00:00Z\n---\n" + kLevelText);

    auto outer = QVOSCBundle::bundleWithTimestamp(utc(k2001 + 86'399, 500));
    outer->attachObjects({bundle, osctest::levelMessage()});
    EXPECT_EQ(outer->stringRepresentation(),
              "BUNDLE:\ntime: 2001-01-01T23:59:59.500Z\n---\nBUNDLE:\ntime: 2001-01-01T00:00:00Z"
              "\n---\n" +
                  kLevelText + "\n---\n" + kLevelText);
}

TEST(BundleText, NamesSpecialTimeStamps) {
    EXPECT_EQ(QVOSCBundle().stringRepresentation(), "BUNDLE:\ntime: (null)");
    EXPECT_EQ(QVOSCBundle(distantPast).stringRepresentation(), "BUNDLE:\ntime: immediately");
    EXPECT_EQ(QVOSCBundle(utc(-2'208'988'800)).stringRepresentation(),
              "BUNDLE:\ntime: 1900-01-01T00:00:00Z");
    EXPECT_EQ(
        QVOSCBundle(utc(951'782'400 + 1) + std::chrono::microseconds(5)).stringRepresentation(),
        "BUNDLE:\ntime: 2000-02-29T00:00:01.000005Z");
    EXPECT_EQ(QVOSCBundle(utc(-1) + std::chrono::nanoseconds(7)).stringRepresentation(),
              "BUNDLE:\ntime: 1969-12-31T23:59:59.000000007Z");
}
