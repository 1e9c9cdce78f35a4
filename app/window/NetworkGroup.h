#pragma once

#include <QGroupBox>

// The network settings beyond the ports: where the messages go, where the program listens and
// whether it obeys commands. Its controls name their settings and are bound with the window's
// others; a text field takes effect when it is left or Return is pressed.
class NetworkGroup : public QGroupBox {
    Q_OBJECT
  public:
    explicit NetworkGroup(QWidget* parent);
};
