#include "app/window/widgets/ElidedText.h"

#include <QPainter>

namespace {

constexpr int sideMargin = 2;

}  // namespace

ElidedText::ElidedText(QWidget* parent) : QWidget(parent) {
    // Any width, and beside buttons the room they leave.
    QSizePolicy policy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    policy.setHorizontalStretch(1);
    setSizePolicy(policy);
}

void ElidedText::setText(const QString& text) {
    if (text == text_) {
        return;
    }
    text_ = text;
    elide();
    updateGeometry();
    update();
}

QSize ElidedText::sizeHint() const {
    return {fontMetrics().horizontalAdvance(text_) + 2 * sideMargin, fontMetrics().height() + 4};
}

QSize ElidedText::minimumSizeHint() const {
    return {0, fontMetrics().height() + 4};
}

void ElidedText::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawText(rect().adjusted(sideMargin, 0, -sideMargin, 0),
                     Qt::AlignLeft | Qt::AlignVCenter, shown_);
}

void ElidedText::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    elide();
}

void ElidedText::elide() {
    // Measured once: a status changes on every tick.
    const int room = width() - 2 * sideMargin;
    elided_ = fontMetrics().horizontalAdvance(text_) > room;
    shown_ = elided_ ? fontMetrics().elidedText(text_, Qt::ElideRight, room) : text_;
    setToolTip(elided_ ? text_ : QString());
}
