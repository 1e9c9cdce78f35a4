// libFuzzer target: datagrams arriving at the listen port with remote control on, through the
// whole incoming route of a real controller: the monitor's rendering, the decoder and the walk of
// nested bundles, remote commands (set, get, save and the errors) and the replies sent back. The
// capture is a fake and the clock steps a millisecond per input, so that a run is repeatable.

#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "app/control/KestranoController.h"
#include "tests/app/support/FakeAudioCapture.h"
#include "tests/support/Udp.h"
#include "transport/EventLoop.h"
#include "transport/NetworkEndpointText.h"

namespace {

// Preferences kept in memory as the texts a settings file holds: /kestrano/save runs on every
// few inputs, and a file written each time would make disk speed the fuzzer's speed.
class MemoryPreferences : public PreferencesStore {
  public:
    std::optional<std::string> stringForKey(std::string_view key) const override {
        const auto found = values_.find(key);
        return found == values_.end() ? std::nullopt : std::optional(found->second);
    }
    std::vector<std::string> storedKeys() const override {
        std::vector<std::string> keys;
        for (const auto& [key, value] : values_) {
            keys.push_back(key);
        }
        return keys;
    }
    void setString(std::string_view key, std::optional<std::string> value) override {
        if (value) {
            values_[std::string(key)] = std::move(*value);
        } else if (const auto found = values_.find(key); found != values_.end()) {
            values_.erase(found);
        }
    }
    std::optional<std::string> commit() override { return std::nullopt; }

  private:
    std::map<std::string, std::string, std::less<>> values_;
};

struct Route {
    Route() {
        // Replies go to a port of our own, which the fuzzer never reads: the kernel drops what
        // does not fit, and no other program sees a thing.
        preferences.setInteger("zandorexSendPort", sink.port());
        preferences.setInteger("zandorexListenPort", freeUdpPort());
        // A further mapping, so that NAME/KEY commands reach its settings.
        preferences.setString("mappings", "kick");
        const AudioDevice microphone{"alsa_input.usb-mic", "USB microphone"};
        controller = std::make_unique<KestranoController>(
            loop, preferences,
            std::make_unique<FakeAudioCapture>(std::vector<AudioDevice>{microphone}, microphone),
            [this] { return now; });
        controller->awakeFromNib();
        controller->settings().change("remoteControl", true);
        source = *numericEndpoint("127.0.0.1", sink.port());
    }

    // Runs what the input left posted to the main loop, so that nothing piles up between inputs.
    void drain() {
        bool reached = false;
        loop.postToMainThread([&reached] { reached = true; });
        loop.runUntil([&reached] { return reached; }, std::chrono::seconds(5));
    }

    EventLoop loop;
    MemoryPreferences preferences;
    UdpReceiver sink;
    MonotonicTime now{};
    std::unique_ptr<KestranoController> controller;
    NetworkEndpoint source;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Route route;
    route.now += std::chrono::milliseconds(1);
    route.controller->packetFromZandorexWithSource(
        std::make_shared<const QVOSCData>(data, data + size), route.source);
    route.drain();
    return 0;
}
