#include "app/window/widgets/StatusLine.h"

#include <QStackedLayout>

#include "app/window/widgets/ElidedText.h"

StatusLine::StatusLine(QWidget* parent)
    : QWidget(parent),
      status_(new ElidedText(this)),
      message_(new ElidedText(this)),
      shown_(new QStackedLayout(this)) {
    status_->setObjectName("statusLabel");
    message_->setObjectName("messageLabel");
    // Any width, as the texts it shows.
    setSizePolicy(status_->sizePolicy());
    shown_->addWidget(status_);
    shown_->addWidget(message_);
    messageTime_.setSingleShot(true);
    connect(&messageTime_, &QTimer::timeout, this, &StatusLine::clearMessage);
}

void StatusLine::setStatus(const QString& status) {
    status_->setText(status);
}

void StatusLine::showMessage(const QString& message, int milliseconds) {
    message_->setText(message);
    shown_->setCurrentWidget(message_);
    if (milliseconds > 0) {
        messageTime_.start(milliseconds);
    } else {
        messageTime_.stop();
    }
}

void StatusLine::clearMessage() {
    messageTime_.stop();
    message_->setText({});
    shown_->setCurrentWidget(status_);
}

QString StatusLine::message() const {
    return message_->text();
}
