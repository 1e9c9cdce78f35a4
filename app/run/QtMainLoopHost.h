#pragma once

#include <QObject>
#include <functional>
#include <map>
#include <memory>

// The QObject on the main thread that runs timer actions and posted calls.
class QtMainLoopHost : public QObject {
    Q_OBJECT
  public:
    int startRepeatingTimer(int intervalMilliseconds, std::function<void()> action);
    void stopTimer(int timerId);

  protected:
    void timerEvent(QTimerEvent* event) override;

  private:
    std::map<int, std::shared_ptr<std::function<void()>>> actions_;
};
