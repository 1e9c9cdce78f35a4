#include "app/settings/QSettingsPreferencesStore.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <charconv>

namespace {

QString keyText(std::string_view key) {
    return QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
}

}  // namespace

QSettingsPreferencesStore::QSettingsPreferencesStore()
    : settings_(QSettings::NativeFormat, QSettings::UserScope, "Kestrano", "Kestrano") {}

QSettingsPreferencesStore::QSettingsPreferencesStore(const QString& fileName)
    : settings_(fileName, QSettings::NativeFormat) {}

std::optional<std::string> QSettingsPreferencesStore::keepUnparsableFile() {
    if (settings_.status() != QSettings::FormatError) {
        return std::nullopt;
    }
    const QString copy =
        fileName() + ".damaged-" + QDateTime::currentDateTime().toString("yyyyMMdd-hhmmss-zzz");
    const std::string original = fileName().toStdString();
    if (!QFile::copy(fileName(), copy)) {
        return "cannot parse " + original + " and cannot copy it to " + copy.toStdString();
    }
    return "cannot parse " + original + "; kept it as " + copy.toStdString();
}

QVariant QSettingsPreferencesStore::valueForKey(std::string_view key) const {
    return settings_.value(keyText(key));
}

int64_t QSettingsPreferencesStore::integerForKey(std::string_view key) const {
    bool ok = false;
    const qlonglong value = valueForKey(key).toLongLong(&ok);
    return ok ? value : 0;
}

float QSettingsPreferencesStore::floatForKey(std::string_view key) const {
    bool ok = false;
    const float value = valueForKey(key).toFloat(&ok);
    return ok ? value : 0.0f;
}

std::optional<bool> QSettingsPreferencesStore::boolObjectForKey(std::string_view key) const {
    const QVariant value = valueForKey(key);
    if (!value.isValid()) {
        return std::nullopt;
    }
    return value.toBool();
}

std::optional<std::string> QSettingsPreferencesStore::stringForKey(std::string_view key) const {
    const QVariant value = valueForKey(key);
    if (!value.isValid()) {
        return std::nullopt;
    }
    return value.toString().toStdString();
}

void QSettingsPreferencesStore::write(std::string_view key, const QVariant& value) {
    settings_.setValue(keyText(key), value);
}

void QSettingsPreferencesStore::setInteger(std::string_view key, int64_t value) {
    write(key, QVariant::fromValue<qlonglong>(value));
}

void QSettingsPreferencesStore::setFloat(std::string_view key, float value) {
    // The shortest text that reads back as the same float: 0.4, not 0.4000000059604645.
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, value);
    write(key, QString::fromLatin1(text, static_cast<qsizetype>(written.ptr - text)));
}

void QSettingsPreferencesStore::setBool(std::string_view key, bool value) {
    write(key, value);
}

void QSettingsPreferencesStore::setString(std::string_view key, std::optional<std::string> value) {
    if (!value) {
        settings_.remove(keyText(key));
        return;
    }
    write(key, QString::fromStdString(*value));
}

std::optional<std::string> QSettingsPreferencesStore::commit() {
    settings_.sync();
    // A file that could not be parsed is still written; only a refused write is a failure. The
    // status keeps its first error, so a file that could not be parsed is asked directly.
    const QFileInfo file(fileName());
    if (settings_.status() == QSettings::AccessError || !file.exists() || !file.isWritable()) {
        return "cannot write " + fileName().toStdString();
    }
    return std::nullopt;
}
