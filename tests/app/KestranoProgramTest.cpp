// The real kestrano program: options, the settings it stores, and a headless run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/app/support/PortProbe.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Recordings.h"
#include "tests/support/TempDir.h"
#include "tests/support/Udp.h"

namespace {

using namespace std::chrono_literals;

class KestranoProgramTest : public testing::Test {
  protected:
    KestranoProgramTest() {
        setenv("XDG_CONFIG_HOME", configHome.path().c_str(), 1);
        // A sound server that is certainly not there: the program must run without one.
        setenv("PULSE_SERVER", ("unix:" + (configHome.path() / "no-server").string()).c_str(), 1);
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        unsetenv("QT_QPA_PLATFORM");
    }

    static ProgramResult kestrano(const std::vector<std::string>& options) {
        std::vector<std::string> arguments = {KESTRANO_PATH};
        arguments.insert(arguments.end(), options.begin(), options.end());
        return runProgram(arguments);
    }

    TempDir configHome;
};

TEST_F(KestranoProgramTest, HeadlessRunsOnTheStoredPortsAndStopsCleanlyOnSignals) {
    for (const int signal : {SIGTERM, SIGINT}) {
        const uint16_t listenPort = freeUdpPort();
        UdpReceiver zandorex;
        ASSERT_EQ(kestrano({"--set", "zandorexListenPort=" + std::to_string(listenPort)}).status,
                  0);
        ASSERT_EQ(kestrano({"--set", "zandorexSendPort=" + std::to_string(zandorex.port())}).status,
                  0);

        ChildProcess program({KESTRANO_PATH, "--headless"});
        ASSERT_TRUE(program.started());
        // Bound once start-up is through; then it keeps running and reports once a second.
        const auto listening = [&] { return bindErrorOnPort(listenPort) == EADDRINUSE; };
        EXPECT_TRUE(program.readUntil(listening, 10s)) << program.errorOutput();
        program.readUntil([&] { return program.output().find('\n') != std::string::npos; }, 10s);
        EXPECT_NE(program.output().find("no input device"), std::string::npos) << program.output();
        std::this_thread::sleep_for(300ms);
        EXPECT_TRUE(listening()) << "still running";

        program.sendSignal(signal);
        EXPECT_EQ(program.wait(3s), 0) << program.errorOutput();
        EXPECT_EQ(bindErrorOnPort(listenPort), 0);
    }
}

TEST_F(KestranoProgramTest, HeadlessIntoAPipeWritesAStatusLineOnlyWhenSomethingChanges) {
    const uint16_t listenPort = freeUdpPort();
    ASSERT_EQ(kestrano({"--set", "zandorexListenPort=" + std::to_string(listenPort)}).status, 0);
    ChildProcess program({KESTRANO_PATH, "--headless"});
    ASSERT_TRUE(program.started());
    // Without a sound server nothing changes after start-up: one line, where a status line a
    // second would have given three or four. The 3.5 s count from that line, which a busy
    // machine may hold back well past start.
    ASSERT_TRUE(
        program.readUntil([&] { return program.output().find('\n') != std::string::npos; }, 10s))
        << program.errorOutput();
    program.readUntil([] { return false; }, 3500ms);
    program.sendSignal(SIGTERM);
    EXPECT_EQ(program.wait(3s), 0);
    EXPECT_EQ(std::count(program.output().begin(), program.output().end(), '\n'), 1)
        << program.output();
}

TEST_F(KestranoProgramTest, WindowRunsOnTheSettingsFileGivenWithConfig) {
    const std::string settingsFile = (configHome.path() / "show.conf").string();
    const uint16_t listenPort = freeUdpPort();
    ASSERT_EQ(kestrano({"--config", settingsFile, "--set",
                        "zandorexListenPort=" + std::to_string(listenPort)})
                  .status,
              0);
    EXPECT_FALSE(std::filesystem::exists(configHome.path() / "Kestrano" / "Kestrano.conf"));

    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ChildProcess window({KESTRANO_PATH, "--config", settingsFile});
    ASSERT_TRUE(window.started());
    EXPECT_TRUE(window.readUntil([&] { return bindErrorOnPort(listenPort) == EADDRINUSE; }, 10s))
        << window.errorOutput();
    window.sendSignal(SIGTERM);
    EXPECT_EQ(window.wait(3s), 0) << window.errorOutput();
}

TEST_F(KestranoProgramTest, SetRefusesUnknownKeysAndBadValuesWithStatusTwo) {
    const ProgramResult unknown = kestrano({"--set", "colour=red"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.errorOutput.find("unknown setting 'colour'"), std::string::npos);

    const ProgramResult bad = kestrano({"--set", "active=perhaps"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.errorOutput,
              "kestrano: bad value 'perhaps' for active: expected true or false (also yes / no, "
              "on / off, 1 / 0)\n");

    EXPECT_EQ(kestrano({"--no-such-option"}).status, 2);
    EXPECT_FALSE(std::filesystem::exists(configHome.path() / "Kestrano" / "Kestrano.conf"));
}

std::string fileText(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

TEST_F(KestranoProgramTest, PresetsAreStoredBesideTheSettingsFileAndTakenLikeSet) {
    const auto settingsFile = configHome.path() / "show.conf";
    const std::string config = settingsFile.string();
    std::ofstream(settingsFile) << "[General]\nzandorexSendPort=5002\nmappings=kick\n"
                                   "[kick]\ntype=1\nbandLowCut=often\n";
    const ProgramResult saved = kestrano({"--config", config, "--save-preset", "verse"});
    ASSERT_EQ(saved.status, 0);
    // What the preset leaves out of the file is said.
    EXPECT_TRUE(saved.errorOutput.starts_with(
        "kestrano: settings: ignored kick/bandLowCut=often: expected "))
        << saved.errorOutput;
    ASSERT_EQ(kestrano({"--config", config, "--set", "mappings=hat,snare"}).status, 0);
    ASSERT_EQ(kestrano({"--config", config, "--save-preset=Act 2 - storm"}).status, 0);

    const ProgramResult listed = kestrano({"--config", config, "--list-presets"});
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.output, "Act 2 - storm\nverse\n");

    // The set-up names the preset it came from, as its file is named.
    ASSERT_EQ(kestrano({"--config", config, "--preset", "Verse"}).status, 0);
    EXPECT_EQ(fileText(settingsFile),
              "[General]\nmappings=kick\npreset=verse\nzandorexSendPort=5002\n\n[kick]\ntype=1\n");

    // Refusals change nothing and say why, with the status --set gives a refusal. A section
    // written by hand that the list does not name is the technician's: no preset overwrites it.
    std::ofstream(settingsFile, std::ios::app) << "\n[drums]\naddress=toms\n";
    std::ofstream(configHome.path() / "show.presets" / "drums.conf")
        << "[General]\nmappings=drums\n[drums]\ntype=1\n";
    const std::string before = fileText(settingsFile);
    for (const auto& [options, said] :
         std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--preset", "chorus"}, "kestrano: no preset named 'chorus' in "},
             {{"--preset", "drums"},
              "kestrano: preset drums is not taken: 'drums' cannot name a mapping: the settings "
              "file has a [drums] section that mappings does not list; "},
             {{"--save-preset", "VERSE"},
              "kestrano: 'VERSE' cannot name a preset: the preset 'verse' has it, without regard "
              "to case\n"},
         }) {
        std::vector<std::string> arguments = {"--config", config};
        arguments.insert(arguments.end(), options.begin(), options.end());
        const ProgramResult refused = kestrano(arguments);
        EXPECT_EQ(refused.status, 2) << options.back();
        EXPECT_TRUE(refused.errorOutput.starts_with(said)) << refused.errorOutput;
        EXPECT_EQ(fileText(settingsFile), before);
    }

    // A set-up changed since its preset was taken is kept before a switch replaces it.
    ASSERT_EQ(kestrano({"--config", config, "--set", "kick/type=0"}).status, 0);
    ASSERT_EQ(kestrano({"--config", config, "--preset", "Act 2 - storm"}).status, 0);
    const ProgramResult kept = kestrano({"--config", config, "--preset", "before the last switch"});
    EXPECT_EQ(kept.status, 0) << kept.errorOutput;
    EXPECT_NE(fileText(settingsFile).find("[kick]\ntype=0\n"), std::string::npos)
        << fileText(settingsFile);
}

TEST_F(KestranoProgramTest, DamagedSettingsAreNamedOnceAndNeverDestroyed) {
    struct DamagedFile {
        std::string text;  // after the listen port, in the [General] section
        std::vector<std::string> notices;
        bool setAside;  // the file cannot be parsed: a copy must keep what it held
    };
    const DamagedFile files[] = {
        {"volumeAmplification=nan\nminValue=inf\nmaxValue=4\n",
         {"settings: ignored volumeAmplification=nan", "settings: ignored minValue=inf"},
         false},
        {"active=maybe\ntype=often\naddress=cue*\n",
         {"settings: ignored active=maybe", "settings: ignored type=often",
          "settings: ignored address=cue*"},
         false},
        {"address=caf\xc3\xa9\nmaxValue=1e39\n",
         {"settings: ignored address=caf\xc3\xa9", "settings: ignored maxValue=1e39"},
         false},
        {"minValue=2\n[broken\nmaxValue=9\n", {"settings: cannot parse "}, true},
        // Bytes no text file holds, which the reader would take without a word.
        {"maxValue=\x01\x02\xfe\xff\x80garbage\x7f\n", {"settings: cannot parse "}, true},
        // Serialized data the program never writes: a file reader decoding it could be made to
        // allocate gigabytes.
        {"minValue=@Variant(\\0\\0\\0\\x87\\xff\\xff\\xff\\xff)\nmaxValue=4\n",
         {"settings: left out serialized values (@Variant, @DateTime) of "},
         true},
        // The reader would merge the two parts, the writer put them back as one.
        {"mappings=kick\n[kick]\ntype=1\n[kick]\naddress=k\n",
         {"settings: section [kick] written twice in "},
         true},
    };
    const auto folder = configHome.path() / "Kestrano";
    const auto settingsFile = folder / "Kestrano.conf";
    for (const DamagedFile& damaged : files) {
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        const std::string text =
            "[General]\nzandorexListenPort=" + std::to_string(freeUdpPort()) + "\n" + damaged.text;
        std::ofstream(settingsFile, std::ios::binary) << text;

        ChildProcess program({KESTRANO_PATH, "--headless"});
        ASSERT_TRUE(program.started());
        const auto statusShowsAll = [&] {
            const std::string& output = program.output();
            const size_t line = output.find('\n');
            return line != std::string::npos &&
                   std::all_of(damaged.notices.begin(), damaged.notices.end(), [&](auto& n) {
                       return output.substr(0, line).find(n) != std::string::npos;
                   });
        };
        EXPECT_TRUE(program.readUntil(statusShowsAll, 5s)) << program.output();
        program.sendSignal(SIGTERM);
        EXPECT_EQ(program.wait(3s), 0);
        for (const std::string& notice : damaged.notices) {
            const std::string line = "kestrano: " + notice;
            const size_t first = program.errorOutput().find(line);
            EXPECT_NE(first, std::string::npos) << program.errorOutput();
            EXPECT_EQ(program.errorOutput().find(line, first + 1), std::string::npos) << "once";
        }

        std::vector<std::filesystem::path> copies;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            if (entry.path().filename().string().starts_with("Kestrano.conf.damaged-")) {
                copies.push_back(entry.path());
            }
        }
        if (damaged.setAside) {
            ASSERT_EQ(copies.size(), 1u) << text;
            EXPECT_EQ(fileText(copies.front()), text);
        } else {
            EXPECT_TRUE(copies.empty());
            // The refused values stay in the file for the technician to see and mend.
            const std::string kept = fileText(settingsFile);
            for (const std::string& notice : damaged.notices) {
                EXPECT_NE(kept.find(notice.substr(notice.find("ignored ") + 8)), std::string::npos)
                    << kept;
            }
        }
    }
}

TEST_F(KestranoProgramTest, HelpVersionAndMissingDisplay) {
    const ProgramResult help = kestrano({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("--headless"), std::string::npos);

    const ProgramResult version = kestrano({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.output.rfind("kestrano ", 0), 0u);

    const ProgramResult noDisplay = kestrano({});
    EXPECT_EQ(noDisplay.status, 1);
    EXPECT_NE(noDisplay.errorOutput.find("no display is available"), std::string::npos);
    EXPECT_NE(noDisplay.errorOutput.find("--headless"), std::string::npos);
}

}  // namespace

namespace {

TEST_F(KestranoProgramTest, HeadlessMonitorPrintsEachDatagramOnALineOfItsOwn) {
    const uint16_t listenPort = freeUdpPort();
    ASSERT_EQ(kestrano({"--set", "zandorexListenPort=" + std::to_string(listenPort)}).status, 0);
    ChildProcess program({KESTRANO_PATH, "--headless", "--monitor"});
    ASSERT_TRUE(program.started());
    ASSERT_TRUE(program.readUntil([&] { return bindErrorOnPort(listenPort) == EADDRINUSE; }, 5s));

    UdpReceiver peer;
    const QVOSCData cue = {'/', 'c', 'u', 'e', 0, 0, 0, 0, ',', 'i', 0, 0, 0, 0, 0, 40};
    ASSERT_TRUE(peer.sendTo(listenPort, cue));
    ASSERT_TRUE(peer.sendTo(listenPort, QVOSCData{0xde, 0xad}));
    const std::string cueLine = " in  127.0.0.1:" + std::to_string(peer.port()) +
                                " MESSAGE: address:/cue  types:,i i { 40 }\n";
    const std::string hexLine = "undecodable 2 bytes: de ad\n";
    EXPECT_TRUE(
        program.readUntil([&] { return program.output().find(hexLine) != std::string::npos; }, 3s))
        << program.output();
    EXPECT_NE(program.output().find(cueLine), std::string::npos) << program.output();
    // Only monitor lines on standard output; the status goes to standard error.
    EXPECT_EQ(program.output().find("no input device"), std::string::npos);

    program.sendSignal(SIGTERM);
    EXPECT_EQ(program.wait(3s), 0) << program.errorOutput();
    EXPECT_NE(program.errorOutput().find("no input device"), std::string::npos);

    EXPECT_EQ(kestrano({"--monitor"}).status, 2);
}

}  // namespace

// A rehearsal on a recording: the cues fall where the file's frames put them, to the
// millisecond, and the same file gives the same journal however busy the machine is.
TEST_F(KestranoProgramTest, ReplayJournalsEachCueAtItsTimeInTheRecordingAndStoresNothing) {
    const auto settingsFile = configHome.path() / "show.conf";
    const std::string config = settingsFile.string();
    // The first mapping on every frequency in tick response, a fast one below 200 Hz, a tick
    // one above 3 kHz, and one on every frequency whose turns wait 200 ms on the file's clock.
    std::ofstream(settingsFile) << "[General]\ntype=1\naddress=all\nmappings=low,high,late\n"
                                   "[low]\ntype=1\ntriggerResponse=fast\nbandHighCut=200\n"
                                   "address=low\n[high]\ntype=1\nbandLowCut=3000\naddress=high\n"
                                   "[late]\ntype=1\ntriggerOnDelay=200\ntriggerOffDelay=200\n"
                                   "address=late\n";
    const std::string before = fileText(settingsFile);
    // Silence, a low tone from 1.0 to 1.5 s, a high one from 2.0 to 2.3 s, silence.
    const auto song = makeRecording(configHome.path(), "song.wav",
                                    {{1.0, 0}, {0.5, 100}, {0.5, 0}, {0.3, 5000}, {1.0, 0}});
    const ProgramResult replayed = kestrano({"--config", config, "--replay", song.string()});
    ASSERT_EQ(replayed.status, 0) << replayed.errorOutput;
    // The fast mapping turns with the first 5 ms that hold the tone (or none of it); the tick's
    // with the first tick of 50 ms that reads it; the late one 200 ms after its tick.
    EXPECT_EQ(replayed.output,
              "1.005\t/zandorex/low\t10\n"
              "1.050\t/zandorex/all\t10\n"
              "1.250\t/zandorex/late\t10\n"
              "1.505\t/zandorex/low\t0\n"
              "1.550\t/zandorex/all\t0\n"
              "1.750\t/zandorex/late\t0\n"
              "2.050\t/zandorex/all\t10\n"
              "2.050\t/zandorex/high\t10\n"
              "2.250\t/zandorex/late\t10\n"
              "2.350\t/zandorex/all\t0\n"
              "2.350\t/zandorex/high\t0\n"
              "2.550\t/zandorex/late\t0\n");
    EXPECT_EQ(replayed.errorOutput,
              "song.wav: 3.300 s replayed\n"
              "(first mapping): 2 turns on, on for 0.800 s, first at 1.050 s, last at 2.050 s\n"
              "low: 1 turns on, on for 0.500 s, first at 1.005 s, last at 1.005 s\n"
              "high: 1 turns on, on for 0.300 s, first at 2.050 s, last at 2.050 s\n"
              "late: 2 turns on, on for 0.800 s, first at 1.250 s, last at 2.250 s\n");
    EXPECT_EQ(fileText(settingsFile), before);

    // Into a file, again and again, byte for byte; a preset's set-up in place of the stored one.
    const auto journal = configHome.path() / "journal.tsv";
    for (int run = 0; run < 3; ++run) {
        ASSERT_EQ(
            kestrano({"--config", config, "--replay", song.string(), "--journal", journal.string()})
                .status,
            0);
        EXPECT_EQ(fileText(journal), replayed.output) << "run " << run;
    }
    ASSERT_EQ(kestrano({"--config", config, "--save-preset", "two"}).status, 0);
    ASSERT_EQ(kestrano({"--config", config, "--set", "mappings=low"}).status, 0);
    ASSERT_EQ(kestrano({"--config", config, "--set", "type=0"}).status, 0);
    const std::string stored = fileText(settingsFile);
    const ProgramResult preset =
        kestrano({"--config", config, "--replay", song.string(), "--preset", "two"});
    EXPECT_EQ(preset.output, replayed.output) << preset.errorOutput;
    EXPECT_EQ(fileText(settingsFile), stored);
}

// A file that is no recording an input could make is refused with its reason; one cut short
// keeps the journal of what it held and says how much that was.
TEST_F(KestranoProgramTest, ReplayRefusesWhatIsNoRecordingAndSaysWhereADamagedOneEnds) {
    const auto folder = configHome.path();
    const auto tone = makeRecording(folder, "tone.wav", {{0.5, 0}, {1.0, 100}, {0.5, 0}});
    ASSERT_FALSE(tone.empty());
    const std::string whole = fileText(tone);
    std::ofstream(folder / "cut.wav", std::ios::binary) << whole.substr(0, whole.size() / 2);
    std::ofstream(folder / "notes.wav") << "not a recording\n";
    std::string header = whole.substr(0, 44);
    header[8] = 'X';  // "WAVE" no more
    std::ofstream(folder / "header.wav", std::ios::binary) << header + whole.substr(44);
    std::string silentChannels = whole;
    silentChannels[22] = 0;  // the format chunk's channel count
    silentChannels[23] = 0;
    std::ofstream(folder / "nochannels.wav", std::ios::binary) << silentChannels;
    ASSERT_EQ(runProgram({"/usr/bin/sox", "-n", "-r", "500", (folder / "slow.wav").string(),
                          "synth", "1", "sine", "100"})
                  .status,
              0);
    for (const auto& [file, said] : std::vector<std::pair<std::string, std::string>>{
             {"notes.wav", "Format not recognised"},
             {"header.wav", "Format not recognised"},
             {"nochannels.wav", "channel"},
             {"slow.wav", "a rate of 500 Hz; an input runs at 1000 to 384000 Hz"},
             {"missing.wav", "No such file or directory"},
         }) {
        const ProgramResult refused = kestrano({"--replay", (folder / file).string()});
        EXPECT_EQ(refused.status, 2) << file;
        EXPECT_TRUE(refused.errorOutput.starts_with("kestrano: cannot replay: ")) << file;
        EXPECT_NE(refused.errorOutput.find(said), std::string::npos) << refused.errorOutput;
        EXPECT_EQ(refused.output, "");
    }

    std::filesystem::create_directories(folder / "Kestrano");
    std::ofstream(folder / "Kestrano" / "Kestrano.conf") << "[General]\ntype=1\naddress=cue\n";
    const ProgramResult cut = kestrano({"--replay", (folder / "cut.wav").string()});
    EXPECT_EQ(cut.status, 1);
    // The tone began before the cut: its turn on is in the journal.
    EXPECT_EQ(cut.output, "0.550\t/zandorex/cue\t10\n");
    EXPECT_NE(cut.errorOutput.find("cut.wav: truncated: the header promises 96000 frames, the "
                                   "file holds 47989; the journal holds the first 1.000 s"),
              std::string::npos)
        << cut.errorOutput;
}
