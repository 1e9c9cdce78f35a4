#pragma once

#include <QMainWindow>
#include <memory>

#include "app/control/ControllerObserver.h"
#include "app/control/KestranoController.h"

namespace Ui {
class MainWindow;
}
class MappingList;
class MonitorPanel;
class NetworkGroup;
class ReadOnlyText;
class SettingBindings;
class TempoPanel;

// The one window: its controls edit the controller's properties, and the controller's changes
// show in the controls. The controller must outlive the window.
class MainWindow : public QMainWindow, public ControllerObserver {
    Q_OBJECT
  public:
    explicit MainWindow(KestranoController& controller, QWidget* parent = nullptr);
    ~MainWindow() override;

    void controllerPropertyChanged(ControllerProperty property) override;
    void controllerSettingChanged(std::string_view key) override;
    void controllerStatusChanged(const ControllerStatus& status) override;

  private:
    void addCaptions();
    void placeMappingList();
    // Makes the controls of a mapping's settings edit `mapping` (empty: the first).
    void editMapping(const std::string& mapping);
    void connectControls();
    void showDevices();
    void showSelectedDevice();
    void showAddress();
    void showModeDependentControls();
    void showMeterScale();

    std::unique_ptr<Ui::MainWindow> ui_;
    ReadOnlyText* statusLabel_;
    NetworkGroup* networkGroup_;
    SettingBindings* settingBindings_ = nullptr;
    MonitorPanel* monitorPanel_;
    TempoPanel* tempoPanel_;
    MappingList* mappingList_ = nullptr;
    KestranoController& controller_;
};
