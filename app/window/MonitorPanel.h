#pragma once

#include <QGroupBox>
#include <QTimer>
#include <cstdint>

#include "app/remote/OscMonitor.h"

class ReadOnlyText;

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// The window's view of the OSC monitor: the last datagrams in and out, one line each, with pause,
// clear and a text filter. It redraws a few times a second, only when something changed and only
// while shown, so that a flood, or a hidden tab, costs the window no more than a quiet network.
class MonitorPanel : public QGroupBox {
    Q_OBJECT
  public:
    static constexpr int refreshMilliseconds = 250;
    static constexpr int minimumLinesShown = 8;

    MonitorPanel(OscMonitor& monitor, QWidget* parent);

    // Redraws now, if shown and not paused; the timer calls it.
    void refresh();

  protected:
    // Catches up on what came while the panel was hidden.
    void showEvent(QShowEvent* event) override;

  private:
    OscMonitor& monitor_;
    QPushButton* pauseButton_;
    QPushButton* clearButton_;
    QLineEdit* filterLineEdit_;
    ReadOnlyText* leftOutText_;
    QPlainTextEdit* view_;
    QTimer refreshTimer_;
    uint64_t shownRevision_ = UINT64_MAX;
};
