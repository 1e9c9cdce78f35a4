#include "app/window/LevelMeter.h"

#include <QPainter>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr double lowestDecibels = -60.0;
constexpr double highestDecibels = 6.0;
constexpr double warningDecibels = -6.0;
constexpr double clipDecibels = 0.0;
constexpr double scaleMarks[] = {-60, -48, -36, -24, -18, -12, -6, 0, 6};
constexpr int barHeight = 18;
const QColor clipColour(0xe0, 0x3c, 0x31);

struct Zone {
    double from;
    double to;
    QColor colour;
};

}  // namespace

LevelMeter::LevelMeter(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAccessibleName(tr("Level meter"));
}

void LevelMeter::setValue(float value) {
    value_ = value;
}

void LevelMeter::setInputLevel(std::optional<float> decibels) {
    level_ = decibels;
    updateToolTip();
    update();
}

void LevelMeter::setPeak(std::optional<float> decibels, bool clipping) {
    peak_ = decibels;
    clipping_ = clipping;
    updateToolTip();
    update();
}

void LevelMeter::setScale(const Scale& scale) {
    scale_ = scale;
    update();
}

std::optional<double> LevelMeter::decibelsForPosition(float position) const {
    // position = 2 * 10^(dB / 20) * amplification, as the tick computes it.
    const double linear = position / (2.0 * scale_.amplification);
    if (!(linear > 0.0) || !std::isfinite(linear)) {
        return std::nullopt;
    }
    return 20.0 * std::log10(linear);
}

void LevelMeter::updateToolTip() {
    QStringList parts;
    if (level_) {
        parts << tr("Average power %1 dBFS").arg(*level_, 0, 'f', 1);
    }
    if (peak_) {
        parts << tr("sample peak %1 dBFS").arg(*peak_, 0, 'f', 1);
    }
    if (clipping_) {
        parts << tr("clipping");
    }
    setToolTip(parts.join(", "));
}

QSize LevelMeter::sizeHint() const {
    return {360, minimumSizeHint().height()};
}

QSize LevelMeter::minimumSizeHint() const {
    return {160, barHeight + 3 * fontMetrics().height() + 6};
}

double LevelMeter::xForDecibels(double decibels, const QRectF& bar) const {
    const double clamped = std::clamp(decibels, lowestDecibels, highestDecibels);
    return bar.left() +
           bar.width() * (clamped - lowestDecibels) / (highestDecibels - lowestDecibels);
}

void LevelMeter::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, false);
    // Opaque: the group around it, its title's text included, is not drawn again on each tick.
    painter.fillRect(rect(), palette().color(QPalette::Window));
    const QFontMetrics metrics = fontMetrics();
    const int sideMargin = metrics.horizontalAdvance("-60") / 2 + 2;
    const QString clipLabel = tr("CLIP");
    const int lampWidth = metrics.horizontalAdvance(clipLabel) + 8;
    const QRectF bar(sideMargin, metrics.height(), width() - 2 * sideMargin - lampWidth - 4,
                     barHeight);

    painter.fillRect(bar, palette().color(QPalette::Base).darker(115));
    if (level_) {
        const Zone zones[] = {{lowestDecibels, warningDecibels, QColor(0x3c, 0xb3, 0x4a)},
                              {warningDecibels, clipDecibels, QColor(0xf0, 0xb4, 0x29)},
                              {clipDecibels, highestDecibels, clipColour}};
        for (const Zone& zone : zones) {
            if (*level_ <= zone.from) {
                break;
            }
            const double left = xForDecibels(zone.from, bar);
            const double right = xForDecibels(std::min<double>(*level_, zone.to), bar);
            painter.fillRect(QRectF(left, bar.top(), right - left, bar.height()), zone.colour);
        }
    }
    if (peak_ && *peak_ > lowestDecibels) {
        const double x = xForDecibels(*peak_, bar);
        painter.fillRect(QRectF(x - 1, bar.top(), 2, bar.height()),
                         palette().color(QPalette::WindowText));
    }
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(bar);
    painter.setPen(QPen(clipColour, 1));
    const double clipX = xForDecibels(clipDecibels, bar);
    painter.drawLine(QPointF(clipX, bar.top()), QPointF(clipX, bar.bottom()));

    // The clip lamp, right of the bar; it stays lit for the hold time.
    const QRectF lamp(bar.right() + 4, bar.top(), lampWidth, bar.height());
    if (clipping_) {
        painter.fillRect(lamp, clipColour);
    }
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(lamp);
    painter.setPen(palette().color(clipping_ ? QPalette::BrightText : QPalette::WindowText));
    painter.drawText(lamp, Qt::AlignCenter, clipLabel);

    // The mapping's marks above the bar.
    std::vector<std::pair<float, QString>> marks = {{1.0f, tr("max")}};
    if (scale_.trigger) {
        marks.emplace_back(scale_.onThreshold, tr("on"));
        if (scale_.offThreshold < scale_.onThreshold) {
            marks.emplace_back(scale_.offThreshold, tr("off"));
        }
    }
    painter.setPen(palette().color(QPalette::WindowText));
    for (const auto& [position, label] : marks) {
        const std::optional<double> decibels = decibelsForPosition(position);
        if (!decibels || *decibels < lowestDecibels || *decibels > highestDecibels) {
            continue;
        }
        const double x = xForDecibels(*decibels, bar);
        painter.drawLine(QPointF(x, bar.top() - 4), QPointF(x, bar.top()));
        const int labelWidth = metrics.horizontalAdvance(label);
        painter.drawText(QPointF(x - labelWidth / 2.0, bar.top() - 5), label);
    }

    // The dBFS scale below the bar.
    for (const double decibels : scaleMarks) {
        const double x = xForDecibels(decibels, bar);
        painter.drawLine(QPointF(x, bar.bottom()), QPointF(x, bar.bottom() + 4));
        const QString label =
            decibels > 0 ? QString("+%1").arg(decibels) : QString::number(decibels);
        const int labelWidth = metrics.horizontalAdvance(label);
        painter.drawText(QPointF(x - labelWidth / 2.0, bar.bottom() + 4 + metrics.ascent()), label);
    }

    // The legend: which figure the bar is and which the mark is.
    const double legendTop = bar.bottom() + 6 + metrics.height();
    const QRectF swatch(bar.left(), legendTop + 2, 10, metrics.ascent() - 2);
    painter.fillRect(swatch, QColor(0x3c, 0xb3, 0x4a));
    const QString barLabel = tr("average power");
    painter.drawText(QPointF(swatch.right() + 4, legendTop + metrics.ascent()), barLabel);
    const double markX = swatch.right() + 4 + metrics.horizontalAdvance(barLabel) + 12;
    painter.fillRect(QRectF(markX, legendTop + 1, 2, metrics.ascent()),
                     palette().color(QPalette::WindowText));
    painter.drawText(QPointF(markX + 6, legendTop + metrics.ascent()), tr("sample peak"));
}
