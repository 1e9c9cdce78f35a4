#include "app/window/widgets/FrequencyView.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "app/settings/SettingsKeys.h"
#include "app/window/widgets/MappingColours.h"

namespace {

namespace keys = settings_keys;

constexpr double topDecibels = 0.0;
constexpr double bottomDecibels = -100.0;
constexpr double decibelStep = 20.0;
constexpr double gridHertz[] = {50, 100, 200, 500, 1000, 2000, 5000, 10000};
// An edge is taken within this many pixels of the pointer.
constexpr double edgeReach = 6.0;
constexpr int columnWidth = 2;

QString hertzText(double hertz) {
    return hertz >= 1000.0 ? QStringLiteral("%1k").arg(hertz / 1000.0) : QString::number(hertz);
}

// A cut as the model takes it: whole hertz, with three significant figures above 1 kHz, as a
// technician would type it.
double roundedCut(double hertz) {
    const double step = hertz >= 1000.0 ? 10.0 : 1.0;
    return std::round(hertz / step) * step;
}

}  // namespace

FrequencyView::FrequencyView(SettingsModel& settings, SpectrumFeed& spectra,
                             std::function<void(const QString& problem)> refused, QWidget* parent)
    : QWidget(parent), settings_(settings), spectra_(spectra), refused_(std::move(refused)) {
    setObjectName("spectrumView");
    setAccessibleName(tr("Spectrum"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setMouseTracking(true);
    // Every pixel is drawn here: what lies beneath need not be drawn first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setToolTip(
        tr("The input's spectrum with each mapping's band. Drag a band's edge to set its "
           "cut, out of the scale to turn it off; double-click a band to clear it. The "
           "band lo/high cut fields below take the same values from the keyboard"));
    frameTimer_.setTimerType(Qt::PreciseTimer);
    frameTimer_.setInterval(1000 / framesPerSecond);
    connect(&frameTimer_, &QTimer::timeout, this, &FrequencyView::takeSpectrum);
}

FrequencyView::~FrequencyView() {
    stopAnalysing();
}

void FrequencyView::setChosenMapping(const std::string& mapping) {
    chosen_ = mapping;
    redrawBands();
}

void FrequencyView::redrawBands() {
    background_ = QPixmap();
    update();
}

void FrequencyView::settingChanged(std::string_view key) {
    const std::optional<ScopedKey> scoped = parseScopedKey(key);
    if (key == keys::mappings || (scoped && (scoped->setting->key == keys::bandLowCut ||
                                             scoped->setting->key == keys::bandHighCut))) {
        redrawBands();
    }
}

QSize FrequencyView::sizeHint() const {
    return {640, 200};
}

QSize FrequencyView::minimumSizeHint() const {
    return {320, 120};
}

QRectF FrequencyView::plot() const {
    // Measured text is dear, and every point drawn asks: worked out once per size.
    if (plotFor_ != size()) {
        const double labelWidth = fontMetrics().horizontalAdvance(QStringLiteral("-100")) + 6;
        const double labelHeight = fontMetrics().height() + 2;
        // Half a line above, so that the top label shows whole.
        const double top = fontMetrics().height() / 2.0 + 1;
        plot_ = QRectF(labelWidth, top, width() - labelWidth - 4, height() - labelHeight - top - 2);
        plotFor_ = size();
    }
    return plot_;
}

double FrequencyView::xForHertz(double hertz) const {
    const QRectF area = plot();
    const double span = std::log10(highestHertz / lowestHertz);
    return area.left() + area.width() * std::log10(hertz / lowestHertz) / span;
}

double FrequencyView::hertzForX(double x) const {
    const QRectF area = plot();
    const double span = std::log10(highestHertz / lowestHertz);
    return lowestHertz * std::pow(10.0, (x - area.left()) / area.width() * span);
}

double FrequencyView::yForDecibels(double decibels) const {
    const QRectF area = plot();
    const double clamped = std::clamp(decibels, bottomDecibels, topDecibels);
    return area.top() + area.height() * (topDecibels - clamped) / (topDecibels - bottomDecibels);
}

std::optional<float> FrequencyView::decibelsAt(double hertz) const {
    if (spectrum_.number == 0 || spectrum_.sampleRate <= 0.0) {
        return std::nullopt;
    }
    const auto bin = static_cast<std::size_t>(
        std::lround(hertz * FrequencyAnalyser::windowFrames / spectrum_.sampleRate));
    if (bin >= spectrum_.decibels.size()) {
        return std::nullopt;
    }
    return spectrum_.decibels[bin];
}

std::vector<FrequencyView::Band> FrequencyView::bands() const {
    std::vector<std::string> names = settings_.mappingNames();
    names.insert(names.begin(), std::string());
    std::vector<Band> result;
    for (int row = 0; row < static_cast<int>(names.size()); ++row) {
        const std::string& name = names[row];
        const double low = settings_.decimal(scopedKey(name, keys::bandLowCut));
        const double high = settings_.decimal(scopedKey(name, keys::bandHighCut));
        Band band{.mapping = name, .row = row};
        band.lowOff = !(low > 0.0);
        band.highOff = !(high > 0.0);
        band.low = band.lowOff ? lowestHertz : std::clamp(low, lowestHertz, highestHertz);
        band.high = band.highOff ? highestHertz : std::clamp(high, lowestHertz, highestHertz);
        if (name == chosen_ || !band.lowOff || !band.highOff) {
            result.push_back(band);
        }
    }
    // The chosen mapping's last, on top.
    std::ranges::stable_partition(result,
                                  [&](const Band& band) { return band.mapping != chosen_; });
    return result;
}

std::optional<FrequencyView::Drag> FrequencyView::edgeAt(double x) const {
    std::optional<Drag> nearest;
    double nearestDistance = edgeReach;
    // From the top: the chosen mapping's edges win over those beneath at the same distance.
    const std::vector<Band> drawn = bands();
    for (auto band = drawn.rbegin(); band != drawn.rend(); ++band) {
        for (const bool high : {false, true}) {
            const double distance = std::abs(xForHertz(high ? band->high : band->low) - x);
            if (distance < nearestDistance) {
                nearestDistance = distance;
                nearest = Drag{band->mapping, high, high ? band->high : band->low};
            }
        }
    }
    return nearest;
}

void FrequencyView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    startAnalysing();
}

void FrequencyView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    stopAnalysing();
}

void FrequencyView::startAnalysing() {
    if (!hold_) {
        hold_ = spectra_.open();
        frameTimer_.start();
    }
}

void FrequencyView::stopAnalysing() {
    frameTimer_.stop();
    hold_.reset();
}

void FrequencyView::takeSpectrum() {
    if (spectra_.takeNewer(spectrum_)) {
        ++spectraDrawn_;
        update(plot().toAlignedRect());
    }
}

void FrequencyView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    background_ = QPixmap();
}

void FrequencyView::drawBackground() {
    background_ = QPixmap(size() * devicePixelRatioF());
    background_.setDevicePixelRatio(devicePixelRatioF());
    background_.fill(palette().color(QPalette::Base));
    QPainter painter(&background_);
    const QRectF area = plot();
    const QColor grid = palette().color(QPalette::Mid);
    painter.setPen(palette().color(QPalette::Text));
    for (double decibels = topDecibels; decibels >= bottomDecibels; decibels -= decibelStep) {
        const double y = yForDecibels(decibels);
        painter.setPen(grid);
        painter.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
        painter.setPen(palette().color(QPalette::Text));
        painter.drawText(QRectF(0, y - 8, area.left() - 4, 16), Qt::AlignRight | Qt::AlignVCenter,
                         QString::number(decibels));
    }
    for (const double hertz : gridHertz) {
        const double x = xForHertz(hertz);
        painter.setPen(grid);
        painter.drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
        painter.setPen(palette().color(QPalette::Text));
        painter.drawText(QRectF(x - 30, area.bottom() + 2, 60, fontMetrics().height()),
                         Qt::AlignHCenter | Qt::AlignTop, hertzText(hertz));
    }
    painter.drawText(QRectF(area.left(), area.bottom() + 2, 60, fontMetrics().height()),
                     Qt::AlignLeft | Qt::AlignTop, tr("Hz"));
    painter.drawText(QRectF(area.right() - 60, area.top() + 2, 56, fontMetrics().height()),
                     Qt::AlignRight | Qt::AlignTop, tr("dBFS"));
    painter.setPen(grid);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(area);
    painter.setClipRect(area);
    drawBands(painter);
}

void FrequencyView::drawBands(QPainter& painter) const {
    const QRectF area = plot();
    const int labelHeight = fontMetrics().height();
    for (const Band& band : bands()) {
        const bool chosen = band.mapping == chosen_;
        const double low =
            drag_ && drag_->mapping == band.mapping && !drag_->highEdge ? drag_->hertz : band.low;
        const double high =
            drag_ && drag_->mapping == band.mapping && drag_->highEdge ? drag_->hertz : band.high;
        QColor colour = mappingColour(band.row);
        const QRectF shape(QPointF(xForHertz(low), area.top()),
                           QPointF(xForHertz(high), area.bottom()));
        colour.setAlpha(chosen ? 70 : 40);
        painter.fillRect(shape, colour);
        colour.setAlpha(255);
        painter.setPen(QPen(colour, chosen ? 2.0 : 1.0));
        painter.drawLine(shape.topLeft(), shape.bottomLeft());
        painter.drawLine(shape.topRight(), shape.bottomRight());
        // Names in lanes by row, so that overlapping bands keep theirs readable.
        const QString name =
            band.mapping.empty() ? tr("main") : QString::fromStdString(band.mapping);
        const QRectF label(shape.left() + 3, area.top() + 14 + band.row % 4 * labelHeight,
                           std::max(shape.width() - 6, 40.0), labelHeight);
        painter.drawText(label, Qt::AlignLeft | Qt::AlignVCenter, name);
    }
    if (drag_) {
        const QString value = tr("%1 Hz").arg(roundedCut(drag_->hertz));
        painter.setPen(palette().color(QPalette::Text));
        painter.drawText(
            QRectF(xForHertz(drag_->hertz) + 4, area.bottom() - labelHeight - 2, 90, labelHeight),
            Qt::AlignLeft | Qt::AlignVCenter, value);
    }
}

void FrequencyView::paintEvent(QPaintEvent* /*event*/) {
    if (background_.isNull()) {
        drawBackground();
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, background_);
    const QRectF area = plot();
    painter.setClipRect(area);
    if (spectrum_.number == 0 || spectrum_.sampleRate <= 0.0) {
        return;
    }
    // One point per column of pixels: the loudest bin the column covers, or where bins are
    // wider than a column (the low end) a straight line between the bins beside it.
    const double hertzPerBin = spectrum_.sampleRate / FrequencyAnalyser::windowFrames;
    const auto lastBin = static_cast<double>(spectrum_.decibels.size() - 1);
    const std::vector<float>& bins = spectrum_.decibels;
    QPolygonF outline;
    outline.reserve(static_cast<qsizetype>(area.width()) / columnWidth + 3);
    outline << QPointF(area.left(), area.bottom());
    for (double x = area.left(); x <= area.right(); x += columnWidth) {
        const double from = std::min(hertzForX(x) / hertzPerBin, lastBin);
        const double to = std::min(hertzForX(x + columnWidth) / hertzPerBin, lastBin);
        double shown = FrequencyAnalyser::floorDecibels;
        if (to - from < 1.0) {
            const double centre = std::min((from + to) / 2.0, lastBin - 1.0);
            const auto below = static_cast<std::size_t>(centre);
            const double along = centre - static_cast<double>(below);
            shown = bins[below] + along * (bins[below + 1] - bins[below]);
        } else {
            for (auto bin = static_cast<std::size_t>(std::lround(from));
                 bin <= static_cast<std::size_t>(std::lround(to)); ++bin) {
                shown = std::max(shown, static_cast<double>(bins[bin]));
            }
        }
        outline << QPointF(x, yForDecibels(shown));
    }
    outline << QPointF(area.right(), area.bottom());
    // Filled only, not antialiased: 25 times a second, an outline's stroke would cost more than
    // the fill, and the columns are fine enough without.
    QColor fill = palette().color(QPalette::Highlight);
    fill.setAlpha(130);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawPolygon(outline);
}

void FrequencyView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        drag_ = edgeAt(event->position().x());
    }
    QWidget::mousePressEvent(event);
}

void FrequencyView::mouseMoveEvent(QMouseEvent* event) {
    const double x = event->position().x();
    if (drag_) {
        drag_->hertz = std::clamp(hertzForX(x), lowestHertz, highestHertz);
        drag_->moved = true;
        redrawBands();
    } else {
        setCursor(edgeAt(x) ? Qt::SizeHorCursor : Qt::ArrowCursor);
    }
}

void FrequencyView::mouseReleaseEvent(QMouseEvent* event) {
    if (!drag_ || event->button() != Qt::LeftButton) {
        return;
    }
    const Drag drag = *drag_;
    drag_.reset();
    redrawBands();
    if (!drag.moved) {
        return;
    }
    // Out of the scale past the band's own end: that cut is off.
    const double x = event->position().x();
    const QRectF area = plot();
    const bool off = drag.highEdge ? x >= area.right() : x <= area.left();
    const double hertz = off ? 0.0 : roundedCut(drag.hertz);
    const std::string key =
        scopedKey(drag.mapping, drag.highEdge ? keys::bandHighCut : keys::bandLowCut);
    if (const std::optional<std::string> problem =
            settings_.changeFromText(key, QString::number(hertz).toStdString())) {
        refused_(QString::fromStdString(*problem));
    }
}

void FrequencyView::mouseDoubleClickEvent(QMouseEvent* event) {
    const double hertz = hertzForX(event->position().x());
    const std::vector<Band> drawn = bands();
    // The topmost band under the pointer.
    const auto hit = std::find_if(drawn.rbegin(), drawn.rend(), [&](const Band& band) {
        return hertz >= band.low && hertz <= band.high && !(band.lowOff && band.highOff);
    });
    if (hit == drawn.rend()) {
        return;
    }
    // The high cut first: a low cut alone is always allowed.
    for (const std::string_view cut : {keys::bandHighCut, keys::bandLowCut}) {
        if (const std::optional<std::string> problem =
                settings_.changeFromText(scopedKey(hit->mapping, cut), "0")) {
            refused_(QString::fromStdString(*problem));
            return;
        }
    }
}
