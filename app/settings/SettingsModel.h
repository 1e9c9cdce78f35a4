#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/settings/PreferencesStore.h"
#include "app/settings/SettingsCatalog.h"

// The settings in use, one value per catalogue row, read from and written to the preferences
// store the same way whichever path changes them: the settings file, --set, remote control or
// the window. Everything runs on the main thread.
class SettingsModel {
  public:
    // Told after every change, also when the value stayed the same, with the key's name.
    using Listener = std::function<void(std::string_view key)>;
    enum class Write { byPersistence, now };

    explicit SettingsModel(PreferencesStore& store);

    // Reads every key. A stored value that --set would refuse, or that breaks a cross-key rule,
    // reads as absent and is named in notices(); the store keeps it as it was written until a
    // path changes the key.
    void load();
    // "ignored KEY=VALUE", in the order --help lists the keys.
    const std::vector<std::string>& notices() const { return notices_; }

    // The value in use: the one held, otherwise what absence stands for; nothing when absence is
    // a meaning of its own.
    std::optional<SettingValue> value(std::string_view key) const;
    // The value held; nothing when the key is absent.
    const std::optional<SettingValue>& held(std::string_view key) const;
    float decimal(std::string_view key) const;
    int64_t whole(std::string_view key) const;
    bool flag(std::string_view key) const;
    std::optional<std::string> text(std::string_view key) const;

    // Checks the value against its row and the cross-key rules, then takes it (nothing makes the
    // key absent). Gives nothing when taken, otherwise what is wrong, and changes nothing.
    std::optional<std::string> change(std::string_view key, std::optional<SettingValue> value,
                                      Write write = Write::byPersistence);
    // The same from text as --set takes it; an empty text that is no value of the key makes a key
    // whose absence is a meaning of its own absent (the local host, every interface).
    std::optional<std::string> changeFromText(std::string_view key, std::string_view text,
                                              Write write = Write::byPersistence);
    // Takes a value unchecked, as the plain property setters do.
    void assign(std::string_view key, std::optional<SettingValue> value);

    // Writes every key that is kept until saving, in one write of the file. False when the file
    // could not be written; writeError() then says why.
    bool save();
    // Whether the last write reached the store.
    const std::string& writeError() const { return writeError_; }

    // Keeps a listener told for as long as it lives; a part that goes away (or a mapping that is
    // removed) is told nothing more, also in the middle of a change.
    class Subscription {
      public:
        Subscription() = default;
        explicit Subscription(std::shared_ptr<Listener> listener)
            : listener_(std::move(listener)) {}

      private:
        std::shared_ptr<Listener> listener_;
    };
    [[nodiscard]] Subscription subscribe(Listener listener) const;

  private:
    size_t indexOf(std::string_view key) const;
    void storeHeld(const SettingDefinition& setting);
    bool commit();
    void changed(std::string_view key);

    PreferencesStore& store_;
    std::vector<std::optional<SettingValue>> held_;
    // Whether a path changed the key since load(); a key none changed keeps its stored text.
    std::vector<bool> changed_;
    std::vector<std::string> notices_;
    // Who listens is no setting: parts holding the model read-only subscribe too.
    mutable std::vector<std::weak_ptr<Listener>> listeners_;
    std::string writeError_;
};
