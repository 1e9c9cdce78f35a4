#pragma once

#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/control/ControllerObserver.h"

class ElidedText;
class QComboBox;
class QPushButton;

// Above the mappings: the preset the set-up came from, to choose another from, a mark when the
// set-up was changed since, and Save as preset…. Switching and saving go through `hooks`; what
// they refuse is shown by `refused`, and the chooser goes back to the preset in use.
class PresetBar : public QWidget {
    Q_OBJECT
  public:
    struct Hooks {
        std::function<std::optional<std::string>(std::string_view name)> switchTo;
        std::function<std::optional<std::string>(std::string_view name)> save;
        std::function<std::vector<std::string>()> names;
        std::function<void(const QString& problem)> refused;
    };

    PresetBar(Hooks hooks, QWidget* parent);

    // The preset in use and its mark, from the status.
    void showStatus(const ControllerStatus& status);

  private:
    // The presets on disk, the one in use chosen; a set-up from none shows an empty choice.
    void fill();
    void choose(int index);
    void saveAs();

    Hooks hooks_;
    std::string loaded_;
    // The list of presets as last shown.
    uint64_t listChanges_ = 0;
    QComboBox* chooser_;
    ElidedText* changedMark_;
    QPushButton* saveButton_;
};
