#include "app/settings/store/QSettingsPreferencesStore.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringDecoder>
#include <algorithm>
#include <set>

#include "app/settings/store/OriginalLines.h"

namespace {

QString keyText(std::string_view key) {
    return QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
}

// Where QSettings keeps the user's settings on this system.
QString userSettingsFile() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           "/Kestrano/Kestrano.conf";
}

QByteArray fileBytes(const QString& fileName) {
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Copies the file aside and says so, after `what` was found wrong with it.
std::string copyAside(const QString& fileName, const std::string& what) {
    const QString copy =
        fileName + ".damaged-" + QDateTime::currentDateTime().toString("yyyyMMdd-hhmmss-zzz");
    if (!QFile::copy(fileName, copy)) {
        return what + " and cannot copy it to " + copy.toStdString();
    }
    return what + "; kept it as " + copy.toStdString();
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

// The reader takes any bytes, turning what is not UTF-8 into replacement characters and passing
// control characters on: a file holding them is not the text anybody wrote, so its bytes are kept.
bool isText(const QByteArray& bytes) {
    for (const char byte : bytes) {
        const auto code = static_cast<unsigned char>(byte);
        if ((code < 0x20 && code != '\t' && code != '\n' && code != '\r') || code == 0x7f) {
            return false;
        }
    }
    QStringDecoder utf8(QStringDecoder::Utf8);
    [[maybe_unused]] const QString decoded = utf8.decode(bytes);
    return !utf8.hasError();
}

// The first section that heads two parts of the file, where there is one. The reader merges
// them and the writer would put them back as one, losing the order and the comments between.
// Keys before any section line are in [General].
std::optional<std::string> repeatedSection(const QByteArray& bytes) {
    std::set<QByteArray> seen;
    for (const QByteArray& line : bytes.split('\n')) {
        const QByteArray content = line.trimmed();
        QByteArray section;
        if (content.startsWith('[') && content.endsWith(']')) {
            section = content.mid(1, content.size() - 2);
        } else if (seen.empty() && content.contains('=') && !content.startsWith(';') &&
                   !content.startsWith('#')) {
            section = "General";
        } else {
            continue;
        }
        if (!seen.insert(section).second) {
            return section.toStdString();
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> settingsFileProblem(const QByteArray& bytes,
                                               const std::string& fileName) {
    if (std::ranges::any_of(bytes.split('\n'), holdsSerializedValue)) {
        return fileName + " holds serialized values (@Variant, @DateTime), which no setting takes";
    }
    if (!isText(bytes)) {
        return "cannot parse " + fileName;
    }
    if (const std::optional<std::string> repeated = repeatedSection(bytes)) {
        return "section [" + *repeated + "] written twice in " + fileName;
    }
    return std::nullopt;
}

QString QSettingsPreferencesStore::keptAside(const QString& fileName,
                                             std::optional<std::string>& notice) {
    const QByteArray bytes = fileBytes(fileName);
    const std::optional<std::string> problem = settingsFileProblem(bytes, fileName.toStdString());
    if (!problem) {
        return fileName;
    }
    QByteArray kept;
    bool serialized = false;
    for (const QByteArray& line : bytes.split('\n')) {
        if (holdsSerializedValue(line)) {
            serialized = true;
        } else {
            kept += line + '\n';
        }
    }
    notice =
        copyAside(fileName, serialized ? "left out serialized values (@Variant, @DateTime) of " +
                                             fileName.toStdString()
                                       : *problem);
    if (serialized) {
        kept.chop(1);
        QSaveFile rewritten(fileName);
        if (rewritten.open(QIODevice::WriteOnly) && rewritten.write(kept) == kept.size()) {
            rewritten.commit();
        }
    }
    return fileName;
}

QSettingsPreferencesStore::QSettingsPreferencesStore()
    : QSettingsPreferencesStore(userSettingsFile()) {}

QSettingsPreferencesStore::QSettingsPreferencesStore(const QString& fileName)
    : settings_(keptAside(fileName, damagedFileNotice_), QSettings::NativeFormat) {
    // A section line the reader could not parse; nothing has written to the file yet.
    if (!damagedFileNotice_ && settings_.status() == QSettings::FormatError) {
        damagedFileNotice_ = copyAside(fileName, "cannot parse " + fileName.toStdString());
    }
}

std::optional<std::string> QSettingsPreferencesStore::stringForKey(std::string_view key) const {
    const QVariant value = settings_.value(keyText(key));
    if (!value.isValid()) {
        return std::nullopt;
    }
    // The reader splits a value at commas outside quotes (remoteControlFrom=10.0.0.1,::1 as
    // people write it); the text is the list as written, and its parser drops the spaces.
    if (value.typeId() == QMetaType::QStringList) {
        return value.toStringList().join(',').toStdString();
    }
    return value.toString().toStdString();
}

std::vector<std::string> QSettingsPreferencesStore::storedKeys() const {
    std::vector<std::string> keys;
    for (const QString& key : settings_.allKeys()) {
        keys.push_back(key.toStdString());
    }
    return keys;
}

void QSettingsPreferencesStore::setString(std::string_view key, std::optional<std::string> value) {
    // The file's writer sorts the keys and drops comments: a file in which nothing changed is
    // left as the technician wrote it (every start stores the send port again).
    if (stringForKey(key) == value) {
        return;
    }
    written_.emplace(key);
    if (!value) {
        settings_.remove(keyText(key));
        return;
    }
    settings_.setValue(keyText(key), QString::fromStdString(*value));
}

std::optional<std::string> QSettingsPreferencesStore::commit() {
    const QByteArray before = fileBytes(fileName());
    settings_.sync();
    // The writer re-encoded every key; those the program did not write get their bytes back.
    const std::string written = fileBytes(fileName()).toStdString();
    const std::string kept = withOriginalLines(before.toStdString(), written, written_);
    written_.clear();
    if (kept != written) {
        QSaveFile file(fileName());
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(kept.data(), static_cast<qint64>(kept.size())) !=
                static_cast<qint64>(kept.size()) ||
            !file.commit()) {
            return "cannot write " + fileName().toStdString();
        }
    }
    // A file that could not be parsed is still written; only a refused write is a failure. The
    // status keeps its first error, so a file that could not be parsed is asked directly.
    const QFileInfo file(fileName());
    if (settings_.status() == QSettings::AccessError || !file.exists() || !file.isWritable()) {
        return "cannot write " + fileName().toStdString();
    }
    return std::nullopt;
}
