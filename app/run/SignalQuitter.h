#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

// Turns SIGINT and SIGTERM into a call of `quit` on the main thread. The handler only writes a
// byte to a pipe; the main loop reads it. One instance at a time; the previous handlers come
// back when it is destroyed.
class SignalQuitter : public QObject {
    Q_OBJECT
  public:
    explicit SignalQuitter(std::function<void()> quit);
    ~SignalQuitter() override;
    SignalQuitter(const SignalQuitter&) = delete;
    SignalQuitter& operator=(const SignalQuitter&) = delete;

    // False when the pipe could not be made; the signals then keep their default action.
    bool isArmed() const { return notifier_ != nullptr; }

  private:
    void readSignal();

    std::function<void()> quit_;
    int pipe_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
};
