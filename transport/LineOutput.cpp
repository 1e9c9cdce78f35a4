#include "transport/LineOutput.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

LineOutput::LineOutput(int descriptor) : given_(descriptor), descriptor_(descriptor) {
    struct stat status {};
    if (fstat(descriptor, &status) != 0) {
        closedReason_ = std::strerror(errno);
        return;
    }
    if (S_ISSOCK(status.st_mode)) {
        kind_ = Kind::socket;  // a journal's stream: each send says whether to wait
        return;
    }
    if (!S_ISFIFO(status.st_mode) && !S_ISCHR(status.st_mode)) {
        return;  // a file, whose writes never wait for a reader
    }
    // O_NONBLOCK on the shared descriptor would reach the shell that started the program, which
    // does not expect it; a second opening has a mode of its own.
    const std::string path = "/proc/self/fd/" + std::to_string(descriptor);
    const int reopened = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (reopened >= 0) {
        descriptor_ = reopened;
        kind_ = Kind::reopened;
    } else if (errno == ENXIO) {
        closedReason_ = std::strerror(EPIPE);  // a pipe whose reader has already gone
    } else {
        kind_ = Kind::polled;  // no /proc: ask before each write instead
    }
}

LineOutput::~LineOutput() {
    if (kind_ == Kind::reopened) {
        close(descriptor_);
    }
}

bool LineOutput::closed() const {
    std::lock_guard guard(lock_);
    return !closedReason_.empty();
}

std::string LineOutput::closedReason() const {
    std::lock_guard guard(lock_);
    return closedReason_;
}

long LineOutput::writeSome(std::string_view bytes) {
    for (;;) {
        ssize_t written;
        if (kind_ == Kind::socket) {
            written = send(descriptor_, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        } else {
            if (kind_ == Kind::polled) {
                pollfd ready{descriptor_, POLLOUT, 0};
                if (poll(&ready, 1, 0) == 0) {
                    errno = EAGAIN;
                    return -1;
                }
            }
            written = write(descriptor_, bytes.data(), bytes.size());
        }
        if (written >= 0 || errno != EINTR) {
            return written;
        }
    }
}

void LineOutput::noteFailure(int error) {
    if (error != EAGAIN && error != EWOULDBLOCK) {
        closedReason_ = std::strerror(error);
    }
}

bool LineOutput::flushPending() {
    const long written = writeSome(pending_);
    if (written < 0) {
        noteFailure(errno);
        return false;
    }
    pending_.erase(0, static_cast<size_t>(written));
    return pending_.empty();
}

bool LineOutput::writeLine(std::string_view line) {
    std::string record;
    record.reserve(line.size() + 1);
    record.assign(line);
    record += '\n';
    return writeRecord(record);
}

bool LineOutput::writeRecord(std::string_view record) {
    std::lock_guard guard(lock_);
    if (!closedReason_.empty() || (!pending_.empty() && !flushPending())) {
        dropped_.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    const long written = writeSome(record);
    if (written < 0) {
        noteFailure(errno);
        dropped_.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    // A part of the record went: the rest goes first next time, so that records are never mixed.
    pending_.assign(record.substr(static_cast<size_t>(written)));
    return true;
}
