#pragma once

#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "app/tempo/TempoStatus.h"

class QComboBox;
class QFrame;
class QPushButton;
class ReadOnlyText;

// The tempo at a glance: the tempo (held or tapped), a lamp that flashes on each beat, and the
// Tap button (also the key T anywhere in the window), in one row no taller than a button.
class TempoPanel : public QWidget {
    Q_OBJECT
  public:
    static constexpr int lampMilliseconds = 100;

    // `tap` runs on each tap of the button or the key.
    TempoPanel(std::function<void()> tap, QWidget* parent);

    // The tempo's status; nothing while tempo is off.
    void showTempo(const std::optional<TempoStatus>& tempo);
    bool lampLit() const { return lampLit_; }

  private:
    void light(bool lit);

    // Made first, so that Tab reaches it before the Tap button, in the order they are shown.
    QComboBox* mode_;
    ReadOnlyText* tempoLabel_;
    QFrame* lamp_;
    QPushButton* tapButton_;
    QTimer lampTimer_;
    bool lampLit_ = false;
    std::uint64_t beatsShown_ = 0;
};
