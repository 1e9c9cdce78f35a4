// kestrano --set: what is accepted, how it is stored, and what is refused.
#include <gtest/gtest.h>

#include "app/settings/QSettingsPreferencesStore.h"
#include "app/settings/SettingsAssignment.h"
#include "tests/app/support/AppTestEnvironment.h"

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

    for (const char* assignment :
         {"triggerOnThreshold=0.6", "triggerOffThreshold=0.3", "triggerOnDelay=120",
          "releaseTime=60000", "bandHighCut=200", "inputDevice=alsa_input.usb-mic"}) {
        EXPECT_EQ(applySettingAssignment(store, assignment), std::nullopt) << assignment;
    }
    EXPECT_EQ(reader.floatForKey("triggerOnThreshold"), 0.6f);
    EXPECT_EQ(reader.floatForKey("triggerOffThreshold"), 0.3f);
    EXPECT_EQ(reader.integerForKey("triggerOnDelay"), 120);
    EXPECT_EQ(reader.integerForKey("releaseTime"), 60000);
    EXPECT_EQ(reader.floatForKey("bandHighCut"), 200.0f);
    EXPECT_EQ(reader.stringForKey("inputDevice"), "alsa_input.usb-mic");
    // An empty device is "No input", kept apart from the absent key.
    EXPECT_EQ(applySettingAssignment(store, "inputDevice="), std::nullopt);
    EXPECT_EQ(reader.stringForKey("inputDevice"), "");
}

TEST_F(SettingsAssignmentTest, BadInputIsRefusedInWordsAndNothingIsWritten) {
    const std::pair<const char*, const char*> refused[] = {
        {"colour=red",
         "unknown setting 'colour'; the settings are zandorexSendPort, "
         "zandorexListenPort, volumeAmplification, active, type, address, "
         "minValue, maxValue, zandorexHost, listenAddress, remoteControl, triggerOnThreshold, "
         "triggerOffThreshold, triggerOnDelay, triggerOffDelay, attackTime, releaseTime, "
         "bandLowCut, bandHighCut, inputDevice"},
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
        {"triggerOnThreshold=1.5",
         "bad value '1.5' for triggerOnThreshold: expected a position from 0 to 1 (0: 0.5)"},
        {"triggerOffThreshold=-0.1", nullptr},
        {"triggerOffThreshold=0.7",
         "bad value '0.7' for triggerOffThreshold: it must not exceed triggerOnThreshold (0.5)"},
        {"triggerOnDelay=12.5",
         "bad value '12.5' for triggerOnDelay: expected milliseconds from 0 to 60000"},
        {"triggerOffDelay=-1", nullptr},
        {"attackTime=60001", nullptr},
        {"bandLowCut=30000",
         "bad value '30000' for bandLowCut: expected Hz from 0 to 20000 (0: no "
         "high-pass)"},
        {"bandHighCut=inf", nullptr},
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
