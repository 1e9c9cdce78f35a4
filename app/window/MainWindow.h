#pragma once

#include <QMainWindow>
#include <memory>

#include "app/audio/frequencies/SpectrumFeed.h"
#include "app/control/ControllerObserver.h"
#include "app/control/KestranoController.h"

namespace Ui {
class MainWindow;
}
class StatusLine;
class LevelHistory;
class MappingList;
class MonitorPanel;
class PresetBar;
class NetworkGroup;
class QDialog;
class SettingBindings;
class FrequencyView;
class TempoPanel;

// The one window: its controls edit the controller's properties, and the controller's changes
// show in the controls. The controller, and `spectra` when given, must outlive the window; without
// it the window reads the spectrum of the controller's capture on its own.
//
// From the top: the input's spectrum with the mappings' bands beside the input's controls (and a
// place for the tempo panel); the list of mappings beside the chosen one's level history and the
// OSC monitor, in tabs; the chosen mapping's editor; "Ports and network…" (a dialog) and Save.
// Its size and place are remembered between runs, apart from the settings.
class MainWindow : public QMainWindow, public ControllerObserver {
    Q_OBJECT
  public:
    // What the window opens at the first time: room on a 1366×768 screen for a panel and the
    // title bar.
    static constexpr QSize defaultSize{1280, 680};

    explicit MainWindow(KestranoController& controller, SpectrumFeed* spectra = nullptr,
                        QWidget* parent = nullptr);
    ~MainWindow() override;

    void controllerPropertyChanged(ControllerProperty property) override;
    void controllerSettingChanged(std::string_view key) override;
    void controllerStatusChanged(const ControllerStatus& status) override;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void addCaptions();
    void placeViews();
    void placeNetworkDialog();
    void restoreWindowGeometry();
    // Makes the controls of a mapping's settings edit `mapping` (empty: the first).
    void editMapping(const std::string& mapping);
    void connectControls();
    void showDevices();
    void showSelectedDevice();
    // Asks for a recording to play as the input; the list shows the input in use meanwhile.
    void chooseRecording();
    void showAddress();
    void showModeDependentControls();
    void showMeterScale();

    std::unique_ptr<SpectrumFeed> ownSpectra_;
    std::unique_ptr<Ui::MainWindow> ui_;
    StatusLine* statusLine_;
    NetworkGroup* networkGroup_;
    QDialog* networkDialog_ = nullptr;
    SettingBindings* settingBindings_ = nullptr;
    MonitorPanel* monitorPanel_;
    TempoPanel* tempoPanel_;
    MappingList* mappingList_ = nullptr;
    PresetBar* presetBar_ = nullptr;
    FrequencyView* spectrum_ = nullptr;
    LevelHistory* history_ = nullptr;
    KestranoController& controller_;
};
