#include "app/window/PresetBar.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>

PresetBar::PresetBar(Hooks hooks, QWidget* parent)
    : QWidget(parent),
      hooks_(std::move(hooks)),
      chooser_(new QComboBox(this)),
      changedMark_(new QLabel(tr("changed"), this)),
      saveButton_(new QPushButton(tr("Save as preset…"), this)) {
    chooser_->setObjectName("presetComboBox");
    changedMark_->setObjectName("presetChangedLabel");
    saveButton_->setObjectName("savePresetButton");
    chooser_->setToolTip(tr("Switches every mapping and the tempo to a preset at once"));
    changedMark_->setToolTip(tr("The set-up was changed since the preset was taken or saved"));
    chooser_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    auto* caption = new QLabel(tr("Preset:"), this);
    caption->setBuddy(chooser_);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(caption);
    layout->addWidget(chooser_, 1);
    layout->addWidget(changedMark_);
    layout->addWidget(saveButton_);
    changedMark_->hide();
    fill();
    connect(chooser_, &QComboBox::activated, this, &PresetBar::choose);
    connect(saveButton_, &QPushButton::clicked, this, &PresetBar::saveAs);
}

void PresetBar::fill() {
    const QSignalBlocker quiet(chooser_);
    chooser_->clear();
    bool listed = false;
    for (const std::string& name : hooks_.names()) {
        chooser_->addItem(QString::fromStdString(name));
        listed = listed || name == loaded_;
    }
    // A preset gone from the folder is still the one the set-up came from.
    if (!loaded_.empty() && !listed) {
        chooser_->insertItem(0, QString::fromStdString(loaded_));
    }
    if (loaded_.empty()) {
        chooser_->insertItem(0, QString());
    }
    chooser_->setCurrentText(QString::fromStdString(loaded_));
}

void PresetBar::showStatus(const ControllerStatus& status) {
    changedMark_->setVisible(status.presetChanged);
    if (status.preset != loaded_) {
        loaded_ = status.preset;
        fill();
    }
}

void PresetBar::choose(int index) {
    const std::string name = chooser_->itemText(index).toStdString();
    if (name.empty() || name == loaded_) {
        return;
    }
    if (const std::optional<std::string> problem = hooks_.switchTo(name)) {
        hooks_.refused(QString::fromStdString(*problem));
    }
    // Presets added or removed on disk meanwhile show too.
    fill();
}

void PresetBar::saveAs() {
    QInputDialog dialog(this);
    dialog.setObjectName("presetNameDialog");
    dialog.setWindowTitle(tr("Save as preset"));
    dialog.setLabelText(tr("Every mapping and the tempo, under the name:"));
    dialog.setTextValue(QString::fromStdString(loaded_));
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    if (const std::optional<std::string> problem = hooks_.save(dialog.textValue().toStdString())) {
        hooks_.refused(QString::fromStdString(*problem));
    }
    fill();
}
