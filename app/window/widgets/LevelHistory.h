#pragma once

#include <QPixmap>
#include <QRegion>
#include <QWidget>
#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/settings/SettingsModel.h"

// One mapping's position (0 to 1) over the last seconds, tick by tick, with the moments its gate
// turned on or off marked, and its on and off thresholds as lines. Dragging a line sets
// `triggerOnThreshold` or `triggerOffThreshold` through the settings model, which checks it as
// any other path does (`refused` shows what it refuses). In continuous mode there is no gate and
// no line.
class LevelHistory : public QWidget {
    Q_OBJECT
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds span{10};

    LevelHistory(SettingsModel& settings, std::function<void(const QString& problem)> refused,
                 QWidget* parent);

    // Shows the mapping named `mapping` (empty: the first) from now on, its past forgotten.
    void setMapping(const std::string& mapping);
    // Follows a change of the model: the thresholds and the mode.
    void settingChanged(std::string_view key);
    // The tick's position of the mapping (nothing without input) and whether its gate is on.
    void addTick(std::optional<float> position, bool on, Clock::time_point when = Clock::now());

    // Where a position lies up the plot, and back.
    double yForPosition(double position) const;
    double positionForY(double y) const;
    // The gate's turns within the span, for whoever checks what is marked.
    int turnsShown() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    struct Tick {
        Clock::time_point when;
        std::optional<float> position;
        bool on = false;
    };
    struct Thresholds {
        bool gated = false;
        bool silence = false;
        double on = 0.5;
        double off = 0.5;
    };
    struct Drag {
        bool offLine = false;
        double position = 0.0;
        bool moved = false;
    };

    Thresholds thresholds() const;
    // The scale and the threshold lines change seldom: drawn once into scale_ until they do.
    void drawScale();
    void redrawScale();
    QRectF plot() const;
    double xForTime(Clock::time_point when, Clock::time_point now) const;
    // The line within reach of `y`; where both lie together, the one that may move that way.
    std::optional<Drag> lineAt(double y) const;

    SettingsModel& settings_;
    std::function<void(const QString&)> refused_;
    std::string mapping_;
    std::deque<Tick> ticks_;
    // When the curve was last asked to be drawn again.
    Clock::time_point redrawn_{};
    std::optional<Drag> drag_;
    QPixmap scale_;
    // Where drawScale() wrote the threshold labels: the curve and the turns leave them readable.
    QRegion labels_;
    mutable QRectF plot_;
    mutable QSize plotFor_;
};
