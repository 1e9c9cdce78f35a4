#include "app/settings/QSettingsPreferencesStore.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <charconv>

namespace {

QString keyText(std::string_view key) {
    return QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
}

// Where QSettings keeps the user's settings on this system.
QString userSettingsFile() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           "/Kestrano/Kestrano.conf";
}

QString damagedCopyName(const QString& fileName) {
    return fileName + ".damaged-" + QDateTime::currentDateTime().toString("yyyyMMdd-hhmmss-zzz");
}

// A line whose value the file reader would decode with QDataStream.
bool holdsSerializedValue(const QByteArray& line) {
    const qsizetype equals = line.indexOf('=');
    if (equals < 0) {
        return false;
    }
    const QByteArray value = line.mid(equals + 1).trimmed();
    return value.startsWith("@Variant(") || value.startsWith("@DateTime(");
}

}  // namespace

QString QSettingsPreferencesStore::withoutSerializedValues(const QString& fileName,
                                                           std::optional<std::string>& notice) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        return fileName;
    }
    const QList<QByteArray> lines = file.readAll().split('\n');
    file.close();
    QByteArray kept;
    bool left = false;
    for (const QByteArray& line : lines) {
        if (holdsSerializedValue(line)) {
            left = true;
        } else {
            kept += line + '\n';
        }
    }
    if (!left) {
        return fileName;
    }
    kept.chop(1);
    const QString copy = damagedCopyName(fileName);
    if (!QFile::copy(fileName, copy)) {
        notice = "cannot copy " + fileName.toStdString() + " to " + copy.toStdString() +
                 "; left out its serialized values";
    } else {
        notice = "left out serialized values (@Variant, @DateTime) of " + fileName.toStdString() +
                 "; kept it as " + copy.toStdString();
    }
    QSaveFile rewritten(fileName);
    if (rewritten.open(QIODevice::WriteOnly) && rewritten.write(kept) == kept.size()) {
        rewritten.commit();
    }
    return fileName;
}

QSettingsPreferencesStore::QSettingsPreferencesStore()
    : QSettingsPreferencesStore(userSettingsFile()) {}

QSettingsPreferencesStore::QSettingsPreferencesStore(const QString& fileName)
    : settings_(withoutSerializedValues(fileName, serializedValuesNotice_),
                QSettings::NativeFormat) {}

std::optional<std::string> QSettingsPreferencesStore::keepUnparsableFile() {
    if (serializedValuesNotice_) {
        return serializedValuesNotice_;
    }
    if (settings_.status() != QSettings::FormatError) {
        return std::nullopt;
    }
    const QString copy = damagedCopyName(fileName());
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
