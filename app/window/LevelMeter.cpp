#include "app/window/LevelMeter.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

#include "app/control/StatusText.h"

namespace {

constexpr double lowestDecibels = -60.0;
constexpr double highestDecibels = 6.0;
constexpr double warningDecibels = -6.0;
constexpr double scaleMarks[] = {-60, -48, -36, -24, -18, -12, -6, 0, 6};
constexpr int barHeight = 18;

struct Zone {
    double from;
    double to;
    QColor colour;
};

}  // namespace

LevelMeter::LevelMeter(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleName(tr("Level meter"));
}

void LevelMeter::setValue(float value) {
    if (value != value_) {
        value_ = value;
        setToolTip(value_ > 0.0f ? tr("%1 dBFS").arg(meterDecibels(value_), 0, 'f', 1) : QString());
        update();
    }
}

QSize LevelMeter::sizeHint() const {
    return {360, minimumSizeHint().height()};
}

QSize LevelMeter::minimumSizeHint() const {
    return {160, barHeight + 2 * fontMetrics().height() + 4};
}

double LevelMeter::xForDecibels(double decibels, const QRectF& bar) const {
    const double clamped = std::clamp(decibels, lowestDecibels, highestDecibels);
    return bar.left() +
           bar.width() * (clamped - lowestDecibels) / (highestDecibels - lowestDecibels);
}

void LevelMeter::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, false);
    const QFontMetrics metrics = fontMetrics();
    const int sideMargin = metrics.horizontalAdvance("-60") / 2 + 2;
    const QRectF bar(sideMargin, metrics.height(), width() - 2 * sideMargin, barHeight);

    painter.fillRect(bar, palette().color(QPalette::Base).darker(115));

    if (value_ > 0.0f) {
        const double level = meterDecibels(value_);
        const Zone zones[] = {{lowestDecibels, warningDecibels, QColor(0x3c, 0xb3, 0x4a)},
                              {warningDecibels, 0.0, QColor(0xf0, 0xb4, 0x29)},
                              {0.0, highestDecibels, QColor(0xe0, 0x3c, 0x31)}};
        for (const Zone& zone : zones) {
            if (level <= zone.from) {
                break;
            }
            const double left = xForDecibels(zone.from, bar);
            const double right = xForDecibels(std::min(level, zone.to), bar);
            painter.fillRect(QRectF(left, bar.top(), right - left, bar.height()), zone.colour);
        }
    }
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(bar);

    // The position's threshold (meter 5) and its top (meter 10), above the bar.
    painter.setPen(palette().color(QPalette::WindowText));
    for (const auto& [meter, label] : {std::pair{5.0f, tr("0.5")}, std::pair{10.0f, tr("max")}}) {
        const double x = xForDecibels(meterDecibels(meter), bar);
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
}
