#include "app/audio/SoundServerSources.h"

#include <mutex>

#include "app/audio/PulseServerLink.h"
#include "app/audio/PulseThreadedLoop.h"

std::optional<SoundServerSources> readSoundServerSources(std::chrono::milliseconds timeout,
                                                         std::string& error) {
    PulseThreadedLoop loop;
    PulseServerLink link(loop, [](PulseServerLink::Event) {});
    std::lock_guard lock(loop);
    link.connect();
    loop.waitUntil([&link] { return link.firstAttemptSettled(); }, timeout);
    std::optional<SoundServerSources> sources;
    if (link.isReady()) {
        sources.emplace();
        for (const PulseSource& source : link.sources()) {
            sources->devices.push_back(source.device);
        }
        sources->defaultName = link.defaultSourceName();
    } else {
        error = link.firstAttemptSettled() ? link.lastError() : "no answer";
    }
    link.close();
    return sources;
}

std::string sourceListText(const SoundServerSources& sources) {
    std::string text;
    for (const AudioDevice& device : sources.devices) {
        text += (device.name == sources.defaultName ? "* " : "  ") + device.name + "\t" +
                device.description + "\n";
    }
    return text;
}
