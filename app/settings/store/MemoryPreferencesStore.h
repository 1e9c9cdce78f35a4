#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/settings/store/PreferencesStore.h"

// Settings held in memory only: a copy of a store that a run may change without writing it (a
// rehearsal on a recording must leave the show's settings as they are).
class MemoryPreferencesStore : public PreferencesStore {
  public:
    MemoryPreferencesStore() = default;
    // Every key that `original` holds, as it holds it.
    explicit MemoryPreferencesStore(const PreferencesStore& original);

    std::optional<std::string> stringForKey(std::string_view key) const override;
    std::vector<std::string> storedKeys() const override;
    void setString(std::string_view key, std::optional<std::string> value) override;
    std::optional<std::string> commit() override { return std::nullopt; }

  private:
    std::map<std::string, std::string, std::less<>> texts_;
};
