#pragma once

#include <memory>
#include <mutex>

#include "transport/MainLoop.h"

class QtMainLoopHost;

// The main-loop services on Qt's event loop. Create and destroy it on the main thread, after the
// application object; calls posted after its destruction are dropped.
class QtMainLoop : public MainLoop {
  public:
    QtMainLoop();
    ~QtMainLoop() override;
    QtMainLoop(const QtMainLoop&) = delete;
    QtMainLoop& operator=(const QtMainLoop&) = delete;

    std::unique_ptr<RepeatingTimer> scheduleRepeatingTimer(double intervalSeconds,
                                                           std::function<void()> action) override;
    void postToMainThread(std::function<void()> call) override;
    void postToMainQueue(std::function<void()> task) override;

  private:
    // Guards the host against destruction while another thread posts to it.
    std::mutex hostLock_;
    std::shared_ptr<QtMainLoopHost> host_;
};
