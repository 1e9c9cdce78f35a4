#include "app/window/widgets/LevelHistory.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "app/settings/SettingsKeys.h"

namespace {

namespace keys = settings_keys;

constexpr double lineReach = 6.0;
const QColor onColour(0xf0, 0xb4, 0x1e);
const QColor curveColour(0x3a, 0xa8, 0x4c);

// Thresholds as the spin boxes show them: two decimals. A threshold of 0 stands for its default
// (0.5, or the on threshold) in every path, so a line dragged to the floor stops one step above
// it rather than jumping back to the middle.
constexpr double lowestDragged = 0.01;
double roundedThreshold(double position) {
    return std::clamp(std::round(position * 100.0) / 100.0, lowestDragged, 1.0);
}

}  // namespace

LevelHistory::LevelHistory(SettingsModel& settings,
                           std::function<void(const QString& problem)> refused, QWidget* parent)
    : QWidget(parent), settings_(settings), refused_(std::move(refused)) {
    setObjectName("levelHistory");
    setAccessibleName(tr("Level history"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setMouseTracking(true);
    // Every pixel is drawn here: what lies beneath need not be drawn first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setToolTip(tr("The chosen mapping's position over the last %1 s, with its gate's turns. Drag "
                  "the on or off line to set that threshold; the trigger fields take the same "
                  "values from the keyboard")
                   .arg(span.count()));
}

void LevelHistory::setMapping(const std::string& mapping) {
    if (mapping != mapping_) {
        mapping_ = mapping;
        ticks_.clear();
    }
    redrawScale();
}

void LevelHistory::settingChanged(std::string_view key) {
    const std::optional<ScopedKey> scoped = parseScopedKey(key);
    if (key == keys::mappings || (scoped && (scoped->setting->key == keys::triggerOnThreshold ||
                                             scoped->setting->key == keys::triggerOffThreshold ||
                                             scoped->setting->key == keys::type))) {
        redrawScale();
    }
}

void LevelHistory::addTick(std::optional<float> position, bool on, Clock::time_point when) {
    ticks_.push_back({when, position, on});
    while (!ticks_.empty() && ticks_.front().when < when - span) {
        ticks_.pop_front();
    }
    // Ten times a second: ten seconds across a few hundred pixels move two pixels a redraw, and
    // the curve's redraw was among the window's dearest.
    if (when - redrawn_ >= std::chrono::milliseconds(100)) {
        redrawn_ = when;
        update();
    }
}

int LevelHistory::turnsShown() const {
    int turns = 0;
    for (std::size_t index = 1; index < ticks_.size(); ++index) {
        turns += ticks_[index].on != ticks_[index - 1].on ? 1 : 0;
    }
    return turns;
}

QSize LevelHistory::sizeHint() const {
    return {400, 160};
}

QSize LevelHistory::minimumSizeHint() const {
    return {200, 90};
}

LevelHistory::Thresholds LevelHistory::thresholds() const {
    Thresholds result;
    const int64_t mode = settings_.whole(scopedKey(mapping_, keys::type));
    result.gated = mode != continuousMode;
    result.silence = mode == silenceMode;
    result.on = settings_.decimal(scopedKey(mapping_, keys::triggerOnThreshold));
    // An absent off threshold is the on threshold.
    const double off = settings_.decimal(scopedKey(mapping_, keys::triggerOffThreshold));
    result.off = off > 0.0 ? off : result.on;
    return result;
}

QRectF LevelHistory::plot() const {
    // Measured text is dear, and every point drawn asks: worked out once per size.
    if (plotFor_ != size()) {
        const double labelWidth = fontMetrics().horizontalAdvance(QStringLiteral("0.00")) + 6;
        const double labelHeight = fontMetrics().height() + 2;
        plot_ = QRectF(labelWidth, 4, width() - labelWidth - 4, height() - labelHeight - 8);
        plotFor_ = size();
    }
    return plot_;
}

double LevelHistory::yForPosition(double position) const {
    const QRectF area = plot();
    return area.bottom() - area.height() * std::clamp(position, 0.0, 1.0);
}

double LevelHistory::positionForY(double y) const {
    const QRectF area = plot();
    return (area.bottom() - y) / area.height();
}

double LevelHistory::xForTime(Clock::time_point when, Clock::time_point now) const {
    const QRectF area = plot();
    const double age = std::chrono::duration<double>(now - when).count();
    return area.right() - area.width() * age / std::chrono::duration<double>(span).count();
}

std::optional<LevelHistory::Drag> LevelHistory::lineAt(double y) const {
    const Thresholds lines = thresholds();
    if (!lines.gated) {
        return std::nullopt;
    }
    const double onDistance = std::abs(yForPosition(lines.on) - y);
    const double offDistance = std::abs(yForPosition(lines.off) - y);
    if (std::min(onDistance, offDistance) > lineReach) {
        return std::nullopt;
    }
    bool offLine = offDistance < onDistance;
    if (lines.on == lines.off) {
        // The off line may go below the on line for a trigger, above it for silence.
        const bool below = y > yForPosition(lines.on);
        offLine = lines.silence ? !below : below;
    }
    return Drag{offLine, offLine ? lines.off : lines.on, false};
}

void LevelHistory::redrawScale() {
    scale_ = QPixmap();
    update();
}

void LevelHistory::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    scale_ = QPixmap();
}

void LevelHistory::drawScale() {
    scale_ = QPixmap(size() * devicePixelRatioF());
    scale_.setDevicePixelRatio(devicePixelRatioF());
    scale_.fill(palette().color(QPalette::Base));
    QPainter painter(&scale_);
    const QRectF area = plot();
    const QColor grid = palette().color(QPalette::Mid);
    const QColor text = palette().color(QPalette::Text);
    for (const double position : {0.0, 0.25, 0.5, 0.75, 1.0}) {
        const double y = yForPosition(position);
        painter.setPen(grid);
        painter.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
        painter.setPen(text);
        painter.drawText(QRectF(0, y - 8, area.left() - 4, 16), Qt::AlignRight | Qt::AlignVCenter,
                         QString::number(position, 'f', 2));
    }
    painter.drawText(QRectF(area.left(), area.bottom() + 2, 80, fontMetrics().height()),
                     Qt::AlignLeft | Qt::AlignTop, tr("-%1 s").arg(span.count()));
    painter.drawText(QRectF(area.right() - 80, area.bottom() + 2, 80, fontMetrics().height()),
                     Qt::AlignRight | Qt::AlignTop, tr("now"));

    labels_ = QRegion();
    const Thresholds lines = thresholds();
    if (!lines.gated) {
        return;
    }
    painter.setClipRect(area);
    const auto drawLine = [&](double position, bool offLine) {
        if (drag_ && drag_->offLine == offLine) {
            position = drag_->position;
        }
        const double y = yForPosition(position);
        painter.setPen(QPen(onColour, 2.0, offLine ? Qt::DashLine : Qt::SolidLine));
        painter.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
        const QString label = (offLine ? tr("off %1") : tr("on %1")).arg(position, 0, 'f', 2);
        // Labels apart when the lines lie together: on at the left, off at the right.
        const QRectF place(area.left() + 4, y - fontMetrics().height() - 1, area.width() - 8,
                           fontMetrics().height());
        const int alignment = (offLine ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignBottom;
        const QRectF written = painter.boundingRect(place, alignment, label);
        painter.fillRect(written, palette().color(QPalette::Base));
        painter.setPen(text);
        painter.drawText(place, alignment, label);
        labels_ += written.toAlignedRect();
    };
    drawLine(lines.on, false);
    drawLine(lines.off, true);
}

void LevelHistory::paintEvent(QPaintEvent* /*event*/) {
    if (scale_.isNull()) {
        drawScale();
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, scale_);
    const QRectF area = plot();
    painter.setClipRegion(QRegion(area.toAlignedRect()) - labels_);
    const Clock::time_point now = ticks_.empty() ? Clock::now() : ticks_.back().when;
    // The turns: a line where the gate went on, a dashed one where it went off.
    const QColor grid = palette().color(QPalette::Mid);
    for (std::size_t index = 1; index < ticks_.size(); ++index) {
        if (ticks_[index].on != ticks_[index - 1].on) {
            const double x = xForTime(ticks_[index].when, now);
            painter.setPen(QPen(ticks_[index].on ? onColour : grid, 1.0,
                                ticks_[index].on ? Qt::SolidLine : Qt::DashLine));
            painter.drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
        }
    }
    // The position; a gap where there was no input.
    QPolygonF run;
    // A thin pen takes the fast way through the raster engine; a wide one is stroked.
    painter.setPen(QPen(curveColour, 1.0));
    for (const Tick& tick : ticks_) {
        if (!tick.position) {
            painter.drawPolyline(run);
            run.clear();
            continue;
        }
        run << QPointF(xForTime(tick.when, now), yForPosition(*tick.position));
    }
    painter.drawPolyline(run);
}

void LevelHistory::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        drag_ = lineAt(event->position().y());
    }
    QWidget::mousePressEvent(event);
}

void LevelHistory::mouseMoveEvent(QMouseEvent* event) {
    const double y = event->position().y();
    if (drag_) {
        drag_->position = roundedThreshold(positionForY(y));
        drag_->moved = true;
        redrawScale();
    } else {
        setCursor(lineAt(y) ? Qt::SizeVerCursor : Qt::ArrowCursor);
    }
}

void LevelHistory::mouseReleaseEvent(QMouseEvent* event) {
    if (!drag_ || event->button() != Qt::LeftButton) {
        return;
    }
    const Drag drag = *drag_;
    drag_.reset();
    redrawScale();
    if (!drag.moved) {
        return;
    }
    const std::string key =
        scopedKey(mapping_, drag.offLine ? keys::triggerOffThreshold : keys::triggerOnThreshold);
    if (const std::optional<std::string> problem =
            settings_.changeFromText(key, QString::number(drag.position).toStdString())) {
        refused_(QString::fromStdString(*problem));
    }
}
