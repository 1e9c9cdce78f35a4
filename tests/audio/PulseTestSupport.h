#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/audio/AudioCapture.h"
#include "tests/support/ChildProcess.h"
#include "transport/EventLoop.h"

// Helpers for tests against the private sound server that PULSE_SERVER names: its sinks are
// "feed" (the test signal goes in) and "out" (the default output); "mic", a remap of feed's
// monitor, is the default source.

// Runs pactl against the server; its standard output, or nothing when it failed.
std::optional<std::string> pactl(const std::vector<std::string>& arguments);

// A sine at -6 dBFS peak (1 kHz unless told) played into `sink` until destroyed; `effects` are
// sox effects applied after it (for example {"remix", "1", "1v0.5"} to lower the right channel by
// 6 dB).
class SineTone {
  public:
    explicit SineTone(const std::string& sink, const std::vector<std::string>& effects = {},
                      int hertz = 1000);
    bool started() const { return sox_.started(); }

  private:
    ChildProcess sox_;
};

// Polls the capture like the controller's tick, every 50 ms on `loop`.
class LevelSampler {
  public:
    LevelSampler(EventLoop& loop, AudioCapture& capture);

    // Runs the loop until every channel read above `decibels` on three ticks in a row.
    bool waitUntilAbove(float decibels, std::chrono::milliseconds timeout);
    // Runs the loop until every channel read below `decibels` on three ticks in a row.
    bool waitUntilBelow(float decibels, std::chrono::milliseconds timeout);
    // Per channel, the median of the ticks over `duration`; empty when the readings were.
    std::vector<float> medianOver(std::chrono::milliseconds duration);
    // Over the ticks of the last medianOver(): the median sample peak and loudest channel, or
    // nothing when no tick had one.
    std::optional<float> medianSamplePeak() const { return median(peaks_); }
    std::optional<float> medianLoudestChannel() const { return median(loudest_); }

  private:
    bool waitForRun(const std::function<bool(float)>& holds, std::chrono::milliseconds timeout);
    static std::optional<float> median(std::vector<float> readings);

    EventLoop& loop_;
    AudioCapture& capture_;
    std::vector<std::vector<float>> ticks_;  // the channels of one connection, tick by tick
    std::vector<float> peaks_;               // of the ticks that had one
    std::vector<float> loudest_;
    std::unique_ptr<RepeatingTimer> timer_;
};

// Runs `loop` until `done` holds or `timeout` passes (a timer keeps the check going).
bool runLoopUntil(EventLoop& loop, const std::function<bool()>& done,
                  std::chrono::milliseconds timeout);

// Sets an environment variable for the life of the object.
class ScopedEnvironment {
  public:
    ScopedEnvironment(const char* name, const std::string& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

bool containsDevice(const std::vector<AudioDevice>& devices, const std::string& name);
