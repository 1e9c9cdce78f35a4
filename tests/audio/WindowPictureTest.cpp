// The window's pictures for the README, made from a stored set-up of three mappings with a
// recording of tones as the input, played in a loop as a sound check's recording would be: the
// spectrum with the three bands, the mappings' rows and the kick's level history, at a laptop's
// and a desktop's screen size.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTableWidget>
#include <QTest>
#include <cstdlib>

#include "app/audio/AudioCapture.h"
#include "app/audio/recording/RecordingInputCapture.h"
#include "app/control/KestranoController.h"
#include "app/run/QtMainLoop.h"
#include "app/settings/store/QSettingsPreferencesStore.h"
#include "app/window/MainWindow.h"
#include "app/window/widgets/FrequencyView.h"
#include "app/window/widgets/LevelHistory.h"
#include "tests/app/support/AppTestEnvironment.h"
#include "tests/audio/PulseTestSupport.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "tests/support/Udp.h"

namespace {

using namespace std::chrono_literals;

TEST(WindowPictureTest, ThreeMappingsOnTonesAtALaptopsAndADesktopsSize) {
    // A kick pulsing twice a second, a steady voice and a hi-hat pulsing four times a second.
    TempDir folder;
    std::vector<std::string> mix = {"/usr/bin/sox", "-m"};
    for (const auto& [name, tone] :
         {std::pair<std::string, std::vector<std::string>>{
              "kick", {"sine", "80", "vol", "0.4", "tremolo", "2", "100"}},
          {"voice", {"sine", "1000", "vol", "0.25"}},
          {"hat", {"sine", "8000", "vol", "0.25", "tremolo", "4", "100"}}}) {
        const std::string part = (folder.path() / (name + ".wav")).string();
        std::vector<std::string> make = {"/usr/bin/sox", "-n", "-r", "48000", "-c", "1",
                                         "-b",           "16", part, "synth", "8"};
        make.insert(make.end(), tone.begin(), tone.end());
        ASSERT_EQ(runProgram(make).status, 0) << name;
        // Summed as they are (-v 1), as the sound server sums streams, rather than each cut to
        // a third.
        mix.insert(mix.end(), {"-v", "1", part});
    }
    const std::string soundCheck = (folder.path() / "soundcheck.wav").string();
    mix.push_back(soundCheck);
    ASSERT_EQ(runProgram(mix).status, 0);

    UdpReceiver zandorex;
    QSettingsPreferencesStore stored;
    // A voice fader on the middle band, a kick trigger below 150 Hz and a hi-hat trigger above
    // 6 kHz, as a technician would keep them.
    for (const auto& [key, value] :
         {std::pair<std::string, std::string>{"zandorexSendPort", std::to_string(zandorex.port())},
          {"zandorexListenPort", std::to_string(freeUdpPort())},
          {"address", "voice/fader"},
          {"bandLowCut", "300"},
          {"bandHighCut", "3000"},
          {"mappings", "kick,hat"},
          {"kick/type", "trigger"},
          {"kick/address", "cue/kick"},
          {"kick/bandHighCut", "150"},
          {"kick/triggerOnThreshold", "0.45"},
          {"kick/triggerOffThreshold", "0.3"},
          {"hat/type", "trigger"},
          {"hat/address", "cue/hat"},
          {"hat/bandLowCut", "6000"},
          {"inputDevice", "file:" + soundCheck}}) {
        stored.setString(key, value);
    }
    ASSERT_EQ(stored.commit(), std::nullopt);

    QtMainLoop mainLoop;
    KestranoController controller(mainLoop, stored, makeLiveAudioCapture(mainLoop));
    MainWindow window(controller);
    controller.awakeFromNib();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_EQ(controller.settings().mappingNames(), (std::vector<std::string>{"kick", "hat"}));

    ASSERT_EQ(controller.selectedAudioDevice().value_or(AudioDevice{}).description,
              "Recording: soundcheck.wav");

    auto* table = window.findChild<QTableWidget*>("mappingTable");
    ASSERT_NE(table, nullptr);
    table->setCurrentCell(1, 0);
    auto* spectrum = window.findChild<FrequencyView*>("spectrumView");
    auto* history = window.findChild<LevelHistory*>("levelHistory");
    ASSERT_TRUE(spectrum != nullptr && history != nullptr);
    EXPECT_TRUE(spectrum->analysing());
    // Each tone stands out of the spectrum; the first sound of a fresh server can take seconds.
    const auto heard = [&] {
        return std::ranges::all_of(std::vector{80.0, 1000.0, 8000.0}, [&](double hertz) {
            return spectrum->decibelsAt(hertz).value_or(-200.0f) > -40.0f;
        });
    };
    ASSERT_TRUE(processEventsUntil(heard, 20s));
    // The kick's trigger turns with its pulses.
    EXPECT_TRUE(processEventsUntil([&] { return history->turnsShown() >= 4; }, 20s))
        << history->turnsShown();

    for (const QSize size : {QSize(1366, 768), QSize(1920, 1080)}) {
        window.resize(size);
        // Some seconds of history at this size, with the spectrum live.
        const std::uint64_t drawn = spectrum->spectraDrawn();
        processEventsFor(3s);
        EXPECT_GT(spectrum->spectraDrawn(), drawn);
        const QPixmap picture = window.grab();
        EXPECT_EQ(picture.size(), size);
        const QString file = QStringLiteral("%1/kestrano-window-%2x%3.png")
                                 .arg(KESTRANO_ARTEFACT_DIR)
                                 .arg(size.width())
                                 .arg(size.height());
        EXPECT_TRUE(picture.save(file)) << file.toStdString();
    }

    // Hidden, the spectrum costs nothing: its tap and thread are gone.
    window.hide();
    EXPECT_FALSE(spectrum->analysing());
}

}  // namespace

int main(int argc, char** argv) {
    // The private server the test harness started, which the app's environment would unset.
    const char* server = std::getenv("PULSE_SERVER");
    const std::string serverAddress = server ? server : "";
    prepareAppTestEnvironment();
    setenv("PULSE_SERVER", serverAddress.c_str(), 1);
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
