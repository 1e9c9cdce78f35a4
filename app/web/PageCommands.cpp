#include "app/web/PageCommands.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <array>
#include <string_view>

#include "app/control/KestranoController.h"
#include "app/settings/SettingsKeys.h"

namespace {

namespace keys = settings_keys;

constexpr std::array pageKeys{keys::active, keys::triggerOnThreshold, keys::triggerOffThreshold,
                              keys::bandLowCut, keys::bandHighCut};

}  // namespace

std::optional<std::string> obeyPageCommand(const QByteArray& message,
                                           KestranoController& controller) {
    const QJsonDocument document = QJsonDocument::fromJson(message);
    const QJsonObject command = document.object();
    const QString what = command.value("do").toString();
    if (what == "tap" && command.size() == 1) {
        controller.tapTempo();
        return std::nullopt;
    }
    if (what == "preset" && command.size() == 2 && command.value("name").isString()) {
        return controller.switchPreset(command.value("name").toString().toStdString());
    }
    if (what != "set" || command.size() != 3 || !command.value("key").isString() ||
        !command.value("value").isString()) {
        return "the page sent what it may not: a tap, a preset or a mapping's setting is taken";
    }
    const std::string key = command.value("key").toString().toStdString();
    const std::optional<ScopedKey> scoped = parseScopedKey(key);
    if (!scoped || std::ranges::find(pageKeys, scoped->setting->key) == pageKeys.end()) {
        return "the page does not set " + std::string(scoped ? scoped->setting->key : "that key") +
               ": a mapping's active, thresholds and band only";
    }
    return controller.settings().changeFromText(key,
                                                command.value("value").toString().toStdString());
}
