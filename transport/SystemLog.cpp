#include "transport/SystemLog.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>

#include "transport/LineOutput.h"

namespace {

constexpr const char* logSocketPath = "/dev/log";
// LOG_USER | LOG_NOTICE, as syslog(3) would mark the line.
constexpr const char* logSocketHeader = "<13>kestrano: ";

// syslog(3) sends on a blocking socket, so a daemon that falls behind would hold up the caller;
// a socket of the log's own without blocking drops the line instead. Nothing when no daemon
// listens, where syslog(3) would drop every line anyway.
LineOutput* logSocket() {
    static LineOutput* const output = []() -> LineOutput* {
        const int socket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (socket < 0) {
            return nullptr;
        }
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, logSocketPath, sizeof(address.sun_path) - 1);
        if (connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
            close(socket);
            return nullptr;
        }
        return new LineOutput(socket);  // for the life of the process, as threads may log late
    }();
    return output;
}

// A terminal may also show a status line kept on one line by carriage returns: a log line clears
// it first instead of being appended to it; the next status line comes back below.
const std::string& lineStart() {
    static const std::string start = isatty(STDERR_FILENO) == 1 ? "\r\033[K" : "";
    return start;
}

std::mutex toldLock;
uint64_t droppedTold = 0;  // under toldLock

// Writes the count of lines dropped since the last told; under toldLock.
void tellDroppedLocked(LineOutput& output) {
    const uint64_t dropped = output.droppedLines();
    if (dropped == droppedTold) {
        return;
    }
    const std::string notice = lineStart() + "kestrano: " + std::to_string(dropped - droppedTold) +
                               " lines not written to standard error: its reader did not keep up";
    if (output.writeLine(notice)) {
        droppedTold = dropped;
    } else {
        ++droppedTold;  // the notice itself, which the next notice is not to count
    }
}

}  // namespace

LineOutput& standardErrorOutput() {
    static LineOutput* const output = new LineOutput(STDERR_FILENO);  // threads may log late
    return *output;
}

bool systemLog(std::string_view line) {
    if (LineOutput* const socket = logSocket()) {
        socket->writeRecord(logSocketHeader + std::string(line));
    }
    LineOutput& output = standardErrorOutput();
    std::lock_guard guard(toldLock);
    tellDroppedLocked(output);
    return output.writeLine(lineStart() + std::string(line));
}

void tellDroppedLogLines() {
    std::lock_guard guard(toldLock);
    tellDroppedLocked(standardErrorOutput());
}
