#pragma once

#include <algorithm>
#include <string_view>
#include <vector>

#include "app/control/ControllerObserver.h"

// Hands what the controller tells its one observer to several views (the window or the headless
// log, and the browser page), in the order they were added. None is owned; each must be removed
// or outlive the fan-out's use.
class ObserverFanOut : public ControllerObserver {
  public:
    void add(ControllerObserver* observer) { observers_.push_back(observer); }

    void controllerPropertyChanged(ControllerProperty property) override {
        for (ControllerObserver* observer : observers_) {
            observer->controllerPropertyChanged(property);
        }
    }
    void controllerSettingChanged(std::string_view key) override {
        for (ControllerObserver* observer : observers_) {
            observer->controllerSettingChanged(key);
        }
    }
    void controllerStatusChanged(const ControllerStatus& status) override {
        for (ControllerObserver* observer : observers_) {
            observer->controllerStatusChanged(status);
        }
    }

  private:
    std::vector<ControllerObserver*> observers_;
};
