#include "app/window/widgets/LevelMeter.h"

#include <QPainter>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <limits>
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
    // Opaque: the group around it, its title's text included, is not drawn again on each tick.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAccessibleName(tr("Level meter"));
}

void LevelMeter::setValue(float value) {
    value_ = value;
}

void LevelMeter::setInputLevel(std::optional<float> decibels) {
    level_ = decibels;
    updateToolTip();
    updateBar();
}

void LevelMeter::setPeak(std::optional<float> decibels, bool clipping) {
    peak_ = decibels;
    clipping_ = clipping;
    updateToolTip();
    updateBar();
}

void LevelMeter::setScale(const Scale& scale) {
    scale_ = scale;
    describeMarks();
    updateToolTip();
    face_ = QPixmap();
    update();
}

void LevelMeter::describeMarks() {
    QStringList parts;
    for (const Mark& mark : marks()) {
        if (const std::optional<double> decibels = decibelsForPosition(mark.position)) {
            parts << mark.meaning.arg(*decibels, 0, 'f', 1);
        }
    }
    marksText_ = parts.join("; ");
}

std::optional<double> LevelMeter::decibelsForPosition(float position) const {
    // position = 2 * 10^(dB / 20) * amplification, as the tick computes it.
    const double linear = position / (2.0 * scale_.amplification);
    if (!(linear > 0.0) || !std::isfinite(linear)) {
        return std::nullopt;
    }
    return 20.0 * std::log10(linear);
}

std::vector<LevelMeter::Mark> LevelMeter::marks() const {
    // The off mark lies left of the on mark, often close: off reads best ending at its mark and
    // on starting at its own. The thresholds say when a trigger fires, which matters more than
    // where the position tops out.
    std::vector<Mark> marks = {
        {1.0f, tr("max"), tr("max: the position's top at %1 dBFS"), centred, 1}};
    if (scale_.trigger) {
        marks.push_back(
            {scale_.onThreshold, tr("on"), tr("on: the gate opens at %1 dBFS"), after, 3});
        if (scale_.offThreshold < scale_.onThreshold) {
            marks.push_back(
                {scale_.offThreshold, tr("off"), tr("off: it closes at %1 dBFS"), before, 2});
        }
    }
    return marks;
}

std::optional<double> LevelMeter::xForMark(const Mark& mark, const QRectF& bar) const {
    const std::optional<double> decibels = decibelsForPosition(mark.position);
    if (!decibels || *decibels < lowestDecibels || *decibels > highestDecibels) {
        return std::nullopt;
    }
    return xForDecibels(*decibels, bar);
}

std::vector<LevelMeter::MarkLabel> LevelMeter::markLabels() const {
    const QRectF area = bar();
    const QFontMetricsF metrics(font());
    const double top = area.top() - 5 - metrics.ascent();
    const double gap = metrics.horizontalAdvance(' ');
    const auto place = [&](const QString& text, double x, Side side) {
        const double width = metrics.horizontalAdvance(text);
        const double left = side == before    ? x - width - 1
                            : side == centred ? x - width / 2
                                              : x + 1;
        return QRectF(left, top, width, metrics.height());
    };
    // At most three marks, so every choice of sides is tried: the one that leaves out the least
    // worth, then puts the fewest labels off their own side, is taken. Leaving all out fits.
    std::vector<std::pair<Mark, double>> shown;
    for (const Mark& mark : marks()) {
        if (const std::optional<double> x = xForMark(mark, area)) {
            shown.emplace_back(mark, *x);
        }
    }
    int choices = 1;
    for (size_t index = 0; index < shown.size(); ++index) {
        choices *= sideCount;
    }
    std::vector<MarkLabel> best;
    int bestCost = std::numeric_limits<int>::max();
    for (int choice = 0; choice < choices; ++choice) {
        std::vector<MarkLabel> labels;
        int cost = 0;
        bool fits = true;
        int rest = choice;
        for (const auto& [mark, x] : shown) {
            const auto side = static_cast<Side>(rest % sideCount);
            rest /= sideCount;
            if (side == leftOut) {
                cost += 10 * mark.worthKeeping;
                continue;
            }
            cost += side == mark.side ? 0 : 1;
            const QRectF rect = place(mark.text, x, side);
            fits = fits && rect.left() >= 0 && rect.right() <= width() &&
                   std::ranges::none_of(labels, [&](const MarkLabel& other) {
                       return other.rect.adjusted(-gap, 0, gap, 0).intersects(rect);
                   });
            labels.push_back({mark.text, x, rect});
        }
        if (fits && cost < bestCost) {
            best = std::move(labels);
            bestCost = cost;
        }
    }
    return best;
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
    // The marks on a line of their own: their labels may be left out for want of room.
    setToolTip(parts.isEmpty() ? marksText_ : parts.join(", ") + "\n" + marksText_);
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

QRectF LevelMeter::bar() const {
    // Measured text is dear, and each tick asks: worked out once per size.
    if (barFor_ != size()) {
        const QFontMetrics metrics = fontMetrics();
        const int sideMargin = metrics.horizontalAdvance("-60") / 2 + 2;
        const int lampWidth = metrics.horizontalAdvance(tr("CLIP")) + 8;
        bar_ = QRectF(sideMargin, metrics.height(), width() - 2 * sideMargin - lampWidth - 4,
                      barHeight);
        lamp_ = QRectF(bar_.right() + 4, bar_.top(), lampWidth, bar_.height());
        barFor_ = size();
    }
    return bar_;
}

void LevelMeter::updateBar() {
    const QRectF area = bar();
    const auto pixel = [&](std::optional<float> decibels) {
        return decibels && *decibels > lowestDecibels
                   ? static_cast<int>(
                         std::lround(xForDecibels(*decibels, area) * devicePixelRatioF()))
                   : -1;
    };
    const Shown shown{pixel(level_), pixel(peak_), clipping_};
    if (shown == shown_) {
        return;
    }
    shown_ = shown;
    // The bar and the lamp with their frames: all that a tick changes.
    update(area.united(lamp_).toAlignedRect().adjusted(-1, -1, 2, 2));
}

void LevelMeter::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    face_ = QPixmap();
}

void LevelMeter::drawFace() {
    face_ = QPixmap(size() * devicePixelRatioF());
    face_.setDevicePixelRatio(devicePixelRatioF());
    face_.fill(palette().color(QPalette::Window));
    QPainter painter(&face_);
    const QFontMetrics metrics = fontMetrics();
    const QRectF area = bar();

    // The lamp unlit.
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(lamp_);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(lamp_, Qt::AlignCenter, tr("CLIP"));

    // The mapping's marks above the bar, and the labels that have room.
    for (const Mark& mark : marks()) {
        if (const std::optional<double> x = xForMark(mark, area)) {
            painter.drawLine(QPointF(*x, area.top() - 4), QPointF(*x, area.top()));
        }
    }
    for (const MarkLabel& label : markLabels()) {
        painter.drawText(QPointF(label.rect.left(), label.rect.top() + metrics.ascent()),
                         label.text);
    }

    // The dBFS scale below the bar.
    for (const double decibels : scaleMarks) {
        const double x = xForDecibels(decibels, area);
        painter.drawLine(QPointF(x, area.bottom()), QPointF(x, area.bottom() + 4));
        const QString label =
            decibels > 0 ? QString("+%1").arg(decibels) : QString::number(decibels);
        const int labelWidth = metrics.horizontalAdvance(label);
        painter.drawText(QPointF(x - labelWidth / 2.0, area.bottom() + 4 + metrics.ascent()),
                         label);
    }

    // The legend: which figure the bar is and which the mark is.
    const double legendTop = area.bottom() + 6 + metrics.height();
    const QRectF swatch(area.left(), legendTop + 2, 10, metrics.ascent() - 2);
    painter.fillRect(swatch, QColor(0x3c, 0xb3, 0x4a));
    const QString barLabel = tr("average power");
    painter.drawText(QPointF(swatch.right() + 4, legendTop + metrics.ascent()), barLabel);
    const double markX = swatch.right() + 4 + metrics.horizontalAdvance(barLabel) + 12;
    painter.fillRect(QRectF(markX, legendTop + 1, 2, metrics.ascent()),
                     palette().color(QPalette::WindowText));
    painter.drawText(QPointF(markX + 6, legendTop + metrics.ascent()), tr("sample peak"));
}

void LevelMeter::paintEvent(QPaintEvent* /*event*/) {
    // The scale, the marks and the legend change seldom: drawn into face_ until they do; each
    // tick draws the bar and the lamp over it.
    if (face_.isNull()) {
        drawFace();
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.drawPixmap(0, 0, face_);
    const QRectF area = bar();

    painter.fillRect(area, palette().color(QPalette::Base).darker(115));
    if (level_) {
        const Zone zones[] = {{lowestDecibels, warningDecibels, QColor(0x3c, 0xb3, 0x4a)},
                              {warningDecibels, clipDecibels, QColor(0xf0, 0xb4, 0x29)},
                              {clipDecibels, highestDecibels, clipColour}};
        for (const Zone& zone : zones) {
            if (*level_ <= zone.from) {
                break;
            }
            const double left = xForDecibels(zone.from, area);
            const double right = xForDecibels(std::min<double>(*level_, zone.to), area);
            painter.fillRect(QRectF(left, area.top(), right - left, area.height()), zone.colour);
        }
    }
    if (peak_ && *peak_ > lowestDecibels) {
        const double x = xForDecibels(*peak_, area);
        painter.fillRect(QRectF(x - 1, area.top(), 2, area.height()),
                         palette().color(QPalette::WindowText));
    }
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(area);
    painter.setPen(QPen(clipColour, 1));
    const double clipX = xForDecibels(clipDecibels, area);
    painter.drawLine(QPointF(clipX, area.top()), QPointF(clipX, area.bottom()));

    // The clip lamp, right of the bar; it stays lit for the hold time.
    if (clipping_) {
        painter.fillRect(lamp_, clipColour);
        painter.setPen(palette().color(QPalette::Mid));
        painter.drawRect(lamp_);
        painter.setPen(palette().color(QPalette::BrightText));
        painter.drawText(lamp_, Qt::AlignCenter, tr("CLIP"));
    }
}
