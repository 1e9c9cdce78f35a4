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
    // anything is written to it, and says so in words; nothing when the file was fine.
    std::optional<std::string> keepUnparsableFile();

    QString fileName() const { return settings_.fileName(); }

  private:
    QVariant valueForKey(std::string_view key) const;
    void write(std::string_view key, const QVariant& value);

    QSettings settings_;
};
