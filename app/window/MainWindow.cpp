#include "app/window/MainWindow.h"

#include <QFormLayout>
#include <QKeySequence>
#include <QShortcut>
#include <QSignalBlocker>
#include <QValidator>
#include <algorithm>
#include <functional>

#include "app/control/StatusText.h"
#include "app/settings/OscAddressName.h"
#include "app/window/MonitorPanel.h"
#include "app/window/NetworkGroup.h"
#include "app/window/ReadOnlyText.h"
#include "ui_MainWindow.h"

namespace {

constexpr int previewVolumeSteps = 100;
constexpr int saveMessageMilliseconds = 3000;

class AddressNameValidator : public QValidator {
  public:
    using QValidator::QValidator;
    State validate(QString& input, int& /*position*/) const override {
        return isOscAddressName(input.toStdString()) ? Acceptable : Invalid;
    }
};

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

// Shows a value the controller holds without echoing it back.
template <typename SpinBox, typename Number>
void showValue(SpinBox* spinBox, Number value) {
    const QSignalBlocker blocker(spinBox);
    spinBox->setValue(value);
}

}  // namespace

MainWindow::MainWindow(KestranoController& controller, QWidget* parent)
    : QMainWindow(parent),
      ui_(std::make_unique<Ui::MainWindow>()),
      statusLabel_(new ReadOnlyText(this)),
      controller_(controller) {
    ui_->setupUi(this);
    networkGroup_ = new NetworkGroup(controller_, ui_->centralwidget);
    ui_->centralLayout->insertWidget(ui_->centralLayout->indexOf(ui_->verticalSpacer),
                                     networkGroup_);
    monitorPanel_ = new MonitorPanel(controller_.monitor(), ui_->centralwidget);
    // The monitor takes the room the spacer kept.
    ui_->centralLayout->insertWidget(ui_->centralLayout->indexOf(ui_->verticalSpacer),
                                     monitorPanel_, 1);
    // In reading order: the groups below the shaping come before the Save button.
    QWidget* previous = ui_->bandHighCutSpinBox;
    for (QWidget* group :
         {static_cast<QWidget*>(networkGroup_), static_cast<QWidget*>(monitorPanel_)}) {
        for (QWidget* field : group->findChildren<QWidget*>()) {
            if (field->focusPolicy() & Qt::TabFocus) {
                setTabOrder(previous, field);
                previous = field;
            }
        }
    }
    setTabOrder(previous, ui_->saveButton);
    addCaptions();
    ui_->previewVolumeValueLabel->setMinimumWidth(
        ui_->previewVolumeValueLabel->widthForText(tr("%1 %").arg(previewVolumeSteps)));
    statusLabel_->setObjectName("statusLabel");
    statusLabel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    ui_->statusbar->addWidget(statusLabel_, 1);
    ui_->addressLineEdit->setValidator(new AddressNameValidator(ui_->addressLineEdit));

    for (const ControllerProperty property :
         {ControllerProperty::audioDevices, ControllerProperty::previewVolume,
          ControllerProperty::volumeAmplification, ControllerProperty::active,
          ControllerProperty::type, ControllerProperty::address, ControllerProperty::minValue,
          ControllerProperty::maxValue, ControllerProperty::zandorexSendPort,
          ControllerProperty::zandorexListenPort, ControllerProperty::triggerOnThreshold,
          ControllerProperty::triggerOffThreshold, ControllerProperty::triggerOnDelay,
          ControllerProperty::triggerOffDelay, ControllerProperty::attackTime,
          ControllerProperty::releaseTime, ControllerProperty::bandLowCut,
          ControllerProperty::bandHighCut}) {
        controllerPropertyChanged(property);
    }
    controllerStatusChanged(controller_.status());
    connectControls();

    controller_.setAudioLevelMeter(ui_->levelMeter);
    controller_.setObserver(this);
}

MainWindow::~MainWindow() {
    controller_.setObserver(nullptr);
    controller_.setAudioLevelMeter(nullptr);
}

void MainWindow::addCaptions() {
    focusFirstControl(ui_->deviceRow, ui_->deviceComboBox);
    focusFirstControl(ui_->previewVolumeRow, ui_->previewVolumeSlider);
    addCaption(ui_->inputLayout, ui_->deviceRow, tr("&Device:"));
    addCaption(ui_->inputLayout, ui_->previewVolumeRow, tr("Pre&view volume:"));
    addCaption(ui_->inputLayout, ui_->levelMeter, tr("Level (dBFS):"));
    addCaption(ui_->mappingLayout, ui_->modeComboBox, tr("&Mode:"));
    addCaption(ui_->mappingLayout, ui_->amplificationSpinBox, tr("&Amplification:"));
    addCaption(ui_->mappingLayout, ui_->minValueSpinBox, tr("Mi&nimum:"));
    addCaption(ui_->mappingLayout, ui_->maxValueSpinBox, tr("Ma&ximum:"));
    addCaption(ui_->oscLayout, ui_->addressLineEdit, tr("Addr&ess name:"));
    addCaption(ui_->oscLayout, ui_->fullAddressLabel, tr("Sends to:"));
    addCaption(ui_->oscLayout, ui_->sendPortSpinBox, tr("Send &port:"));
    addCaption(ui_->oscLayout, ui_->listenPortSpinBox, tr("&Listen port:"));
    addCaption(ui_->triggerLayout, ui_->triggerOnThresholdSpinBox, tr("Trigger &on at:"));
    addCaption(ui_->triggerLayout, ui_->triggerOffThresholdSpinBox, tr("Trigger off &below:"));
    addCaption(ui_->triggerLayout, ui_->triggerOnDelaySpinBox, tr("On dela&y:"));
    addCaption(ui_->triggerLayout, ui_->triggerOffDelaySpinBox, tr("O&ff delay:"));
    addCaption(ui_->smoothingLayout, ui_->attackTimeSpinBox, tr("Attac&k time:"));
    addCaption(ui_->smoothingLayout, ui_->releaseTimeSpinBox, tr("Release t&ime:"));
    addCaption(ui_->smoothingLayout, ui_->bandLowCutSpinBox, tr("Band lo&w cut:"));
    addCaption(ui_->smoothingLayout, ui_->bandHighCutSpinBox, tr("Band &high cut:"));
}

void MainWindow::connectControls() {
    connect(ui_->deviceComboBox, &QComboBox::currentIndexChanged, this, [this](int index) {
        const std::vector<AudioDevice>& devices = controller_.audioDevices();
        // Entry 0 is "no input"; the others follow the controller's list, and a last one names
        // the device waited for, which is already the choice.
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
    connect(ui_->activeCheckBox, &QCheckBox::toggled, this,
            [this](bool checked) { controller_.setActive(checked); });
    connect(ui_->modeComboBox, &QComboBox::currentIndexChanged, this,
            [this](int index) { controller_.setType(index); });
    connect(ui_->amplificationSpinBox, &QDoubleSpinBox::valueChanged, this, [this](double value) {
        controller_.setVolumeAmplification(static_cast<float>(value));
    });
    connect(ui_->minValueSpinBox, &QDoubleSpinBox::valueChanged, this,
            [this](double value) { controller_.setMinValue(static_cast<float>(value)); });
    connect(ui_->maxValueSpinBox, &QDoubleSpinBox::valueChanged, this,
            [this](double value) { controller_.setMaxValue(static_cast<float>(value)); });
    connect(ui_->addressLineEdit, &QLineEdit::textEdited, this,
            [this](const QString& text) { controller_.setAddress(text.toStdString()); });
    // The setter travels as std::mem_fn: a bare pointer to member captured by the slot makes
    // GCC 12 under the sanitizers warn that it may be used uninitialized.
    const auto bindFloat = [this](QDoubleSpinBox* spinBox, void (KestranoController::*set)(float)) {
        connect(spinBox, &QDoubleSpinBox::valueChanged, this,
                [this, set = std::mem_fn(set)](double value) {
                    set(controller_, static_cast<float>(value));
                });
    };
    const auto bindMilliseconds = [this](QSpinBox* spinBox,
                                         void (KestranoController::*set)(int32_t)) {
        connect(spinBox, &QSpinBox::valueChanged, this,
                [this, set = std::mem_fn(set)](int value) { set(controller_, value); });
    };
    bindFloat(ui_->triggerOnThresholdSpinBox, &KestranoController::setTriggerOnThreshold);
    bindFloat(ui_->triggerOffThresholdSpinBox, &KestranoController::setTriggerOffThreshold);
    bindMilliseconds(ui_->triggerOnDelaySpinBox, &KestranoController::setTriggerOnDelay);
    bindMilliseconds(ui_->triggerOffDelaySpinBox, &KestranoController::setTriggerOffDelay);
    bindMilliseconds(ui_->attackTimeSpinBox, &KestranoController::setAttackTime);
    bindMilliseconds(ui_->releaseTimeSpinBox, &KestranoController::setReleaseTime);
    bindFloat(ui_->bandLowCutSpinBox, &KestranoController::setBandLowCut);
    bindFloat(ui_->bandHighCutSpinBox, &KestranoController::setBandHighCut);
    connect(ui_->sendPortSpinBox, &QSpinBox::valueChanged, this,
            [this](int port) { controller_.setZandorexSendPort(port); });
    connect(ui_->listenPortSpinBox, &QSpinBox::valueChanged, this,
            [this](int port) { controller_.setZandorexListenPort(port); });

    const auto save = [this] {
        controller_.save();
        ui_->statusbar->showMessage(tr("Settings saved"), saveMessageMilliseconds);
    };
    connect(ui_->saveButton, &QPushButton::clicked, this, save);
    connect(new QShortcut(QKeySequence::Save, this), &QShortcut::activated, this, save);
    connect(new QShortcut(QKeySequence::Quit, this), &QShortcut::activated, this, &QWidget::close);
}

void MainWindow::controllerPropertyChanged(ControllerProperty property) {
    if (networkGroup_->showProperty(property)) {
        return;
    }
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
        case ControllerProperty::volumeAmplification: {
            const QSignalBlocker blocker(ui_->amplificationSpinBox);
            ui_->amplificationSpinBox->setValue(controller_.volumeAmplification());
            showMeterScale();
            break;
        }
        case ControllerProperty::active: {
            const QSignalBlocker blocker(ui_->activeCheckBox);
            ui_->activeCheckBox->setChecked(controller_.active());
            break;
        }
        case ControllerProperty::type: {
            const QSignalBlocker blocker(ui_->modeComboBox);
            ui_->modeComboBox->setCurrentIndex(controller_.type() == 0 ? 0 : 1);
            showModeDependentControls();
            showMeterScale();
            break;
        }
        case ControllerProperty::address:
            showAddress();
            break;
        case ControllerProperty::minValue: {
            const QSignalBlocker blocker(ui_->minValueSpinBox);
            ui_->minValueSpinBox->setValue(controller_.minValue());
            break;
        }
        case ControllerProperty::maxValue: {
            const QSignalBlocker blocker(ui_->maxValueSpinBox);
            ui_->maxValueSpinBox->setValue(controller_.maxValue());
            break;
        }
        case ControllerProperty::zandorexSendPort: {
            const QSignalBlocker blocker(ui_->sendPortSpinBox);
            ui_->sendPortSpinBox->setValue(controller_.zandorexSendPort());
            break;
        }
        case ControllerProperty::zandorexListenPort: {
            const QSignalBlocker blocker(ui_->listenPortSpinBox);
            ui_->listenPortSpinBox->setValue(controller_.zandorexListenPort());
            break;
        }
        case ControllerProperty::triggerOnThreshold:
            showValue(ui_->triggerOnThresholdSpinBox, controller_.triggerOnThreshold());
            showMeterScale();
            break;
        case ControllerProperty::triggerOffThreshold:
            showValue(ui_->triggerOffThresholdSpinBox, controller_.triggerOffThreshold());
            showMeterScale();
            break;
        case ControllerProperty::triggerOnDelay:
            showValue(ui_->triggerOnDelaySpinBox, controller_.triggerOnDelay());
            break;
        case ControllerProperty::triggerOffDelay:
            showValue(ui_->triggerOffDelaySpinBox, controller_.triggerOffDelay());
            break;
        case ControllerProperty::attackTime:
            showValue(ui_->attackTimeSpinBox, controller_.attackTime());
            break;
        case ControllerProperty::releaseTime:
            showValue(ui_->releaseTimeSpinBox, controller_.releaseTime());
            break;
        case ControllerProperty::bandLowCut:
            showValue(ui_->bandLowCutSpinBox, controller_.bandLowCut());
            break;
        case ControllerProperty::bandHighCut:
            showValue(ui_->bandHighCutSpinBox, controller_.bandHighCut());
            break;
        default:
            break;  // the network group's
    }
}

void MainWindow::showModeDependentControls() {
    const bool trigger = controller_.type() != 0;
    for (QWidget* control : {static_cast<QWidget*>(ui_->triggerOnThresholdSpinBox),
                             static_cast<QWidget*>(ui_->triggerOffThresholdSpinBox),
                             static_cast<QWidget*>(ui_->triggerOnDelaySpinBox),
                             static_cast<QWidget*>(ui_->triggerOffDelaySpinBox)}) {
        control->setEnabled(trigger);
    }
    // Smoothing shapes the continuous value only.
    ui_->attackTimeSpinBox->setEnabled(!trigger);
    ui_->releaseTimeSpinBox->setEnabled(!trigger);
}

void MainWindow::showMeterScale() {
    const TriggerSettings trigger = controller_.triggerSettings();
    ui_->levelMeter->setScale({controller_.volumeAmplification(), controller_.type() != 0,
                               trigger.onThreshold, trigger.offThreshold});
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
    // A device that is chosen but absent shows as such, not as "No input".
    if (const std::optional<std::string> awaited = controller_.awaitedDevice()) {
        ui_->deviceComboBox->addItem(tr("%1 (waiting)").arg(QString::fromStdString(*awaited)));
        ui_->deviceComboBox->setCurrentIndex(listed);
        return;
    }
    ui_->deviceComboBox->setCurrentIndex(
        found == devices.end() ? 0 : static_cast<int>(found - devices.begin()) + 1);
}

void MainWindow::showAddress() {
    const QString address = QString::fromStdString(controller_.address().value_or(std::string()));
    // Only when different, so that typing keeps its cursor.
    if (ui_->addressLineEdit->text() != address) {
        ui_->addressLineEdit->setText(address);
    }
    ui_->fullAddressLabel->setText("/zandorex/" + address);
}

void MainWindow::controllerStatusChanged(const ControllerStatus& status) {
    ui_->levelMeter->setInputLevel(status.inputLevel);
    const QString line = QString::fromStdString(statusLine(status));
    statusLabel_->setText(line);
    statusLabel_->setToolTip(line);
}
