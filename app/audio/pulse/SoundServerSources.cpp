#include "app/audio/pulse/SoundServerSources.h"

#include <mutex>

#include "app/audio/level/ShownText.h"
#include "app/audio/pulse/PulseServerLink.h"
#include "app/audio/pulse/PulseThreadedLoop.h"

namespace {

// Far longer than any real name; a server that sends more is not to be believed.
constexpr std::size_t kLongestShown = 1024;

}  // namespace

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
            sources->sources.push_back({source.device, source.sampleSpec.channels});
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
    for (const auto& [device, channels] : sources.sources) {
        text += (device.name == sources.defaultName ? "* " : "  ") +
                shownText(device.name, kLongestShown) + "\t" +
                shownText(device.description, kLongestShown) + "\t" + std::to_string(channels) +
                (channels == 1 ? " channel\n" : " channels\n");
    }
    return text;
}
