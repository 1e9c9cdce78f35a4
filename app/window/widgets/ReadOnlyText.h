#pragma once

#include <QLineEdit>

// A line of text the window shows but the user does not edit: a frameless, read-only line edit
// drawn on the window's background and sized to its text. Out of the tab chain by default.
class ReadOnlyText : public QLineEdit {
    Q_OBJECT
  public:
    explicit ReadOnlyText(QWidget* parent = nullptr);

    // Width that shows `text` whole; lets a caller reserve room for the widest text it will show.
    int widthForText(const QString& text) const;

    QSize sizeHint() const override;
};
