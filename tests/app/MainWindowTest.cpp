// The window on the offscreen platform, driven with the keyboard and mouse through QTest.
#include <QAbstractScrollArea>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFontInfo>
#include <QFormLayout>
#include <QInputDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numeric>

#include "app/audio/recording/RecordingInputCapture.h"
#include "app/control/StatusText.h"
#include "app/window/MainWindow.h"
#include "app/window/MonitorPanel.h"
#include "app/window/TempoPanel.h"
#include "app/window/widgets/ElidedText.h"
#include "app/window/widgets/FrequencyView.h"
#include "app/window/widgets/LevelHistory.h"
#include "app/window/widgets/LevelMeter.h"
#include "app/window/widgets/ReadOnlyText.h"
#include "app/window/widgets/StatusLine.h"
#include "osc/QVOSCAddress.h"
#include "osc/QVOSCArgument.h"
#include "tests/app/support/AppTestEnvironment.h"
#include "tests/app/support/ControllerTestFixture.h"
#include "tests/support/Recordings.h"
#include "tests/support/TempDir.h"

namespace {

using namespace std::chrono_literals;

class MainWindowTest : public ControllerTest {
  protected:
    MainWindowTest() {
        preferences.setInteger("zandorexSendPort", receiver.port());
        preferences.setInteger("zandorexListenPort", freeUdpPort());
        auto fake =
            std::make_unique<FakeAudioCapture>(std::vector{microphone, monitor}, microphone);
        capture = fake.get();
        // As the program runs it: the server's devices, with a recording as one more input.
        controller = std::make_unique<KestranoController>(
            mainLoop, preferences,
            std::make_unique<RecordingInputCapture>(mainLoop, std::move(fake)));
        controller->usePresetsBeside(preferences.fileName());
        window = std::make_unique<MainWindow>(*controller);
        controller->awakeFromNib();
        window->show();
        QApplication::setActiveWindow(window.get());
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    template <typename Widget>
    Widget* child(const char* name) {
        auto* widget = window->findChild<Widget*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    // The caption a form shows for `field`, or for the row of controls `field` sits in.
    static QString captionOf(QWidget* field) {
        for (QWidget* widget = field; widget->parentWidget(); widget = widget->parentWidget()) {
            // The form may sit in another layout of the parent.
            for (QFormLayout* form : widget->parentWidget()->findChildren<QFormLayout*>()) {
                if (QWidget* caption = form->labelForField(widget)) {
                    return caption->property("text").toString();
                }
            }
        }
        return {};
    }

    // The message shown in place of the status, such as a refusal; empty while the status is.
    QString message() { return child<StatusLine>("statusLine")->message(); }

    // Types `text` into a spin box in place of its value and confirms it with Enter.
    void enter(QAbstractSpinBox* spinBox, const QString& text) {
        spinBox->setFocus();
        spinBox->selectAll();
        QTest::keyClicks(spinBox, text);
        QTest::keyClick(spinBox, Qt::Key_Return);
    }

    const AudioDevice monitor{"speakers.monitor", "Monitor of speakers"};
    std::unique_ptr<KestranoController> controller;
    std::unique_ptr<MainWindow> window;
};

TEST_F(MainWindowTest, ShowsTheControllersSettingsAtStartUp) {
    EXPECT_EQ(child<QComboBox>("deviceComboBox")->currentText(), "USB microphone");
    // "No input", two devices and "Recording…"
    EXPECT_EQ(child<QComboBox>("deviceComboBox")->count(), 4);
    EXPECT_EQ(child<QSlider>("previewVolumeSlider")->value(), 0);
    EXPECT_TRUE(child<QCheckBox>("activeCheckBox")->isChecked());
    EXPECT_EQ(child<QComboBox>("modeComboBox")->currentIndex(), 0);
    EXPECT_EQ(child<QDoubleSpinBox>("amplificationSpinBox")->value(), 1.0);
    EXPECT_EQ(child<QDoubleSpinBox>("maxValueSpinBox")->value(), 10.0);
    EXPECT_EQ(child<QSpinBox>("sendPortSpinBox")->value(), receiver.port());
    EXPECT_EQ(child<QSpinBox>("listenPortSpinBox")->value(), controller->zandorexListenPort());
    EXPECT_EQ(child<QLineEdit>("fullAddressLabel")->text(), "/zandorex/");
}

TEST_F(MainWindowTest, EachControlReachesTheController) {
    auto* devices = child<QComboBox>("deviceComboBox");
    devices->setFocus();
    QTest::keyClick(devices, Qt::Key_Down);
    EXPECT_EQ(controller->selectedAudioDevice(), monitor);
    EXPECT_EQ(QSettings("Kestrano", "Kestrano").value("inputDevice"), "speakers.monitor");

    QTest::keyClick(child<QSlider>("previewVolumeSlider"), Qt::Key_PageUp);
    EXPECT_FLOAT_EQ(controller->previewVolume(), 0.1f);
    EXPECT_EQ(child<QLineEdit>("previewVolumeValueLabel")->text(), "10 %");

    QTest::mouseClick(child<QCheckBox>("activeCheckBox"), Qt::LeftButton);
    EXPECT_FALSE(controller->active());

    auto* mode = child<QComboBox>("modeComboBox");
    mode->setFocus();
    QTest::keyClick(mode, Qt::Key_Down);
    EXPECT_EQ(controller->type(), 1);

    enter(child<QDoubleSpinBox>("amplificationSpinBox"), "2.5");
    EXPECT_EQ(controller->volumeAmplification(), 2.5f);
    enter(child<QDoubleSpinBox>("minValueSpinBox"), "-4");
    EXPECT_EQ(controller->minValue(), -4.0f);
    enter(child<QDoubleSpinBox>("maxValueSpinBox"), "12.5");
    EXPECT_EQ(controller->maxValue(), 12.5f);

    auto* address = child<QLineEdit>("addressLineEdit");
    QTest::keyClicks(address, "cue #7");  // the space and '#' cannot be typed
    EXPECT_EQ(controller->address(), "cue7");
    EXPECT_EQ(child<QLineEdit>("fullAddressLabel")->text(), "/zandorex/cue7");

    const uint16_t sendPort = freeUdpPort();
    enter(child<QSpinBox>("sendPortSpinBox"), QString::number(sendPort));
    EXPECT_EQ(controller->zandorexSendPort(), sendPort);
    const uint16_t listenPort = freeUdpPort();
    enter(child<QSpinBox>("listenPortSpinBox"), QString::number(listenPort));
    EXPECT_EQ(controller->zandorexListenPort(), listenPort);
    EXPECT_NE(controller->zandorexListener(), nullptr);

    // In trigger mode (chosen above) the trigger's controls take input and smoothing's do not.
    EXPECT_FALSE(child<QSpinBox>("attackTimeSpinBox")->isEnabled());
    enter(child<QDoubleSpinBox>("triggerOnThresholdSpinBox"), "0.6");
    EXPECT_EQ(controller->settings().decimal("triggerOnThreshold"), 0.6f);
    enter(child<QDoubleSpinBox>("triggerOffThresholdSpinBox"), "0.4");
    EXPECT_EQ(controller->settings().decimal("triggerOffThreshold"), 0.4f);
    enter(child<QSpinBox>("triggerOnDelaySpinBox"), "120");
    EXPECT_EQ(controller->settings().whole("triggerOnDelay"), 120);
    enter(child<QSpinBox>("triggerOffDelaySpinBox"), "300");
    EXPECT_EQ(controller->settings().whole("triggerOffDelay"), 300);
    mode->setFocus();
    QTest::keyClick(mode, Qt::Key_Up);
    EXPECT_FALSE(child<QDoubleSpinBox>("triggerOnThresholdSpinBox")->isEnabled());
    enter(child<QSpinBox>("attackTimeSpinBox"), "50");
    EXPECT_EQ(controller->settings().whole("attackTime"), 50);
    enter(child<QSpinBox>("releaseTimeSpinBox"), "800");
    EXPECT_EQ(controller->settings().whole("releaseTime"), 800);
    // Every channel, no fast window; set field by field, so that what else a meter's settings
    // carry keeps its default.
    MeterSettings band;
    band.lowCut = 40.0f;
    enter(child<QDoubleSpinBox>("bandLowCutSpinBox"), "40");
    EXPECT_EQ(capture->meters.at(0), band);
    band.highCut = 150.0f;
    enter(child<QDoubleSpinBox>("bandHighCutSpinBox"), "150");
    EXPECT_EQ(capture->meters.at(0), band);
}

TEST_F(MainWindowTest, AddsChoosesRenamesAndRemovesAMappingWithTheKeyboard) {
    auto* table = child<QTableWidget>("mappingTable");
    auto* address = child<QLineEdit>("addressLineEdit");
    QTest::keyClicks(address, "level");                         // the first mapping's
    QTest::keyClick(window.get(), Qt::Key_G, Qt::AltModifier);  // the list's mnemonic
    EXPECT_TRUE(table->hasFocus());
    QTest::keyClick(table, Qt::Key_Insert);
    EXPECT_EQ(controller->settings().mappingNames(), std::vector<std::string>{"mapping2"});
    // Stored whole at once: a restart without saving finds its address too.
    EXPECT_EQ(QSettings("Kestrano", "Kestrano").value("mappings").toString(), "mapping2");
    EXPECT_EQ(QSettings("Kestrano", "Kestrano").value("mapping2/address").toString(), "mapping2");
    ASSERT_EQ(table->rowCount(), 2);
    EXPECT_EQ(table->currentRow(), 1) << "the new mapping is chosen";

    // The controls edit the chosen mapping, whose absent keys take the defaults; its address is
    // its name until changed, never the first mapping's.
    EXPECT_EQ(address->text(), "mapping2");
    address->clear();
    QTest::keyClicks(address, "hat");
    enter(child<QDoubleSpinBox>("bandLowCutSpinBox"), "5000");
    auto* mode = child<QComboBox>("modeComboBox");
    mode->setFocus();
    QTest::keyClick(mode, Qt::Key_Down);
    EXPECT_EQ(controller->settings().text("mapping2/address"), "hat");
    EXPECT_EQ(controller->settings().whole("mapping2/type"), 1);
    EXPECT_EQ(controller->settings().text("address"), "level");
    EXPECT_EQ(controller->type(), 0);
    EXPECT_TRUE(child<QDoubleSpinBox>("triggerOnThresholdSpinBox")->isEnabled());
    EXPECT_EQ(child<QLineEdit>("fullAddressLabel")->text(), "/zandorex/hat");
    // A change to the first mapping's address does not show in the chosen one's control.
    controller->settings().changeFromText("address", "level2");
    EXPECT_EQ(address->text(), "hat");
    EXPECT_EQ(table->item(0, 1)->text(), "level2");
    EXPECT_EQ(table->item(1, 1)->text(), "hat");
    EXPECT_EQ(table->item(1, 2)->text(), "trigger");
    QTest::keyClick(window.get(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(QSettings("Kestrano", "Kestrano").value("mapping2/bandLowCut").toFloat(), 5000.0f);
    // The first mapping's meter follows the tick: -20 dBFS is a meter of 2, a position of 0.2.
    capture->readings = {{-20.0f}};
    controller->updateAudioLevels();
    EXPECT_FLOAT_EQ(table->item(0, 3)->data(Qt::UserRole).toFloat(), 0.2f);
    // A fast cue shorter than a tick lights its row's lamp as it is sent, and puts it out.
    ASSERT_EQ(controller->settings().changeFromText("mapping2/triggerResponse", "fast"),
              std::nullopt);
    const auto lamp = [&] { return table->item(1, 3)->data(Qt::UserRole + 1).toBool(); };
    capture->deliverFragment(0.0f, 0.0f, 1);
    EXPECT_TRUE(processEventsUntil(lamp, 10s));
    capture->deliverFragment(-100.0f, -100.0f, 1);
    EXPECT_TRUE(processEventsUntil([&] { return !lamp(); }, 10s));
    controller->settings().changeFromText("mapping2/triggerResponse", "tick");

    // F2 renames; a name the model refuses is shown, and the old one stays. The edit is handed
    // over after Return.
    const auto renameTo = [&](const char* name, const std::function<bool()>& done) {
        table->setFocus();
        QTest::keyClick(table, Qt::Key_F2);
        QTest::keyClicks(QApplication::focusWidget(), name);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        EXPECT_TRUE(processEventsUntil(done, 10s)) << name;
    };
    renameTo("bandLowCut", [&] {
        return message() == "'bandLowCut' cannot name a mapping: it is a setting's name";
    });
    EXPECT_EQ(table->item(1, 0)->text(), "mapping2");
    renameTo("hihat", [&] {
        return !controller->settings().mappingNames().empty() &&
               controller->settings().mappingNames()[0] == "hihat";
    });
    EXPECT_EQ(table->item(1, 0)->text(), "hihat");
    QSettings stored("Kestrano", "Kestrano");
    EXPECT_EQ(stored.value("hihat/bandLowCut").toFloat(), 5000.0f);
    EXPECT_FALSE(stored.contains("mapping2/bandLowCut"));
    enter(child<QDoubleSpinBox>("bandHighCutSpinBox"), "9000");
    EXPECT_EQ(controller->settings().decimal("hihat/bandHighCut"), 9000.0f);
    // Another path's change shows in its row; its meter and lamp follow its status.
    controller->settings().changeFromText("hihat/address", "cue/9");
    EXPECT_EQ(table->item(1, 1)->text(), "cue/9");
    ControllerStatus status = controller->status();
    ASSERT_EQ(status.mappings.size(), 2u) << "the first mapping's reading and hihat's";
    status.mappings[1] = {.name = "hihat",
                          .address = "cue/9",
                          .meter = 5.0f,
                          .position = 0.5f,
                          .on = true,
                          .lastValueSent = 10.0f,
                          .continuous = false};
    window->controllerStatusChanged(status);
    EXPECT_FLOAT_EQ(table->item(1, 3)->data(Qt::UserRole).toFloat(), 0.5f);
    EXPECT_TRUE(table->item(1, 3)->data(Qt::UserRole + 1).toBool());
    EXPECT_FALSE(table->item(0, 3)->data(Qt::UserRole + 1).isValid()) << "continuous: no lamp";

    // Removing it brings the first mapping back to the controls.
    table->setFocus();
    QTest::keyClick(table, Qt::Key_Delete);
    EXPECT_TRUE(controller->settings().mappingNames().empty());
    EXPECT_EQ(table->rowCount(), 1);
    EXPECT_EQ(address->text(), "level2");
    EXPECT_FALSE(child<QDoubleSpinBox>("triggerOnThresholdSpinBox")->isEnabled());
    stored.sync();
    EXPECT_FALSE(stored.contains("hihat/bandLowCut"));
    EXPECT_FALSE(stored.contains("mappings"));

    // Add is offered while there is room: 16 named mappings besides the first fill the list.
    auto* add = child<QPushButton>("addMappingButton");
    std::string sixteen = "m1";
    for (int number = 2; number <= 16; ++number) {
        sixteen += ",m" + std::to_string(number);
    }
    ASSERT_EQ(controller->settings().changeFromText("mappings", sixteen), std::nullopt);
    EXPECT_EQ(table->rowCount(), 17);
    EXPECT_FALSE(add->isEnabled());
    EXPECT_EQ(add->toolTip(), "At most 16 mappings besides main: remove one to add another");
    table->setFocus();
    QTest::keyClick(table, Qt::Key_Insert);
    EXPECT_EQ(controller->settings().mappingNames().size(), 16u);
    EXPECT_EQ(message(), add->toolTip()) << "Insert says why not";
    table->setCurrentCell(16, 0);
    QTest::keyClick(table, Qt::Key_Delete);
    EXPECT_TRUE(add->isEnabled());
    // A section of the file that the list does not name is the technician's: the mapping added
    // takes the next name, and a rename onto it is refused with the reason.
    preferences.setString("mapping2/bandHighCut", std::string("99"));
    ASSERT_EQ(preferences.commit(), std::nullopt);
    QTest::mouseClick(add, Qt::LeftButton);
    EXPECT_EQ(controller->settings().mappingNames().back(), "mapping3");
    EXPECT_FALSE(add->isEnabled());
    table->setCurrentCell(16, 0);
    renameTo("mapping2", [&] {
        return message().startsWith(
            "'mapping2' cannot name a mapping: the settings file has a [mapping2] section");
    });
    EXPECT_EQ(table->item(16, 0)->text(), "mapping3");
    EXPECT_EQ(QSettings("Kestrano", "Kestrano").value("mapping2/bandHighCut").toString(), "99");
}

TEST_F(MainWindowTest, DraggingABandEdgeOrAThresholdLineSetsThatMappingsSetting) {
    SettingsModel& settings = controller->settings();
    ASSERT_EQ(settings.changeFromText("mappings", "kick"), std::nullopt);
    ASSERT_EQ(settings.changeFromText("kick/type", "trigger"), std::nullopt);
    ASSERT_EQ(settings.changeFromText("kick/bandHighCut", "150"), std::nullopt);
    child<QTableWidget>("mappingTable")->setCurrentCell(1, 0);
    auto* spectrum = child<FrequencyView>("spectrumView");
    const int middle = spectrum->height() / 2;
    const auto at = [&](double hertz) {
        return QPoint(static_cast<int>(std::lround(spectrum->xForHertz(hertz))), middle);
    };
    const auto drag = [](QWidget* widget, QPoint from, QPoint to) {
        QTest::mousePress(widget, Qt::LeftButton, {}, from);
        QTest::mouseMove(widget, (from + to) / 2);
        QTest::mouseMove(widget, to);
        QTest::mouseRelease(widget, Qt::LeftButton, {}, to);
    };
    const auto lastRefusal = [&] { return message().toStdString(); };

    struct BandRow {
        double fromHertz;
        QPoint to;
        const char* key;
        float expected;
        const char* refusal;  // a part of the model's words, or nothing
    };
    const QRect plot = spectrum->rect();
    const BandRow bandRows[] = {
        // The edge drawn at 150 Hz.
        {150.0, at(203.4), "kick/bandHighCut", 203.0f, nullptr},
        // The low cut is off: its edge is the scale's end.
        {20.0, at(40.0), "kick/bandLowCut", 40.0f, nullptr},
        // Above the high cut: refused in the model's words, and the cut stays.
        {40.0, at(400.0), "kick/bandLowCut", 40.0f, "bandLowCut"},
        // Out of the scale's top: no low-pass.
        {203.0, QPoint(plot.right() + 20, middle), "kick/bandHighCut", 0.0f, nullptr},
    };
    for (const BandRow& row : bandRows) {
        child<StatusLine>("statusLine")->clearMessage();
        drag(spectrum, at(row.fromHertz), row.to);
        // Within a pixel's step of the scale.
        EXPECT_NEAR(settings.decimal(row.key), row.expected, row.expected * 0.01f)
            << row.key << " " << row.fromHertz;
        EXPECT_EQ(std::fmod(settings.decimal(row.key), 1.0f), 0.0f) << "whole hertz, as typed";
        if (row.refusal) {
            EXPECT_NE(lastRefusal().find(row.refusal), std::string::npos) << lastRefusal();
        } else {
            EXPECT_EQ(lastRefusal(), "");
        }
    }
    EXPECT_FLOAT_EQ(settings.decimal("bandHighCut"), 0.0f) << "the first mapping's band is its own";
    // A click without a move changes nothing; a double-click in the band clears it.
    QTest::mouseClick(spectrum, Qt::LeftButton, {}, at(40.0));
    EXPECT_FLOAT_EQ(settings.decimal("kick/bandLowCut"), 40.0f);
    ASSERT_EQ(settings.changeFromText("kick/bandHighCut", "2000"), std::nullopt);
    QTest::mouseDClick(spectrum, Qt::LeftButton, {}, at(300.0));
    EXPECT_FLOAT_EQ(settings.decimal("kick/bandLowCut"), 0.0f);
    EXPECT_FLOAT_EQ(settings.decimal("kick/bandHighCut"), 0.0f);

    // The thresholds: the off line lies on the on line while absent; from there, a drag up takes
    // the on line and a drag down the off line.
    auto* history = child<LevelHistory>("levelHistory");
    ASSERT_TRUE(history->isVisible());
    const auto y = [&](double position) {
        return static_cast<int>(std::lround(history->yForPosition(position)));
    };
    const int x = history->width() / 2;
    struct LineRow {
        int fromY;
        double toPosition;
        const char* key;
        float expected;
        const char* refusal;
    };
    const LineRow lineRows[] = {
        {y(0.5) - 2, 0.7, "kick/triggerOnThreshold", 0.7f, nullptr},
        {y(0.7) + 2, 0.4, "kick/triggerOffThreshold", 0.4f, nullptr},
        // Off above on is refused for a trigger.
        {y(0.4), 0.9, "kick/triggerOffThreshold", 0.4f, "triggerOffThreshold"},
        // Far from either line: nothing is taken.
        {y(0.1), 0.2, "kick/triggerOnThreshold", 0.7f, nullptr},
        // To the floor and past it: a threshold of 0 would stand for the default, so the lines
        // stop a step above it and the other line stays where it was.
        {y(0.4), 0.0, "kick/triggerOffThreshold", 0.01f, nullptr},
        {y(0.7), -0.2, "kick/triggerOnThreshold", 0.01f, nullptr},
    };
    for (const LineRow& row : lineRows) {
        child<StatusLine>("statusLine")->clearMessage();
        const int toY = row.toPosition < 0.0 ? y(0.0) + 12 : y(row.toPosition);
        drag(history, QPoint(x, row.fromY), QPoint(x, toY));
        EXPECT_FLOAT_EQ(settings.decimal(row.key), row.expected) << row.key << " " << row.fromY;
        if (row.refusal) {
            EXPECT_NE(lastRefusal().find(row.refusal), std::string::npos) << lastRefusal();
        } else {
            EXPECT_EQ(lastRefusal(), "");
        }
    }
    EXPECT_EQ(child<QDoubleSpinBox>("triggerOnThresholdSpinBox")->value(), 0.01);
    EXPECT_FLOAT_EQ(settings.decimal("kick/triggerOffThreshold"), 0.01f);
    EXPECT_FLOAT_EQ(settings.decimal("triggerOnThreshold"), 0.5f) << "the first mapping's stays";

    // The history follows the chosen mapping's gate and marks its turns.
    for (const bool on : {false, true, true, false}) {
        ControllerStatus status = controller->status();
        status.mappings = {{.name = "kick",
                            .address = "kick",
                            .meter = on ? 8.0f : 1.0f,
                            .position = on ? 0.8f : 0.1f,
                            .on = on,
                            .lastValueSent = std::nullopt,
                            .continuous = false}};
        window->controllerStatusChanged(status);
    }
    EXPECT_EQ(history->turnsShown(), 2);
    // The first mapping is continuous: it has no lines to drag.
    child<QTableWidget>("mappingTable")->setCurrentCell(0, 0);
    drag(history, QPoint(x, y(0.5)), QPoint(x, y(0.8)));
    EXPECT_FLOAT_EQ(settings.decimal("triggerOnThreshold"), 0.5f);
    EXPECT_EQ(history->turnsShown(), 0) << "another mapping's past is not shown";
}

TEST_F(MainWindowTest, FitsALaptopScreenWithNothingCutOffAndRemembersItsSize) {
    // Run once in each font family that desktops commonly default to (see CMakeLists.txt): the
    // window is in the family named, so that two runs cannot silently be one font twice.
    if (const char* family = std::getenv("KESTRANO_TEST_FONT_FAMILY")) {
        const QString text = QFontInfo(window->font()).family();
        const QString fixed = QFontInfo(child<QPlainTextEdit>("monitorView")->font()).family();
        EXPECT_TRUE(text.startsWith(family)) << text.toStdString();
        EXPECT_TRUE(fixed.startsWith(family)) << fixed.toStdString();
    }
    // A 1366×768 screen less a 32 px panel and a 37 px title bar holds the size the window opens
    // at (the default, or more where its font needs more) and the least it takes.
    const QSize laptop(1366, 768 - 32 - 37);
    const QSize opened = MainWindow::defaultSize.expandedTo(window->minimumSizeHint());
    std::printf(
        "%s and %s: opens at %dx%d, at least %dx%d\n",
        QFontInfo(window->font()).family().toUtf8().constData(),
        QFontInfo(child<QPlainTextEdit>("monitorView")->font()).family().toUtf8().constData(),
        opened.width(), opened.height(), window->minimumSizeHint().width(),
        window->minimumSizeHint().height());
    for (const QSize size : {MainWindow::defaultSize, window->minimumSizeHint()}) {
        EXPECT_LE(size.width(), laptop.width());
        EXPECT_LE(size.height(), laptop.height());
    }
    // The offscreen screen is smaller: the window opened as large as it allows, and is looked
    // at there and at the size it opens at on the laptop, with each tab shown.
    auto* tabs = child<QTabWidget>("viewTabs");
    for (const QSize size : {window->size(), opened}) {
        window->resize(size);
        QApplication::processEvents();
        ASSERT_EQ(window->size(), size);
        for (int tab = tabs->count() - 1; tab >= 0; --tab) {
            tabs->setCurrentIndex(tab);
            QApplication::processEvents();
            // Every widget shown has the room it asks for at least and lies within its parent;
            // what is drawn or scrolls (the plots, lists, tables) may take less.
            for (QWidget* widget : window->findChildren<QWidget*>()) {
                // The inner parts of a spin box or a scroll area are theirs to size.
                QWidget* parent = widget->parentWidget();
                if (!widget->isVisible() || widget->isWindow() ||
                    qobject_cast<QAbstractSpinBox*>(parent) ||
                    qobject_cast<QAbstractScrollArea*>(parent) ||
                    qobject_cast<QAbstractScrollArea*>(parent->parentWidget())) {
                    continue;
                }
                const std::string name =
                    (widget->objectName() + " (" + widget->metaObject()->className() + ") at " +
                     QString::number(size.width()) + "x" + QString::number(size.height()) +
                     ", tab " + QString::number(tab))
                        .toStdString();
                EXPECT_TRUE(parent->rect().contains(widget->geometry())) << name;
                if (widget->sizePolicy().horizontalPolicy() != QSizePolicy::Ignored) {
                    EXPECT_GE(widget->width(), widget->minimumSizeHint().width()) << name;
                }
                EXPECT_GE(widget->height(), widget->minimumSizeHint().height()) << name;
            }
        }
    }
    for (const char* name : {"saveHintLabel", "statusLabel"}) {
        EXPECT_FALSE(child<ElidedText>(name)->elided()) << name;
    }
    // A status longer than the window is cut at its end, and whole in the tooltip.
    capture->readings = {{-20.0f}};
    controller->updateAudioLevels();
    ControllerStatus longer = controller->status();
    longer.senderError = "cannot send: " + std::string(300, 'x');
    window->controllerStatusChanged(longer);
    auto* status = child<ElidedText>("statusLabel");
    EXPECT_TRUE(status->elided());
    EXPECT_TRUE(status->text().startsWith("level -20.0 dBFS"));
    EXPECT_EQ(status->toolTip(), status->text());
    // So is a message shown in its place, such as a long refusal, until it is cleared.
    auto* line = child<StatusLine>("statusLine");
    auto* message = child<ElidedText>("messageLabel");
    const QString refusal = "bad value for address: " + QString(300, 'y');
    line->showMessage(refusal, 60'000);
    EXPECT_FALSE(status->isVisible());
    EXPECT_TRUE(message->isVisible());
    EXPECT_TRUE(message->elided());
    EXPECT_EQ(message->toolTip(), refusal);
    line->clearMessage();
    EXPECT_TRUE(status->isVisible());

    // Closed at another size, the next window opens at it.
    const QSize other = window->minimumSizeHint().grownBy(QMargins(0, 0, 150, 30));
    window->resize(other);
    window->close();
    window = std::make_unique<MainWindow>(*controller);
    EXPECT_EQ(window->size(), other);
}

// The Tap button and the key T tap the tempo: four taps half a second apart set it, the panel
// says it is tapped, and its lamp lights on the beats that follow.
TEST_F(MainWindowTest, TapButtonAndKeyTapTheTempo) {
    auto* panel = child<TempoPanel>("tempoPanel");
    auto* label = child<ReadOnlyText>("tempoLabel");
    EXPECT_TRUE(label->text().isEmpty());
    ASSERT_EQ(controller->settings().changeFromText("tempo", "tap"), std::nullopt);
    EXPECT_EQ(label->text(), "listening");
    const auto tempo = [&] {
        const std::optional<TempoStatus> status = controller->status().tempo;
        return status ? status->bpm : std::nullopt;
    };
    // The taps are the input: their spacing, not a wait for a result. A busy machine may delay a
    // tap so much that the series leaves it out; then further taps complete the series.
    std::vector<double> tapped;  // in seconds, read as each tap is made
    while (tapped.size() < 8 && (tapped.size() < 4 || !tempo())) {
        QTest::qWait(500);
        tapped.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
                .count());
        if (tapped.size() % 2 == 1) {
            QTest::mouseClick(child<QPushButton>("tapButton"), Qt::LeftButton);
        } else {
            QTest::keyClick(window.get(), Qt::Key_T);
        }
    }
    EXPECT_TRUE(label->text().endsWith("BPM (tapped)")) << label->text().toStdString();
    ASSERT_TRUE(tempo());
    // The tempo of the taps as they came, however late the machine let each one come: a line
    // through taps a beat apart has a period between their shortest and longest spacing.
    std::vector<double> gaps(tapped.size());
    std::adjacent_difference(tapped.begin(), tapped.end(), gaps.begin());
    const auto [shortest, longest] = std::minmax_element(gaps.begin() + 1, gaps.end());
    EXPECT_GE(*tempo(), 60.0 / *longest - 0.05);
    EXPECT_LE(*tempo(), 60.0 / *shortest + 0.05);
    if (*longest - *shortest < 0.06) {
        EXPECT_EQ(tapped.size(), 4u) << "four evenly spaced taps set the tempo";
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return panel->lampLit(); }, 10000));
}

TEST_F(MainWindowTest, AChosenDeviceThatIsAbsentShowsAsAwaited) {
    controller->setSelectedAudioDevice(monitor);
    capture->devices = {microphone};
    capture->devicesChanged();

    auto* devices = child<QComboBox>("deviceComboBox");
    EXPECT_EQ(devices->currentText(), "Monitor of speakers (waiting)");
    EXPECT_EQ(child<ElidedText>("statusLabel")->text().toStdString(),
              "no input device | nothing sent | waiting for Monitor of speakers");

    capture->devices = {microphone, monitor};
    capture->devicesChanged();
    EXPECT_EQ(devices->currentText(), "Monitor of speakers");
    EXPECT_EQ(devices->count(), 4);
}

// "Recording…" at the end of the Device list asks for a file. Cancelled, the input stays; a
// file chosen is the input as a device would be: stored, listed by its name and metered as it
// plays (a -6 dBFS peak sine reads -9.0 dBFS). Another device takes its place again.
TEST_F(MainWindowTest, ARecordingChosenFromTheDeviceListIsTheInput) {
    TempDir folder;
    const auto take = makeRecording(folder.path(), "take.wav", {{1.0, 1000}});
    ASSERT_FALSE(take.empty());
    auto* devices = child<QComboBox>("deviceComboBox");
    const auto dialog = [this] { return window->findChild<QFileDialog*>("recordingDialog"); };

    devices->setCurrentIndex(devices->count() - 1);
    ASSERT_NE(dialog(), nullptr);
    EXPECT_EQ(devices->currentText(), "USB microphone");
    dialog()->reject();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog() == nullptr; }));
    EXPECT_EQ(controller->selectedAudioDevice(), microphone);

    devices->setCurrentIndex(devices->count() - 1);
    ASSERT_NE(dialog(), nullptr);
    dialog()->selectFile(QString::fromStdString(take.string()));
    static_cast<QDialog*>(dialog())->accept();  // the file dialog's own, which checks the file
    EXPECT_EQ(devices->currentText(), "Recording: take.wav");
    EXPECT_EQ(QSettings("Kestrano", "Kestrano").value("inputDevice").toString().toStdString(),
              "file:" + take.string());
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const auto level = controller->status().inputLevel;
            return level && std::abs(*level + 9.0f) < 0.3f;
        },
        10000))
        << controller->status().inputLevel.value_or(0.0f);

    devices->setCurrentIndex(1);
    EXPECT_EQ(controller->selectedAudioDevice(), microphone);
    EXPECT_EQ(devices->count(), 4);  // the recording is no longer listed
}

TEST_F(MainWindowTest, ChangesMadeByTheControllerShowInTheControls) {
    controller->setMinValue(3.5f);
    controller->setType(2);
    controller->setActive(false);
    controller->setAddress("from/code");
    capture->devices = {monitor};
    controller->refreshDevices();

    EXPECT_EQ(child<QDoubleSpinBox>("minValueSpinBox")->value(), 3.5);
    EXPECT_EQ(child<QComboBox>("modeComboBox")->currentText(), "Silence");
    EXPECT_FALSE(child<QCheckBox>("activeCheckBox")->isChecked());
    EXPECT_EQ(child<QLineEdit>("addressLineEdit")->text(), "from/code");
    EXPECT_EQ(child<QComboBox>("deviceComboBox")->count(), 3);         // with "Recording…"
    EXPECT_EQ(child<QComboBox>("deviceComboBox")->currentIndex(), 0);  // the input went away
    // Showing the change did not feed back into the controller.
    EXPECT_EQ(controller->type(), 2);
}

TEST_F(MainWindowTest, SaveButtonPersistsTheSettings) {
    auto* address = child<QLineEdit>("addressLineEdit");
    QTest::keyClicks(address, "level");
    enter(child<QDoubleSpinBox>("maxValueSpinBox"), "7");
    ASSERT_FALSE(QSettings("Kestrano", "Kestrano").contains("address"));

    QTest::mouseClick(child<QPushButton>("saveButton"), Qt::LeftButton);

    QSettings stored("Kestrano", "Kestrano");
    EXPECT_EQ(stored.value("address").toString(), "level");
    EXPECT_EQ(stored.value("maxValue").toFloat(), 7.0f);
    EXPECT_EQ(stored.value("active").toBool(), true);
    // Said in place of the status for a while; then the status returns.
    EXPECT_EQ(message(), "Settings saved");
    EXPECT_FALSE(child<ElidedText>("statusLabel")->isVisible());
    EXPECT_TRUE(processEventsUntil([&] { return message().isEmpty(); }, 30s));
    EXPECT_TRUE(child<ElidedText>("statusLabel")->isVisible());
}

TEST_F(MainWindowTest, MeterAndStatusLineFollowTheTick) {
    capture->readings = {{-20.0f}};
    controller->updateAudioLevels();

    EXPECT_EQ(child<LevelMeter>("levelMeter")->value(), 2.0f);
    EXPECT_EQ(child<ElidedText>("statusLabel")->text(), "level -20.0 dBFS | sent 2.000");

    controller->setSelectedAudioDevice(std::nullopt);
    controller->updateAudioLevels();
    EXPECT_EQ(child<LevelMeter>("levelMeter")->value(), 0.0f);
    EXPECT_EQ(child<ElidedText>("statusLabel")->text(), "no input device | sent 2.000");

    // The meter and the status show the input before the amplification; the mapping's top
    // moves down by the amplification's 6 dB.
    controller->setSelectedAudioDevice(microphone);
    controller->setVolumeAmplification(2.0f);
    controller->updateAudioLevels();
    auto* levelMeter = child<LevelMeter>("levelMeter");
    EXPECT_EQ(levelMeter->inputLevel(), -20.0f);
    EXPECT_NEAR(*levelMeter->decibelsForPosition(1.0f), -12.04, 0.01);
    EXPECT_FALSE(levelMeter->clipped());
    EXPECT_EQ(child<ElidedText>("statusLabel")->text(), "level -20.0 dBFS | sent 4.000");

    // The sample peak is its own figure: a full-scale sine reads -3 dBFS of average power and
    // lights the clip lamp, which stays lit (as the peak mark stays) after the sound drops.
    capture->samplePeak = -14.0f;
    controller->updateAudioLevels();
    EXPECT_EQ(levelMeter->peakLevel(), -14.0f);
    EXPECT_EQ(child<ElidedText>("statusLabel")->text(),
              "level -20.0 dBFS | peak -14.0 dBFS | sent 4.000");
    capture->readings = {{-3.01f}};
    capture->samplePeak = 0.0f;
    controller->updateAudioLevels();
    capture->readings = {{-30.0f}};
    capture->samplePeak = -24.0f;
    controller->updateAudioLevels();
    EXPECT_EQ(levelMeter->inputLevel(), -30.0f);
    EXPECT_EQ(levelMeter->peakLevel(), 0.0f) << "the peak is held";
    EXPECT_TRUE(levelMeter->clipped());
    EXPECT_TRUE(child<ElidedText>("statusLabel")->text().contains(" | CLIP | "));
}

// The labels of the mapping's marks above the meter never run into one another, however close
// the marks lie: each stays at its mark on a side with room, or is left out, and the tooltip
// names every mark.
TEST_F(MainWindowTest, TheMetersMarkLabelsNeverOverlap) {
    struct Row {
        const char* amplification;
        const char* on;   // nothing: continuous, no gate
        const char* off;  // "0": the on threshold
        int labelsAtMostWidth;
    };
    const Row rows[] = {
        {"1", nullptr, "0", 1},      // max alone
        {"1", "0.5", "0", 2},        // on a few pixels left of max at a narrow width
        {"1", "0.75", "0", 2},       // on nearly on max
        {"1", "1", "0", 1},          // on exactly on max: one label, max in the tooltip
        {"1", "0.5", "0.45", 3},     // off close left of on
        {"1", "0.9", "0.85", 2},     // all three within a few pixels
        {"500", "1", "0.9", 1},      // max at the scale's left end, the thresholds beyond it
        {"0.26", "0.98", "0.9", 2},  // all at the right end, before the clip lamp
    };
    SettingsModel& settings = controller->settings();
    auto* meter = child<LevelMeter>("levelMeter");
    for (const Row& row : rows) {
        controller->setType(row.on ? 1 : 0);
        ASSERT_EQ(settings.changeFromText("volumeAmplification", row.amplification), std::nullopt);
        ASSERT_EQ(settings.changeFromText("triggerOffThreshold", "0"), std::nullopt);
        ASSERT_EQ(settings.changeFromText("triggerOnThreshold", row.on ? row.on : "0.5"),
                  std::nullopt);
        ASSERT_EQ(settings.changeFromText("triggerOffThreshold", row.off), std::nullopt);
        for (const int width : {meter->minimumSizeHint().width(), 300, 700}) {
            meter->resize(width, meter->height());
            const std::string name = std::string(row.amplification) + " " +
                                     (row.on ? row.on : "-") + " " + row.off + " at " +
                                     std::to_string(width);
            const std::vector<LevelMeter::MarkLabel> labels = meter->markLabels();
            for (size_t index = 0; index < labels.size(); ++index) {
                const QRectF rect = labels[index].rect;
                EXPECT_TRUE(rect.left() >= 0 && rect.right() <= width) << name;
                EXPECT_TRUE(rect.left() <= labels[index].markX + 1 &&
                            rect.right() >= labels[index].markX - 1)
                    << name << ": " << labels[index].text.toStdString() << " is by its mark";
                for (size_t other = 0; other < index; ++other) {
                    EXPECT_FALSE(rect.intersects(labels[other].rect))
                        << name << ": " << labels[index].text.toStdString() << " and "
                        << labels[other].text.toStdString();
                }
            }
            if (width == 700) {
                EXPECT_EQ(labels.size(), row.labelsAtMostWidth) << name;
            }
        }
        // Every mark on the scale is named in the tooltip, its label shown or not.
        EXPECT_TRUE(meter->toolTip().contains("max: the position's top at ")) << row.on;
        EXPECT_EQ(meter->toolTip().contains("on: the gate opens at "), row.on != nullptr);
    }
}

TEST_F(MainWindowTest, TabVisitsTheControlsInReadingOrder) {
    // In continuous mode, the first mapping chosen; the trigger's controls, and the list's
    // buttons that rename and remove a further mapping, are disabled and skipped.
    // The history's tab is shown, so the monitor's controls are not visited; the network's
    // are in their own dialog. The spectrum and the history are drawn: their bands and lines
    // are the editor's fields too.
    const std::vector<std::string> order = {
        "deviceComboBox",        "refreshButton",      "previewVolumeSlider",
        "inputChannelsLineEdit", "presetComboBox",     "savePresetButton",
        "mappingTable",          "addMappingButton",   "qt_tabwidget_tabbar",
        "activeCheckBox",        "modeComboBox",       "addressLineEdit",
        "amplificationSpinBox",  "minValueSpinBox",    "maxValueSpinBox",
        "attackTimeSpinBox",     "releaseTimeSpinBox", "bandLowCutSpinBox",
        "bandHighCutSpinBox",    "tempoComboBox",      "tapButton",
        "networkButton",         "saveButton"};
    child<QComboBox>("deviceComboBox")->setFocus();
    for (size_t index = 1; index < order.size(); ++index) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_NE(QApplication::focusWidget(), nullptr);
        // A spin box's focus sits on its line edit.
        const QWidget* focused = QApplication::focusWidget();
        if (qobject_cast<const QLineEdit*>(focused) && focused->parentWidget() &&
            qobject_cast<const QAbstractSpinBox*>(focused->parentWidget())) {
            focused = focused->parentWidget();
        }
        EXPECT_EQ(focused->objectName().toStdString(), order[index]);
    }
}

TEST_F(MainWindowTest, CaptionsNameTheirFieldsAndTheirMnemonicsFocusThem) {
    struct Row {
        const char* field;
        QString caption;
        Qt::Key mnemonic;
    };
    const std::vector<Row> rows = {{"deviceComboBox", "&Device:", Qt::Key_D},
                                   {"previewVolumeSlider", "Pre&view volume:", Qt::Key_V},
                                   {"modeComboBox", "&Mode:", Qt::Key_M},
                                   {"amplificationSpinBox", "&Amplification:", Qt::Key_A},
                                   {"minValueSpinBox", "Mi&nimum:", Qt::Key_N},
                                   {"maxValueSpinBox", "Ma&ximum:", Qt::Key_X},
                                   {"addressLineEdit", "Addr&ess name:", Qt::Key_E},
                                   {"bandLowCutSpinBox", "Band lo&w cut:", Qt::Key_W},
                                   {"networkButton", "", Qt::Key_P},
                                   {"sendPortSpinBox", "Send &port:", Qt::Key_P},
                                   {"listenPortSpinBox", "&Listen port:", Qt::Key_L},
                                   {"hostLineEdit", "&Zandorex host:", Qt::Key_Z}};
    auto* saveButton = child<QPushButton>("saveButton");
    // Alt+P opens the network dialog, whose own mnemonics then reach its fields.
    QWidget* keysTo = window.get();
    for (const Row& row : rows) {
        auto* field = child<QWidget>(row.field);
        EXPECT_EQ(captionOf(field), row.caption) << row.field;

        if (keysTo == window.get()) {
            saveButton->setFocus();
        }
        QTest::keyClick(keysTo, row.mnemonic, Qt::AltModifier);
        if (row.field == std::string("networkButton")) {
            auto* dialog = child<QDialog>("networkDialog");
            // A button's mnemonic clicks it after a short show of the press.
            ASSERT_TRUE(processEventsUntil([&] { return dialog->isVisible(); }, 10s));
            EXPECT_TRUE(QTest::qWaitForWindowExposed(dialog));
            QApplication::setActiveWindow(dialog);
            keysTo = dialog;
            continue;
        }
        EXPECT_TRUE(field->hasFocus()) << row.field;
    }
    EXPECT_EQ(captionOf(child<LevelMeter>("levelMeter")), "Level (dBFS):");
    EXPECT_EQ(captionOf(child<QLineEdit>("fullAddressLabel")), "Sends to:");
    EXPECT_EQ(captionOf(child<QLineEdit>("listenAddressLineEdit")), "Listen on address:");
}

TEST_F(MainWindowTest, NetworkFieldsTakeEffectOnReturn) {
    UdpReceiver zandorex("127.0.0.2");
    controller->setZandorexSendPort(zandorex.port());
    auto* host = child<QLineEdit>("hostLineEdit");
    host->setFocus();
    QTest::keyClicks(host, "127.0.0.2");
    QTest::keyClick(host, Qt::Key_Return);
    EXPECT_EQ(controller->settings().text("zandorexHost"), "127.0.0.2");
    capture->readings = {{0.0f}};
    controller->updateAudioLevels();
    EXPECT_TRUE(zandorex.receive(10s).has_value());

    auto* listenAddress = child<QLineEdit>("listenAddressLineEdit");
    listenAddress->setFocus();
    QTest::keyClicks(listenAddress, "::1");
    QTest::keyClick(listenAddress, Qt::Key_Return);
    EXPECT_EQ(preferences.stringForKey("listenAddress"), "::1");
    EXPECT_EQ(controller->status().listenerError, "");
}

TEST_F(MainWindowTest, ClearingWhoMayCommandSaysThatAnySourceMay) {
    const QString anySource = "remote control: any source may command (no remoteControlFrom list)";
    QTest::mouseClick(child<QPushButton>("networkButton"), Qt::LeftButton);
    ASSERT_TRUE(child<QDialog>("networkDialog")->isVisible());
    auto* hint = child<QLineEdit>("remoteAccessText");
    auto* allowed = child<QLineEdit>("remoteControlFromLineEdit");
    const auto typeList = [&](const QString& text) {
        allowed->setFocus();
        allowed->selectAll();
        QTest::keyClick(allowed, Qt::Key_Delete);
        QTest::keyClicks(allowed, text);
        QTest::keyClick(allowed, Qt::Key_Return);
    };
    EXPECT_FALSE(hint->isVisible()) << "nobody commands while remote control is off";

    child<QCheckBox>("remoteControlCheckBox")->click();
    EXPECT_EQ(hint->text(), anySource);

    typeList("10.0.0.0/24");
    EXPECT_FALSE(hint->isVisible());
    // A signed length is refused and the list stays.
    typeList("10.0.0.1/-1");
    EXPECT_EQ(controller->settings().text("remoteControlFrom"), "10.0.0.0/24");
    EXPECT_TRUE(message().startsWith("bad value '10.0.0.1/-1' for remoteControlFrom"));

    typeList("");
    EXPECT_EQ(preferences.stringForKey("remoteControlFrom"), std::nullopt);
    EXPECT_TRUE(hint->isVisible());
    EXPECT_EQ(hint->text(), anySource);
    EXPECT_TRUE(child<ElidedText>("statusLabel")->text().contains(anySource));
}

TEST_F(MainWindowTest, ARemoteChangeReachesTheControlsAndTheMonitorListsIt) {
    auto* remoteControl = child<QCheckBox>("remoteControlCheckBox");
    // On the box itself: the control is as wide as its form.
    QTest::mouseClick(remoteControl, Qt::LeftButton, {}, QPoint(8, remoteControl->height() / 2));
    ASSERT_TRUE(controller->settings().flag("remoteControl"));
    UdpReceiver peer;
    QVOSCMessage request(QVOSCAddress::addressWithString("/kestrano/set/maxValue"));
    request.attachArgument(QVOSCArgument::argumentWithFloat(4.5f));
    ASSERT_TRUE(peer.sendTo(controller->zandorexListenPort(), request.packetizedData()));

    auto* maximum = child<QDoubleSpinBox>("maxValueSpinBox");
    EXPECT_TRUE(processEventsUntil([&] { return maximum->value() == 4.5; }, 10s));
    child<QTabWidget>("viewTabs")->setCurrentWidget(child<MonitorPanel>("monitorPanel"));
    auto* view = child<QPlainTextEdit>("monitorView");
    const QString listed = "address:/kestrano/set/maxValue  types:,f f { 4.500000 }";
    EXPECT_TRUE(processEventsUntil([&] { return view->toPlainText().contains(listed); }, 10s))
        << view->toPlainText().toStdString();
    EXPECT_TRUE(view->toPlainText().contains("in  127.0.0.1:" + QString::number(peer.port())));

    // The filter keeps matching lines only; the level messages going out are hidden.
    controller->updateAudioLevels();
    QTest::keyClicks(child<QLineEdit>("monitorFilterLineEdit"), "kestrano");
    EXPECT_EQ(view->toPlainText().split('\n'), QStringList{view->toPlainText()});

    // Paused, the list holds still; cleared, it is empty.
    QTest::mouseClick(child<QPushButton>("monitorPauseButton"), Qt::LeftButton);
    ASSERT_TRUE(peer.sendTo(controller->zandorexListenPort(), request.packetizedData()));
    // Until the monitor holds the second request, however long a busy machine takes to hand it
    // over; then more than two refreshes of the view, in which a pause that failed would show it.
    const auto requestsRecorded = [&] {
        const auto& entries = controller->monitor().entries();
        return std::count_if(entries.begin(), entries.end(), [](const MonitorEntry& entry) {
            return entry.text.find("/kestrano/set/maxValue") != std::string::npos;
        });
    };
    ASSERT_TRUE(processEventsUntil([&] { return requestsRecorded() == 2; }, 10s));
    processEventsFor(600ms);
    EXPECT_EQ(view->toPlainText().count("/kestrano/set/maxValue"), 1);
    QTest::mouseClick(child<QPushButton>("monitorPauseButton"), Qt::LeftButton);
    EXPECT_EQ(view->toPlainText().count("/kestrano/set/maxValue"), 2);
    QTest::mouseClick(child<QPushButton>("monitorClearButton"), Qt::LeftButton);
    EXPECT_EQ(view->toPlainText(), "");
}

TEST_F(MainWindowTest, AFloodIsListedInPartAndSaysSo) {
    const QVOSCData bytes = levelDatagram("/flood", 1.0f);
    for (int count = 0; count < 3000; ++count) {
        sendDatagram(static_cast<uint16_t>(controller->zandorexListenPort()), bytes);
    }
    // Hidden behind the history's tab, the monitor keeps the datagrams and draws nothing.
    auto* leftOut = child<ReadOnlyText>("monitorLeftOutText");
    auto* view = child<QPlainTextEdit>("monitorView");
    EXPECT_TRUE(processEventsUntil([&] { return controller->monitor().leftOutCount() > 0; }, 10s));
    processEventsUntil([] { return false; },
                       2 * std::chrono::milliseconds(MonitorPanel::refreshMilliseconds));
    EXPECT_TRUE(view->toPlainText().isEmpty());
    child<QTabWidget>("viewTabs")->setCurrentWidget(child<MonitorPanel>("monitorPanel"));
    EXPECT_TRUE(processEventsUntil([&] { return !leftOut->text().isEmpty(); }, 10s));
    EXPECT_TRUE(leftOut->text().endsWith("not listed (too many at once)"))
        << leftOut->text().toStdString();
    EXPECT_LE(child<QPlainTextEdit>("monitorView")->blockCount(),
              static_cast<int>(OscMonitor::capacity) + 1);
}

// What a control shows, as text.
QString shownBy(QWidget* control) {
    if (auto* spinBox = qobject_cast<QDoubleSpinBox*>(control)) {
        return QString::number(spinBox->value());
    }
    if (auto* wholeBox = qobject_cast<QSpinBox*>(control)) {
        return QString::number(wholeBox->value());
    }
    if (auto* checkBox = qobject_cast<QCheckBox*>(control)) {
        return checkBox->isChecked() ? "true" : "false";
    }
    if (auto* comboBox = qobject_cast<QComboBox*>(control)) {
        return comboBox->currentText();
    }
    return qobject_cast<QLineEdit*>(control)->text();
}

TEST_F(MainWindowTest, ShowsEveryStoredSettingFromTheFirstFrameAndFollowsOtherPaths) {
    struct Row {
        const char* key;
        const char* stored;
        const char* control;
        QString shown;
    };
    const uint16_t listenPort = freeUdpPort();
    const Row rows[] = {
        {"zandorexSendPort", "5002", "sendPortSpinBox", "5002"},
        {"zandorexListenPort", "", "listenPortSpinBox", QString::number(listenPort)},
        {"volumeAmplification", "2.5", "amplificationSpinBox", "2.5"},
        {"active", "off", "activeCheckBox", "false"},
        {"type", "trigger", "modeComboBox", "Trigger"},
        {"address", "stage/1", "addressLineEdit", "stage/1"},
        {"minValue", "-3", "minValueSpinBox", "-3"},
        {"maxValue", "7.5", "maxValueSpinBox", "7.5"},
        {"zandorexHost", "127.0.0.2", "hostLineEdit", "127.0.0.2"},
        {"zandorexProtocol", "tcp-length", "protocolComboBox", "tcp-length"},
        {"listenAddress", "127.0.0.1", "listenAddressLineEdit", "127.0.0.1"},
        {"remoteControl", "yes", "remoteControlCheckBox", "true"},
        {"remoteControlFrom", "10.0.0.0/24,::1", "remoteControlFromLineEdit", "10.0.0.0/24,::1"},
        {"webPort", "", "webPortSpinBox", "0"},
        {"webAddress", "::1", "webAddressLineEdit", "::1"},
        {"triggerOnThreshold", "0.7", "triggerOnThresholdSpinBox", "0.7"},
        {"triggerOffThreshold", "0.4", "triggerOffThresholdSpinBox", "0.4"},
        {"triggerOnDelay", "120", "triggerOnDelaySpinBox", "120"},
        {"triggerOffDelay", "300", "triggerOffDelaySpinBox", "300"},
        {"attackTime", "50", "attackTimeSpinBox", "50"},
        {"releaseTime", "800", "releaseTimeSpinBox", "800"},
        {"bandLowCut", "40", "bandLowCutSpinBox", "40"},
        {"bandHighCut", "150", "bandHighCutSpinBox", "150"},
        {"inputDevice", "speakers.monitor", "deviceComboBox", "Monitor of speakers"},
        {"inputChannels", "1,3-4", "inputChannelsLineEdit", "1,3-4"},
        {"triggerResponse", "fast", "triggerResponseComboBox", "fast"},
        {"tempo", "detect", "tempoComboBox", "detect"},
        {"preset", "storm", "presetComboBox", "storm"},
    };
    window.reset();
    controller.reset();
    clearStoredSettings();
    for (const Row& row : rows) {
        preferences.setString(row.key, std::string(row.stored));
    }
    preferences.setInteger("zandorexListenPort", listenPort);
    // The list of mappings is not one control's value, nor are the tempo's addresses, range and
    // channels, which are set up once, before the show.
    ASSERT_EQ(std::size(rows) + 5, settingsCatalog().size()) << "every key has a row";

    controller = std::make_unique<KestranoController>(
        mainLoop, preferences,
        std::make_unique<FakeAudioCapture>(std::vector{microphone, monitor}, microphone));
    controller->usePresetsBeside(preferences.fileName());
    window = std::make_unique<MainWindow>(*controller);
    controller->awakeFromNib();
    for (const Row& row : rows) {
        EXPECT_EQ(shownBy(child<QWidget>(row.control)), row.shown) << row.key;
    }
    EXPECT_TRUE(controller->status().settingsNotices.empty());

    // Changes made elsewhere show at once.
    controller->settings().changeFromText("listenAddress", "");
    controller->settings().changeFromText("remoteControl", "off");
    controller->settings().changeFromText("triggerOnDelay", "90");
    EXPECT_EQ(shownBy(child<QWidget>("listenAddressLineEdit")), "");
    EXPECT_EQ(shownBy(child<QWidget>("remoteControlCheckBox")), "false");
    EXPECT_EQ(shownBy(child<QWidget>("triggerOnDelaySpinBox")), "90");

    // The browser page's port is off at 0: absent, as without the key.
    auto* webPort = child<QSpinBox>("webPortSpinBox");
    EXPECT_EQ(webPort->specialValueText(), "off");
    webPort->setValue(8080);
    EXPECT_EQ(controller->settings().whole("webPort"), 8080);
    webPort->setValue(0);
    EXPECT_EQ(controller->settings().value("webPort"), std::nullopt);
}

TEST_F(MainWindowTest, AControlOffersOnlyWhatTheSettingsTakeAndSaysWhatTheyRefuse) {
    // Letters cannot be typed into an address of this machine; an incomplete one is not taken.
    auto* listenAddress = child<QLineEdit>("listenAddressLineEdit");
    listenAddress->setFocus();
    QTest::keyClicks(listenAddress, "local host 999.1");
    QTest::keyClick(listenAddress, Qt::Key_Return);
    EXPECT_EQ(controller->settings().text("listenAddress"), std::nullopt);
    EXPECT_EQ(preferences.stringForKey("listenAddress"), std::nullopt);

    // An off threshold above the on threshold is refused in the words --set uses.
    controller->setType(1);
    enter(child<QDoubleSpinBox>("triggerOffThresholdSpinBox"), "0.9");
    EXPECT_EQ(controller->settings().held("triggerOffThreshold"), std::nullopt);
    EXPECT_EQ(child<QDoubleSpinBox>("triggerOffThresholdSpinBox")->value(), 0.0);
    EXPECT_EQ(message(),
              "bad value '0.9' for triggerOffThreshold: it must not exceed triggerOnThreshold "
              "(0.5)");
    EXPECT_EQ(child<QDoubleSpinBox>("amplificationSpinBox")->maximum(), 1000.0);
}

TEST_F(MainWindowTest, TheMonitorShowsEightLinesAtFirstAndTakesTheHeightTheWindowGains) {
    auto* view = child<QPlainTextEdit>("monitorView");
    EXPECT_FALSE(view->isVisible()) << "the history's tab comes first";
    auto* tabs = child<QTabWidget>("viewTabs");
    tabs->tabBar()->setFocus();
    QTest::keyClick(tabs->tabBar(), Qt::Key_Right);
    ASSERT_TRUE(view->isVisible());
    const auto linesShown = [view] {
        const int margins = 2 * static_cast<int>(view->document()->documentMargin());
        return (view->viewport()->height() - margins) / view->fontMetrics().lineSpacing();
    };
    std::printf("window %dx%d, monitor %d lines\n", window->width(), window->height(),
                linesShown());
    EXPECT_GE(linesShown(), 8);
    // Also with lines longer than the view is wide, which bring a scroll bar.
    controller->monitor().record(
        MonitorEntry::Direction::in, NetworkEndpoint{},
        std::make_shared<const QVOSCData>(levelDatagram("/" + std::string(400, 'w'), 1.0f)));
    window->findChild<MonitorPanel*>()->refresh();
    QApplication::processEvents();
    EXPECT_GE(linesShown(), 8);

    EXPECT_LT(window->minimumHeight(), window->maximumHeight()) << "resizable";
    const int before = view->height();
    window->resize(window->width(), window->height() + 300);
    // The list's row shares what the window gains with the spectrum's.
    EXPECT_TRUE(processEventsUntil([&] { return view->height() >= before + 120; }, 10s))
        << before << " -> " << view->height();
}

}  // namespace

namespace {

TEST_F(MainWindowTest, PresetsAreChosenAndSavedAboveTheMappingsAndAChangeIsMarked) {
    const std::filesystem::path folder =
        std::filesystem::path(preferences.fileName().toStdString()).parent_path() /
        "Kestrano.presets";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "storm.conf")
        << "[General]\nmappings=kick\nmaxValue=5\n[kick]\ntype=1\naddress=kick\n";
    std::ofstream(folder / "broken.conf") << "[General]\nmaxValue=loud\n";
    auto* chooser = child<QComboBox>("presetComboBox");
    auto* mark = child<ElidedText>("presetChangedMark");
    const auto statusText = [this] {
        return QString::fromStdString(statusLine(controller->status()));
    };

    // Save as preset…, named in its dialog.
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->setTextValue("verse");
        dialog->accept();
    });
    QTest::mouseClick(child<QPushButton>("savePresetButton"), Qt::LeftButton);
    EXPECT_TRUE(std::filesystem::exists(folder / "verse.conf"));
    EXPECT_EQ(chooser->currentText(), "verse");
    EXPECT_EQ(chooser->count(), 3);
    EXPECT_TRUE(mark->isHidden());
    EXPECT_TRUE(statusText().contains("preset verse")) << statusText().toStdString();

    enter(child<QDoubleSpinBox>("maxValueSpinBox"), "12");
    EXPECT_FALSE(mark->isHidden()) << "changed since saved";
    EXPECT_TRUE(statusText().contains("preset verse (changed)")) << statusText().toStdString();

    // Chosen with the keyboard: the whole set-up switches, and is stored at once.
    chooser->setFocus();
    QTest::keyClick(chooser, Qt::Key_Up);
    EXPECT_EQ(chooser->currentText(), "storm");
    EXPECT_EQ(child<QDoubleSpinBox>("maxValueSpinBox")->value(), 5.0);
    EXPECT_EQ(child<QTableWidget>("mappingTable")->rowCount(), 2);
    EXPECT_TRUE(mark->isHidden());
    EXPECT_EQ(QSettings("Kestrano", "Kestrano").value("preset").toString(), "storm");

    // A preset that cannot be taken changes nothing and says why.
    QTest::keyClick(chooser, Qt::Key_Up);
    EXPECT_TRUE(message().contains("broken.conf: maxValue=loud")) << message().toStdString();
    EXPECT_EQ(chooser->currentText(), "storm");
    EXPECT_EQ(controller->maxValue(), 5.0f);
    EXPECT_EQ(controller->settings().mappingNames(), std::vector<std::string>{"kick"});
}

}  // namespace
