#pragma once

#include <QGroupBox>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/control/ControllerObserver.h"
#include "app/settings/SettingsModel.h"

class QPushButton;
class QTableWidget;
class QTableWidgetItem;

// The mappings one input feeds, one row each: the first (the keys without a name) on top, then
// those the mappings setting lists, with their address, mode and a small meter with the gate's
// lamp. Adding, renaming and removing go through the settings model, as --set's would; what the
// model refuses is shown by `refused`. Choosing a row tells `chosen` which mapping the window's
// controls should edit.
class MappingList : public QGroupBox {
    Q_OBJECT
  public:
    MappingList(SettingsModel& settings, std::function<void(const QString& problem)> refused,
                std::function<void(const std::string& mapping)> chosen, QWidget* parent);

    // Follows a change of the model: the list of mappings, or a mapping's address or mode.
    void settingChanged(std::string_view key);
    // The meters and the lamps of the gates that send, of the status's readings.
    void showStatus(const ControllerStatus& status);
    // The mapping chosen: empty for the first.
    const std::string& chosen() const { return chosen_; }

  private:
    void fill();
    // Add is offered while the model takes one more name, and says why not when full.
    void showRoomToAdd(size_t count);
    void showTexts();
    void choose(int row);
    void add();
    void rename(QTableWidgetItem* item);
    void remove();
    // Hands the model a new list of further mappings.
    void takeNames(const std::vector<std::string>& names);

    SettingsModel& settings_;
    std::function<void(const QString&)> refused_;
    std::function<void(const std::string&)> onChosen_;
    // The mapping chosen: empty for the first.
    std::string chosen_;
    QTableWidget* table_;
    QPushButton* addButton_;
    QPushButton* renameButton_;
    QPushButton* removeButton_;
};
