#include "app/run/SignalQuitter.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>

namespace {

std::atomic<int> signalPipeWriteEnd{-1};
struct sigaction previousInterrupt {};
struct sigaction previousTerminate {};

extern "C" void writeSignalByte(int signalNumber) {
    const int savedErrno = errno;
    const int fd = signalPipeWriteEnd.load();
    if (fd >= 0) {
        const auto byte = static_cast<unsigned char>(signalNumber);
        // A full pipe already holds a pending quit; nothing is lost by dropping this byte.
        [[maybe_unused]] const ssize_t written = write(fd, &byte, 1);
    }
    errno = savedErrno;
}

}  // namespace

SignalQuitter::SignalQuitter(std::function<void()> quit) : quit_(std::move(quit)) {
    if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        pipe_[0] = pipe_[1] = -1;
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &SignalQuitter::readSignal);
    signalPipeWriteEnd.store(pipe_[1]);

    struct sigaction action {};
    action.sa_handler = writeSignalByte;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &previousInterrupt);
    sigaction(SIGTERM, &action, &previousTerminate);
}

SignalQuitter::~SignalQuitter() {
    if (!notifier_) {
        return;
    }
    sigaction(SIGINT, &previousInterrupt, nullptr);
    sigaction(SIGTERM, &previousTerminate, nullptr);
    signalPipeWriteEnd.store(-1);
    notifier_.reset();
    close(pipe_[0]);
    close(pipe_[1]);
}

void SignalQuitter::readSignal() {
    unsigned char bytes[16];
    while (read(pipe_[0], bytes, sizeof bytes) > 0) {
    }
    quit_();
}
