#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>

class ElidedText;
class QStackedLayout;

// The status bar's line: the program's status, or for a while a message in its place, such as
// why a change was refused. Both are cut at their end with an ellipsis when longer than the
// window, and whole in their tooltip, where a status bar's own message would be clipped mid-word.
class StatusLine : public QWidget {
    Q_OBJECT
  public:
    explicit StatusLine(QWidget* parent = nullptr);

    void setStatus(const QString& status);
    // Shows `message` in place of the status for `milliseconds`, or until the next message when 0.
    void showMessage(const QString& message, int milliseconds);
    // The status again.
    void clearMessage();
    // The message shown; empty while the status is.
    QString message() const;

  private:
    ElidedText* status_;
    ElidedText* message_;
    QStackedLayout* shown_;
    QTimer messageTime_;
};
