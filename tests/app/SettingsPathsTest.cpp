// Every path a setting can be written by, the settings file, `--set` and remote control, makes
// the same of the same text, and what one path refuses the others refuse in the same words.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>

#include "app/settings/SettingsAssignment.h"
#include "app/settings/SettingsKeys.h"
#include "app/settings/presets/PresetFolder.h"
#include "app/settings/store/QueuedPreferencesStore.h"
#include "app/settings/store/RunSettings.h"
#include "app/settings/values/DisplayText.h"
#include "osc/QVOSCAddress.h"
#include "osc/QVOSCArgument.h"
#include "osc/QVOSCDecoder.h"
#include "tests/app/support/AppTestEnvironment.h"
#include "tests/app/support/ControllerTestFixture.h"
#include "tests/support/Ports.h"
#include "tests/support/TempDir.h"
#include "tests/support/Udp.h"

namespace {

struct PathCase {
    // Settings stored first with --set, separated by spaces, or nullptr.
    const char* before;
    const char* key;
    const char* text;
    // What --set makes of the text, as --set would take it back; nullptr when it is refused.
    const char* value;
};

// The value in use as a text to compare; an absent one as remote control shows it.
std::string inUse(const SettingsModel& settings, std::string_view key) {
    const SettingDefinition& setting = *parseScopedKey(key)->setting;
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
        std::istringstream assignments(c.before != nullptr ? c.before : "");
        for (std::string assignment; assignments >> assignment;) {
            SettingsModel settings(preferences);
            settings.load();
            ASSERT_EQ(applySettingAssignment(settings, assignment), std::nullopt) << assignment;
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
            answer = answerText(*parseScopedKey(c.key)->setting, *argument);
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
    {nullptr, "address", "/level", nullptr},
    {nullptr, "beatAddress", "beat/", nullptr},
    {nullptr, "tempoAddress", "beat//1", nullptr},
    {nullptr, "zandorexHost", "show-pc.local", "show-pc.local"},
    {nullptr, "zandorexHost", "show pc", nullptr},
    {nullptr, "listenAddress", "::1", "::1"},
    {nullptr, "webAddress", "::1", "::1"},
    {nullptr, "webPort", "8080", "8080"},
    {nullptr, "webPort", "65536", nullptr},
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
    // A further mapping's keys: its own section of the file, NAME/KEY on --set and remotely.
    {"mappings=kick", "kick/bandHighCut", "150", "150"},
    {"mappings=kick,hat", "hat/address", "hat/1", "hat/1"},
    {"mappings=kick", "kick/active", "maybe", nullptr},
    {"mappings=kick", "kick/inputChannels", "2", "2"},
    {nullptr, "type", "silence", "silence"},
    {"mappings=kick", "kick/type", "2", "silence"},
    {"mappings=kick", "kick/type", "loud", nullptr},
    // Each mapping's pairs hold within it, whatever the others hold.
    {"mappings=kick kick/bandHighCut=100", "kick/bandLowCut", "200", nullptr},
    {"bandHighCut=100 mappings=kick", "kick/bandLowCut", "200", "200"},
    {"triggerOnThreshold=0.3 mappings=kick", "kick/triggerOffThreshold", "0.45", "0.45"},
    // Silence ends at or above the off threshold, which therefore is not below the on one.
    {"type=silence triggerOnThreshold=0.4", "triggerOffThreshold", "0.3", nullptr},
    {"type=silence triggerOnThreshold=0.4", "triggerOffThreshold", "0.6", "0.6"},
    {"mappings=kick kick/type=silence kick/triggerOffThreshold=0.6", "kick/triggerOnThreshold",
     "0.7", nullptr},
    {"triggerOnThreshold=0.4 triggerOffThreshold=0.3", "type", "silence", nullptr},
    // The names of the further mappings.
    {nullptr, "mappings", "kick, hat_2,VOX-1", "kick, hat_2,VOX-1"},
    {nullptr, "mappings", "kick,Kick", nullptr},
    {nullptr, "mappings", "general", nullptr},
    {nullptr, "mappings", "kick,BANDHIGHCUT", nullptr},
    {nullptr, "mappings", "kick,Setting", nullptr},
    {nullptr, "mappings", "kick,,hat", nullptr},
    {nullptr, "mappings", "kick/1", nullptr},
    {nullptr, "mappings", "abcdefghijabcdefghijabcdefghij12", "abcdefghijabcdefghijabcdefghij12"},
    {nullptr, "mappings", "abcdefghijabcdefghijabcdefghij123", nullptr},
    {nullptr, "mappings", "a,b,c,d,e,f,g,h,i,j,k,l,m,n,o,p", "a,b,c,d,e,f,g,h,i,j,k,l,m,n,o,p"},
    {nullptr, "mappings", "a,b,c,d,e,f,g,h,i,j,k,l,m,n,o,p,q", nullptr},
    // The tempo's keys are the instance's: one beat clock, whatever the mappings.
    {nullptr, "tempo", "detect", "detect"},
    {nullptr, "tempo", "tap", "tap"},
    {nullptr, "tempo", "on", nullptr},
    {nullptr, "tempoMinimum", "40", "40"},
    {nullptr, "tempoMinimum", "87.5", "87.5"},
    {nullptr, "tempoMinimum", "39.9", nullptr},
    {nullptr, "tempoMinimum", "201", nullptr},
    {nullptr, "tempoAddress", "show/bpm", "show/bpm"},
    {nullptr, "beatAddress", "beat count", nullptr},
    {nullptr, "beatAddress", "", nullptr},
    {nullptr, "tempoChannels", "3-4", "3-4"},
    {nullptr, "tempoChannels", "0", nullptr},
};

// The last of the settings stored first.
std::string lastOf(const char* before) {
    const std::string all = before;
    return all.substr(all.rfind(' ') + 1);
}

TEST_F(SettingsPathsTest, EveryPathMakesTheSameOfTheSameText) {
    for (const PathCase& c : cases) {
        SCOPED_TRACE(std::string(c.before ? c.before : "") + " then " + c.key + "=" + c.text);
        const auto [setProblem, afterSet] = throughSet(c);
        const auto [fileNotices, fromFile] = throughFile(c);
        const std::string absent = throughFile({c.before, c.key, "", nullptr}).second;
        const SettingDefinition& setting = *parseScopedKey(c.key)->setting;
        std::string error;
        const bool badAlone =
            !parseSettingValue(setting, c.text, error, TextSource::settingsFile).has_value();
        EXPECT_EQ(setProblem.has_value(), c.value == nullptr) << setProblem.value_or("");
        if (c.value != nullptr) {
            EXPECT_EQ(afterSet, c.value);
            EXPECT_EQ(fromFile, c.value);
            EXPECT_TRUE(fileNotices.empty());
        } else if (badAlone || dependsOnAnother(setting.key)) {
            // A hand-written value --set refuses reads as absent, and is named with the reason
            // --set gives.
            EXPECT_EQ(fromFile, absent);
            const std::string said = "' for " + std::string(c.key) + ": ";
            const std::string refusal = setProblem.value_or("");
            ASSERT_NE(refusal.find(said), std::string::npos) << refusal;
            EXPECT_EQ(fileNotices, std::vector<std::string>{
                                       "ignored " + std::string(c.key) + "=" + c.text + ": " +
                                       refusal.substr(refusal.find(said) + said.size())});
        } else {
            // A file breaking an order loses the pair's dependent key, whichever came first.
            ASSERT_EQ(fileNotices.size(), 1u);
            EXPECT_TRUE(fileNotices[0].starts_with("ignored " + lastOf(c.before) + ": it must"))
                << fileNotices[0];
        }
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

std::string fileBytes(const std::filesystem::path& file) {
    std::ifstream stream(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

void writeFile(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

TEST_F(SettingsPathsTest, HandWrittenLinesMeanWhatSetMakesOfThem) {
    const struct {
        const char* line;  // in the [General] section, as a technician types it
        const char* key;
        // The value in use; nullptr when the line is ignored and named.
        const char* value;
    } rows[] = {
        // Unquoted commas make a list for the file's reader; the list is the text written.
        {"remoteControlFrom=192.168.1.20,10.0.0.0/24", "remoteControlFrom",
         "192.168.1.20,10.0.0.0/24"},
        {"remoteControlFrom=192.168.1.20, 10.0.0.0/24 ,::1", "remoteControlFrom",
         "192.168.1.20,10.0.0.0/24,::1"},
        {"remoteControlFrom=\"192.168.1.20, ::1\"", "remoteControlFrom", "192.168.1.20, ::1"},
        {"inputChannels=1,2", "inputChannels", "1,2"},
        {"inputChannels=1, 3-4", "inputChannels", "1,3-4"},
        {"inputChannels=\"2,\t1\"", "inputChannels", "2,\t1"},
        {"inputChannels=1,", "inputChannels", nullptr},
        {"mappings=kick, hat", "mappings", "kick,hat"},
        {"mappings=\"kick, hat\"", "mappings", "kick, hat"},
        {"mappings=kick,", "mappings", nullptr},
        // A port is 1 to 65535 in the file too; a plain 0 has always meant the default.
        {"zandorexSendPort=0", "zandorexSendPort", "5000"},
        {"zandorexSendPort=70000", "zandorexSendPort", nullptr},
        {"zandorexSendPort=-1", "zandorexSendPort", nullptr},
        // An old file's plain 0 is the default; the 0 the program stores reads back as 0.
        {"maxValue=0", "maxValue", "10"},
        {"maxValue=0.0", "maxValue", "0"},
        {"volumeAmplification=0", "volumeAmplification", "1"},
        {"volumeAmplification=0.0", "volumeAmplification", "0"},
    };
    const TempDir folder;
    int files = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        // A file of its own: the reader keeps what it read of a file for as long as the process.
        const std::string path = (folder.path() / std::to_string(++files)).string();
        writeFile(path, std::string("[General]\n") + row.line);
        QSettingsPreferencesStore file(QString::fromStdString(path));
        SettingsModel settings(file);
        settings.load();
        if (row.value == nullptr) {
            ASSERT_EQ(settings.notices().size(), 1u);
            const std::string& notice = settings.notices()[0];
            EXPECT_TRUE(notice.starts_with("ignored " + std::string(row.line) + ": ") &&
                        notice.find("expected ") != std::string::npos)
                << notice;
            EXPECT_EQ(settings.held(row.key), std::nullopt);
        } else {
            EXPECT_TRUE(settings.notices().empty());
            EXPECT_EQ(inUse(settings, row.key), row.value);
        }
        const SettingKind kind = findSetting(row.key)->kind;
        if (kind == SettingKind::channelList || kind == SettingKind::sourceList ||
            kind == SettingKind::mappingList) {
            // --set takes the same text, unquoted as a shell passes it, alike.
            std::string typed = row.line;
            std::erase(typed, '"');
            EXPECT_EQ(applySettingAssignment(settings, typed).has_value(), row.value == nullptr);
        }
    }
}

TEST_F(SettingsPathsTest, AFileOfThePreviousVersionReadsTheSameAndIsWrittenBackByteForByte) {
    const TempDir folder;
    const std::string path = (folder.path() / "Kestrano.conf").string();
    // In a technician's order, with a comment: saved unchanged, it stays as it was.
    const std::string old =
        "; the stage mic\n[General]\nactive=true\naddress=kick\nbandHighCut=150\nmaxValue=1\n"
        "minValue=0\ntype=1\ntriggerOnThreshold=0.6\ntriggerOffThreshold=0.4\n"
        "volumeAmplification=2.5\nzandorexSendPort=5002\n";
    writeFile(path, old);
    QSettingsPreferencesStore file(QString::fromStdString(path));
    SettingsModel settings(file);
    settings.load();
    EXPECT_TRUE(settings.notices().empty());
    EXPECT_TRUE(settings.mappingNames().empty());
    for (const auto& [key, value] : {std::pair{"type", "trigger"},
                                     {"triggerOffThreshold", "0.4"},
                                     {"bandHighCut", "150"},
                                     {"volumeAmplification", "2.5"},
                                     {"address", "kick"},
                                     {"zandorexSendPort", "5002"}}) {
        EXPECT_EQ(inUse(settings, key), value) << key;
    }
    ASSERT_TRUE(settings.save());
    EXPECT_EQ(fileBytes(path), old);
}

TEST_F(SettingsPathsTest, FurtherMappingsLiveInTheirSectionsAndLeaveWithTheirNames) {
    const TempDir folder;
    const std::string path = (folder.path() / "Kestrano.conf").string();
    writeFile(path,
              "[General]\nvolumeAmplification=5\ntriggerOnThreshold=0.3\nmappings=kick, hat\n"
              "[kick]\nbandHighCut=150\ntype=2\n"
              "[hat]\nbandLowCut=5000\nactive=maybe\n"
              "[ghost]\nbandHighCut=99\n");
    {
        QSettingsPreferencesStore file(QString::fromStdString(path));
        SettingsModel settings(file);
        std::vector<std::string> told;
        const auto subscription =
            settings.subscribe([&](std::string_view key) { told.emplace_back(key); });
        settings.load();
        EXPECT_EQ(settings.mappingNames(), (std::vector<std::string>{"kick", "hat"}));
        EXPECT_EQ(settings.notices(),
                  (std::vector<std::string>{
                      "ignored hat/active=maybe: expected true or false (also yes / no, on / off, "
                      "1 / 0)",
                      "ignored ghost/bandHighCut=99: no mapping named 'ghost'; mappings lists "
                      "kick, hat"}));
        EXPECT_NE(std::ranges::find(told, "hat/bandLowCut"), told.end());
        // What a further mapping leaves out is what absence means, not the first mapping's value.
        EXPECT_EQ(inUse(settings, "kick/bandHighCut"), "150");
        EXPECT_EQ(inUse(settings, "kick/type"), "silence");
        EXPECT_EQ(inUse(settings, "kick/volumeAmplification"), "1");
        EXPECT_EQ(inUse(settings, "kick/triggerOnThreshold"), "0.5");
        EXPECT_EQ(inUse(settings, "hat/active"), "true");
        EXPECT_EQ(inUse(settings, "volumeAmplification"), "5");

        // A rename moves the values, saved or not, and says so once as the list's change.
        ASSERT_EQ(settings.change("hat/minValue", 2.0f), std::nullopt);
        told.clear();
        ASSERT_EQ(settings.renameMapping("kick", "bass"), std::nullopt);
        EXPECT_EQ(told, std::vector<std::string>{"mappings"});
        EXPECT_EQ(settings.mappingNames(), (std::vector<std::string>{"bass", "hat"}));
        EXPECT_EQ(inUse(settings, "bass/bandHighCut"), "150");
        EXPECT_EQ(settings.renameMapping("bass", "bass"), std::nullopt);
        // Refused for the name alone: a list of 16 names would drown the reason.
        EXPECT_EQ(settings.renameMapping("bass", "HAT"),
                  "'HAT' cannot name a mapping: another mapping has it");
        EXPECT_EQ(settings.renameMapping("bass", "address"),
                  "'address' cannot name a mapping: it is a setting's name");
        // Moving onto a section the technician wrote would overwrite it.
        EXPECT_EQ(settings.renameMapping("bass", "ghost"),
                  "'ghost' cannot name a mapping: the settings file has a [ghost] section that "
                  "mappings does not list; list the name to use that section, or remove it from "
                  "the file");
        EXPECT_EQ(settings.mappingNames(), (std::vector<std::string>{"bass", "hat"}));
        EXPECT_EQ(settings.keyProblem("kick/bandHighCut"),
                  "no mapping named 'kick'; mappings lists bass, hat");
        // A refusal names the key as the technician wrote it, the other key of a pair too.
        EXPECT_EQ(applySettingAssignment(settings, "bass/triggerOffThreshold=0.1"),
                  "bad value '0.1' for bass/triggerOffThreshold: it must not be below "
                  "bass/triggerOnThreshold (0.5)");
        EXPECT_EQ(settings.changeFromText("hat/minValue", "x"),
                  "bad value 'x' for hat/minValue: expected " +
                      std::string(findSetting("minValue")->expected));
        ASSERT_TRUE(settings.save());
    }
    // What the program ignored stays for the technician to mend.
    EXPECT_NE(fileBytes(path).find("[ghost]\nbandHighCut=99\n"), std::string::npos);
    EXPECT_NE(fileBytes(path).find("active=maybe\n"), std::string::npos);
    {
        QSettingsPreferencesStore file(QString::fromStdString(path));
        SettingsModel settings(file);
        settings.load();
        EXPECT_EQ(inUse(settings, "bass/bandHighCut"), "150");
        EXPECT_EQ(inUse(settings, "hat/minValue"), "2");
        EXPECT_EQ(file.stringForKey("kick/bandHighCut"), std::nullopt);

        // A name taken out of the list takes its section along; added again, it starts afresh.
        ASSERT_EQ(applySettingAssignment(settings, "mappings=bass"), std::nullopt);
        EXPECT_EQ(fileBytes(path).find("[hat]"), std::string::npos);
        ASSERT_EQ(applySettingAssignment(settings, "mappings=bass,hat"), std::nullopt);
        EXPECT_EQ(inUse(settings, "hat/bandLowCut"), "0");
        // A section written before its name was listed is adopted as it stands.
        ASSERT_EQ(applySettingAssignment(settings, "mappings=bass,hat,ghost"), std::nullopt);
        EXPECT_EQ(inUse(settings, "ghost/bandHighCut"), "99");
    }
    EXPECT_NE(fileBytes(path).find("[ghost]\nbandHighCut=99\n"), std::string::npos);
    QSettingsPreferencesStore file(QString::fromStdString(path));
    SettingsModel settings(file);
    settings.load();
    EXPECT_TRUE(settings.notices().empty());
    // The window's new mapping: its name and address reach the file in one write.
    ASSERT_EQ(settings.addMapping("snare", "drums/snare"), std::nullopt);
    EXPECT_NE(fileBytes(path).find("[snare]\naddress=drums/snare\n"), std::string::npos);
    EXPECT_NE(fileBytes(path).find("mappings=\"bass,hat,ghost,snare\""), std::string::npos)
        << fileBytes(path);
}

TEST_F(SettingsPathsTest, AKeyOfAMappingNotListedIsRefusedOnEveryPath) {
    const std::string why = "no mapping named 'kick'; mappings lists hat";
    const PathCase c{"mappings=hat", "kick/bandHighCut", "150", nullptr};
    storeBefore(c);
    {
        SettingsModel settings(preferences);
        settings.load();
        EXPECT_EQ(applySettingAssignment(settings, "kick/bandHighCut=150"), why);
        EXPECT_EQ(applySettingAssignment(settings, "hat/zandorexHost=x")
                      .value_or("")
                      .find("zandorexHost is the instance's setting, not a mapping's"),
                  0u);
    }
    preferences.setString(c.key, std::string(c.text));
    preferences.commit();
    SettingsModel settings(preferences);
    settings.load();
    EXPECT_EQ(settings.notices(), std::vector<std::string>{"ignored kick/bandHighCut=150: " + why});
    // A part that has not yet heard of a removal reads the default and changes nothing.
    EXPECT_EQ(settings.decimal("kick/maxValue"), 10.0f);
    EXPECT_EQ(settings.change("kick/maxValue", 2.0f), why);
    settings.assign("kick/maxValue", 2.0f);
    EXPECT_EQ(settings.decimal("kick/maxValue"), 10.0f);
    // Both the set and the get are refused in the same words.
    EXPECT_EQ(throughRemote(c), std::pair(std::optional(why), std::string("(no answer)")));

    // Hundreds of such keys (the remote path above left none) are named in a bounded number of
    // lines, the rest counted.
    for (int section = 0; section < 300; ++section) {
        preferences.setString("x" + std::to_string(section) + "/active", std::string("true"));
    }
    preferences.commit();
    settings.load();
    ASSERT_EQ(settings.notices().size(), SettingsModel::kMostNotices);
    EXPECT_EQ(
        settings.notices().back(),
        "and " + std::to_string(300 - (SettingsModel::kMostNotices - 1)) + " more lines ignored");
}

TEST_F(SettingsPathsTest, ASetZeroComesBackAfterARestart) {
    const auto restarted = [this](const char* key) {
        SettingsModel settings(preferences);
        settings.load();
        return inUse(settings, key);
    };
    for (const char* key : {"maxValue", "volumeAmplification"}) {
        SCOPED_TRACE(key);
        EXPECT_EQ(throughSet({nullptr, key, "0", "0"}).second, "0");

        // The window's controls, then Save.
        clearStoredSettings();
        {
            const auto controller = startController();
            std::string(key) == "maxValue" ? controller->setMaxValue(0.0f)
                                           : controller->setVolumeAmplification(0.0f);
            ASSERT_EQ(controller->save(), std::nullopt);
        }
        EXPECT_EQ(restarted(key), "0");

        // Remote control, then /kestrano/save.
        clearStoredSettings();
        preferences.setBool(settings_keys::remoteControl, true);
        {
            const auto controller = startController();
            const auto port = static_cast<uint16_t>(controller->zandorexListenPort());
            UdpReceiver peer;
            QVOSCMessage set(QVOSCAddress::addressWithString(std::string("/kestrano/set/") + key));
            set.attachArgument(QVOSCArgument::argumentWithFloat(0.0f));
            ASSERT_TRUE(peer.sendTo(port, set.packetizedData()));
            ASSERT_TRUE(peer.sendTo(
                port,
                QVOSCMessage(QVOSCAddress::addressWithString("/kestrano/save")).packetizedData()));
            EXPECT_TRUE(
                processEventsUntil([&] { return preferences.stringForKey(key).has_value(); },
                                   std::chrono::seconds(2)));
        }
        EXPECT_EQ(restarted(key), "0");
    }
}

TEST_F(SettingsPathsTest, ADamagedFileIsCopiedAsideBeforeTheFirstWriteAndIgnoredBytesStay) {
    using namespace std::string_literals;
    const TempDir folder;
    const std::filesystem::path path = folder.path() / "Kestrano.conf";
    const std::string garbage = "\x7f\x01[General\nmaxValue=\xfe\0\xff\x80\n"s;
    const std::string ignored = "[General]\nminValue=\xff\x01\nmaxValue=3\n";
    // The writer would merge the two parts and lose what lies between.
    const std::string twice =
        "[General]\nmappings=kick\n[kick]\ntype=1\n; the stage mic\n[kick]\naddress=k\n";
    const std::string twiceGeneral = "maxValue=3\n[kick]\ntype=1\n[General]\nminValue=1\n";
    const std::pair<std::string, std::string> rows[] = {
        {twice, "section [kick] written twice in "},
        {twiceGeneral, "section [General] written twice in "},
        {garbage, "cannot parse "},
        {ignored, "cannot parse "},
    };
    for (const auto& [text, reason] : rows) {
        SCOPED_TRACE(escapedText(text));
        writeFile(path, text);
        // The window's and the headless start; --set opens the file the same way.
        RunSettings run(path.string(), mainLoop);
        const std::string said = "settings: " + reason + path.string() + "; kept it as ";
        ASSERT_EQ(run.notices().size(), 1u);
        ASSERT_TRUE(run.notices().front().starts_with(said)) << run.notices().front();
        const std::string copy = run.notices().front().substr(said.size());
        EXPECT_EQ(fileBytes(copy), text);

        SettingsModel settings(run.file());
        settings.load();
        ASSERT_EQ(applySettingAssignment(settings, "zandorexSendPort=5002"), std::nullopt);
        ASSERT_TRUE(settings.save());
        run.finishWrites();
        EXPECT_EQ(fileBytes(copy), text);
        EXPECT_NE(fileBytes(path).find("zandorexSendPort=5002\n"), std::string::npos);
    }
    // The value the program ignored is still there as it was typed, after both writes.
    EXPECT_NE(fileBytes(path).find("\nminValue=\xff\x01\n"), std::string::npos)
        << escapedText(fileBytes(path));
}

TEST_F(SettingsPathsTest, APresetHoldsTheSetUpAndIsTakenWholeOrNotAtAll) {
    const TempDir folder;
    const std::filesystem::path path = folder.path() / "show.conf";
    writeFile(path,
              "[General]\nzandorexSendPort=5002\nremoteControl=true\ninputDevice=mic\n"
              "maxValue=4\ntempo=detect\nmappings=kick\n[kick]\ntype=1\nbandHighCut=150\n");
    QSettingsPreferencesStore file(QString::fromStdString(path.string()));
    SettingsModel settings(file);
    settings.load();
    const PresetFolder presets(file.fileName());

    // Saved in the settings file's form: the set-up, not the machine's keys.
    ASSERT_EQ(presets.save("Act 2 - storm", settings), std::nullopt);
    EXPECT_EQ(fileBytes(folder.path() / "show.presets" / "Act 2 - storm.conf"),
              "[General]\nmappings=kick\nmaxValue=4\ntempo=detect\n\n[kick]\nbandHighCut=150\n"
              "type=1\n");
    // A preset by hand, and what is no preset: a file saving broke off, another kind of file.
    writeFile(folder.path() / "show.presets" / "verse.conf",
              "[General]\nmappings=voice, hat\nminValue=1\n[voice]\naddress=fader/1\n"
              "[hat]\ntype=trigger\n");
    writeFile(folder.path() / "show.presets" / ".verse.saving-99", "[General]\n");
    writeFile(folder.path() / "show.presets" / "notes.txt", "");
    EXPECT_EQ(presets.names(), (std::vector<std::string>{"Act 2 - storm", "verse"}));

    std::string problem;
    const std::unique_ptr<Preset> verse = presets.read("VERSE", problem);
    ASSERT_NE(verse, nullptr) << problem;
    ASSERT_EQ(settings.takeSetUp(verse->settings()), std::nullopt);
    // Taken whole: its mappings replace kick, whose section goes; a set-up key it leaves out is
    // absent; the machine's keys stay.
    EXPECT_EQ(fileBytes(path),
              "[General]\ninputDevice=mic\nmappings=\"voice,hat\"\nminValue=1\n"
              "remoteControl=true\nzandorexSendPort=5002\n\n[hat]\ntype=1\n\n[voice]\n"
              "address=fader/1\n");
    // And back: the set-up saved first comes back as it was.
    const std::unique_ptr<Preset> storm = presets.read("act 2 - storm", problem);
    ASSERT_NE(storm, nullptr) << problem;
    ASSERT_EQ(settings.takeSetUp(storm->settings()), std::nullopt);
    EXPECT_EQ(fileBytes(path),
              "[General]\ninputDevice=mic\nmappings=kick\nmaxValue=4\nremoteControl=true\n"
              "tempo=detect\nzandorexSendPort=5002\n\n[kick]\nbandHighCut=150\ntype=1\n");

    // Refused whole, with the file and the key; the settings file stays as it was.
    const std::string stored = fileBytes(path);
    const std::string bad = (folder.path() / "show.presets" / "bad.conf").string();
    const struct {
        const char* text;
        std::string problem;
    } refusals[] = {
        {"[General]\nmappings=kick\n[kick]\ntype=often\n",
         bad + ": kick/type=often: expected continuous, trigger or silence (or 0, 1, 2)"},
        {"[General]\nmappings=kick\n[kick]\ntriggerOnThreshold=0.3\ntriggerOffThreshold=0.6\n",
         bad + ": kick/triggerOffThreshold=0.6: it must not exceed kick/triggerOnThreshold "
               "(0.3)"},
        {"[General]\nmappings=kick\n[kick]\ntype=1\n[ghost]\ntype=1\n",
         bad + ": ghost/type=1: no mapping named 'ghost'; mappings lists kick"},
        {"[General]\ntempoo=detect\n", bad + ": unknown setting 'tempoo'"},
        {"[General]\nmappings=kick\n[kick]\ntype=1\n[kick]\naddress=k\n",
         "section [kick] written twice in " + bad},
        {"[General]\nminValue=@Variant(\\0\\0\\0\\x87)\n",
         bad + " holds serialized values (@Variant, @DateTime), which no setting takes"},
    };
    for (const auto& row : refusals) {
        SCOPED_TRACE(row.text);
        writeFile(bad, row.text);
        EXPECT_EQ(presets.read("bad", problem), nullptr);
        EXPECT_EQ(problem, row.problem);
        EXPECT_EQ(fileBytes(bad), row.text) << "a refused preset is left as it is";
    }
    EXPECT_EQ(fileBytes(path), stored);

    // Names as a technician writes them, one preset whatever the case.
    for (const auto& [name, why] : std::vector<std::pair<std::string, std::string>>{
             {std::string(65, 'x'), "it is not 1 to 64 characters"},
             {"cue\t1", "it holds a character that is not printable"},
             {" verse", "it begins or ends with a space"},
             {"BAD", "the preset 'bad' has it, without regard to case"},
         }) {
        SCOPED_TRACE(name);
        const std::optional<std::string> refused = presets.save(name, settings);
        ASSERT_TRUE(refused.has_value());
        EXPECT_TRUE(refused->ends_with("cannot name a preset: " + why)) << *refused;
    }
    EXPECT_EQ(presets.save("Café 2", settings), std::nullopt);
    EXPECT_EQ(presets.names(),
              (std::vector<std::string>{"Act 2 - storm", "bad", "Café 2", "verse"}));
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

// The settings file on a disk that stops answering until the test lets it go on: every write
// waits at the gate, then reaches the real file. The gate outlives the disk, as a writer that
// was let go of may still be at it.
class StalledDisk {
  public:
    void open() {
        std::lock_guard lock(gate_->mutex);
        gate_->open = true;
        gate_->changed.notify_all();
    }
    // Whether the writer let go of the file (its thread's last step) within `limit`.
    bool closedWithin(std::chrono::seconds limit) {
        std::unique_lock lock(gate_->mutex);
        return gate_->changed.wait_for(lock, limit, [this] { return gate_->closed; });
    }
    QueuedPreferencesStore::Opener opener(const std::filesystem::path& path) {
        return [gate = gate_, path]() -> std::unique_ptr<PreferencesStore> {
            return std::make_unique<Store>(gate, QString::fromStdString(path.string()));
        };
    }

  private:
    struct Gate {
        std::mutex mutex;
        std::condition_variable changed;
        bool open = false;
        bool closed = false;
    };

    class Store : public QSettingsPreferencesStore {
      public:
        Store(std::shared_ptr<Gate> gate, const QString& file)
            : QSettingsPreferencesStore(file), gate_(std::move(gate)) {}
        ~Store() override {
            std::lock_guard lock(gate_->mutex);
            gate_->closed = true;
            gate_->changed.notify_all();
        }
        Store(const Store&) = delete;
        Store& operator=(const Store&) = delete;
        std::optional<std::string> commit() override {
            std::unique_lock lock(gate_->mutex);
            gate_->changed.wait(lock, [this] { return gate_->open; });
            lock.unlock();
            return QSettingsPreferencesStore::commit();
        }

      private:
        std::shared_ptr<Gate> gate_;
    };

    std::shared_ptr<Gate> gate_ = std::make_shared<Gate>();
};

TEST_F(SettingsPathsTest, AStalledSettingsWriteHoldsUpNoTickAndTheLastValuesReachTheFile) {
    const TempDir folder;
    const std::filesystem::path path = folder.path() / "show.conf";
    const std::string handWritten =
        "[General]\nzandorexSendPort=" + std::to_string(receiver.port()) + "\nmaxValue = 4\n";
    writeFile(path, handWritten);
    StalledDisk disk;
    {
        QueuedPreferencesStore store(disk.opener(path), mainLoop);
        auto capture = std::make_unique<FakeAudioCapture>(devicesAtStart, microphone);
        KestranoController controller(mainLoop, store, std::move(capture),
                                      [this] { return clockTime; });
        controller.setAudioLevelMeter(&meter);
        controller.awakeFromNib();

        // Two saves while the disk hangs: the ticks go on, and the file is as it was.
        controller.setMinValue(1.0f);
        ASSERT_EQ(controller.save(), std::nullopt);
        controller.setMinValue(2.0f);
        ASSERT_EQ(controller.save(), std::nullopt);
        EXPECT_EQ(store.floatForKey("minValue"), 2.0f);
        const int ticksBefore = meter.updates;
        EXPECT_TRUE(processEventsUntil([&] { return meter.updates >= ticksBefore + 10; },
                                       std::chrono::seconds(10)));
        EXPECT_EQ(fileBytes(path), handWritten);

        // The disk answers: the last value is written, the line the technician typed kept.
        // Whoever asks about the writes hears once they are done; whoever asks after, at once.
        std::optional<std::optional<std::string>> heard;
        store.whenWritten([&heard](const std::optional<std::string>& failure) { heard = failure; });
        EXPECT_FALSE(heard);
        disk.open();
        ASSERT_TRUE(
            processEventsUntil([&] { return heard.has_value(); }, std::chrono::seconds(30)));
        EXPECT_EQ(*heard, std::nullopt);
        heard.reset();
        store.whenWritten([&heard](const std::optional<std::string>& failure) { heard = failure; });
        ASSERT_TRUE(heard);
        EXPECT_EQ(*heard, std::nullopt);
        EXPECT_EQ(store.finish(std::chrono::seconds(30)), std::nullopt);
        const std::string written = fileBytes(path);
        EXPECT_NE(written.find("\nmaxValue = 4\nminValue=2\n"), std::string::npos) << written;
        EXPECT_EQ(written.find("minValue=1"), std::string::npos) << written;
    }
}

TEST_F(SettingsPathsTest, AWriteTheFileRefusesAfterTheChangeIsSaidInTheStatus) {
    const TempDir folder;
    const std::filesystem::path path = folder.path() / "show.conf";
    const uint16_t listenPort = freeUdpPort();
    writeFile(path, "[General]\nzandorexSendPort=" + std::to_string(receiver.port()) +
                        "\nzandorexListenPort=" + std::to_string(listenPort) +
                        "\nremoteControl=true\n");
    std::filesystem::create_directory(folder.path() / "show.presets");
    writeFile(folder.path() / "show.presets" / "verse.conf", "[General]\nmaxValue=3\n");
    StalledDisk disk;
    disk.open();
    QueuedPreferencesStore store(disk.opener(path), mainLoop);
    auto capture = std::make_unique<FakeAudioCapture>(devicesAtStart, microphone);
    KestranoController controller(mainLoop, store, std::move(capture),
                                  [this] { return clockTime; });
    controller.usePresetsBeside(QString::fromStdString(path.string()));
    store.setFailureHandler(
        [&controller](const std::string& failure) { controller.settingsNotWritten(failure); });
    controller.awakeFromNib();
    // The start-up's own writes land first, so that each refusal below is told once.
    bool startedUp = false;
    store.whenWritten([&startedUp](const std::optional<std::string>&) { startedUp = true; });
    ASSERT_TRUE(processEventsUntil([&] { return startedUp; }, std::chrono::seconds(30)));
    // A folder where the file should be: no write can succeed.
    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    const std::string refused = "cannot write " + path.string();
    const auto said = [&](const std::string& notice) {
        return processEventsUntil(
            [&] { return std::ranges::count(controller.status().settingsNotices, notice) == 1; },
            std::chrono::seconds(10));
    };

    controller.setMaxValue(4.0f);
    EXPECT_EQ(controller.save(), std::nullopt);
    EXPECT_TRUE(said("settings not saved: " + refused));
    // The switch is taken; that its write failed is said in the words a switch uses.
    EXPECT_EQ(controller.switchPreset("verse"), std::nullopt);
    EXPECT_EQ(controller.maxValue(), 3.0f);
    EXPECT_TRUE(said("switched, not stored: " + refused));
    // Remote control's save is answered once the write is done: with the refusal, never "saved".
    UdpReceiver peer;
    ASSERT_TRUE(peer.sendTo(
        listenPort,
        QVOSCMessage(QVOSCAddress::addressWithString("/kestrano/save")).packetizedData()));
    std::optional<QVOSCData> answer;
    processEventsUntil(
        [&] {
            // Asked again after the wait, so the first answer is kept.
            answer = answer ? answer : peer.receive(std::chrono::milliseconds(0));
            return answer.has_value();
        },
        std::chrono::seconds(10));
    ASSERT_TRUE(answer.has_value());
    const auto message = std::dynamic_pointer_cast<QVOSCMessage>(QVOSCDecoder::decodeData(*answer));
    ASSERT_TRUE(message);
    EXPECT_EQ(message->address()->address(), "/kestrano/error");
    EXPECT_NE(message->stringRepresentation().find(refused), std::string::npos)
        << message->stringRepresentation();
    EXPECT_TRUE(said("settings not saved: " + refused));
    EXPECT_EQ(store.finish(std::chrono::seconds(30)), refused);
    std::filesystem::remove(path);
}

TEST_F(SettingsPathsTest, AQuitWaitsForTheSettingsWriteAndGivesUpOnADiskThatNeverAnswers) {
    const TempDir folder;
    const std::filesystem::path path = folder.path() / "show.conf";
    StalledDisk answering;
    answering.open();
    {
        // A quit right after a change: the change is in the file when the program ends.
        QueuedPreferencesStore store(answering.opener(path), mainLoop);
        store.setInteger("zandorexSendPort", 5002);
        store.commit();
        EXPECT_EQ(store.finish(std::chrono::seconds(30)), std::nullopt);
        EXPECT_EQ(fileBytes(path), "[General]\nzandorexSendPort=5002\n");
    }
    // One that hangs is given up on after the wait, with a word; the write lands when the disk
    // comes back, the writer having been let go of.
    StalledDisk hanging;
    {
        QueuedPreferencesStore store(hanging.opener(path), mainLoop);
        store.setInteger("zandorexSendPort", 5003);
        store.commit();
        EXPECT_EQ(store.finish(std::chrono::milliseconds(200)),
                  "the disk did not answer within 200 ms");
    }
    EXPECT_EQ(fileBytes(path), "[General]\nzandorexSendPort=5002\n");
    hanging.open();
    ASSERT_TRUE(hanging.closedWithin(std::chrono::seconds(30)));
    EXPECT_EQ(fileBytes(path), "[General]\nzandorexSendPort=5003\n");
}

}  // namespace
