#pragma once

#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/audio/frequencies/FrequencyAnalyser.h"
#include "app/audio/frequencies/SpectrumFeed.h"
#include "app/settings/SettingsModel.h"

// The input's live spectrum, 20 Hz to 20 kHz on a log scale in dBFS, with each mapping's band as
// a coloured area. Dragging a band's edge sets that mapping's low or high cut through the
// settings model, which checks it as any other path does (`refused` shows what it refuses);
// dragging an edge out of the scale turns that cut off, and a double-click in a band clears both.
// The chosen mapping's band is drawn even when it has no cut, across the whole scale, so that its
// edges can be taken from the scale's ends.
//
// Only while shown does it hold the spectrum feed open, so that the analysis runs for it; it
// draws at `framesPerSecond` when a new spectrum came.
class FrequencyView : public QWidget {
    Q_OBJECT
  public:
    // The analyser makes more spectra a second than this: each frame finds a new one.
    static constexpr int framesPerSecond = 25;
    static constexpr double lowestHertz = 20.0;
    static constexpr double highestHertz = 20000.0;

    // `spectra` must outlive the view.
    FrequencyView(SettingsModel& settings, SpectrumFeed& spectra,
                  std::function<void(const QString& problem)> refused, QWidget* parent);
    ~FrequencyView() override;

    // The mapping the window edits: its band is drawn on top and always.
    void setChosenMapping(const std::string& mapping);
    // Follows a change of the model: a band, or the list of mappings.
    void settingChanged(std::string_view key);

    // Where a frequency lies across the plot, and back.
    double xForHertz(double hertz) const;
    double hertzForX(double x) const;
    // Whether the analyser runs (only while shown) and how many spectra were drawn.
    bool analysing() const { return hold_ != nullptr && spectra_.analysing(); }
    std::uint64_t spectraDrawn() const { return spectraDrawn_; }
    // The level the spectrum shows at `hertz` (dBFS), when one was drawn.
    std::optional<float> decibelsAt(double hertz) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    // A mapping's band as drawn: its name ("" for the first), row in the list, and edges in Hz
    // (the scale's end for a cut that is off).
    struct Band {
        std::string mapping;
        int row = 0;
        double low = lowestHertz;
        double high = highestHertz;
        bool lowOff = true;
        bool highOff = true;
    };
    struct Drag {
        std::string mapping;
        bool highEdge = false;
        double hertz = 0.0;
        // A click that did not move changes nothing.
        bool moved = false;
    };

    std::vector<Band> bands() const;
    QRectF plot() const;
    double yForDecibels(double decibels) const;
    // The band edge within reach of `x`, the chosen mapping's first.
    std::optional<Drag> edgeAt(double x) const;
    void startAnalysing();
    void stopAnalysing();
    void takeSpectrum();
    // The scale and the bands change seldom: drawn once into background_ until they do.
    void drawBackground();
    void redrawBands();
    void drawBands(QPainter& painter) const;

    SettingsModel& settings_;
    SpectrumFeed& spectra_;
    std::function<void(const QString&)> refused_;
    std::string chosen_;
    std::unique_ptr<SpectrumFeed::Hold> hold_;
    FrequencyAnalyser::Spectrum spectrum_;
    std::uint64_t spectraDrawn_ = 0;
    QTimer frameTimer_;
    QPixmap background_;
    mutable QRectF plot_;
    mutable QSize plotFor_;
    std::optional<Drag> drag_;
};
