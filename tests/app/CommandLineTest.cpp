// The program's options and the status line it prints.
#include <gtest/gtest.h>

#include "app/control/StatusText.h"
#include "app/run/CommandLine.h"
#include "app/settings/SettingsCatalog.h"
#include "app/settings/SettingsReference.h"

namespace {

std::optional<CommandLine> parse(std::vector<std::string> arguments, std::string& error) {
    return parseCommandLine(arguments, error);
}

TEST(CommandLineTest, SetTakesItsValueInEitherFormAndNonsenseIsRefusedInWords) {
    std::string error;
    EXPECT_EQ(parse({"--set", "type=1"}, error)->assignment, "type=1");
    EXPECT_EQ(parse({"--set=address=x"}, error)->assignment, "address=x");
    EXPECT_FALSE(parse({"--frobnicate"}, error));
    EXPECT_EQ(error, "unknown option '--frobnicate'");
    EXPECT_FALSE(parse({"--set"}, error));
    EXPECT_EQ(error, "'--set' needs KEY=VALUE");
    EXPECT_FALSE(parse({"--headless", "--version"}, error));
    EXPECT_EQ(error, "'--version' cannot be combined with another option");
}

TEST(CommandLineTest, PresetOptionsTakeANameInEitherForm) {
    std::string error;
    const auto use = parse({"--preset", "Act 2 - storm", "--config", "show.conf"}, error);
    ASSERT_TRUE(use);
    EXPECT_EQ(use->mode, RunMode::usePreset);
    EXPECT_EQ(use->preset, "Act 2 - storm");
    const auto save = parse({"--save-preset=a=b"}, error);
    ASSERT_TRUE(save);
    EXPECT_EQ(save->mode, RunMode::savePreset);
    EXPECT_EQ(save->preset, "a=b");
    EXPECT_EQ(parse({"--list-presets"}, error)->mode, RunMode::listPresets);
    EXPECT_FALSE(parse({"--save-preset"}, error));
    EXPECT_EQ(error, "'--save-preset' needs NAME");
    EXPECT_FALSE(parse({"--set", "type=1", "--preset", "verse"}, error));
    EXPECT_EQ(error, "'--preset' cannot be combined with another option");

    // Beside --replay, before or after it, a preset is the set-up to replay, not a switch.
    for (const auto& arguments :
         {std::vector<std::string>{"--preset=verse", "--replay", "a.wav"},
          {"--replay=a.wav", "--journal", "cues.tsv", "--preset", "verse"}}) {
        const auto replay = parse(arguments, error);
        ASSERT_TRUE(replay) << error;
        EXPECT_EQ(replay->mode, RunMode::replay);
        EXPECT_EQ(replay->recording, "a.wav");
        EXPECT_EQ(replay->preset, "verse");
    }
    EXPECT_FALSE(parse({"--journal", "cues.tsv", "--headless"}, error));
    EXPECT_EQ(error, "'--journal' goes with '--replay'");
    EXPECT_FALSE(parse({"--replay", "a.wav", "--save-preset", "verse"}, error));
    EXPECT_FALSE(parse({"--replay"}, error));
    EXPECT_EQ(error, "'--replay' needs FILE");
}

TEST(CommandLineTest, ConfigNamesTheSettingsFileOfAnyMode) {
    std::string error;
    const auto headless = parse({"--config", "left.conf", "--headless"}, error);
    ASSERT_TRUE(headless);
    EXPECT_EQ(headless->mode, RunMode::headless);
    EXPECT_EQ(headless->settingsFile, "left.conf");
    const auto set = parse({"--set", "active=true", "--config=/srv/right.conf"}, error);
    ASSERT_TRUE(set);
    EXPECT_EQ(set->mode, RunMode::setSetting);
    EXPECT_EQ(set->settingsFile, "/srv/right.conf");
    EXPECT_EQ(parse({}, error)->settingsFile, std::nullopt);
    for (const std::vector<std::string>& missing :
         {std::vector<std::string>{"--config"}, {"--config="}, {"--headless", "--config"}}) {
        EXPECT_FALSE(parse(missing, error));
        EXPECT_EQ(error, "'--config' needs FILE");
    }
}

// A key added to the catalogue without the words the reference needs would leave a hole in the
// page that regenerating it cannot notice.
TEST(SettingsReferenceTest, EveryKeyHasASectionSayingWhatItMeansAndWhatItsAbsenceMeans) {
    const std::string page = settingsReferenceMarkdown();
    for (const SettingDefinition& setting : settingsCatalog()) {
        const std::string key(setting.key);
        const size_t heading = page.find("\n### `" + key + "`\n\n");
        ASSERT_NE(heading, std::string::npos) << key;
        const size_t meaning = page.find("\n\n", heading + 1) + 2;
        const size_t end = page.find("\n### ", meaning);
        const std::string section = page.substr(meaning, end - meaning);
        EXPECT_GT(section.find('\n'), 1u) << key << ": no meaning\n" << section;
        for (const std::string line :
             {"\n- Values: ", "\n- When absent: ", "\n- Stored: ", "\n- Remote control: "}) {
            const size_t at = section.find(line);
            ASSERT_NE(at, std::string::npos) << key << line << section;
            const std::string value = section.substr(at + line.size(), 2);
            EXPECT_TRUE(value != "``" && value[0] != '\n' && value[0] != ';') << key << line;
        }
    }
}

TEST(StatusTextTest, ShowsLevelLastValueAndFailures) {
    ControllerStatus status;
    EXPECT_EQ(statusLine(status), "no input device | nothing sent");

    // The input's level before the amplification: a meter of 4 at amplification 2.
    status.meter = 4.0f;
    status.inputLevel = -20.0f;
    status.lastValueSent = 3.25f;
    EXPECT_EQ(statusLine(status), "level -20.0 dBFS | sent 3.250");

    status.inputLevel = -160.0f;
    status.senderError = "cannot send to port 5000: x";
    status.listenerError = "cannot listen on port 5001: Address already in use";
    EXPECT_EQ(statusLine(status),
              "level -160.0 dBFS | sent 3.250 | cannot send to port 5000: x | cannot listen on "
              "port 5001: Address already in use");

    status.senderError.clear();
    status.listenerError.clear();
    status.droppedIncomingDatagrams = 1234;
    EXPECT_EQ(statusLine(status),
              "level -160.0 dBFS | sent 3.250 | dropped 1234 incoming datagrams");

    // The sample peak, the lamp and the capture's findings follow the level.
    status.droppedIncomingDatagrams = 0;
    status.inputLevel = -84.5f;
    status.samplePeak = 0.0f;
    status.clipping = true;
    status.captureNotes = {"inputChannels: Mic has 2 channels, no channel 3"};
    status.louderChannelBy = 151.04f;
    EXPECT_EQ(statusLine(status),
              "level -84.5 dBFS | peak 0.0 dBFS | CLIP | inputChannels: Mic has 2 channels, no "
              "channel 3 | one channel is 151 dB louder than the level in use: see inputChannels | "
              "sent 3.250");

    // The tempo after what was sent: none yet, found, held, unsure, tapped, and a tap in detect
    // mode.
    status = ControllerStatus();
    const struct {
        TempoStatus tempo;
        const char* shown;
    } tempi[] = {
        {{}, "tempo -"},
        {{.bpm = 127.96}, "tempo 128.0"},
        {{.bpm = 87.0, .held = true}, "tempo 87.0 held"},
        {{.bpm = 174.0, .unsure = true}, "tempo 174.0 unsure"},
        {{.bpm = 120.0, .tapped = true}, "tempo 120.0 tapped"},
    };
    for (const auto& row : tempi) {
        status.tempo = row.tempo;
        EXPECT_EQ(statusLine(status), std::string("no input device | nothing sent | ") + row.shown);
    }
    status.tempoNote = "tap ignored: tempo is detect (set tempo=tap to tap)";
    EXPECT_EQ(statusLine(status),
              "no input device | nothing sent | tempo 120.0 tapped | tap ignored: tempo is detect "
              "(set tempo=tap to tap)");
}

}  // namespace
