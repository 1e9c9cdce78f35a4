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
// `refused` and the control goes back to the value in use.
class SettingBindings : public QObject {
    Q_OBJECT
  public:
    SettingBindings(SettingsModel& settings, QWidget* root,
                    std::function<void(const QString& problem)> refused);

    // Shows the value in use in the control bound to `key`, if any.
    void show(std::string_view key);

  private:
    struct Binding {
        std::string_view key;
        QWidget* control;
    };
    void bind(const SettingDefinition& setting, QWidget* control);
    void take(std::string_view key, std::optional<std::string> problem);

    SettingsModel& settings_;
    std::function<void(const QString&)> refused_;
    std::vector<Binding> bindings_;
};
