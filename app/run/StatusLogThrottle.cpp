#include "app/run/StatusLogThrottle.h"

bool StatusLogThrottle::shouldWrite(const StatusLogState& state, Clock::time_point now) {
    if (written_ == state && now - writtenAt_ < quietInterval_) {
        return false;
    }
    written_ = state;
    writtenAt_ = now;
    return true;
}
