#include "app/window/TempoPanel.h"

#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QPushButton>
#include <QShortcut>

#include "app/settings/SettingsKeys.h"
#include "app/window/widgets/ReadOnlyText.h"

TempoPanel::TempoPanel(std::function<void()> tap, QWidget* parent)
    : QWidget(parent),
      mode_(new QComboBox(this)),
      tempoLabel_(new ReadOnlyText(this)),
      lamp_(new QFrame(this)),
      tapButton_(new QPushButton(tr("Tap"), this)) {
    setObjectName("tempoPanel");
    tempoLabel_->setObjectName("tempoLabel");
    lamp_->setObjectName("beatLamp");
    tapButton_->setObjectName("tapButton");
    tapButton_->setToolTip(tr("Tap the beat (key T); four taps set the tempo when tempo is tap"));
    lamp_->setFixedSize(16, 16);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* caption = new ReadOnlyText(this);
    caption->setText(tr("Tempo:"));
    layout->addWidget(caption);
    // Bound to the setting like every other control, so that the mode is switched mid-show here
    // as by remote control.
    mode_->setObjectName("tempoComboBox");
    mode_->setProperty("setting", QString::fromLatin1(settings_keys::tempo));
    mode_->setAccessibleName(tr("Tempo"));
    mode_->setToolTip(tr("off, detect (follow the beat of the input) or tap (the tempo tapped)"));
    layout->addWidget(mode_);
    layout->addWidget(lamp_);
    layout->addWidget(tempoLabel_, 1);
    layout->addWidget(tapButton_);
    connect(tapButton_, &QPushButton::clicked, this, [tap] { tap(); });
    // T anywhere in the window (a text field that takes the letter keeps it); no mnemonic, since
    // Alt+T is the Send to Zandorex box's.
    auto* key = new QShortcut(QKeySequence(Qt::Key_T), parent != nullptr ? parent : this);
    connect(key, &QShortcut::activated, this, [tap] { tap(); });
    lampTimer_.setSingleShot(true);
    connect(&lampTimer_, &QTimer::timeout, this, [this] { light(false); });
    light(false);
    showTempo(std::nullopt);
}

void TempoPanel::showTempo(const std::optional<TempoStatus>& tempo) {
    if (!tempo) {
        tempoLabel_->clear();  // the mode beside it says off
    } else if (!tempo->bpm) {
        tempoLabel_->setText(tr("listening"));
    } else {
        const QString state = tempo->held     ? tr(" (held)")
                              : tempo->unsure ? tr(" (unsure)")
                              : tempo->tapped ? tr(" (tapped)")
                                              : "";
        tempoLabel_->setText(tr("%1 BPM%2").arg(*tempo->bpm, 0, 'f', 1).arg(state));
    }
    const std::uint64_t beats = tempo ? tempo->beatsSent : 0;
    if (beats != beatsShown_ && beats > 0) {
        light(true);
        lampTimer_.start(lampMilliseconds);
    }
    beatsShown_ = beats;
}

void TempoPanel::light(bool lit) {
    lampLit_ = lit;
    lamp_->setStyleSheet(lit ? "background: #3c3; border-radius: 8px;"
                             : "background: #444; border-radius: 8px;");
}
