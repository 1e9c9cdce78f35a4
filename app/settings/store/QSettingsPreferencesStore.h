#pragma once

#include <QSettings>
#include <set>

#include "app/settings/store/PreferencesStore.h"

// What makes the bytes of the settings file `fileName` unfit to be read as they are: values the
// program never writes that the reader would decode as serialized data (a hostile file could make
// it allocate gigabytes), bytes no text file holds, or a section written twice, which the reader
// would merge; in words naming the file. Nothing when they are fit.
std::optional<std::string> settingsFileProblem(const QByteArray& bytes,
                                               const std::string& fileName);

// The settings in the user's Kestrano configuration file ($XDG_CONFIG_HOME/Kestrano/Kestrano.conf).
// The writes reach the file together at commit(), one rewrite of the file for a whole save; a key
// the program did not write keeps its line as it was.
class QSettingsPreferencesStore : public PreferencesStore {
  public:
    QSettingsPreferencesStore();
    // The settings in another file, in the same format (kestrano --config FILE).
    explicit QSettingsPreferencesStore(const QString& fileName);

    std::optional<std::string> stringForKey(std::string_view key) const override;
    std::vector<std::string> storedKeys() const override;
    void setString(std::string_view key, std::optional<std::string> value) override;
    std::optional<std::string> commit() override;

    // A file that could not be read whole (a broken section line, bytes no text file holds) was
    // copied aside as "<file>.damaged-<time>" when the store opened it, before anything could
    // write to it; so was one holding values the program never writes and which the reader would
    // decode as serialized data (@Variant, @DateTime: a hostile file could make it allocate
    // gigabytes), whose lines were then left out of the file. Says so in words; nothing when the
    // file was fine.
    const std::optional<std::string>& damagedFileNotice() const { return damagedFileNotice_; }

    QString fileName() const { return settings_.fileName(); }

  private:
    // Before the file is read: copies a damaged file aside and leaves its serialized values out
    // of it; gives `fileName` back.
    static QString keptAside(const QString& fileName, std::optional<std::string>& notice);

    std::optional<std::string> damagedFileNotice_;
    QSettings settings_;
    // The keys written since the last commit.
    std::set<std::string, std::less<>> written_;
};
