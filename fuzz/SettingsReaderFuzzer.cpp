// libFuzzer target: the bytes of a settings file, as a text editor or a broken disk may leave
// it, read by the real settings store, checked by the settings model and taken by a controller's
// start-up (with a fake capture and a fixed clock), then saved back. Nothing may crash, leak or
// read out of bounds, and what is read must satisfy the model's own rules.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "app/control/KestranoController.h"
#include "app/settings/QSettingsPreferencesStore.h"
#include "tests/app/support/FakeAudioCapture.h"
#include "tests/support/Udp.h"
#include "transport/EventLoop.h"

namespace {

struct Reader {
    Reader() {
        char folder[] = "/tmp/kestrano-settings-fuzz-XXXXXX";
        file = std::string(mkdtemp(folder)) + "/Kestrano.conf";
    }

    EventLoop loop;
    std::string file;
    const uint16_t listenPort = freeUdpPort();
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Reader reader;
    std::ofstream(reader.file, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

    QSettingsPreferencesStore store(QString::fromStdString(reader.file));
    // The listener and the sender stay on a port of the fuzzer's own, on loopback: the ports a
    // file names could clash with a run beside it.
    store.setInteger("zandorexListenPort", reader.listenPort);
    store.setInteger("zandorexSendPort", reader.listenPort);
    store.setString("listenAddress", std::string("127.0.0.1"));
    store.setString("zandorexHost", std::nullopt);
    {
        KestranoController controller(reader.loop, store, std::make_unique<FakeAudioCapture>(),
                                      [] { return MonotonicTime{}; });
        controller.awakeFromNib();
        const SettingsModel& settings = controller.settings();
        for (const SettingDefinition& setting : settingsCatalog()) {
            const std::optional<SettingValue> value = settings.value(setting.key);
            // What was taken is a value --set would take, or a listen address held to fail closed.
            if (value && !setting.failsClosed && setting.kind != SettingKind::port &&
                setting.kind != SettingKind::mode && settingValueProblem(setting, *value)) {
                std::fprintf(stderr, "taken but refused: %s\n", std::string(setting.key).c_str());
                std::abort();
            }
        }
        if (!std::isfinite(controller.volumeAmplification() * 20.0f * 1.0e19f)) {
            std::abort();
        }
        controller.save();
    }
    return 0;
}
