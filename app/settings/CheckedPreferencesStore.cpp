#include "app/settings/CheckedPreferencesStore.h"

#include <algorithm>

#include "app/settings/SettingsCatalog.h"

CheckedPreferencesStore::CheckedPreferencesStore(PreferencesStore& store) : store_(store) {
    for (const SettingDefinition& setting : settingsCatalog()) {
        // A stored port keeps its long-standing meaning: its low 16 bits, 0 for none.
        if (setting.kind == SettingKind::port) {
            continue;
        }
        const std::optional<std::string> text = store_.stringForKey(setting.key);
        std::string error;
        if (text && !parseSettingValue(setting, *text, error)) {
            ignoredKeys_.emplace_back(setting.key);
            ignoredValues_.push_back("ignored " + std::string(setting.key) + "=" + *text);
        }
    }
}

bool CheckedPreferencesStore::ignored(std::string_view key) const {
    return std::find(ignoredKeys_.begin(), ignoredKeys_.end(), key) != ignoredKeys_.end();
}

void CheckedPreferencesStore::written(std::string_view key) {
    std::erase(ignoredKeys_, key);
}

int64_t CheckedPreferencesStore::integerForKey(std::string_view key) const {
    return ignored(key) ? 0 : store_.integerForKey(key);
}

float CheckedPreferencesStore::floatForKey(std::string_view key) const {
    return ignored(key) ? 0.0f : store_.floatForKey(key);
}

std::optional<bool> CheckedPreferencesStore::boolObjectForKey(std::string_view key) const {
    return ignored(key) ? std::nullopt : store_.boolObjectForKey(key);
}

std::optional<std::string> CheckedPreferencesStore::stringForKey(std::string_view key) const {
    return ignored(key) ? std::nullopt : store_.stringForKey(key);
}

void CheckedPreferencesStore::setInteger(std::string_view key, int64_t value) {
    written(key);
    store_.setInteger(key, value);
}

void CheckedPreferencesStore::setFloat(std::string_view key, float value) {
    written(key);
    store_.setFloat(key, value);
}

void CheckedPreferencesStore::setBool(std::string_view key, bool value) {
    written(key);
    store_.setBool(key, value);
}

void CheckedPreferencesStore::setString(std::string_view key, std::optional<std::string> value) {
    written(key);
    store_.setString(key, std::move(value));
}
