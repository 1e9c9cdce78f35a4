// kestrano --headless obeying remote control sent by liblo's oscsend, answering the peer that
// asked, and refusing bad requests one by one, while it keeps sending the level twenty times a
// second.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>
#include <tuple>

#include "osc/QVOSCArgument.h"
#include "osc/QVOSCBundle.h"
#include "osc/QVOSCDecoder.h"
#include "osc/QVOSCMessage.h"
#include "tests/audio/HeadlessProgram.h"
#include "tests/audio/PulseTestSupport.h"

using namespace std::chrono_literals;

namespace {

constexpr const char* oscsend = "/usr/bin/oscsend";

// The message as liblo encodes it: oscsend writes it to standard output for a target of "-".
QVOSCData encodedByLiblo(const std::vector<std::string>& message) {
    std::vector<std::string> arguments{oscsend, "-"};
    arguments.insert(arguments.end(), message.begin(), message.end());
    const ProgramResult result = runProgram(arguments);
    EXPECT_EQ(result.status, 0) << result.errorOutput;
    return QVOSCData(result.output.begin(), result.output.end());
}

std::string addressOf(const QVOSCData& datagram) {
    const auto message =
        std::dynamic_pointer_cast<QVOSCMessage>(QVOSCDecoder::decodeData(datagram));
    return message ? message->address()->address() : std::string();
}

std::string textArgumentOf(const QVOSCData& datagram) {
    const auto message =
        std::dynamic_pointer_cast<QVOSCMessage>(QVOSCDecoder::decodeData(datagram));
    if (!message || message->attachedObjects().size() != 1) {
        return {};
    }
    const auto& argument = static_cast<const QVOSCArgument&>(*message->attachedObjects()[0]);
    return argument.description();
}

class RemoteControlTest : public testing::Test {
  protected:
    RemoteControlTest() {
        EXPECT_TRUE(stored);
        EXPECT_EQ(runProgram({KESTRANO_PATH, "--set", "remoteControl=true"}).status, 0);
        EXPECT_EQ(runProgram({KESTRANO_PATH, "--set", "mappings=kick"}).status, 0);
        // Quiet, so that what Zandorex receives is the first mapping's alone.
        EXPECT_EQ(runProgram({KESTRANO_PATH, "--set", "kick/active=false"}).status, 0);
        program =
            std::make_unique<ChildProcess>(std::vector<std::string>{KESTRANO_PATH, "--headless"});
    }

    // Sends the request from the peer's socket, and after it a question that the program
    // answers in turn: the answers that come before that one's are the request's, however long
    // a busy machine takes (a pause in the answers would split them between two requests).
    // Each takes a fifth of a second at least, which keeps the answers within the reply budget.
    std::vector<QVOSCData> ask(const std::vector<std::string>& message) {
        const auto sent = std::chrono::steady_clock::now();
        EXPECT_TRUE(peer.sendTo(listenPort, encodedByLiblo(message)));
        EXPECT_TRUE(peer.sendTo(listenPort, remoteCommand("/kestrano/get/remoteControl")));
        std::vector<QVOSCData> answers;
        while (std::chrono::steady_clock::now() < sent + 10s) {
            const auto answer = peer.receive(100ms);
            if (answer && addressOf(*answer) == "/kestrano/setting/remoteControl") {
                std::this_thread::sleep_until(sent + 200ms);
                return answers;
            }
            if (answer) {
                answers.push_back(*answer);
            }
        }
        ADD_FAILURE() << "the question after " << message.front() << " was not answered";
        return answers;
    }

    // The messages of the one bundle datagram that answers /kestrano/get, each as its own bytes.
    std::vector<QVOSCData> askForEverySetting() {
        const std::vector<QVOSCData> answers = ask({"/kestrano/get"});
        EXPECT_EQ(answers.size(), 1u) << "one datagram";
        std::vector<QVOSCData> messages;
        const auto bundle = answers.empty() ? nullptr : QVOSCDecoder::decodeData(answers.front());
        for (const auto& element : bundle ? bundle->attachedObjects() : QVOSCObjectList()) {
            messages.push_back(static_cast<const QVOSCPacket&>(*element).packetizedData());
        }
        return messages;
    }

    // Every level datagram that arrived since the last call.
    std::vector<QVOSCData> arrivedLevels() {
        std::vector<QVOSCData> arrived;
        while (auto datagram = zandorex.receive(0ms)) {
            arrived.push_back(*datagram);
        }
        return arrived;
    }

    // The next level datagram, skipping those that do not satisfy `wanted`; nothing after 2 s.
    std::optional<QVOSCData> levelWhere(const std::function<bool(const QVOSCData&)>& wanted) {
        const auto deadline = std::chrono::steady_clock::now() + 2s;
        while (std::chrono::steady_clock::now() < deadline) {
            if (auto datagram = zandorex.receive(100ms); datagram && wanted(*datagram)) {
                return datagram;
            }
        }
        return std::nullopt;
    }

    TempDir configHome;
    ScopedEnvironment config{"XDG_CONFIG_HOME", configHome.path().string()};
    UdpReceiver zandorex;
    UdpReceiver peer;
    uint16_t listenPort = freeUdpPort();
    bool stored = storeLevelSettings(zandorex.port(), {}, listenPort);
    std::unique_ptr<ChildProcess> program;
};

TEST_F(RemoteControlTest, LibloPeersSetGetAndSaveAndEveryBadRequestGetsOneError) {
    ASSERT_TRUE(program->started());
    ASSERT_TRUE(zandorex.receive(5s).has_value()) << program->errorOutput();

    // Straight from oscsend over UDP. The input is silent, so the level maps to the minimum.
    const std::string port = std::to_string(listenPort);
    ASSERT_EQ(runProgram({oscsend, "127.0.0.1", port, "/kestrano/set/minValue", "f", "2.5"}).status,
              0);
    EXPECT_TRUE(levelWhere([](const QVOSCData& d) {
        return levelValue(d) && std::abs(*levelValue(d) - 2.5f) < 0.01f;
    }));
    ASSERT_EQ(
        runProgram({oscsend, "127.0.0.1", port, "/kestrano/set/address", "s", "cue40"}).status, 0);
    EXPECT_TRUE(levelWhere([](const QVOSCData& d) { return addressOf(d) == "/zandorex/cue40"; }));

    // `active` as an int, a boolean and a float.
    for (const auto& [off, on] :
         {std::pair<std::vector<std::string>, std::vector<std::string>>{{"i", "0"}, {"T"}},
          {{"F"}, {"f", "1.0"}}}) {
        std::vector<std::string> request{"/kestrano/set/active"};
        request.insert(request.end(), off.begin(), off.end());
        EXPECT_TRUE(ask(request).empty());
        arrivedLevels();
        EXPECT_FALSE(zandorex.receive(300ms).has_value()) << "sending stopped";
        request.resize(1);
        request.insert(request.end(), on.begin(), on.end());
        EXPECT_TRUE(ask(request).empty());
        EXPECT_TRUE(zandorex.receive(1s).has_value()) << "sending again";
    }

    ASSERT_EQ(ask({"/kestrano/set/kick/address", "s", "kick"}).size(), 0u);
    const std::vector<QVOSCData> before = askForEverySetting();
    ASSERT_GE(before.size(), 13u);
    std::vector<std::string> addresses;
    for (const QVOSCData& answer : before) {
        addresses.push_back(addressOf(answer));
    }
    // The readings come last, the first mapping's, then each further one's.
    EXPECT_EQ(std::vector(addresses.end() - 6, addresses.end()),
              (std::vector<std::string>{"/kestrano/level", "/kestrano/peak",
                                        "/kestrano/lastValueSent", "/kestrano/kick/level",
                                        "/kestrano/kick/peak", "/kestrano/kick/lastValueSent"}));
    for (const auto& [address, argument] :
         {std::pair<std::string, std::string>{"/kestrano/setting/minValue", "f { 2.500000 }"},
          {"/kestrano/setting/address", "s { cue40 }"},
          {"/kestrano/setting/active", "i { 1 }"},
          {"/kestrano/setting/remoteControl", "i { 1 }"},
          {"/kestrano/setting/kick/address", "s { kick }"},
          {"/kestrano/setting/kick/minValue", "f { 0.000000 }"},
          {"/kestrano/lastValueSent", "f { 2.500000 }"}}) {
        const auto found = std::find(addresses.begin(), addresses.end(), address);
        ASSERT_NE(found, addresses.end()) << address;
        EXPECT_EQ(textArgumentOf(before[found - addresses.begin()]), argument) << address;
    }
    // A further mapping's settings follow the first mapping's and the instance's.
    EXPECT_LT(std::find(addresses.begin(), addresses.end(), "/kestrano/setting/mappings"),
              std::find(addresses.begin(), addresses.end(), "/kestrano/setting/kick/active"));

    const std::filesystem::path presets = configHome.path() / "Kestrano" / "Kestrano.presets";
    std::filesystem::create_directories(presets);
    std::ofstream(presets / "half.conf") << "mappings=kick\n[kick]\nactive=true\nmaxValue=loud\n";
    std::ofstream(presets / "machine.conf") << "minValue=1\nzandorexSendPort=6000\n";
    struct BadRequest {
        std::vector<std::string> message;
        std::string error;
    };
    const BadRequest badRequests[] = {
        {{"/kestrano/set/maxValue", "s", "loud"},
         "bad value 'loud' for maxValue: expected a decimal number from -1000000 to 1000000 (0: "
         "10)"},
        {{"/kestrano/set/volumeAmplification", "f", "5000"},
         "bad value '5000' for volumeAmplification: expected a decimal number from -1000 to "
         "1000"},
        {{"/kestrano/set/maxValue", "f", "nan"}, "bad value for maxValue: NaN or infinity"},
        {{"/kestrano/set/minValue", "f", "inf"}, "bad value for minValue: NaN or infinity"},
        {{"/kestrano/set/maxValue"}, "missing value for maxValue"},
        {{"/kestrano/set/minValue", "ff", "1", "2"}, "minValue takes one value, got 2"},
        {{"/kestrano/set/minValue", "d", "1.5"},
         "wrong argument type for minValue: type 'd'; expected a decimal number from -1000000 to "
         "1000000"},
        {{"/kestrano/set/address", "f", "1.0"},
         "wrong argument type for address: a float (f); expected printable ASCII without spaces "
         "or any of # * , ? [ ] { }, not starting or ending with / nor holding //"},
        {{"/kestrano/set/address", "s", "a b"},
         "bad value 'a b' for address: expected printable ASCII without spaces or any of # * , ? "
         "[ ] { }, not starting or ending with / nor holding //"},
        {{"/kestrano/set/active", "i", "5"}, "bad value for active: expected 0 or 1, T or F"},
        {{"/kestrano/set/type", "i", "7"},
         "bad value '7' for type: expected continuous, trigger or silence (or 0, 1, 2)"},
        {{"/kestrano/set/type", "T"},
         "wrong argument type for type: a boolean (T); expected continuous, trigger or silence (or "
         "0, 1, 2)"},
        {{"/kestrano/set/colour", "s", "red"}, "unknown setting 'colour'"},
        {{"/kestrano/set/hat/active", "T"}, "no mapping named 'hat'; mappings lists kick"},
        {{"/kestrano/set/mappings", "s", "kick,hat"}, "mappings cannot be set remotely"},
        {{"/kestrano/set/zandorexSendPort", "i", "6000"},
         "zandorexSendPort cannot be set remotely"},
        {{"/kestrano/launch"}, "unknown command /kestrano/launch"},
        // A value where none is taken is a mistake, not a tap, a save or a question.
        {{"/kestrano/tap", "f", "3.5"}, "/kestrano/tap takes no value, got 1"},
        {{"/kestrano/save", "s", "x"}, "/kestrano/save takes no value, got 1"},
        {{"/kestrano/get/kick/level", "s", "x"}, "/kestrano/get/kick/level takes no value, got 1"},
        {{"/kestrano/get/"}, "unknown setting ''"},
        {{"/kestrano/get/hat/level"}, "no mapping named 'hat'; mappings lists kick"},
        {{"/kestrano/set/kick/triggerOnDelay", "f", "1.5"},
         "bad value for kick/triggerOnDelay: expected a whole number"},
        {{"/kestrano/set/attackTime", "i", "70000"},
         "bad value '70000' for attackTime: expected milliseconds from 0 to 60000"},
        {{"/kestrano/set/triggerOnDelay", "f", "1.5"},
         "bad value for triggerOnDelay: expected a whole number"},
        {{"/kestrano/set/triggerOffThreshold", "f", "0.75"},
         "bad value '0.75' for triggerOffThreshold: it must not exceed triggerOnThreshold (0.5)"},
        {{"/kestrano/set/bandHighCut", "f", "100"}, ""},
        {{"/kestrano/set/bandLowCut", "f", "200"},
         "bad value '200' for bandLowCut: it must be below bandHighCut (100)"},
        {{"/kestrano/set/bandHighCut", "f", "0"}, ""},
        {{"/kestrano/preset", "s", "chorus"}, "no preset named 'chorus' in " + presets.string()},
        {{"/kestrano/preset"}, "/kestrano/preset takes the name of a preset (s)"},
        {{"/kestrano/preset", "i", "1"}, "/kestrano/preset takes the name of a preset (s)"},
        {{"/kestrano/preset/save", "s", "a/b"}, "'a/b' cannot name a preset: it holds a /"},
        {{"/kestrano/set/preset", "s", "verse"}, "preset cannot be set remotely"},
        // Refused whole, with the file and the key; nothing of it is taken.
        {{"/kestrano/preset", "s", "half"},
         (presets / "half.conf").string() +
             ": kick/maxValue=loud: expected a decimal number from -1000000 to 1000000 (0: 10)"},
        {{"/kestrano/preset", "s", "machine"},
         (presets / "machine.conf").string() +
             ": zandorexSendPort is this machine's setting, which a preset does not hold"},
    };
    arrivedLevels();
    const auto tableStart = std::chrono::steady_clock::now();
    // Counted as they come: the receiver's queue holds about 250 datagrams, fewer than a slow
    // run of the table brings.
    size_t levels = 0;
    for (const BadRequest& bad : badRequests) {
        const std::vector<QVOSCData> answers = ask(bad.message);
        levels += arrivedLevels().size();
        if (bad.error.empty()) {
            EXPECT_TRUE(answers.empty()) << bad.message.front();  // a good one, for the next
            continue;
        }
        ASSERT_EQ(answers.size(), 1u) << bad.message.front();
        EXPECT_EQ(addressOf(answers[0]), "/kestrano/error");
        EXPECT_EQ(textArgumentOf(answers[0]), "s { " + bad.error + " }");
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - tableStart).count();
    levels += arrivedLevels().size();
    std::printf("%zu bad requests answered in %.2f s, %.1f level messages a second meanwhile\n",
                std::size(badRequests), seconds, static_cast<double>(levels) / seconds);
    EXPECT_GE(static_cast<double>(levels), 0.75 * 20.0 * seconds)
        << levels << " level messages in " << seconds << " s";

    // Nothing changed: the settings read back exactly as before.
    std::vector<QVOSCData> after = askForEverySetting();
    ASSERT_EQ(after.size(), before.size());
    for (size_t index = 0; index + 3 < before.size(); ++index) {
        EXPECT_EQ(after[index], before[index]) << addresses[index];
    }

    // Not stored until saved.
    const auto storedFile = configHome.path() / "Kestrano" / "Kestrano.conf";
    const auto fileText = [&] {
        std::stringstream text;
        text << std::ifstream(storedFile).rdbuf();
        return text.str();
    };
    // The file is written off the main thread, and "saved" answers once it holds the change.
    const auto save = [&] {
        EXPECT_TRUE(peer.sendTo(listenPort, remoteCommand("/kestrano/save")));
        std::optional<QVOSCData> answer;
        const auto asked = std::chrono::steady_clock::now();
        while (!answer && std::chrono::steady_clock::now() < asked + 10s) {
            answer = peer.receive(100ms);
        }
        return answer ? addressOf(*answer) : std::string("no answer to /kestrano/save");
    };
    EXPECT_EQ(fileText().find("address=cue40"), std::string::npos);
    EXPECT_EQ(save(), "/kestrano/saved");
    EXPECT_NE(fileText().find("address=cue40"), std::string::npos) << fileText();

    // A change stored at once (its write handed to the writer, not waited for) right before the
    // program is told to stop is in the file: the quit waits for the write.
    ASSERT_TRUE(peer.sendTo(listenPort, remoteCommand("/kestrano/set/inputChannels", "1")));
    ask({"/kestrano/get/inputChannels"});  // obeyed in turn: the change was taken before
    program->sendSignal(SIGTERM);
    EXPECT_EQ(program->wait(10s), 0) << program->errorOutput();
    EXPECT_NE(fileText().find("inputChannels=1"), std::string::npos) << fileText();
}

}  // namespace

namespace {

// A message to Zandorex as the switch test counts it: when it came, where it went, its value.
struct Sent {
    std::chrono::steady_clock::time_point at;
    std::string address;
    float value = 0.0f;
};

std::optional<float> floatArgumentOf(const QVOSCData& datagram) {
    const auto message =
        std::dynamic_pointer_cast<QVOSCMessage>(QVOSCDecoder::decodeData(datagram));
    if (!message || message->attachedObjects().size() != 1) {
        return std::nullopt;
    }
    const auto& argument = static_cast<const QVOSCArgument&>(*message->attachedObjects()[0]);
    return argument.floatValue();
}

// The text of the one answer a request got, or how many came when that is not one.
std::string soleTextOf(const std::vector<QVOSCData>& answers) {
    return answers.size() == 1 ? textArgumentOf(answers[0])
                               : std::to_string(answers.size()) + " answers";
}

// What Zandorex received, a message a line with its time from the first, for a failure's text:
// a trigger's turn with the level dipping beside it is a gap in the tone, one without is a fault.
std::string listed(const std::vector<Sent>& sent) {
    std::ostringstream text;
    for (const Sent& one : sent) {
        text << "\n  "
             << std::chrono::duration_cast<std::chrono::milliseconds>(one.at - sent.front().at)
                    .count()
             << " ms " << one.address << " " << one.value;
    }
    return text.str();
}

size_t countTo(const std::vector<Sent>& sent, const std::string& address,
               std::optional<float> value = std::nullopt) {
    return std::count_if(sent.begin(), sent.end(), [&](const Sent& one) {
        return one.address == address && (!value || std::abs(one.value - *value) < 0.01f);
    });
}

}  // namespace

// Presets switched by remote control under a steady tone: a mapping in both sends nothing
// because of a switch, one that arrives turns on once, one that leaves sends its off if it was
// on, new keys decide the next value; refusals change nothing, and a restart resumes the last
// preset. Mappings that trade places with different bands hear only their own.
TEST_F(RemoteControlTest, PresetSwitchesUnderASteadyToneSendOnlyWhatChanged) {
    ASSERT_TRUE(program->started());
    ASSERT_TRUE(zandorex.receive(5s).has_value()) << program->errorOutput();
    // verse: the live set-up with kick a trigger, made in silence so that the tone turns it on.
    for (const std::vector<std::string>& request :
         {std::vector<std::string>{"/kestrano/set/kick/type", "s", "trigger"},
          {"/kestrano/set/kick/address", "s", "kick"},
          {"/kestrano/set/kick/active", "T"}}) {
        EXPECT_TRUE(ask(request).empty()) << request.front();
    }
    SineTone tone("feed");
    ASSERT_TRUE(tone.started());

    std::vector<Sent> sent;
    const auto receivedNow = [&](const QVOSCData& datagram) {
        sent.push_back({std::chrono::steady_clock::now(), addressOf(datagram),
                        floatArgumentOf(datagram).value_or(-1.0f)});
        return sent.back();
    };
    // Collects what Zandorex receives until `done` holds of it (or `limit` passes); true when
    // it held.
    const auto collectUntil = [&](const std::function<bool(const Sent&)>& done,
                                  std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            const auto datagram = zandorex.receive(20ms);
            if (datagram && done(receivedNow(*datagram))) {
                return true;
            }
        }
        return false;
    };
    const auto never = [](const Sent&) { return false; };
    const auto sentTo = [](std::string address, float value) {
        return [address, value](const Sent& one) {
            return one.address == address && std::abs(one.value - value) < 0.01f;
        };
    };
    const auto levelPast = [](float bound, bool above) {
        return [bound, above](const Sent& one) {
            return one.address == "/zandorex/level" && (one.value > bound) == above;
        };
    };
    // Switches, expects the switch acknowledged, and gives the time the command left; what
    // Zandorex receives meanwhile is collected as it comes.
    const auto switchTo = [&](const std::string& name) {
        collectUntil(never, 100ms);
        const auto at = std::chrono::steady_clock::now();
        EXPECT_TRUE(peer.sendTo(listenPort, remoteCommand("/kestrano/preset", name)));
        while (std::chrono::steady_clock::now() < at + 5s) {
            if (const auto answer = peer.receive(0ms)) {
                EXPECT_EQ(addressOf(*answer) + " " + textArgumentOf(*answer),
                          "/kestrano/preset s { " + name + " }");
                return at;
            }
            if (const auto datagram = zandorex.receive(1ms)) {
                receivedNow(*datagram);
            }
        }
        ADD_FAILURE() << "no answer to the switch to " << name;
        return at;
    };
    const auto since = [&](std::chrono::steady_clock::time_point at) {
        std::vector<Sent> after;
        std::copy_if(sent.begin(), sent.end(), std::back_inserter(after),
                     [at](const Sent& one) { return one.at >= at; });
        return after;
    };
    // Whether a message since `at` satisfies `done`, waiting up to `limit` for one.
    const auto cameSince = [&](std::chrono::steady_clock::time_point at, const auto& done,
                               std::chrono::milliseconds limit) {
        const std::vector<Sent> came = since(at);
        return std::any_of(came.begin(), came.end(), done) || collectUntil(done, limit);
    };

    ASSERT_TRUE(collectUntil(sentTo("/zandorex/kick", 10.0f), 6s));
    ASSERT_TRUE(collectUntil(levelPast(6.0f, true), 5s));
    const std::vector<QVOSCData> saved = ask({"/kestrano/preset/save", "s", "verse"});
    EXPECT_EQ(soleTextOf(saved), "s { verse }");
    EXPECT_EQ(addressOf(saved.at(0)), "/kestrano/preset/saved");
    // storm and chorus by hand: kick the same in storm, thunder arriving, the level halved;
    // chorus without kick, with hat.
    const std::filesystem::path presets = configHome.path() / "Kestrano" / "Kestrano.presets";
    std::ofstream(presets / "storm.conf")
        << "; the storm scene\n[General]\nmappings=kick,thunder\ntype=0\naddress=level\n"
           "maxValue=5\n\n[kick]\ntype=1\naddress=kick\nactive=true\n\n[thunder]\ntype=1\n"
           "address=thunder\n";
    std::ofstream(presets / "chorus.conf")
        << "[General]\nmappings=hat\ntype=0\naddress=level\nmaxValue=10\n[hat]\ntype=1\n"
           "address=hat\n";
    std::ofstream(presets / "broken.conf") << "[General]\nmaxValue=1\n[General]\nminValue=2\n";
    // Written by hand, they join the list as they land.
    const std::vector<QVOSCData> presetList = ask({"/kestrano/get/presets"});
    ASSERT_EQ(presetList.size(), 1u);
    for (const std::string name : {"broken", "chorus", "storm", "verse"}) {
        EXPECT_NE(std::string(presetList[0].begin(), presetList[0].end()).find(name),
                  std::string::npos);
    }

    // To storm: thunder turns on once, kick sends nothing, the level follows the new maximum.
    const auto stormAt = switchTo("storm");
    EXPECT_TRUE(collectUntil(sentTo("/zandorex/thunder", 10.0f), 5s));
    EXPECT_TRUE(collectUntil(levelPast(4.0f, false), 5s));
    collectUntil(never, 600ms);
    const std::vector<Sent> afterStorm = since(stormAt);
    EXPECT_EQ(countTo(afterStorm, "/zandorex/kick"), 0u);
    EXPECT_EQ(countTo(afterStorm, "/zandorex/thunder"), 1u);
    const auto firstLevel =
        std::find_if(afterStorm.begin(), afterStorm.end(), levelPast(4.0f, false));
    ASSERT_NE(firstLevel, afterStorm.end());
    EXPECT_EQ(std::count_if(firstLevel, afterStorm.end(), levelPast(4.0f, true)), 0)
        << "the old maximum after the new one";

    // Back to verse: thunder leaves, sends its off and nothing more.
    const auto verseAt = switchTo("verse");
    EXPECT_TRUE(collectUntil(levelPast(6.0f, true), 5s));
    collectUntil(never, 600ms);
    EXPECT_EQ(countTo(since(verseAt), "/zandorex/kick"), 0u) << listed(since(verseAt));
    EXPECT_EQ(countTo(since(verseAt), "/zandorex/thunder"), 1u);
    EXPECT_EQ(countTo(since(verseAt), "/zandorex/thunder", 0.0f), 1u);

    // Refused whole: every mapping goes on as before, and verse stays the preset.
    const auto refusedAt = std::chrono::steady_clock::now();
    for (const std::string name : {"nosuch", "broken"}) {
        const std::vector<QVOSCData> answer = ask({"/kestrano/preset", "s", name});
        EXPECT_NE(soleTextOf(answer).find(name), std::string::npos) << soleTextOf(answer);
        EXPECT_EQ(addressOf(answer.at(0)), "/kestrano/error") << name;
    }
    collectUntil(never, 300ms);
    const std::vector<Sent> afterRefusals = since(refusedAt);
    EXPECT_EQ(countTo(afterRefusals, "/zandorex/kick"), 0u);
    EXPECT_GE(countTo(afterRefusals, "/zandorex/level"), 5u);
    EXPECT_TRUE(std::all_of(afterRefusals.begin(), afterRefusals.end(), levelPast(6.0f, true)));
    EXPECT_EQ(soleTextOf(ask({"/kestrano/get/preset"})), "s { verse }");

    // Twenty switches back and forth: kick, the same in both, never turns.
    const auto backAndForthAt = std::chrono::steady_clock::now();
    for (int round = 0; round < 20; ++round) {
        switchTo(round % 2 == 0 ? "storm" : "verse");
        collectUntil(never, 100ms);
    }
    collectUntil(never, 500ms);
    EXPECT_EQ(countTo(since(backAndForthAt), "/zandorex/kick"), 0u)
        << listed(since(backAndForthAt));

    // To chorus: kick leaves with its off, hat turns on once; the switch is stored, so a restart
    // resumes it.
    const auto chorusAt = switchTo("chorus");
    EXPECT_TRUE(collectUntil(sentTo("/zandorex/hat", 10.0f), 5s));
    collectUntil(never, 600ms);
    EXPECT_EQ(countTo(since(chorusAt), "/zandorex/kick"), 1u) << listed(since(chorusAt));
    EXPECT_EQ(countTo(since(chorusAt), "/zandorex/kick", 0.0f), 1u);
    EXPECT_EQ(countTo(since(chorusAt), "/zandorex/hat"), 1u);

    program->sendSignal(SIGTERM);
    ASSERT_EQ(program->wait(3s), 0) << program->errorOutput();
    const auto restartAt = std::chrono::steady_clock::now();
    program = std::make_unique<ChildProcess>(std::vector<std::string>{KESTRANO_PATH, "--headless"});
    EXPECT_TRUE(collectUntil(sentTo("/zandorex/hat", 10.0f), 6s)) << program->errorOutput();
    collectUntil(never, 500ms);
    EXPECT_EQ(countTo(since(restartAt), "/zandorex/kick"), 0u) << listed(since(restartAt));
    EXPECT_EQ(countTo(since(restartAt), "/zandorex/thunder"), 0u);
    EXPECT_EQ(soleTextOf(ask({"/kestrano/get/preset"})), "s { chorus }");
    EXPECT_EQ(soleTextOf(ask({"/kestrano/get/presetChanged"})), "i { 0 }") << "still chorus";

    // low (a trigger below 2 kHz, hearing the tone) and high (above 6 kHz) trade places in two
    // presets: through twenty switches, in either response, high never fires on what low's band
    // gathered, and low, on each time it leaves, sends its off.
    for (const std::string response : {"tick", "fast"}) {
        SCOPED_TRACE(response);
        for (const auto& [preset, mapping, band] :
             {std::tuple{"low", "low", "bandHighCut=2000"}, {"high", "high", "bandLowCut=6000"}}) {
            std::ofstream(presets / (std::string(preset) + ".conf"))
                << "[General]\nmappings=" << mapping << "\n[" << mapping
                << "]\ntype=1\naddress=" << mapping << "\n"
                << band << "\ntriggerResponse=" << response << "\n";
        }
        switchTo("high");
        const auto startAt = switchTo("low");
        ASSERT_TRUE(cameSince(startAt, sentTo("/zandorex/low", 10.0f), 5s));
        for (int round = 0; round < 20; ++round) {
            const bool toHigh = round % 2 == 0;
            const auto at = switchTo(toHigh ? "high" : "low");
            EXPECT_TRUE(cameSince(at, sentTo("/zandorex/low", toHigh ? 0.0f : 10.0f), 5s)) << round;
        }
        collectUntil(never, 500ms);
        const std::vector<Sent> during = since(startAt);
        EXPECT_EQ(countTo(during, "/zandorex/high"), 0u) << listed(during);
        EXPECT_EQ(countTo(during, "/zandorex/low", 0.0f), 10u) << listed(during);
        EXPECT_EQ(countTo(during, "/zandorex/low", 10.0f), 11u) << listed(during);
    }
    program->sendSignal(SIGTERM);
    EXPECT_EQ(program->wait(3s), 0) << program->errorOutput();
}
