#include "app/run/QtMainLoop.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimerEvent>
#include <cmath>

#include "app/run/QtMainLoopHost.h"

int QtMainLoopHost::startRepeatingTimer(int intervalMilliseconds, std::function<void()> action) {
    const int timerId = startTimer(intervalMilliseconds, Qt::PreciseTimer);
    if (timerId != 0) {
        actions_[timerId] = std::make_shared<std::function<void()>>(std::move(action));
    }
    return timerId;
}

void QtMainLoopHost::stopTimer(int timerId) {
    if (actions_.erase(timerId) > 0) {
        killTimer(timerId);
    }
}

void QtMainLoopHost::timerEvent(QTimerEvent* event) {
    const auto found = actions_.find(event->timerId());
    if (found == actions_.end()) {
        return;
    }
    // Held for the call: the action may invalidate its own timer.
    const std::shared_ptr<std::function<void()>> action = found->second;
    (*action)();
}

namespace {

const QEvent::Type postedCallEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

}  // namespace

void QtMainLoopHost::post(std::function<void()> call) {
    std::lock_guard lock(postedLock_);
    posted_.push_back(std::move(call));
    // Made under the lock, so that the main thread, taking the lock before anything else, is
    // seen to come after the event's making too.
    QCoreApplication::postEvent(this, new QEvent(postedCallEvent));
}

void QtMainLoopHost::customEvent(QEvent* /*event*/) {
    std::function<void()> call;
    {
        std::lock_guard lock(postedLock_);
        if (posted_.empty()) {
            return;
        }
        call = std::move(posted_.front());
        posted_.pop_front();
    }
    call();
}

namespace {

class QtRepeatingTimer : public RepeatingTimer {
  public:
    QtRepeatingTimer(std::weak_ptr<QtMainLoopHost> host, int timerId)
        : host_(std::move(host)), timerId_(timerId) {}
    ~QtRepeatingTimer() override { invalidate(); }

    void invalidate() override {
        if (const auto host = host_.lock()) {
            host->stopTimer(timerId_);
        }
        host_.reset();
    }

  private:
    std::weak_ptr<QtMainLoopHost> host_;
    int timerId_;
};

}  // namespace

QtMainLoop::QtMainLoop() : host_(std::make_shared<QtMainLoopHost>()) {}

QtMainLoop::~QtMainLoop() {
    std::shared_ptr<QtMainLoopHost> host;
    {
        std::lock_guard lock(hostLock_);
        host = std::move(host_);
    }
    // Destroying the host drops its timers and the calls still queued for it.
}

std::unique_ptr<RepeatingTimer> QtMainLoop::scheduleRepeatingTimer(double intervalSeconds,
                                                                   std::function<void()> action) {
    const int milliseconds = static_cast<int>(std::lround(intervalSeconds * 1000.0));
    const int timerId = host_->startRepeatingTimer(milliseconds, std::move(action));
    return std::make_unique<QtRepeatingTimer>(host_, timerId);
}

void QtMainLoop::postToMainThread(std::function<void()> call) {
    std::lock_guard lock(hostLock_);
    if (host_) {
        host_->post(std::move(call));
    }
}

void QtMainLoop::postToMainQueue(std::function<void()> task) {
    postToMainThread(std::move(task));
}
