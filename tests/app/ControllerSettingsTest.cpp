// Start-up on the stored settings, what is persisted when, and the shut-down.
#include <QSettings>
#include <cerrno>
#include <filesystem>

#include "app/settings/SettingsKeys.h"
#include "tests/app/support/AppTestEnvironment.h"
#include "tests/app/support/ControllerTestFixture.h"
#include "tests/app/support/PortProbe.h"

namespace {

using ControllerSettingsTest = ControllerTest;

QStringList storedKeys() {
    QSettings settings("Kestrano", "Kestrano");
    QStringList keys = settings.allKeys();
    keys.sort();
    return keys;
}

// Forwards to the real store and notes which key each write went to.
class RecordingStore : public PreferencesStore {
  public:
    explicit RecordingStore(PreferencesStore& store) : store_(store) {}

    int64_t integerForKey(std::string_view key) const override { return store_.integerForKey(key); }
    float floatForKey(std::string_view key) const override { return store_.floatForKey(key); }
    std::optional<bool> boolObjectForKey(std::string_view key) const override {
        return store_.boolObjectForKey(key);
    }
    std::optional<std::string> stringForKey(std::string_view key) const override {
        return store_.stringForKey(key);
    }
    std::vector<std::string> storedKeys() const override { return store_.storedKeys(); }
    void setInteger(std::string_view key, int64_t value) override {
        written.emplace_back(key);
        store_.setInteger(key, value);
    }
    void setFloat(std::string_view key, float value) override {
        written.emplace_back(key);
        store_.setFloat(key, value);
    }
    void setBool(std::string_view key, bool value) override {
        written.emplace_back(key);
        store_.setBool(key, value);
    }
    void setString(std::string_view key, std::optional<std::string> value) override {
        written.emplace_back(key);
        store_.setString(key, std::move(value));
    }
    std::optional<std::string> commit() override {
        ++commits;
        return store_.commit();
    }

    std::vector<std::string> written;
    int commits = 0;

  private:
    PreferencesStore& store_;
};

TEST_F(ControllerSettingsTest, FirstStartUsesTheDefaultsAndStoresOnlyThePorts) {
    // The default ports may be taken on this machine; start-up carries on either way.
    const auto controller = startControllerOnStoredSettings();

    EXPECT_EQ(controller->zandorexSendPort(), 5000);
    EXPECT_EQ(controller->zandorexListenPort(), 5001);
    EXPECT_EQ(controller->volumeAmplification(), 1.0f);
    EXPECT_TRUE(controller->active());
    EXPECT_EQ(controller->type(), 0);
    EXPECT_EQ(controller->address(), std::string());
    EXPECT_EQ(controller->minValue(), 0.0f);
    EXPECT_EQ(controller->maxValue(), 10.0f);
    EXPECT_EQ(controller->currentPosition(), 0.0f);
    EXPECT_NE(controller->audioLevelTimer(), nullptr);
    EXPECT_EQ(storedKeys(), (QStringList{"zandorexListenPort", "zandorexSendPort"}));

    const auto configHome = std::filesystem::path(std::getenv("XDG_CONFIG_HOME"));
    EXPECT_EQ(std::filesystem::path(preferences.fileName().toStdString()).parent_path(),
              configHome / "Kestrano");
}

TEST_F(ControllerSettingsTest, StartUpReadsStoredValuesWithTheZeroMeansAbsentRules) {
    preferences.setFloat(settings_keys::volumeAmplification, 0.0f);
    preferences.setBool(settings_keys::active, false);
    preferences.setInteger(settings_keys::type, 1);
    preferences.setString(settings_keys::address, "cue/7");
    preferences.setFloat(settings_keys::minValue, 0.0f);
    preferences.setFloat(settings_keys::maxValue, 0.0f);

    const auto controller = startController();

    EXPECT_EQ(controller->zandorexSendPort(), receiver.port());
    EXPECT_EQ(controller->volumeAmplification(), 1.0f);
    EXPECT_FALSE(controller->active());
    EXPECT_EQ(controller->type(), 1);
    EXPECT_EQ(controller->address(), "cue/7");
    EXPECT_EQ(controller->minValue(), 0.0f);
    EXPECT_EQ(controller->maxValue(), 10.0f);

    preferences.setFloat(settings_keys::volumeAmplification, 2.5f);
    preferences.setFloat(settings_keys::minValue, -3.25f);
    preferences.setFloat(settings_keys::maxValue, 0.1f);
    const auto restarted = startControllerOnStoredSettings();
    EXPECT_EQ(restarted->volumeAmplification(), 2.5f);
    EXPECT_EQ(restarted->minValue(), -3.25f);
    EXPECT_EQ(restarted->maxValue(), 0.1f);
}

TEST_F(ControllerSettingsTest, StoredValuesThatSetWouldRefuseGiveTheDefaultsUntilSaved) {
    preferences.setInteger(settings_keys::zandorexSendPort, receiver.port());
    preferences.setInteger(settings_keys::zandorexListenPort, freeUdpPort());
    // As a text editor leaves them in the file.
    preferences.setString(settings_keys::volumeAmplification, "nan");
    preferences.setString(settings_keys::type, "sometimes");
    preferences.setString(settings_keys::address, "cue*");
    preferences.setString(settings_keys::minValue, "inf");
    preferences.setString(settings_keys::maxValue, "-1e39");

    KestranoController controller(mainLoop, preferences, std::make_unique<FakeAudioCapture>());
    controller.awakeFromNib();

    EXPECT_EQ(controller.status().settingsNotices,
              (std::vector<std::string>{
                  "settings: ignored volumeAmplification=nan: expected a decimal number from "
                  "-1000 to 1000",
                  "settings: ignored type=sometimes: expected continuous, trigger or silence (or "
                  "0, 1, 2)",
                  "settings: ignored address=cue*: expected printable ASCII without spaces or any "
                  "of # * , ? [ ] { }, not starting or ending with / nor holding //",
                  "settings: ignored minValue=inf: expected a decimal number from -1000000 to "
                  "1000000",
                  "settings: ignored maxValue=-1e39: expected a decimal number from -1000000 to "
                  "1000000 (0: 10)"}));
    EXPECT_EQ(controller.volumeAmplification(), 1.0f);
    EXPECT_EQ(controller.type(), 0);
    EXPECT_EQ(controller.address(), std::string());
    EXPECT_EQ(controller.minValue(), 0.0f);
    EXPECT_EQ(controller.maxValue(), 10.0f);
    controller.sendOSCMessageForPosition(0.25f);
    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/", 2.5f));

    EXPECT_EQ(controller.save(), std::nullopt);
    EXPECT_TRUE(controller.status().settingsNotices.empty());
    SettingsModel reread(preferences);
    reread.load();
    EXPECT_EQ(reread.notices(), std::vector<std::string>());
}

TEST_F(ControllerSettingsTest, SaveWritesExactlyTheSixSettingsInOrder) {
    RecordingStore recording(preferences);
    preferences.setInteger(settings_keys::zandorexSendPort, receiver.port());
    preferences.setInteger(settings_keys::zandorexListenPort, freeUdpPort());
    KestranoController controller(mainLoop, recording, std::make_unique<FakeAudioCapture>());
    controller.awakeFromNib();
    EXPECT_EQ(recording.written,
              (std::vector<std::string>{"zandorexSendPort", "zandorexListenPort"}));
    recording.written.clear();
    recording.commits = 0;

    controller.setVolumeAmplification(0.5f);
    controller.setActive(false);
    controller.setType(1);
    controller.setAddress("level");
    controller.setMinValue(-1.0f);
    controller.setMaxValue(4.0f);
    EXPECT_TRUE(recording.written.empty()) << "controls alone persist nothing";
    controller.save();

    EXPECT_EQ(recording.written, (std::vector<std::string>{"volumeAmplification", "active", "type",
                                                           "address", "minValue", "maxValue"}));
    EXPECT_EQ(recording.commits, 1) << "one write of the file for the whole save";
    const auto restarted = startControllerOnStoredSettings();
    EXPECT_EQ(restarted->volumeAmplification(), 0.5f);
    EXPECT_FALSE(restarted->active());
    EXPECT_EQ(restarted->type(), 1);
    EXPECT_EQ(restarted->address(), "level");
    EXPECT_EQ(restarted->minValue(), -1.0f);
    EXPECT_EQ(restarted->maxValue(), 4.0f);
}

TEST_F(ControllerSettingsTest, SavingWithoutAnAddressRemovesTheKey) {
    const auto controller = startController();
    controller->setAddress("old");
    controller->save();
    ASSERT_TRUE(storedKeys().contains("address"));

    controller->setAddress(std::nullopt);
    controller->save();

    EXPECT_FALSE(storedKeys().contains("address"));
    EXPECT_EQ(startControllerOnStoredSettings()->address(), std::string());
}

TEST_F(ControllerSettingsTest, UnsavedChangesAreLostButPortsAreKept) {
    const auto controller = startController();
    const uint16_t newListenPort = freeUdpPort();
    controller->setAddress("unsaved");
    controller->setZandorexListenPort(newListenPort);

    const auto restarted = startControllerOnStoredSettings();

    EXPECT_EQ(restarted->address(), std::string());
    EXPECT_EQ(restarted->zandorexListenPort(), newListenPort);
}

TEST_F(ControllerSettingsTest, SettingTheSamePortReopensTheSenderAndListener) {
    RecordingStore recording(preferences);
    const uint16_t listenPort = freeUdpPort();
    preferences.setInteger(settings_keys::zandorexSendPort, receiver.port());
    preferences.setInteger(settings_keys::zandorexListenPort, listenPort);
    KestranoController controller(mainLoop, recording, std::make_unique<FakeAudioCapture>());
    controller.awakeFromNib();
    recording.written.clear();

    controller.setZandorexSendPort(receiver.port());
    controller.setZandorexListenPort(listenPort);

    EXPECT_EQ(recording.written,
              (std::vector<std::string>{"zandorexSendPort", "zandorexListenPort"}));
    // The old listener's socket was closed before the new one was bound.
    ASSERT_NE(controller.zandorexListener(), nullptr);
    EXPECT_TRUE(controller.status().listenerError.empty());
    controller.sendOSCMessageForPosition(1.0f);
    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/", 10.0f));
}

TEST_F(ControllerSettingsTest, ShutDownStopsTheTickTheCaptureAndTheListener) {
    auto controller = startController();
    const int32_t listenPort = controller->zandorexListenPort();
    capture->readings = {{0.0f}};
    ASSERT_TRUE(processEventsUntil([&] { return meter.updates > 0; }, std::chrono::seconds(2)));
    ASSERT_EQ(bindErrorOnPort(static_cast<uint16_t>(listenPort)), EADDRINUSE);

    controller.reset();

    ASSERT_GE(calls->size(), 2u);
    EXPECT_EQ((std::vector<std::string>(calls->end() - 2, calls->end())),
              (std::vector<std::string>{"stop", "destroyed"}));
    const int updates = meter.updates;
    processEventsFor(std::chrono::milliseconds(150));
    EXPECT_EQ(meter.updates, updates);
    EXPECT_EQ(bindErrorOnPort(static_cast<uint16_t>(listenPort)), 0);
}

}  // namespace
