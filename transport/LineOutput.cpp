#include "transport/LineOutput.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

LineOutput::LineOutput(int descriptor) : descriptor_(descriptor) {
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

bool LineOutput::flushPending() {
    const long written = writeSome(pending_);
    if (written < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            closedReason_ = std::strerror(errno);
        }
        return false;
    }
    pending_.erase(0, static_cast<size_t>(written));
    return pending_.empty();
}

bool LineOutput::writeLine(std::string_view line) {
    if (closed() || (!pending_.empty() && !flushPending())) {
        ++dropped_;
        return false;
    }
    pending_.assign(line);
    pending_ += '\n';
    const long written = writeSome(pending_);
    if (written < 0) {
        pending_.clear();
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            closedReason_ = std::strerror(errno);
        }
        ++dropped_;
        return false;
    }
    // A part of the line went: the rest goes first next time, so that lines are never mixed.
    pending_.erase(0, static_cast<size_t>(written));
    return true;
}
