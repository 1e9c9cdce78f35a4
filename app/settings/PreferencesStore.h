#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The per-user key-value store the settings live in. The number readers cannot tell a missing
// key from a stored 0; the object readers can. Writes are held until commit().
class PreferencesStore {
  public:
    virtual ~PreferencesStore() = default;

    // 0 for a missing key or a value that is not a number.
    virtual int64_t integerForKey(std::string_view key) const = 0;
    virtual float floatForKey(std::string_view key) const = 0;
    // Nothing for a missing key.
    virtual std::optional<bool> boolObjectForKey(std::string_view key) const = 0;
    virtual std::optional<std::string> stringForKey(std::string_view key) const = 0;

    virtual void setInteger(std::string_view key, int64_t value) = 0;
    virtual void setFloat(std::string_view key, float value) = 0;
    virtual void setBool(std::string_view key, bool value) = 0;
    // Nothing removes the key.
    virtual void setString(std::string_view key, std::optional<std::string> value) = 0;
    // Writes what was set since the last commit to the store's file, at once; nothing when that
    // worked, otherwise why not, in words.
    virtual std::optional<std::string> commit() = 0;
};
