#pragma once

#include <QPixmap>
#include <QWidget>
#include <optional>
#include <vector>

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
    // A mark's label above the bar, where it is drawn: beside or over its mark at `markX`.
    struct MarkLabel {
        QString text;
        double markX;
        QRectF rect;
    };
    // The labels drawn, none touching another nor leaving the widget. Close marks take the
    // sides that have room; a label that finds none is left out, and the tooltip names every
    // mark.
    std::vector<MarkLabel> markLabels() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    // Where a mark's label reads best, against its mark; or not drawn.
    enum Side { before, centred, after, leftOut, sideCount };
    struct Mark {
        float position;
        QString text;
        // For the tooltip, with %1 for its level in dBFS.
        QString meaning;
        Side side;
        // Which label stays when not all fit: the higher.
        int worthKeeping;
    };
    // The mapping's marks.
    std::vector<Mark> marks() const;
    // Where `mark` lies over `bar`; nothing when off the scale.
    std::optional<double> xForMark(const Mark& mark, const QRectF& bar) const;
    // The bar's place, and the lamp's (lamp_) beside it.
    QRectF bar() const;
    void updateBar();
    void drawFace();
    // Horizontal pixel of a level in dBFS within the bar.
    double xForDecibels(double decibels, const QRectF& bar) const;
    void updateToolTip();
    // Says where each mark lies, for the tooltip: a label may be left out for want of room.
    void describeMarks();

    float value_ = 0.0f;
    std::optional<float> level_;
    std::optional<float> peak_;
    bool clipping_ = false;
    Scale scale_;
    QString marksText_;
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
