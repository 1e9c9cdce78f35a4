#pragma once

#include <QObject>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

// The QObject on the main thread that runs timer actions and posted calls.
class QtMainLoopHost : public QObject {
    Q_OBJECT
  public:
    int startRepeatingTimer(int intervalMilliseconds, std::function<void()> action);
    void stopTimer(int timerId);
    // Any thread: runs `call` on the main thread, one event per call, in posting order.
    void post(std::function<void()> call);

  protected:
    void timerEvent(QTimerEvent* event) override;
    void customEvent(QEvent* event) override;

  private:
    std::map<int, std::shared_ptr<std::function<void()>>> actions_;
    // The calls wait here under a lock of ours rather than inside Qt's events, so that the
    // hand-over between threads is one that ThreadSanitizer can see.
    std::mutex postedLock_;
    std::deque<std::function<void()>> posted_;
};
