#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The per-user key-value store the settings live in. The number readers cannot tell a missing
// key from a stored 0; the object readers can. Writes are held until commit().
//
// Every value is kept as the text a settings file holds, so a store implements the text reader
// and writer only; the numbers and flags go through the same texts in every store, the file's
// and those kept in memory alike.
class PreferencesStore {
  public:
    virtual ~PreferencesStore() = default;

    // 0 for a missing key or a value that is not a number.
    virtual int64_t integerForKey(std::string_view key) const;
    virtual float floatForKey(std::string_view key) const;
    // Nothing for a missing key.
    virtual std::optional<bool> boolObjectForKey(std::string_view key) const;
    // The text as written, a list as the one text it was written as ("1,2").
    virtual std::optional<std::string> stringForKey(std::string_view key) const = 0;
    // Every key held, a section's as "SECTION/KEY".
    virtual std::vector<std::string> storedKeys() const = 0;

    virtual void setInteger(std::string_view key, int64_t value);
    virtual void setFloat(std::string_view key, float value);
    virtual void setBool(std::string_view key, bool value);
    // Nothing removes the key.
    virtual void setString(std::string_view key, std::optional<std::string> value) = 0;
    // Writes what was set since the last commit to the store's file, at once; nothing when that
    // worked, otherwise why not, in words.
    virtual std::optional<std::string> commit() = 0;
    // Calls `then` once what was committed so far reached the store's file, with why not when it
    // did not. A store that writes at commit() has nothing pending and calls it at once.
    virtual void whenWritten(std::function<void(const std::optional<std::string>&)> then);
};

// The shortest text that reads back as the same float: 0.4, not 0.4000000059604645.
std::string shortestFloatText(float value);
