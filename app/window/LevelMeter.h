#pragma once

#include <QWidget>
#include <chrono>
#include <optional>

#include "app/control/LevelIndicator.h"

// A horizontal level meter of the input in dBFS, before the amplification, with a peak that is
// held for a moment and a clip lamp that lights at 0 dBFS. Marks above the bar show where the
// mapping changes its value: the trigger's on and off thresholds, and where the position reaches
// its top; they move with the amplification.
class LevelMeter : public QWidget, public LevelIndicator {
    Q_OBJECT
  public:
    static constexpr std::chrono::milliseconds peakHold{1500};

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
    // The input level of the tick in dBFS; nothing without an input.
    void setInputLevel(std::optional<float> decibels);
    std::optional<float> inputLevel() const { return level_; }
    std::optional<float> peakLevel() const { return peak_; }
    bool clipped() const;
    void setScale(const Scale& scale);
    // The input level at which the position reaches `position`; nothing when it never does.
    std::optional<double> decibelsForPosition(float position) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    using Clock = std::chrono::steady_clock;

    // Horizontal pixel of a level in dBFS within the bar.
    double xForDecibels(double decibels, const QRectF& bar) const;
    void updateToolTip();

    float value_ = 0.0f;
    std::optional<float> level_;
    std::optional<float> peak_;
    Clock::time_point peakSince_{};
    Clock::time_point clipUntil_{};
    Scale scale_;
};
