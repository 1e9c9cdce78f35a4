#include "app/window/widgets/ReadOnlyText.h"

#include <QPalette>

namespace {

// QLineEdit keeps this many pixels free on each side of its text.
constexpr int lineEditTextMargin = 2;

}  // namespace

ReadOnlyText::ReadOnlyText(QWidget* parent) : QLineEdit(parent) {
    setReadOnly(true);
    setFrame(false);
    setFocusPolicy(Qt::NoFocus);
    // Like a caption: as wide as its text, not stretching ahead of the controls beside it.
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    // Window colours instead of an entry field's, so that it reads as part of the window.
    QPalette colours = palette();
    colours.setBrush(QPalette::Base, Qt::transparent);
    for (const QPalette::ColorGroup group :
         {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        colours.setColor(group, QPalette::Text, colours.color(group, QPalette::WindowText));
    }
    setPalette(colours);

    connect(this, &QLineEdit::textChanged, this, &QWidget::updateGeometry);
}

int ReadOnlyText::widthForText(const QString& text) const {
    const QMargins margins = textMargins();
    return fontMetrics().horizontalAdvance(text) + 2 * lineEditTextMargin + margins.left() +
           margins.right();
}

QSize ReadOnlyText::sizeHint() const {
    return {widthForText(text()), QLineEdit::sizeHint().height()};
}
