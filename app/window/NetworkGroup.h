#pragma once

#include <QGroupBox>
#include <string>

class ReadOnlyText;

// The network settings: the ports, where the messages go, where the program listens and
// whether it obeys commands. Its controls name their settings and are bound with the window's
// others; a text field takes effect when it is left or Return is pressed.
class NetworkGroup : public QGroupBox {
    Q_OBJECT
  public:
    explicit NetworkGroup(QWidget* parent);

    // Says under the list who may command where that is not plainly the listed sources (any
    // source, nobody), in the status line's words; nothing otherwise.
    void showRemoteAccess(const std::string& note);

  private:
    ReadOnlyText* remoteAccess_;
};
