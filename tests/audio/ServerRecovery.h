#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "app/audio/AudioCapture.h"
#include "transport/EventLoop.h"

// What the controller does with the capture's news: drop a vanished input; after the server
// came back, select the remembered device if present, else the default; take the remembered
// device when it appears later (a server adds its devices after it accepts connections).
struct ControllerStandIn {
    explicit ControllerStandIn(AudioCapture& capture);

    AudioCapture& capture;
    std::optional<AudioDevice> remembered;
    int devicesChanges = 0;
    int reconnections = 0;

  private:
    bool rememberedIsPresent() const;
};

// What counts as the level being back: a fast-response fragment of a -6 dBFS tone played into
// "feed" (above -40 dBFS), or any fragment at all, for a source that is silent.
enum class AwaitedLevel { tone, any };

// How long the level took to come back after the sound server was started again.
struct Recovery {
    // From the server's socket first taking a connection.
    std::chrono::milliseconds sinceAccepting{};
    // From the server being ready with its devices (the start command returned), when the tone
    // starts; the tone's own start-up is part of it.
    std::chrono::milliseconds sinceReady{};
    // When a peer, parec started on the same source as the server was ready, first heard the
    // tone (or anything), from the server being ready: what the server itself takes (a fresh
    // PulseAudio's null sink delivers its first audio up to two seconds after it started).
    std::optional<std::chrono::milliseconds> peerSinceReady;
};

// With the server down and `capture` running with fast response on `source` of it: runs `start`
// on a thread of its own while `loop` runs, watches the socket that PULSE_SERVER names, plays
// the tone once `start` returned true. Nothing when `start` failed or the level was not back
// within `timeout`.
std::optional<Recovery> measureRecovery(EventLoop& loop, AudioCapture& capture,
                                        const std::string& source,
                                        const std::function<bool()>& start,
                                        std::chrono::milliseconds timeout,
                                        AwaitedLevel awaited = AwaitedLevel::tone);
