// Every path a setting can be written by, the settings file, `--set` and remote control, makes
// the same of the same text, and what one path refuses the others refuse in the same words.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/settings/SettingsAssignment.h"
#include "app/settings/SettingsKeys.h"
#include "osc/QVOSCAddress.h"
#include "osc/QVOSCArgument.h"
#include "osc/QVOSCDecoder.h"
#include "tests/app/support/AppTestEnvironment.h"
#include "tests/app/support/ControllerTestFixture.h"

namespace {

struct PathCase {
    // A setting stored first with --set, or nullptr.
    const char* before;
    const char* key;
    const char* text;
    // What --set makes of the text, as --set would take it back; nullptr when it is refused.
    const char* value;
};

// The value in use as a text to compare; an absent one as remote control shows it.
std::string inUse(const SettingsModel& settings, std::string_view key) {
    const SettingDefinition& setting = *findSetting(key);
    const std::optional<SettingValue> value = settings.value(key);
    if (!value) {
        return setting.kind == SettingKind::decimal ? "0" : std::string(setting.absentShown);
    }
    return settingText(setting, *value);
}

class SettingsPathsTest : public ControllerTest {
  protected:
    void storeBefore(const PathCase& c) {
        clearStoredSettings();
        if (c.before != nullptr) {
            SettingsModel settings(preferences);
            settings.load();
            ASSERT_EQ(applySettingAssignment(settings, c.before), std::nullopt) << c.before;
        }
    }

    // What --set says, and what the next start makes of the file it wrote.
    std::pair<std::optional<std::string>, std::string> throughSet(const PathCase& c) {
        storeBefore(c);
        SettingsModel settings(preferences);
        settings.load();
        auto problem = applySettingAssignment(settings, std::string(c.key) + "=" + c.text);
        SettingsModel restarted(preferences);
        restarted.load();
        return {problem, inUse(restarted, c.key)};
    }

    // The notices of a start on a file holding the text, and what that start makes of it.
    std::pair<std::vector<std::string>, std::string> throughFile(const PathCase& c) {
        storeBefore(c);
        preferences.setString(c.key, std::string(c.text));
        preferences.commit();
        SettingsModel settings(preferences);
        settings.load();
        return {settings.notices(), inUse(settings, c.key)};
    }

    // The error a running program answers to /kestrano/set/KEY with the text, if any, and what
    // it then answers to /kestrano/get/KEY.
    std::pair<std::optional<std::string>, std::string> throughRemote(const PathCase& c) {
        storeBefore(c);
        preferences.setBool(settings_keys::remoteControl, true);
        const auto controller = startController();
        const auto port = static_cast<uint16_t>(controller->zandorexListenPort());
        UdpReceiver peer;
        QVOSCMessage set(QVOSCAddress::addressWithString(std::string("/kestrano/set/") + c.key));
        set.attachArgument(QVOSCArgument::argumentWithString(std::string(c.text)));
        EXPECT_TRUE(peer.sendTo(port, set.packetizedData()));
        QVOSCMessage get(QVOSCAddress::addressWithString(std::string("/kestrano/get/") + c.key));
        EXPECT_TRUE(peer.sendTo(port, get.packetizedData()));

        std::optional<std::string> error;
        std::string answer = "(no answer)";
        for (int replies = 0; replies < 2; ++replies) {
            std::optional<QVOSCData> reply;
            processEventsUntil(
                [&] {
                    if (!reply) {
                        reply = peer.receive(std::chrono::milliseconds(0));
                    }
                    return reply.has_value();
                },
                std::chrono::seconds(2));
            const auto message =
                reply ? std::dynamic_pointer_cast<QVOSCMessage>(QVOSCDecoder::decodeData(*reply))
                      : nullptr;
            if (!message || message->arguments().empty()) {
                break;
            }
            const auto argument = message->arguments().front();
            if (message->address()->address() == "/kestrano/error") {
                error = argument->stringValue();
                continue;
            }
            answer = answerText(*findSetting(c.key), *argument);
            break;
        }
        return {error, answer};
    }

    static std::string answerText(const SettingDefinition& setting, const QVOSCArgument& argument) {
        switch (argument.type()) {
            case 'f':
                return settingText(setting, argument.floatValue());
            case 'i':
                return setting.kind == SettingKind::flag
                           ? settingText(setting, argument.intValue() != 0)
                           : settingText(setting, int64_t{argument.intValue()});
            default:
                return argument.stringValue().value_or("");
        }
    }
};

const PathCase cases[] = {
    // Flags take the same words everywhere.
    {nullptr, "remoteControl", "off", "false"},
    {nullptr, "remoteControl", "no", "false"},
    {nullptr, "remoteControl", "on", "true"},
    {nullptr, "active", "no", "false"},
    {nullptr, "active", "off", "false"},
    {nullptr, "active", "yes", "true"},
    {nullptr, "active", "maybe", nullptr},
    {nullptr, "type", "trigger", "trigger"},
    {nullptr, "type", "1", "trigger"},
    {nullptr, "type", "continuous", "continuous"},
    {nullptr, "type", "1.5", nullptr},
    // Ranges that keep every product of the tick a finite float.
    {nullptr, "volumeAmplification", "-1000", "-1000"},
    {nullptr, "volumeAmplification", "1000.5", nullptr},
    {nullptr, "volumeAmplification", "nan", nullptr},
    {nullptr, "minValue", "-2.5", "-2.5"},
    {nullptr, "minValue", "1e7", nullptr},
    {nullptr, "maxValue", "1e6", "1e+06"},
    {nullptr, "maxValue", "-inf", nullptr},
    {nullptr, "address", "layer/1", "layer/1"},
    {nullptr, "address", "cue*", nullptr},
    {nullptr, "zandorexHost", "show-pc.local", "show-pc.local"},
    {nullptr, "zandorexHost", "show pc", nullptr},
    {nullptr, "listenAddress", "::1", "::1"},
    {nullptr, "zandorexSendPort", "5002", "5002"},
    {nullptr, "triggerOnDelay", "60000", "60000"},
    {nullptr, "triggerOnDelay", "12.5", nullptr},
    {nullptr, "inputDevice", "@DEFAULT_SOURCE@", "@DEFAULT_SOURCE@"},
    {nullptr, "inputChannels", " 2 , 1 ", " 2 , 1 "},
    {nullptr, "inputChannels", "1,3-4", "1,3-4"},
    {nullptr, "inputChannels", "33", nullptr},
    {nullptr, "inputChannels", "4-3", nullptr},
    {nullptr, "inputChannels", "1,", nullptr},
    {nullptr, "zandorexProtocol", "tcp-length", "tcp-length"},
    {nullptr, "zandorexProtocol", "TCP", nullptr},
    {nullptr, "triggerResponse", "fast", "fast"},
    // Cross-key rules, against the value in use.
    {nullptr, "triggerOffThreshold", "0.9", nullptr},
    {nullptr, "triggerOffThreshold", "0.3", "0.3"},
    {nullptr, "triggerOnThreshold", "0", "0.5"},
    {"triggerOnThreshold=0.95", "triggerOffThreshold", "0.9", "0.9"},
    {"triggerOffThreshold=0.4", "triggerOnThreshold", "0.3", nullptr},
    {"bandHighCut=100", "bandLowCut", "200", nullptr},
    {"bandHighCut=100", "bandLowCut", "100", nullptr},
    {"bandHighCut=100", "bandLowCut", "40", "40"},
    {"bandLowCut=300", "bandHighCut", "200", nullptr},
};

TEST_F(SettingsPathsTest, EveryPathMakesTheSameOfTheSameText) {
    for (const PathCase& c : cases) {
        SCOPED_TRACE(std::string(c.before ? c.before : "") + " then " + c.key + "=" + c.text);
        const auto [setProblem, afterSet] = throughSet(c);
        const auto [fileNotices, fromFile] = throughFile(c);
        const std::string absent = throughFile({c.before, c.key, "", nullptr}).second;
        EXPECT_EQ(setProblem.has_value(), c.value == nullptr) << setProblem.value_or("");
        if (c.value != nullptr) {
            EXPECT_EQ(afterSet, c.value);
            EXPECT_EQ(fromFile, c.value);
            EXPECT_TRUE(fileNotices.empty());
        } else if (c.before == nullptr || dependsOnAnother(c.key)) {
            // A hand-written value --set refuses reads as absent, and is named.
            EXPECT_EQ(fromFile, absent);
            EXPECT_EQ(fileNotices,
                      std::vector<std::string>{"ignored " + std::string(c.key) + "=" + c.text});
        } else {
            // A file breaking an order loses the pair's dependent key, whichever came first.
            EXPECT_EQ(fileNotices, std::vector<std::string>{"ignored " + std::string(c.before)});
        }
        const SettingDefinition& setting = *findSetting(c.key);
        const auto [remoteProblem, remoteValue] = throughRemote(c);
        if (!setting.remotelySettable) {
            EXPECT_EQ(remoteProblem, std::string(c.key) + " cannot be set remotely");
        } else if (c.value == nullptr) {
            EXPECT_EQ(remoteProblem, setProblem);
            EXPECT_EQ(remoteValue, absent);
        } else {
            EXPECT_EQ(remoteProblem, std::nullopt);
            EXPECT_EQ(remoteValue, c.value);
        }
    }
}

TEST_F(SettingsPathsTest, AListenAddressThatCannotBeUsedOpensNoListener) {
    for (const char* text : {"localhost", "999.1.1.1", "garbage", "::g", "192.0.2.1"}) {
        SCOPED_TRACE(text);
        clearStoredSettings();
        preferences.setString(settings_keys::listenAddress, std::string(text));
        const auto controller = startController();
        EXPECT_EQ(controller->zandorexListener(), nullptr);
        EXPECT_TRUE(controller->status().listenerError.starts_with("cannot listen on " +
                                                                   std::string(text) + ": "))
            << controller->status().listenerError;
    }
}

TEST_F(SettingsPathsTest, FailedSavesSayWhy) {
    const auto controller = startController();
    controller->setMaxValue(4.0f);
    EXPECT_EQ(controller->save(), std::nullopt);
    // A folder where the file should be: no write can succeed.
    const std::string file = preferences.fileName().toStdString();
    std::filesystem::remove(file);
    std::filesystem::create_directory(file);

    EXPECT_EQ(controller->save(), "cannot write " + file);
    EXPECT_EQ(controller->status().settingsNotices,
              std::vector<std::string>{"settings not saved: cannot write " + file});
    std::filesystem::remove(file);
}

}  // namespace

namespace {

TEST_F(SettingsPathsTest, OnlyTheSourcesRemoteControlFromAllowsAreObeyed) {
    const struct {
        const char* stored;
        bool obeyed;
        // What the status says of who may command.
        const char* access;
    } rows[] = {
        {"", true, "remote control: any source may command (no remoteControlFrom list)"},
        {"10.0.0.0/8,::1", false, ""},
        {"127.0.0.0/8", true, ""},
        // A list that cannot be read allows nobody rather than everybody.
        {"127.0.0.1/99", false,
         "remote control: refused remoteControlFrom (bad entry '127.0.0.1/99': the prefix length "
         "must be 0 to 32 in decimal digits), nobody may command"},
        // A sign once read as a length that compared no bit at all.
        {"127.0.0.1/-1", false,
         "remote control: refused remoteControlFrom (bad entry '127.0.0.1/-1': the prefix length "
         "must be 0 to 32 in decimal digits), nobody may command"},
        {"::ffff:127.0.0.0/104", true, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.stored);
        clearStoredSettings();
        preferences.setBool(settings_keys::remoteControl, true);
        preferences.setString(settings_keys::remoteControlFrom, std::string(row.stored));
        const auto controller = startController();
        UdpReceiver peer;
        QVOSCMessage set(QVOSCAddress::addressWithString("/kestrano/set/minValue"));
        set.attachArgument(QVOSCArgument::argumentWithFloat(3.0f));
        ASSERT_TRUE(peer.sendTo(static_cast<uint16_t>(controller->zandorexListenPort()),
                                set.packetizedData()));
        processEventsUntil([&] { return controller->minValue() == 3.0f; }, std::chrono::seconds(1));
        EXPECT_EQ(controller->minValue() == 3.0f, row.obeyed);
        processEventsFor(std::chrono::milliseconds(1100));  // the status counts once a second
        EXPECT_EQ(controller->status().commandsRefused, row.obeyed ? 0u : 1u);
        EXPECT_EQ(controller->status().remoteAccess, row.access);
        // --set and the window refuse what the file's reader refused.
        const bool refused = std::string_view(row.access).find("refused") != std::string::npos;
        EXPECT_EQ(applySettingAssignment(controller->settings(),
                                         "remoteControlFrom=" + std::string(row.stored))
                      .has_value(),
                  refused);
    }
}

}  // namespace
