#pragma once

#include <QString>
#include <QWidget>

// A line of text that takes the width it is given and, when the text is longer, shows its start
// with an ellipsis at the end; the whole text is then its tooltip. For status and hints, whose
// first words matter most.
class ElidedText : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString text READ text WRITE setText)
  public:
    explicit ElidedText(QWidget* parent = nullptr);

    QString text() const { return text_; }
    void setText(const QString& text);
    // Whether the text is cut at the width it has now.
    bool elided() const { return elided_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    // Works out what fits, once per text and width: it is shown on every tick.
    void elide();

    QString text_;
    QString shown_;
    bool elided_ = false;
};
