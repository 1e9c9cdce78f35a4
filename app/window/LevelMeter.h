#pragma once

#include <QWidget>

#include "app/control/LevelIndicator.h"

// A horizontal level meter for the tick's meter value, drawn on a decibel scale where 20 is
// 0 dBFS. Marks show where the position reaches its threshold (meter 5) and its top (meter 10).
class LevelMeter : public QWidget, public LevelIndicator {
    Q_OBJECT
  public:
    explicit LevelMeter(QWidget* parent = nullptr);

    void setValue(float value) override;
    float value() const { return value_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    // Horizontal pixel of a level in dBFS within the bar.
    double xForDecibels(double decibels, const QRectF& bar) const;

    float value_ = 0.0f;
};
