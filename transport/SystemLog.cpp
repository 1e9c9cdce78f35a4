#include "transport/SystemLog.h"

#include <sys/stat.h>
#include <syslog.h>

#include <cstdio>
#include <string>

namespace {

// syslog(3) silently drops lines when no daemon listens, so only use it where one does.
bool logDaemonListens() {
    struct stat status {};
    return stat("/dev/log", &status) == 0 && S_ISSOCK(status.st_mode);
}

}  // namespace

void systemLog(std::string_view line) {
    // One write per line, so that lines from different threads never interleave.
    std::string text(line);
    text += '\n';
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);

    static const bool useSyslog = logDaemonListens();
    if (useSyslog) {
        syslog(LOG_USER | LOG_NOTICE, "%.*s", static_cast<int>(line.size()), line.data());
    }
}
