#pragma once

#include <chrono>
#include <optional>
#include <string>

// What a status line in a log is about, without the level and value that move on every tick.
struct StatusLogState {
    std::string device;    // the selected input, empty for none
    std::string errors;    // every failure in words, empty when all is well
    bool sending = false;  // whether a message went out since the previous line was considered
    // The clip lamp and the louder-channel hint: each lighting and going out is news, the
    // figures that move with them are not.
    bool clipping = false;
    bool louderChannel = false;
    // Which further trigger and silence mappings are on: each turn is news (a cue fired).
    std::string gatesOn;
    // The tempo found, held or tapped, and what a tap in the wrong mode says: news, where the
    // tempo's small moves are not.
    std::string tempo;

    bool operator==(const StatusLogState&) const = default;
};

// Picks the headless status lines that reach a log (a journal, a pipe): each one whose state
// differs from the last line written, and otherwise one per `quietInterval`, so that a day of
// steady running is a few thousand lines instead of one a second.
class StatusLogThrottle {
  public:
    using Clock = std::chrono::steady_clock;

    explicit StatusLogThrottle(Clock::duration quietInterval) : quietInterval_(quietInterval) {}

    // Whether the line for `state` at `now` is written; remembers it when it is.
    bool shouldWrite(const StatusLogState& state, Clock::time_point now);

  private:
    Clock::duration quietInterval_;
    std::optional<StatusLogState> written_;
    Clock::time_point writtenAt_;
};
