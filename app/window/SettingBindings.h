#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <string_view>
#include <vector>

#include "app/settings/SettingsModel.h"

class QWidget;

// Ties each control that names a setting (its "setting" property) to the settings model: the
// control shows the value in use, offers only what the model takes, and hands every change to
// the model, which checks it as any other path does. A change the model refuses is shown by
// `refused` and the control goes back to the value in use. The controls of a mapping's settings
// edit one mapping at a time, the first until told otherwise.
class SettingBindings : public QObject {
    Q_OBJECT
  public:
    SettingBindings(SettingsModel& settings, QWidget* root,
                    std::function<void(const QString& problem)> refused);

    // Shows the value in use in the control bound to `key` ("kick/bandHighCut"), if that control
    // edits it now.
    void show(std::string_view key);
    // Makes the mapping's controls edit the mapping named `mapping` (a listed one; empty for the
    // first) and shows its values.
    void setMapping(std::string mapping);
    const std::string& mapping() const { return mapping_; }
    // The key a catalogue row names in the mapping being edited.
    std::string keyFor(std::string_view row) const;

  private:
    struct Binding {
        const SettingDefinition* setting;
        QWidget* control;
    };
    void bind(const SettingDefinition& setting, QWidget* control);
    void take(const SettingDefinition& setting, std::optional<std::string> problem);
    void showIn(const Binding& binding);

    SettingsModel& settings_;
    std::string mapping_;
    std::function<void(const QString&)> refused_;
    std::vector<Binding> bindings_;
};
