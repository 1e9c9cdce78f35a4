#include "tests/audio/PulseTestSupport.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr double kTickSeconds = 0.05;
constexpr int kTicksInARow = 3;

}  // namespace

std::optional<std::string> pactl(const std::vector<std::string>& arguments) {
    std::vector<std::string> command{"/usr/bin/pactl"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    ProgramResult result = runProgram(command);
    if (result.status != 0) {
        return std::nullopt;
    }
    return result.output;
}

namespace {

std::vector<std::string> soxCommand(const std::string& sink,
                                    const std::vector<std::string>& effects, int hertz) {
    std::vector<std::string> command{
        "/usr/bin/sox", "-q",  "-n",    "-c", "2",    "-t",
        "pulseaudio",   sink,  "synth", "60", "sine", std::to_string(hertz),
        "vol",          "-6dB"};
    command.insert(command.end(), effects.begin(), effects.end());
    return command;
}

}  // namespace

SineTone::SineTone(const std::string& sink, const std::vector<std::string>& effects, int hertz)
    : sox_(soxCommand(sink, effects, hertz)) {}

LevelSampler::LevelSampler(EventLoop& loop, AudioCapture& capture)
    : loop_(loop), capture_(capture) {
    timer_ = loop_.scheduleRepeatingTimer(kTickSeconds, [this] {
        const auto connections = capture_.channelAveragePowerLevels();
        // A tick without frames reads nothing, which is not a level to count.
        if (connections.empty() || !connections.front().empty()) {
            ticks_.push_back(connections.empty() ? std::vector<float>{} : connections.front());
        }
        if (const auto peak = capture_.meterReadings().front().samplePeak) {
            peaks_.push_back(*peak);
        }
        if (const auto loudest = capture_.loudestChannelLevel()) {
            loudest_.push_back(*loudest);
        }
    });
}

std::optional<float> LevelSampler::median(std::vector<float> readings) {
    if (readings.empty()) {
        return std::nullopt;
    }
    std::nth_element(readings.begin(), readings.begin() + readings.size() / 2, readings.end());
    return readings[readings.size() / 2];
}

bool LevelSampler::waitForRun(const std::function<bool(float)>& holds,
                              std::chrono::milliseconds timeout) {
    ticks_.clear();
    return runLoopUntil(
        loop_,
        [&] {
            if (ticks_.size() < kTicksInARow) {
                return false;
            }
            return std::all_of(ticks_.end() - kTicksInARow, ticks_.end(), [&](const auto& tick) {
                return !tick.empty() && std::all_of(tick.begin(), tick.end(), holds);
            });
        },
        timeout);
}

bool LevelSampler::waitUntilAbove(float decibels, std::chrono::milliseconds timeout) {
    return waitForRun([decibels](float reading) { return reading > decibels; }, timeout);
}

bool LevelSampler::waitUntilBelow(float decibels, std::chrono::milliseconds timeout) {
    return waitForRun([decibels](float reading) { return reading < decibels; }, timeout);
}

std::vector<float> LevelSampler::medianOver(std::chrono::milliseconds duration) {
    ticks_.clear();
    peaks_.clear();
    loudest_.clear();
    runLoopUntil(
        loop_, [] { return false; }, duration);
    if (ticks_.empty() || ticks_.front().empty()) {
        return {};
    }
    std::vector<float> medians;
    for (std::size_t channel = 0; channel < ticks_.front().size(); ++channel) {
        std::vector<float> readings;
        for (const auto& tick : ticks_) {
            if (channel < tick.size()) {
                readings.push_back(tick[channel]);
            }
        }
        medians.push_back(*median(readings));
    }
    return medians;
}

bool runLoopUntil(EventLoop& loop, const std::function<bool()>& done,
                  std::chrono::milliseconds timeout) {
    const auto keepChecking = loop.scheduleRepeatingTimer(0.01, [] {});
    return loop.runUntil(done, timeout);
}

bool containsDevice(const std::vector<AudioDevice>& devices, const std::string& name) {
    return std::any_of(devices.begin(), devices.end(),
                       [&](const AudioDevice& device) { return device.name == name; });
}

ScopedEnvironment::ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) {
        old_ = old;
    }
    setenv(name, value.c_str(), 1);
}

ScopedEnvironment::~ScopedEnvironment() {
    if (old_) {
        setenv(name_, old_->c_str(), 1);
    } else {
        unsetenv(name_);
    }
}
