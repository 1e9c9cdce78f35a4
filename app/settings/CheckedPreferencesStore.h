#pragma once

#include <string>
#include <vector>

#include "app/settings/PreferencesStore.h"

// The stored settings as the program reads them: a stored value that `--set` would refuse
// reads as absent, so that the same default applies as for a missing key. The file keeps the
// value until the setting is written again; nothing is destroyed behind the technician's back.
class CheckedPreferencesStore : public PreferencesStore {
  public:
    // Checks every stored setting once, now.
    explicit CheckedPreferencesStore(PreferencesStore& store);

    // "ignored KEY=VALUE", one for each refused value, in the order --help lists the keys.
    const std::vector<std::string>& ignoredValues() const { return ignoredValues_; }

    int64_t integerForKey(std::string_view key) const override;
    float floatForKey(std::string_view key) const override;
    std::optional<bool> boolObjectForKey(std::string_view key) const override;
    std::optional<std::string> stringForKey(std::string_view key) const override;

    void setInteger(std::string_view key, int64_t value) override;
    void setFloat(std::string_view key, float value) override;
    void setBool(std::string_view key, bool value) override;
    void setString(std::string_view key, std::optional<std::string> value) override;

  private:
    bool ignored(std::string_view key) const;
    void written(std::string_view key);

    PreferencesStore& store_;
    std::vector<std::string> ignoredKeys_;
    std::vector<std::string> ignoredValues_;
};
