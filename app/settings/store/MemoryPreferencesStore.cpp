#include "app/settings/store/MemoryPreferencesStore.h"

MemoryPreferencesStore::MemoryPreferencesStore(const PreferencesStore& original) {
    for (const std::string& key : original.storedKeys()) {
        if (const std::optional<std::string> text = original.stringForKey(key)) {
            texts_[key] = *text;
        }
    }
}

std::optional<std::string> MemoryPreferencesStore::stringForKey(std::string_view key) const {
    const auto found = texts_.find(key);
    return found != texts_.end() ? std::optional(found->second) : std::nullopt;
}

std::vector<std::string> MemoryPreferencesStore::storedKeys() const {
    std::vector<std::string> keys;
    keys.reserve(texts_.size());
    for (const auto& [key, text] : texts_) {
        keys.push_back(key);
    }
    return keys;
}

void MemoryPreferencesStore::setString(std::string_view key, std::optional<std::string> value) {
    if (value) {
        texts_.insert_or_assign(std::string(key), std::move(*value));
    } else if (const auto found = texts_.find(key); found != texts_.end()) {
        texts_.erase(found);
    }
}
