#pragma once

#include <QGroupBox>

#include "app/control/ControllerObserver.h"
#include "app/control/KestranoController.h"

class QCheckBox;
class QLineEdit;

// The network settings beyond the ports: where the messages go and where the program listens.
// A text field takes effect when it is left or Return is pressed.
class NetworkGroup : public QGroupBox {
    Q_OBJECT
  public:
    NetworkGroup(KestranoController& controller, QWidget* parent);

    // Shows the controller's value; false when `property` is not one of this group's.
    bool showProperty(ControllerProperty property);

  private:
    KestranoController& controller_;
    QLineEdit* hostLineEdit_;
    QLineEdit* listenAddressLineEdit_;
    QCheckBox* remoteControlCheckBox_;
};
