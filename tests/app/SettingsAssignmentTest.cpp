// kestrano --set: what is accepted, how it is stored, and what is refused.
#include <gtest/gtest.h>

#include "app/settings/QSettingsPreferencesStore.h"
#include "app/settings/SettingsAssignment.h"
#include "tests/app/AppTestEnvironment.h"

namespace {

class SettingsAssignmentTest : public testing::Test {
  protected:
    SettingsAssignmentTest() { clearStoredSettings(); }
    QSettingsPreferencesStore store;
};

TEST_F(SettingsAssignmentTest, EachKindIsStoredTheWayTheProgramReadsIt) {
    for (const char* assignment :
         {"zandorexSendPort=47000", "zandorexListenPort=65535", "volumeAmplification=2.5",
          "active=false", "type=trigger", "address=layer/1", "minValue=-0.125", "maxValue=1e3",
          "zandorexHost=show-pc.local", "listenAddress=::1", "remoteControl=true"}) {
        EXPECT_EQ(applySettingAssignment(store, assignment), std::nullopt) << assignment;
    }
    QSettingsPreferencesStore reader;
    EXPECT_EQ(reader.integerForKey("zandorexSendPort"), 47000);
    EXPECT_EQ(reader.integerForKey("zandorexListenPort"), 65535);
    EXPECT_EQ(reader.floatForKey("volumeAmplification"), 2.5f);
    EXPECT_EQ(reader.boolObjectForKey("active"), false);
    EXPECT_EQ(reader.integerForKey("type"), 1);
    EXPECT_EQ(reader.stringForKey("address"), "layer/1");
    EXPECT_EQ(reader.floatForKey("minValue"), -0.125f);
    EXPECT_EQ(reader.floatForKey("maxValue"), 1000.0f);
    EXPECT_EQ(reader.stringForKey("zandorexHost"), "show-pc.local");
    EXPECT_EQ(reader.stringForKey("listenAddress"), "::1");
    EXPECT_EQ(reader.boolObjectForKey("remoteControl"), true);

    EXPECT_EQ(applySettingAssignment(store, "type=continuous"), std::nullopt);
    EXPECT_EQ(applySettingAssignment(store, "active=1"), std::nullopt);
    EXPECT_EQ(applySettingAssignment(store, "address="), std::nullopt);
    EXPECT_EQ(reader.integerForKey("type"), 0);
    EXPECT_EQ(reader.boolObjectForKey("active"), true);
    EXPECT_EQ(reader.stringForKey("address"), "");
}

TEST_F(SettingsAssignmentTest, BadInputIsRefusedInWordsAndNothingIsWritten) {
    const std::pair<const char*, const char*> refused[] = {
        {"colour=red",
         "unknown setting 'colour'; the settings are zandorexSendPort, "
         "zandorexListenPort, volumeAmplification, active, type, address, "
         "minValue, maxValue, zandorexHost, listenAddress, remoteControl"},
        {"zandorexSendPort", "expected KEY=VALUE, got 'zandorexSendPort'"},
        {"zandorexSendPort=0",
         "bad value '0' for zandorexSendPort: expected a port number "
         "from 1 to 65535"},
        {"zandorexListenPort=70000", nullptr},
        {"zandorexListenPort=50 01", nullptr},
        {"volumeAmplification=loud", nullptr},
        {"minValue=nan", nullptr},
        {"maxValue=", nullptr},
        {"active=maybe", "bad value 'maybe' for active: expected true or false"},
        {"type=1.5", nullptr},
        {"type=7", "bad value '7' for type: expected continuous or trigger (or 0, 1)"},
        {"address=a b", nullptr},
        {"address=caf\xc3\xa9", nullptr},
        {"address=x*", nullptr},
        {"zandorexHost=", nullptr},
        {"zandorexHost=show pc", nullptr},
        {"zandorexHost=-show-pc", nullptr},
        {"zandorexHost=show_pc", nullptr},
        {"listenAddress=show-pc",
         "bad value 'show-pc' for listenAddress: expected an IPv4 or IPv6 address of this machine "
         "(absent: every IPv4 address)"},
        {"listenAddress=", nullptr},
        {"remoteControl=maybe", nullptr},
    };
    for (const auto& [assignment, message] : refused) {
        const auto error = applySettingAssignment(store, assignment);
        ASSERT_TRUE(error.has_value()) << assignment;
        if (message != nullptr) {
            EXPECT_EQ(*error, message);
        }
    }
    EXPECT_TRUE(QSettings("Kestrano", "Kestrano").allKeys().isEmpty());
}

}  // namespace
