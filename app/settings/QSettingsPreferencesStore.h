#pragma once

#include <QSettings>

#include "app/settings/PreferencesStore.h"

// The settings in the user's Kestrano configuration file ($XDG_CONFIG_HOME/Kestrano/Kestrano.conf).
// The writes reach the file together at commit(), one rewrite of the file for a whole save.
class QSettingsPreferencesStore : public PreferencesStore {
  public:
    QSettingsPreferencesStore();
    // The settings in another file, in the same format (kestrano --config FILE).
    explicit QSettingsPreferencesStore(const QString& fileName);

    int64_t integerForKey(std::string_view key) const override;
    float floatForKey(std::string_view key) const override;
    std::optional<bool> boolObjectForKey(std::string_view key) const override;
    std::optional<std::string> stringForKey(std::string_view key) const override;

    void setInteger(std::string_view key, int64_t value) override;
    void setFloat(std::string_view key, float value) override;
    void setBool(std::string_view key, bool value) override;
    void setString(std::string_view key, std::optional<std::string> value) override;
    std::optional<std::string> commit() override;

    // When the file could not be parsed, copies it aside as "<file>.damaged-<time>" before
    // anything is written to it, and says so in words; nothing when the file was fine. The same
    // for values the program never writes and which the file reader would decode as serialized
    // data (@Variant, @DateTime): a hostile file could make it allocate gigabytes. Those lines
    // were left out of the file before it was read, once the copy was made.
    std::optional<std::string> keepUnparsableFile();

    QString fileName() const { return settings_.fileName(); }

  private:
    // Before the file is read: copies a file holding serialized values aside and leaves those
    // lines out of it; gives `fileName` back.
    static QString withoutSerializedValues(const QString& fileName,
                                           std::optional<std::string>& notice);
    QVariant valueForKey(std::string_view key) const;
    void write(std::string_view key, const QVariant& value);

    std::optional<std::string> serializedValuesNotice_;
    QSettings settings_;
};
