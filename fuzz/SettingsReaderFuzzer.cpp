// libFuzzer target: the bytes of a settings file, as a text editor or a broken disk may leave
// it, read by the real settings store, checked by the settings model and taken by a controller's
// start-up (with a fake capture and a fixed clock), then saved back. Nothing may crash, leak or
// read out of bounds, and what is read must satisfy the model's own rules.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "app/control/KestranoController.h"
#include "app/settings/store/QSettingsPreferencesStore.h"
#include "tests/app/support/FakeAudioCapture.h"
#include "tests/support/Udp.h"
#include "transport/EventLoop.h"

namespace {

// The settings file as the program reads it, with what the fuzzer fixes and what the program
// writes kept in memory: a write would rewrite the file for every input, and the file's own
// bytes are what is fuzzed.
class FixedStore : public PreferencesStore {
  public:
    using Held = std::map<std::string, std::optional<std::string>, std::less<>>;
    FixedStore(const PreferencesStore& file, Held fixed) : file_(file), held_(std::move(fixed)) {}

    std::optional<std::string> stringForKey(std::string_view key) const override {
        if (const auto found = held_.find(key); found != held_.end()) {
            return found->second;
        }
        return file_.stringForKey(key);
    }
    std::vector<std::string> storedKeys() const override {
        std::vector<std::string> keys;
        for (const std::string& key : file_.storedKeys()) {
            if (!held_.contains(key)) {
                keys.push_back(key);
            }
        }
        for (const auto& [key, value] : held_) {
            if (value) {
                keys.push_back(key);
            }
        }
        return keys;
    }
    void setString(std::string_view key, std::optional<std::string> value) override {
        held_[std::string(key)] = std::move(value);
    }
    std::optional<std::string> commit() override { return std::nullopt; }

  private:
    const PreferencesStore& file_;
    // A key held as nothing was removed.
    Held held_;
};

struct Reader {
    Reader() {
        // In memory where the system offers it: the file is written for every input.
        char name[] = "/dev/shm/kestrano-settings-fuzz-XXXXXX";
        folder = mkdtemp(name);
        file = folder / "Kestrano.conf";
    }
    ~Reader() { std::filesystem::remove_all(folder); }

    std::filesystem::path folder;
    std::string file;
    const uint16_t port = freeUdpPort();
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Reader reader;
    // Copies of damaged files made by the previous input go.
    for (const auto& entry : std::filesystem::directory_iterator(reader.folder)) {
        std::filesystem::remove(entry.path());
    }
    std::ofstream(reader.file, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

    const QSettingsPreferencesStore file(QString::fromStdString(reader.file));
    // No listener (a listen address that is none fails closed, which also spares a thread per
    // input) and a sender to a port of the fuzzer's own: the ports a file names could clash
    // with a run beside it.
    FixedStore store(file, {{"listenAddress", "none"},
                            {"zandorexSendPort", std::to_string(reader.port)},
                            {"zandorexHost", std::nullopt},
                            {"zandorexProtocol", std::nullopt}});
    {
        // A loop of each input's own: what the controller posts and the loop never runs goes with
        // it, where a shared one would keep it from input to input.
        EventLoop loop;
        KestranoController controller(loop, store, std::make_unique<FakeAudioCapture>(),
                                      [] { return MonotonicTime{}; });
        controller.awakeFromNib();
        const SettingsModel& settings = controller.settings();
        std::vector<std::string> mappings = settings.mappingNames();
        mappings.insert(mappings.begin(), std::string());
        for (const std::string& mapping : mappings) {
            for (const SettingDefinition& setting : settingsCatalog()) {
                const std::string key = scopedKey(mapping, setting.key);
                if (!mapping.empty() && setting.scope != SettingScope::mapping) {
                    continue;
                }
                const std::optional<SettingValue> value = settings.value(key);
                // What was taken is a value --set would take, or a listen address held to fail
                // closed.
                if (value && !setting.failsClosed && setting.kind != SettingKind::mode &&
                    settingValueProblem(setting, *value)) {
                    std::fprintf(stderr, "taken but refused: %s\n", key.c_str());
                    std::abort();
                }
            }
        }
        if (!std::isfinite(controller.volumeAmplification() * 20.0f * 1.0e19f)) {
            std::abort();
        }
        controller.save();
    }
    return 0;
}
