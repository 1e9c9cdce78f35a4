#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/control/ControllerObserver.h"
#include "osc/QVOSCMessage.h"

// One line of a replay's cue journal for a message that would go to Zandorex: the time in the
// recording in seconds with three decimals, the whole address and each argument, separated by
// tabs ("12.350\t/zandorex/kick\t10"). A text argument is escaped, so a line stays one line.
std::string journalLine(double seconds, const QVOSCMessage& message);

// Each mapping's turns through a replay, as the status the views read tells them.
class TurnSummary {
  public:
    // The status as it stands at `seconds` into the recording.
    void observe(const ControllerStatus& status, double seconds);
    // One line per mapping: a trigger's or silence cue's turns on, the time it was on to the
    // end at `endSeconds`, its first and last turn on; what a continuous mapping sent last.
    std::string text(double endSeconds) const;

  private:
    struct Mapping {
        std::string name;
        bool continuous = true;
        bool on = false;
        int turnsOn = 0;
        double onSince = 0.0;
        double timeOn = 0.0;
        double firstOn = 0.0;
        double lastOn = 0.0;
        std::optional<float> lastValue{};
    };
    Mapping& mappingNamed(const std::string& name);

    std::vector<Mapping> mappings_;
};
