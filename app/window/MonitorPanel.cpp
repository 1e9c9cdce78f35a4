#include "app/window/MonitorPanel.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextDocument>
#include <QVBoxLayout>

#include "app/window/widgets/ReadOnlyText.h"

MonitorPanel::MonitorPanel(OscMonitor& monitor, QWidget* parent)
    : QGroupBox(tr("OSC monitor"), parent),
      monitor_(monitor),
      pauseButton_(new QPushButton(tr("Pa&use"), this)),
      clearButton_(new QPushButton(tr("&Clear"), this)),
      filterLineEdit_(new QLineEdit(this)),
      leftOutText_(new ReadOnlyText(this)),
      view_(new QPlainTextEdit(this)) {
    setObjectName("monitorPanel");
    pauseButton_->setObjectName("monitorPauseButton");
    pauseButton_->setCheckable(true);
    pauseButton_->setToolTip(tr("Hold the list still; what arrives meanwhile is still recorded"));
    clearButton_->setObjectName("monitorClearButton");
    filterLineEdit_->setObjectName("monitorFilterLineEdit");
    filterLineEdit_->setPlaceholderText(tr("Show only lines containing..."));
    filterLineEdit_->setClearButtonEnabled(true);
    leftOutText_->setObjectName("monitorLeftOutText");
    view_->setObjectName("monitorView");
    view_->setReadOnly(true);
    view_->setTabChangesFocus(true);
    view_->setLineWrapMode(QPlainTextEdit::NoWrap);
    view_->setMaximumBlockCount(static_cast<int>(OscMonitor::capacity) + 1);
    view_->setFont(QFont("monospace"));
    // Eight lines at the least, with room for the scroll bar that long lines bring: fewer would
    // not show what a burst of traffic looked like. The layout gives it the rest of the window.
    view_->setMinimumHeight(minimumLinesShown * view_->fontMetrics().lineSpacing() +
                            2 * static_cast<int>(view_->document()->documentMargin()) +
                            2 * view_->frameWidth() +
                            view_->horizontalScrollBar()->sizeHint().height());
    view_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);

    // The controls stand in a column beside the list, within its eight lines' height, rather than
    // in a row above it: in a font with tall lines, such as Noto, a row would cost the window the
    // height it lacks on a laptop's screen.
    auto* controls = new QVBoxLayout;
    controls->addWidget(pauseButton_);
    controls->addWidget(clearButton_);
    controls->addWidget(filterLineEdit_);
    controls->addWidget(leftOutText_);
    controls->addStretch(1);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(view_, 1);
    layout->addLayout(controls);

    connect(pauseButton_, &QPushButton::toggled, this, [this] { refresh(); });
    connect(clearButton_, &QPushButton::clicked, this, [this] {
        monitor_.clear();
        refresh();
    });
    connect(filterLineEdit_, &QLineEdit::textChanged, this, [this] {
        shownRevision_ = UINT64_MAX;
        refresh();
    });
    connect(&refreshTimer_, &QTimer::timeout, this, &MonitorPanel::refresh);
    refreshTimer_.start(refreshMilliseconds);
    refresh();
}

void MonitorPanel::showEvent(QShowEvent* event) {
    QGroupBox::showEvent(event);
    refresh();
}

void MonitorPanel::refresh() {
    if (!isVisible() || pauseButton_->isChecked() || monitor_.revision() == shownRevision_) {
        return;
    }
    shownRevision_ = monitor_.revision();
    const QString filter = filterLineEdit_->text();
    QStringList lines;
    for (const MonitorEntry& entry : monitor_.entries()) {
        if (entry.leftOutBefore > 0 && filter.isEmpty()) {
            lines.push_back(QString::fromStdString(leftOutLine(entry.leftOutBefore)));
        }
        const QString line = QString::fromStdString(monitorLine(entry));
        if (filter.isEmpty() || line.contains(filter, Qt::CaseInsensitive)) {
            lines.push_back(line);
        }
    }
    view_->setPlainText(lines.join('\n'));
    view_->verticalScrollBar()->setValue(view_->verticalScrollBar()->maximum());
    leftOutText_->setText(
        monitor_.leftOutCount() == 0
            ? QString()
            : tr("%1 not listed (too many at once)").arg(monitor_.leftOutCount()));
}
