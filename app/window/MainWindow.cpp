#include "app/window/MainWindow.h"

#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QKeySequence>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>

#include "app/audio/recording/RecordingDevice.h"
#include "app/control/StatusText.h"
#include "app/control/mapping/MappingSettings.h"
#include "app/settings/SettingsKeys.h"
#include "app/window/MappingList.h"
#include "app/window/MonitorPanel.h"
#include "app/window/NetworkGroup.h"
#include "app/window/PresetBar.h"
#include "app/window/SettingBindings.h"
#include "app/window/TempoPanel.h"
#include "app/window/widgets/FrequencyView.h"
#include "app/window/widgets/LevelHistory.h"
#include "app/window/widgets/ReadOnlyText.h"
#include "app/window/widgets/StatusLine.h"
#include "ui_MainWindow.h"

namespace {

namespace keys = settings_keys;

constexpr int previewVolumeSteps = 100;
constexpr int saveMessageMilliseconds = 3000;
constexpr int refusalMessageMilliseconds = 8000;
// The window's size and place: not a setting of the program, so kept beside its settings file.
constexpr const char* geometryKey = "geometry";
QSettings storedPlace() {
    return QSettings(QStringLiteral("Kestrano"), QStringLiteral("window"));
}

// Puts `caption` before `field`, which the form already holds. The form makes the caption
// itself and points its mnemonic at the field.
void addCaption(QFormLayout* form, QWidget* field, const QString& caption) {
    int row = -1;
    form->getWidgetPosition(field, &row, nullptr);
    Q_ASSERT(row >= 0);
    delete form->takeRow(row).fieldItem;  // the layout's item only; the field stays
    form->insertRow(row, caption, field);
}

// A row of several controls is captioned as a whole; its caption's mnemonic reaches `first`.
void focusFirstControl(QWidget* row, QWidget* first) {
    row->setFocusProxy(first);
    row->setFocusPolicy(first->focusPolicy());
}

}  // namespace

MainWindow::MainWindow(KestranoController& controller, SpectrumFeed* spectra, QWidget* parent)
    : QMainWindow(parent),
      ownSpectra_(spectra ? nullptr : std::make_unique<SpectrumFeed>(controller.session())),
      ui_(std::make_unique<Ui::MainWindow>()),
      statusLine_(new StatusLine(this)),
      controller_(controller) {
    ui_->setupUi(this);
    networkGroup_ = new NetworkGroup(this);
    monitorPanel_ = new MonitorPanel(controller_.monitor(), this);
    tempoPanel_ = new TempoPanel([this] { controller_.tapTempo(); }, this);
    // In the row of buttons, which has width to spare and costs the window no height.
    ui_->buttonLayout->insertWidget(ui_->buttonLayout->indexOf(ui_->networkButton), tempoPanel_);
    addCaptions();
    ui_->previewVolumeValueLabel->setMinimumWidth(
        ui_->previewVolumeValueLabel->widthForText(tr("%1 %").arg(previewVolumeSteps)));
    statusLine_->setObjectName("statusLine");
    ui_->statusbar->addWidget(statusLine_, 1);
    const auto refused = [this](const QString& problem) {
        statusLine_->showMessage(problem, refusalMessageMilliseconds);
    };
    placeNetworkDialog();
    SettingsModel& settings = controller_.settings();
    // Every control named by its setting is bound, the network dialog's included.
    settingBindings_ = new SettingBindings(settings, this, refused);
    mappingList_ = new MappingList(
        settings, refused, [this](const std::string& mapping) { editMapping(mapping); }, this);
    presetBar_ =
        new PresetBar(PresetBar::Hooks{
                          [this](std::string_view name) { return controller_.switchPreset(name); },
                          [this](std::string_view name) { return controller_.savePreset(name); },
                          [this] { return controller_.presetNames(); },
                          refused,
                      },
                      this);
    spectrum_ = new FrequencyView(settings, spectra ? *spectra : *ownSpectra_, refused, this);
    history_ = new LevelHistory(settings, refused, this);
    placeViews();

    for (const ControllerProperty property :
         {ControllerProperty::audioDevices, ControllerProperty::previewVolume}) {
        controllerPropertyChanged(property);
    }
    for (const SettingDefinition& setting : settingsCatalog()) {
        controllerSettingChanged(setting.key);
    }
    controllerStatusChanged(controller_.status());
    connectControls();
    restoreWindowGeometry();

    controller_.setAudioLevelMeter(ui_->levelMeter);
    controller_.setObserver(this);
}

MainWindow::~MainWindow() {
    controller_.setObserver(nullptr);
    controller_.setAudioLevelMeter(nullptr);
    // It holds the spectrum feed open, which may be the window's own and go before the children.
    delete spectrum_;
}

void MainWindow::restoreWindowGeometry() {
    const QByteArray stored = storedPlace().value(geometryKey).toByteArray();
    if (!stored.isEmpty() && restoreGeometry(stored)) {
        return;
    }
    // No more than the screen offers, where it offers less.
    QSize size = defaultSize;
    if (const QScreen* screen = this->screen()) {
        size = size.boundedTo(screen->availableGeometry().size());
    }
    resize(size.expandedTo(minimumSizeHint()));
}

void MainWindow::closeEvent(QCloseEvent* event) {
    QSettings state = storedPlace();
    state.setValue(geometryKey, saveGeometry());
    QMainWindow::closeEvent(event);
}

void MainWindow::addCaptions() {
    focusFirstControl(ui_->deviceRow, ui_->deviceComboBox);
    focusFirstControl(ui_->previewVolumeRow, ui_->previewVolumeSlider);
    addCaption(ui_->inputLayout, ui_->deviceRow, tr("&Device:"));
    addCaption(ui_->inputLayout, ui_->previewVolumeRow, tr("Pre&view volume:"));
    addCaption(ui_->inputLayout, ui_->levelMeter, tr("Level (dBFS):"));
    addCaption(ui_->inputLayout, ui_->inputChannelsLineEdit, tr("&Channels:"));
    addCaption(ui_->mappingLayout, ui_->modeComboBox, tr("&Mode:"));
    addCaption(ui_->mappingLayout, ui_->amplificationSpinBox, tr("&Amplification:"));
    addCaption(ui_->valueLayout, ui_->minValueSpinBox, tr("Mi&nimum:"));
    addCaption(ui_->valueLayout, ui_->maxValueSpinBox, tr("Ma&ximum:"));
    addCaption(ui_->mappingLayout, ui_->addressLineEdit, tr("Addr&ess name:"));
    addCaption(ui_->mappingLayout, ui_->fullAddressLabel, tr("Sends to:"));
    addCaption(ui_->triggerLayout, ui_->triggerOnThresholdSpinBox, tr("Trigger &on at:"));
    addCaption(ui_->triggerLayout, ui_->triggerOffThresholdSpinBox, tr("Trigger off &below:"));
    addCaption(ui_->triggerLayout, ui_->triggerOnDelaySpinBox, tr("On dela&y:"));
    addCaption(ui_->triggerLayout, ui_->triggerOffDelaySpinBox, tr("O&ff delay:"));
    addCaption(ui_->triggerLayout, ui_->triggerResponseComboBox, tr("&Response:"));
    addCaption(ui_->smoothingLayout, ui_->attackTimeSpinBox, tr("Attac&k time:"));
    addCaption(ui_->smoothingLayout, ui_->releaseTimeSpinBox, tr("Release t&ime:"));
    addCaption(ui_->smoothingLayout, ui_->bandLowCutSpinBox, tr("Band lo&w cut:"));
    addCaption(ui_->smoothingLayout, ui_->bandHighCutSpinBox, tr("Band &high cut:"));
}

void MainWindow::placeViews() {
    ui_->topLayout->insertWidget(0, spectrum_, 1);
    // The preset chooser above the mappings it switches.
    auto* mappings = new QWidget(this);
    auto* mappingsLayout = new QVBoxLayout(mappings);
    mappingsLayout->setContentsMargins(0, 0, 0, 0);
    mappingsLayout->addWidget(presetBar_);
    mappingsLayout->addWidget(mappingList_, 1);
    ui_->middleLayout->insertWidget(0, mappings, 3);
    ui_->middleLayout->setStretchFactor(ui_->viewTabs, 2);
    ui_->viewTabs->addTab(history_, tr("&Level history"));
    ui_->viewTabs->addTab(monitorPanel_, tr("OSC monitor"));
    // The monitor's own frame and margins are the tab's.
    monitorPanel_->setFlat(true);
    monitorPanel_->setTitle(QString());
    monitorPanel_->layout()->setContentsMargins(0, 0, 0, 0);
    // The spectrum, and the rows with the history, share what height the window gains.
    ui_->centralLayout->setStretch(0, 1);
    ui_->centralLayout->setStretch(1, 1);

    // In reading order: the input, the list and its tabs, then the chosen mapping's editor.
    QWidget* previous = ui_->inputChannelsLineEdit;
    const auto follow = [&previous, this](QWidget* field) {
        setTabOrder(previous, field);
        previous = field;
    };
    follow(presetBar_->findChild<QWidget*>("presetComboBox"));
    follow(presetBar_->findChild<QWidget*>("savePresetButton"));
    for (const char* name :
         {"mappingTable", "addMappingButton", "renameMappingButton", "removeMappingButton"}) {
        follow(mappingList_->findChild<QWidget*>(name));
    }
    follow(ui_->viewTabs);
    for (QWidget* field : monitorPanel_->findChildren<QWidget*>()) {
        if (field->focusPolicy() & Qt::TabFocus) {
            follow(field);
        }
    }
    follow(ui_->activeCheckBox);
    // The tempo's Tap button, where it sits: after the editor, before the network's button.
    previous = ui_->bandHighCutSpinBox;
    for (QWidget* field : tempoPanel_->findChildren<QWidget*>()) {
        if (field->focusPolicy() & Qt::TabFocus) {
            follow(field);
        }
    }
    follow(ui_->networkButton);
}

void MainWindow::placeNetworkDialog() {
    networkDialog_ = new QDialog(this);
    networkDialog_->setObjectName("networkDialog");
    networkDialog_->setWindowTitle(tr("Network and remote control"));
    auto* layout = new QVBoxLayout(networkDialog_);
    layout->addWidget(networkGroup_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, networkDialog_);
    layout->addWidget(buttons);
    // Return in a field takes its value; it must not close the dialog too. Escape closes it.
    for (QAbstractButton* button : buttons->buttons()) {
        if (auto* push = qobject_cast<QPushButton*>(button)) {
            push->setAutoDefault(false);
        }
    }
    connect(buttons, &QDialogButtonBox::rejected, networkDialog_, &QDialog::hide);
    // Beside the window, not in front of it: the meters stay in sight while the ports change.
    connect(ui_->networkButton, &QPushButton::clicked, this, [this] {
        networkDialog_->show();
        networkDialog_->raise();
        networkDialog_->activateWindow();
    });
}

void MainWindow::editMapping(const std::string& mapping) {
    settingBindings_->setMapping(mapping);
    spectrum_->setChosenMapping(mapping);
    history_->setMapping(mapping);
    ui_->mappingGroup->setTitle(
        mapping.empty() ? tr("Mapping") : tr("Mapping %1").arg(QString::fromStdString(mapping)));
    showModeDependentControls();
    showMeterScale();
    showAddress();
}

void MainWindow::connectControls() {
    connect(ui_->deviceComboBox, &QComboBox::currentIndexChanged, this, [this](int index) {
        const std::vector<AudioDevice>& devices = controller_.audioDevices();
        // Entry 0 is "no input"; the others follow the controller's list, then one may name the
        // device waited for, which is already the choice, and the last asks for a recording.
        if (index == ui_->deviceComboBox->count() - 1) {
            chooseRecording();
            return;
        }
        if (static_cast<size_t>(index) > devices.size()) {
            return;
        }
        const auto device =
            index > 0 ? std::optional<AudioDevice>(devices[index - 1]) : std::nullopt;
        controller_.setSelectedAudioDevice(device);
    });
    connect(ui_->refreshButton, &QPushButton::clicked, this,
            [this] { controller_.refreshDevices(); });
    connect(ui_->previewVolumeSlider, &QSlider::valueChanged, this, [this](int value) {
        controller_.setPreviewVolume(static_cast<float>(value) / previewVolumeSteps);
    });
    const auto save = [this] {
        if (const std::optional<std::string> failure = controller_.save()) {
            statusLine_->showMessage(
                tr("Settings not saved: %1").arg(QString::fromStdString(*failure)), 0);
        } else {
            statusLine_->showMessage(tr("Settings saved"), saveMessageMilliseconds);
        }
    };
    connect(ui_->saveButton, &QPushButton::clicked, this, save);
    connect(new QShortcut(QKeySequence::Save, this), &QShortcut::activated, this, save);
    connect(new QShortcut(QKeySequence::Quit, this), &QShortcut::activated, this, &QWidget::close);
}

void MainWindow::controllerPropertyChanged(ControllerProperty property) {
    switch (property) {
        case ControllerProperty::audioDevices:
            showDevices();
            break;
        case ControllerProperty::selectedAudioDevice:
            showSelectedDevice();
            break;
        case ControllerProperty::previewVolume: {
            const int percent =
                static_cast<int>(controller_.previewVolume() * previewVolumeSteps + 0.5f);
            const QSignalBlocker blocker(ui_->previewVolumeSlider);
            ui_->previewVolumeSlider->setValue(percent);
            ui_->previewVolumeValueLabel->setText(tr("%1 %").arg(percent));
            break;
        }
    }
}

void MainWindow::controllerSettingChanged(std::string_view key) {
    // First: a mapping renamed or removed must be edited no more before any key is read.
    mappingList_->settingChanged(key);
    settingBindings_->show(key);
    spectrum_->settingChanged(key);
    history_->settingChanged(key);
    // What several settings shape: cheap enough to redo for each.
    showModeDependentControls();
    showMeterScale();
    showAddress();
}

void MainWindow::showModeDependentControls() {
    const int64_t mode = controller_.settings().whole(settingBindings_->keyFor(keys::type));
    // Silence waits for the level to stay under the thresholds for the delays, as a trigger does.
    const bool gated = mode != continuousMode;
    for (QWidget* control : {static_cast<QWidget*>(ui_->triggerOnThresholdSpinBox),
                             static_cast<QWidget*>(ui_->triggerOffThresholdSpinBox),
                             static_cast<QWidget*>(ui_->triggerOnDelaySpinBox),
                             static_cast<QWidget*>(ui_->triggerOffDelaySpinBox)}) {
        control->setEnabled(gated);
    }
    ui_->triggerResponseComboBox->setEnabled(mode == triggerMode);
    // Smoothing shapes the continuous value only.
    ui_->attackTimeSpinBox->setEnabled(!gated);
    ui_->releaseTimeSpinBox->setEnabled(!gated);
}

void MainWindow::showMeterScale() {
    const SettingsModel& settings = controller_.settings();
    const auto number = [&](std::string_view row) {
        return settings.decimal(settingBindings_->keyFor(row));
    };
    const float on = number(keys::triggerOnThreshold);
    // An absent off threshold is the on threshold.
    const float off = number(keys::triggerOffThreshold);
    ui_->levelMeter->setScale(
        {number(keys::volumeAmplification),
         settings.whole(settingBindings_->keyFor(keys::type)) != continuousMode, on,
         off > 0.0f ? off : on});
}

void MainWindow::showDevices() {
    {
        const QSignalBlocker blocker(ui_->deviceComboBox);
        ui_->deviceComboBox->clear();
        ui_->deviceComboBox->addItem(tr("No input"));
        for (const AudioDevice& device : controller_.audioDevices()) {
            ui_->deviceComboBox->addItem(QString::fromStdString(device.description));
        }
    }
    showSelectedDevice();
}

void MainWindow::showSelectedDevice() {
    const std::vector<AudioDevice>& devices = controller_.audioDevices();
    const std::optional<AudioDevice> selected = controller_.selectedAudioDevice();
    const auto found =
        selected ? std::find(devices.begin(), devices.end(), *selected) : devices.end();
    const QSignalBlocker blocker(ui_->deviceComboBox);
    const int listed = static_cast<int>(devices.size()) + 1;
    while (ui_->deviceComboBox->count() > listed) {
        ui_->deviceComboBox->removeItem(listed);
    }
    int current = found == devices.end() ? 0 : static_cast<int>(found - devices.begin()) + 1;
    // A device that is chosen but absent shows as such, not as "No input".
    if (const std::optional<std::string> awaited = controller_.awaitedDevice()) {
        ui_->deviceComboBox->addItem(tr("%1 (waiting)").arg(QString::fromStdString(*awaited)));
        current = listed;
    }
    ui_->deviceComboBox->addItem(tr("Recording…"));
    ui_->deviceComboBox->setCurrentIndex(current);
}

void MainWindow::chooseRecording() {
    showSelectedDevice();
    auto* dialog = new QFileDialog(
        this, tr("Play a recording as the input"), QString(),
        tr("Recordings (*.wav *.flac *.ogg *.oga *.opus *.mp3 *.aif *.aiff);;All files (*)"));
    dialog->setObjectName("recordingDialog");
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFile);
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& file) {
        controller_.setSelectedAudioDevice(recording_device::named(file.toStdString()));
    });
    dialog->open();
}

void MainWindow::showAddress() {
    ui_->fullAddressLabel->setText("/zandorex/" +
                                   QString::fromStdString(mappingAddress(
                                       controller_.settings(), settingBindings_->mapping())));
}

void MainWindow::controllerStatusChanged(const ControllerStatus& status) {
    ui_->levelMeter->setInputLevel(status.inputLevel);
    ui_->levelMeter->setPeak(status.samplePeak, status.clipping);
    statusLine_->setStatus(QString::fromStdString(statusLine(status)));
    networkGroup_->showRemoteAccess(status.remoteAccess);
    tempoPanel_->showTempo(status.tempo);
    mappingList_->showStatus(status);
    presetBar_->showStatus(status);
    const MappingStatus* chosen = mappingStatus(status, mappingList_->chosen());
    history_->addTick(chosen ? chosen->position : std::nullopt, chosen && chosen->on);
}
