#include "app/window/MappingList.h"

#include "app/control/mapping/MappingSettings.h"

#include <cmath>

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "app/settings/SettingsKeys.h"
#include "app/settings/values/MappingNames.h"
#include "app/window/widgets/MappingColours.h"

namespace {

namespace keys = settings_keys;

enum Column { nameColumn, addressColumn, modeColumn, meterColumn, columnCount };
// The meter cell's figures: the position (0 to 1), and the gate's lamp, absent in continuous
// mode, which has no gate.
constexpr int positionRole = Qt::UserRole;
constexpr int lampRole = Qt::UserRole + 1;
constexpr int meterWidth = 72;
constexpr int rowsShownAtLeast = 2;

// A bar of the position and, beside it, a lamp lit while the gate is on.
class MeterDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyledItemDelegate::paint(painter, option, index);
        const QRectF cell = QRectF(option.rect).adjusted(3, 4, -3, -4);
        const qreal lampSize = cell.height();
        const QRectF bar = cell.adjusted(0, 0, -lampSize - 4, 0);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(option.palette.color(QPalette::Mid));
        painter->setBrush(option.palette.color(QPalette::Base));
        painter->drawRect(bar);
        if (const QVariant position = index.data(positionRole); position.isValid()) {
            painter->fillRect(
                QRectF(bar.topLeft(), QSizeF(bar.width() * position.toDouble(), bar.height())),
                QColor(0x3a, 0xa8, 0x4c));
        }
        if (const QVariant on = index.data(lampRole); on.isValid()) {
            painter->setBrush(on.toBool() ? QColor(0xf0, 0xb4, 0x1e)
                                          : option.palette.color(QPalette::Window));
            painter->drawEllipse(QRectF(bar.right() + 4, cell.top(), lampSize, lampSize));
        }
        painter->restore();
    }
};

bool sameName(const std::string& one, const std::string& other) {
    // The model tells names apart without case.
    return QString::fromStdString(one).compare(QString::fromStdString(other),
                                               Qt::CaseInsensitive) == 0;
}

}  // namespace

MappingList::MappingList(SettingsModel& settings,
                         std::function<void(const QString& problem)> refused,
                         std::function<void(const std::string& mapping)> chosen, QWidget* parent)
    : QGroupBox(tr("Mappin&gs"), parent),
      settings_(settings),
      refused_(std::move(refused)),
      onChosen_(std::move(chosen)),
      table_(new QTableWidget(0, columnCount, this)),
      addButton_(new QPushButton(tr("Add"), this)),
      renameButton_(new QPushButton(tr("Rename"), this)),
      removeButton_(new QPushButton(tr("Remove"), this)) {
    setObjectName("mappingList");
    table_->setObjectName("mappingTable");
    table_->setHorizontalHeaderLabels({tr("Name"), tr("Address"), tr("Mode"), tr("Meter")});
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    // Sized to their texts when these change (showTexts), not on every meter's change: a header
    // that sizes to contents measures every cell's text on each tick.
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->horizontalHeader()->setSectionResizeMode(addressColumn, QHeaderView::Stretch);
    table_->horizontalHeader()->resizeSection(meterColumn, meterWidth);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    table_->setItemDelegateForColumn(meterColumn, new MeterDelegate(table_));
    table_->setTabKeyNavigation(false);
    // As tall as the input's group beside it: the window must not grow for the list.
    table_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Ignored);
    table_->setMinimumHeight(table_->horizontalHeader()->sizeHint().height() +
                             rowsShownAtLeast * table_->verticalHeader()->defaultSectionSize() +
                             2 * table_->frameWidth());
    table_->setToolTip(
        tr("Choose a mapping to edit it below. F2 renames it, Insert adds one, Delete removes "
           "it"));

    addButton_->setObjectName("addMappingButton");
    renameButton_->setObjectName("renameMappingButton");
    renameButton_->setToolTip(tr("Rename the chosen mapping (F2)"));
    removeButton_->setObjectName("removeMappingButton");
    removeButton_->setToolTip(tr("Remove the chosen mapping (Delete)"));
    auto* buttons = new QVBoxLayout;
    for (QPushButton* button : {addButton_, renameButton_, removeButton_}) {
        buttons->addWidget(button);
    }
    buttons->addStretch();
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(table_, 1);
    layout->addLayout(buttons);

    connect(table_, &QTableWidget::currentCellChanged, this, [this](int row) { choose(row); });
    connect(table_, &QTableWidget::itemChanged, this, &MappingList::rename);
    connect(addButton_, &QPushButton::clicked, this, &MappingList::add);
    connect(renameButton_, &QPushButton::clicked, this, [this] {
        table_->setFocus();
        table_->editItem(table_->item(table_->currentRow(), nameColumn));
    });
    connect(removeButton_, &QPushButton::clicked, this, &MappingList::remove);
    for (const auto& [key, action] : {std::pair{Qt::Key_Insert, &MappingList::add},
                                      std::pair{Qt::Key_Delete, &MappingList::remove}}) {
        auto* shortcut = new QShortcut(QKeySequence(key), table_);
        shortcut->setContext(Qt::WidgetShortcut);
        connect(shortcut, &QShortcut::activated, this, action);
    }
    fill();
}

void MappingList::settingChanged(std::string_view key) {
    if (key == keys::mappings) {
        fill();
        return;
    }
    const std::optional<ScopedKey> scoped = parseScopedKey(key);
    if (scoped && (scoped->setting->key == keys::address || scoped->setting->key == keys::type)) {
        showTexts();
    }
}

void MappingList::fill() {
    const std::vector<std::string> names = settings_.mappingNames();
    const int rows = static_cast<int>(names.size()) + 1;
    // The chosen mapping stays chosen; when it was renamed or removed, its row does.
    int chosenRow = std::min(std::max(table_->currentRow(), 0), rows - 1);
    if (const auto found = std::ranges::find(names, chosen_); found != names.end()) {
        chosenRow = static_cast<int>(found - names.begin()) + 1;
    }
    {
        const QSignalBlocker blocker(table_);
        table_->setRowCount(rows);
        for (int row = 0; row < rows; ++row) {
            for (int column = 0; column < columnCount; ++column) {
                auto* item = new QTableWidgetItem;
                if (column != nameColumn || row == 0) {
                    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
                }
                table_->setItem(row, column, item);
            }
            QTableWidgetItem* name = table_->item(row, nameColumn);
            // The colour of its band in the spectrum.
            name->setData(Qt::DecorationRole, mappingColour(row));
            if (row == 0) {
                // The keys without a mapping's name: not a name, so shown apart.
                name->setText(tr("main"));
                QFont font = name->font();
                font.setItalic(true);
                name->setFont(font);
                name->setToolTip(tr("The settings without a mapping's name"));
            } else {
                name->setText(QString::fromStdString(names[row - 1]));
            }
        }
        table_->setCurrentCell(chosenRow, nameColumn);
    }
    showTexts();
    choose(chosenRow);
    showRoomToAdd(names.size());
}

void MappingList::showRoomToAdd(size_t count) {
    const bool full = count >= kMostMappings;
    addButton_->setEnabled(!full);
    addButton_->setToolTip(
        full ? tr("At most %1 mappings besides main: remove one to add another").arg(kMostMappings)
             : tr("Add a mapping of the same input (Insert)"));
}

void MappingList::showTexts() {
    const std::vector<std::string> names = settings_.mappingNames();
    const SettingDefinition& mode = *findSetting(keys::type);
    const QSignalBlocker blocker(table_);
    for (int row = 0; row < table_->rowCount() && row <= static_cast<int>(names.size()); ++row) {
        const std::string name = row == 0 ? std::string() : names[row - 1];
        table_->item(row, addressColumn)
            ->setText(QString::fromStdString(mappingAddress(settings_, name)));
        const std::optional<SettingValue> value = settings_.value(scopedKey(name, keys::type));
        table_->item(row, modeColumn)
            ->setText(value ? QString::fromStdString(settingText(mode, *value)) : QString());
    }
    table_->resizeColumnToContents(nameColumn);
    table_->resizeColumnToContents(modeColumn);
}

void MappingList::showStatus(const ControllerStatus& status) {
    const std::vector<std::string> names = settings_.mappingNames();
    for (int row = 0; row < table_->rowCount() && row <= static_cast<int>(names.size()); ++row) {
        const std::string name = row == 0 ? std::string() : names[row - 1];
        const MappingStatus* reading = mappingStatus(status, name);
        QTableWidgetItem* item = table_->item(row, meterColumn);
        // To a two-hundredth, finer than the bar's pixels: an item whose data stays the same is
        // not drawn again, and the list's meters were among the window's dearest drawing.
        QVariant shown;
        if (reading != nullptr && reading->position) {
            shown = std::round(reading->position.value() * 200.0f) / 200.0f;
        }
        item->setData(positionRole, shown);
        const bool gated = reading != nullptr && !reading->continuous;
        item->setData(lampRole, gated ? QVariant(reading->on) : QVariant());
    }
}

void MappingList::choose(int row) {
    const std::vector<std::string> names = settings_.mappingNames();
    const bool further = row > 0 && row <= static_cast<int>(names.size());
    renameButton_->setEnabled(further);
    removeButton_->setEnabled(further);
    const std::string mapping = further ? names[row - 1] : std::string();
    if (mapping != chosen_) {
        chosen_ = mapping;
        onChosen_(chosen_);
    }
}

void MappingList::add() {
    if (!addButton_->isEnabled()) {
        refused_(addButton_->toolTip());  // Insert, which does not pass by the button
        return;
    }
    const std::vector<std::string> names = settings_.mappingNames();
    // The first "mappingN" neither listed nor a section of the file; the first mapping is number
    // 1. There are fewer than 16 names and finitely many sections, so this ends.
    std::string added;
    for (int number = 2; added.empty(); ++number) {
        const std::string name = "mapping" + std::to_string(number);
        if (std::ranges::none_of(names,
                                 [&](const std::string& taken) { return sameName(taken, name); }) &&
            !settings_.hasUnlistedSection(name)) {
            added = name;
        }
    }
    // Its own address from the first tick, never the first mapping's bare /zandorex/, and stored
    // with its name: a restart without saving finds the mapping whole.
    if (const std::optional<std::string> problem = settings_.addMapping(added, added)) {
        refused_(QString::fromStdString(*problem));
        return;
    }
    table_->setCurrentCell(table_->rowCount() - 1, nameColumn);
}

void MappingList::rename(QTableWidgetItem* item) {
    const std::vector<std::string> names = settings_.mappingNames();
    const int row = item->row();
    if (item->column() != nameColumn || row < 1 || row > static_cast<int>(names.size())) {
        return;
    }
    const std::string from = names[row - 1];
    const std::string to = item->text().trimmed().toStdString();
    // A rename rebuilds the rows, the edited one included: not while its edit is handed over.
    QMetaObject::invokeMethod(
        this,
        [this, from, to] {
            if (const std::optional<std::string> problem = settings_.renameMapping(from, to)) {
                refused_(QString::fromStdString(*problem));
            }
            fill();  // also puts back a refused name
        },
        Qt::QueuedConnection);
}

void MappingList::remove() {
    std::vector<std::string> names = settings_.mappingNames();
    const int row = table_->currentRow();
    if (row < 1 || row > static_cast<int>(names.size())) {
        return;
    }
    names.erase(names.begin() + (row - 1));
    takeNames(names);
}

void MappingList::takeNames(const std::vector<std::string>& names) {
    std::string list;
    for (const std::string& name : names) {
        list += (list.empty() ? "" : ",") + name;
    }
    if (const std::optional<std::string> problem = settings_.changeFromText(keys::mappings, list)) {
        refused_(QString::fromStdString(*problem));
    }
}
