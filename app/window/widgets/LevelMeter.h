#pragma once

#include <QPixmap>
#include <QWidget>
#include <optional>

#include "app/control/LevelIndicator.h"

// A horizontal level meter of the input in dBFS, before the amplification: a bar for the tick's
// average power, a mark for the held sample peak and a clip lamp, both as the caller's peak hold
// has them (PeakHold). Marks above the bar show where the mapping changes its value: the
// trigger's on and off thresholds, and where the position reaches its top; they move with the
// amplification. A legend below the scale says which figure is which.
class LevelMeter : public QWidget, public LevelIndicator {
    Q_OBJECT
  public:
    // Where the mapping's marks go.
    struct Scale {
        float amplification = 1.0f;
        bool trigger = false;
        float onThreshold = 0.5f;
        float offThreshold = 0.5f;
    };

    explicit LevelMeter(QWidget* parent = nullptr);

    // The tick's meter value (amplification included), as the controller hands it on.
    void setValue(float value) override;
    float value() const { return value_; }
    // The input's average power of the tick in dBFS; nothing without an input.
    void setInputLevel(std::optional<float> decibels);
    std::optional<float> inputLevel() const { return level_; }
    // The held sample peak in dBFS (nothing: no mark) and whether the clip lamp is lit.
    void setPeak(std::optional<float> decibels, bool clipping);
    std::optional<float> peakLevel() const { return peak_; }
    bool clipped() const { return clipping_; }
    void setScale(const Scale& scale);
    // The input level at which the position reaches `position`; nothing when it never does.
    std::optional<double> decibelsForPosition(float position) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    // The bar's place, and the lamp's (lamp_) beside it.
    QRectF bar() const;
    void updateBar();
    void drawFace();
    // Horizontal pixel of a level in dBFS within the bar.
    double xForDecibels(double decibels, const QRectF& bar) const;
    void updateToolTip();

    float value_ = 0.0f;
    std::optional<float> level_;
    std::optional<float> peak_;
    bool clipping_ = false;
    Scale scale_;
    QPixmap face_;
    // What the bar showed when last asked to draw, to the device pixel: a tick that changes none
    // of it draws nothing.
    struct Shown {
        int level = -1;
        int peak = -1;
        bool clipping = false;
        friend bool operator==(const Shown&, const Shown&) = default;
    };
    Shown shown_;
    mutable QRectF bar_;
    mutable QRectF lamp_;
    mutable QSize barFor_;
};
