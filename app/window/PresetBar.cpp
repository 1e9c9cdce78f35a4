#include "app/window/PresetBar.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QPushButton>
#include <QSignalBlocker>

#include "app/window/widgets/ElidedText.h"

PresetBar::PresetBar(Hooks hooks, QWidget* parent)
    : QWidget(parent),
      hooks_(std::move(hooks)),
      chooser_(new QComboBox(this)),
      changedMark_(new ElidedText(this)),
      saveButton_(new QPushButton(tr("Save as preset…"), this)) {
    chooser_->setObjectName("presetComboBox");
    changedMark_->setObjectName("presetChangedMark");
    saveButton_->setObjectName("savePresetButton");
    chooser_->setToolTip(tr("Switches every mapping and the tempo to a preset at once"));
    changedMark_->setToolTip(tr("The set-up was changed since the preset was taken or saved"));
    chooser_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    changedMark_->setText(tr("changed"));
    auto* row = new QWidget(this);
    auto* controls = new QHBoxLayout(row);
    controls->setContentsMargins(0, 0, 0, 0);
    controls->addWidget(chooser_, 1);
    controls->addWidget(changedMark_);
    controls->addWidget(saveButton_);
    auto* layout = new QFormLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addRow(tr("Preset:"), row);
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
    if (status.preset != loaded_ || status.presetListChanges != listChanges_) {
        loaded_ = status.preset;
        listChanges_ = status.presetListChanges;
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
