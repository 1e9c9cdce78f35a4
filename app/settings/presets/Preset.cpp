#include "app/settings/presets/Preset.h"

#include <QFile>

#include "app/settings/values/DisplayText.h"

Preset::Preset(const QString& file) : file_(file), store_(file), settings_(store_) {
    settings_.load();
}

std::unique_ptr<Preset> Preset::read(const QString& file, std::string& problem) {
    const std::string name = file.toStdString();
    QFile opened(file);
    if (!opened.open(QIODevice::ReadOnly)) {
        problem = "cannot read " + name;
        return nullptr;
    }
    if (opened.size() > kLargestFile) {
        problem = name + " is larger than " + std::to_string(kLargestFile / 1024) + " KiB";
        return nullptr;
    }
    // Checked before the file's reader sees it: serialized values it would decode.
    if (std::optional<std::string> unfit = settingsFileProblem(opened.readAll(), name)) {
        problem = std::move(*unfit);
        return nullptr;
    }
    std::unique_ptr<Preset> preset(new Preset(file));
    if (std::optional<std::string> wrong = preset->problem()) {
        problem = std::move(*wrong);
        return nullptr;
    }
    return preset;
}

std::optional<std::string> Preset::problem() const {
    if (const std::optional<std::string>& damaged = store_.damagedFileNotice()) {
        return damaged;
    }
    const std::string name = file_.toStdString();
    for (const std::string& key : store_.storedKeys()) {
        if (key.find('/') != std::string::npos) {
            continue;  // a mapping's: the model names what is wrong with it
        }
        const SettingDefinition* setting = findSetting(key);
        if (setting == nullptr) {
            return name + ": unknown setting '" + quotedRequestText(key) + "'";
        }
        if (!inSetUp(*setting)) {
            return name + ": " + key + " is this machine's setting, which a preset does not hold";
        }
    }
    if (!settings_.notices().empty()) {
        // "ignored kick/type=often: expected ..." without the word a settings file's notice
        // begins with: the whole preset is refused, not the line.
        const std::string& notice = settings_.notices().front();
        return name + ": " + notice.substr(notice.find(' ') + 1);
    }
    return std::nullopt;
}
