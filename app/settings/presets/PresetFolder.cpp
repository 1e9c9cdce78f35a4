#include "app/settings/presets/PresetFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cstdio>

#include "app/settings/presets/PresetName.h"
#include "app/settings/values/DisplayText.h"

namespace {

constexpr std::string_view presetSuffix = ".conf";

}  // namespace

PresetFolder::PresetFolder(const QString& settingsFile) {
    const QFileInfo file(settingsFile);
    path_ = file.dir().filePath(file.completeBaseName() + ".presets");
}

QString PresetFolder::fileOf(std::string_view name) const {
    return QDir(path_).filePath(QString::fromUtf8(name.data(), std::ssize(name)) +
                                QString::fromUtf8(presetSuffix.data(), std::ssize(presetSuffix)));
}

std::vector<std::string> PresetFolder::names() const {
    std::vector<std::string> names;
    const QStringList files = QDir(path_).entryList(QDir::Files | QDir::Hidden, QDir::NoSort);
    for (const QString& file : files) {
        const std::string text = file.toStdString();
        if (!text.ends_with(presetSuffix)) {
            continue;
        }
        const std::string name = text.substr(0, text.size() - presetSuffix.size());
        if (!presetNameProblem(name)) {
            names.push_back(name);
        }
    }
    std::ranges::sort(names, [](const std::string& one, const std::string& other) {
        return QString::fromStdString(one).compare(QString::fromStdString(other),
                                                   Qt::CaseInsensitive) < 0;
    });
    return names;
}

std::unique_ptr<Preset> PresetFolder::read(std::string_view name, std::string& problem) const {
    for (const std::string& stored : names()) {
        if (samePresetName(stored, name)) {
            return Preset::read(fileOf(stored), problem);
        }
    }
    problem = "no preset named '" + quotedRequestText(name) + "' in " + path_.toStdString();
    return nullptr;
}

std::optional<std::string> PresetFolder::nameProblem(std::string_view name) const {
    if (std::optional<std::string> problem = presetNameProblem(name)) {
        return problem;
    }
    for (const std::string& stored : names()) {
        if (stored != name && samePresetName(stored, name)) {
            return "'" + quotedRequestText(name) + "' cannot name a preset: the preset '" +
                   quotedRequestText(stored) + "' has it, without regard to case";
        }
    }
    return std::nullopt;
}

std::optional<std::string> PresetFolder::save(std::string_view name,
                                              const SettingsModel& settings) const {
    if (std::optional<std::string> problem = nameProblem(name)) {
        return problem;
    }
    if (!QDir().mkpath(path_)) {
        return "cannot create " + path_.toStdString();
    }
    // Beside the preset, so that putting it in place is one rename on one file system; a name
    // that is no preset's, so that a crash leaves nothing that is listed.
    const QString written =
        QDir(path_).filePath(QString(".%1.saving-%2")
                                 .arg(QString::fromUtf8(name.data(), std::ssize(name)))
                                 .arg(QCoreApplication::applicationPid()));
    const QString target = fileOf(name);
    const auto failed = [&](const QString& file) {
        QFile::remove(written);
        return std::optional("cannot write " + file.toStdString());
    };
    {
        // The writer leaves out a file without keys: an empty set-up is a file too.
        QFile empty(written);
        if (!empty.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            return failed(written);
        }
    }
    {
        QSettingsPreferencesStore store(written);
        settings.writeSetUp(store);
        if (store.commit()) {
            return failed(written);
        }
    }
    if (std::rename(written.toLocal8Bit().constData(), target.toLocal8Bit().constData()) != 0) {
        return failed(target);
    }
    return std::nullopt;
}
