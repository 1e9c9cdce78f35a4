#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/settings/SettingsCatalog.h"
#include "app/settings/store/PreferencesStore.h"

// The settings in use, one value per catalogue row and, for every mapping that `mappings` lists,
// one per mapping row, read from and written to the preferences store the same way whichever
// path changes them: the settings file, --set, remote control or the window. Everything runs on
// the main thread.
//
// Keys are the catalogue's keys, a listed mapping's as "NAME/KEY" (scopedKey()). Naming any
// other key is a programming error: paths that take keys from outside check them with
// keyProblem() first.
class SettingsModel {
  public:
    // Told after every change, also when the value stayed the same, with the key as it was named
    // ("kick/bandHighCut"); a change of the list of mappings, a rename included, as "mappings".
    using Listener = std::function<void(std::string_view key)>;
    // The most notices() a load gives; the last of them counts the rest.
    static constexpr size_t kMostNotices = 20;
    enum class Write { byPersistence, now };

    explicit SettingsModel(PreferencesStore& store);

    // Reads every key. A stored value that --set would refuse, or that breaks a cross-key rule,
    // reads as absent and is named in notices(); the store keeps it as it was written until a
    // path changes the key.
    void load();
    // "ignored KEY=VALUE", in the order --help lists the keys, each listed mapping's after the
    // first's; then the keys of mappings not listed, with why.
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

    // The further mappings, in the order `mappings` lists them.
    std::vector<std::string> mappingNames() const;
    // What is wrong with a key named from outside (--set, remote control): no such setting, an
    // instance's setting after a mapping's name, or a mapping not listed; nothing when it is fine.
    std::optional<std::string> keyProblem(std::string_view key) const;
    // Gives the mapping `from` the name `to`, its values, stored or not yet saved, included, and
    // stores the list at once. Gives nothing when done, otherwise what is wrong.
    std::optional<std::string> renameMapping(std::string_view from, std::string_view to);
    // Adds the mapping `name` sending to `address`, the list and the address in one write of the
    // file, so that a restart without saving finds it whole. Gives nothing when done, otherwise
    // what is wrong.
    std::optional<std::string> addMapping(std::string_view name, std::string_view address);
    // Whether the file holds a section of that name that `mappings` does not list (written by
    // hand, or left by another version): listing the name adopts it, a rename onto it is refused.
    bool hasUnlistedSection(std::string_view name) const;
    // While the list's change of a rename is told: the name the mapping now called `name` had,
    // so that what follows a mapping (its gate's state) follows it to its new name.
    std::optional<std::string> formerName(std::string_view name) const;

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

    // The set-up (the keys inSetUp() names, the first mapping's and every listed mapping's) as
    // the file holds it, written into `into` without committing: what a preset stores.
    void writeSetUp(PreferencesStore& into) const;
    // The set-up's values in use as the texts a file holds, by key: equal for two models that
    // mean the same set-up, however each was written.
    std::map<std::string, std::string> setUpTexts() const;
    // A section of the file in the way of a new mapping's name (hand-written, and not listed), in
    // words; nothing when there is none.
    std::optional<std::string> sectionInTheWay(std::string_view name) const;
    // Takes the set-up of `preset`, a model loaded from a preset's file without a notice: its
    // mappings replace those listed (the sections of those it leaves out go), and a set-up key it
    // leaves out becomes absent. The machine's keys stay; `name`, when given, becomes the preset
    // the set-up came from. Stored in one write of the file. Only what changes is told: the list
    // of mappings first, then each key whose value in use differs. Gives nothing when done,
    // otherwise why the write failed.
    std::optional<std::string> takeSetUp(const SettingsModel& preset,
                                         std::optional<std::string_view> name = std::nullopt);

    // Writes every key that is kept until saving, in one write of the file. False when the file
    // could not be written; writeError() then says why.
    bool save();
    // Whether the last write reached the store.
    const std::string& writeError() const { return writeError_; }
    // Calls `then` once what was written so far reached the file of a store that writes later,
    // with why not when it did not.
    void whenStored(std::function<void(const std::optional<std::string>&)> then) {
        store_.whenWritten(std::move(then));
    }

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
    // The values of the instance and the first mapping (no name), or of one further mapping.
    struct Scope {
        std::string name;
        // One per catalogue row; a further mapping uses the mapping rows only.
        std::vector<std::optional<SettingValue>> held;
        // Whether a path changed the key since load(); a key none changed keeps its stored text.
        std::vector<bool> changed;
    };
    struct Place {
        Scope& scope;
        size_t index;
    };

    static Scope scopeNamed(std::string name);
    static bool belongsTo(const Scope& scope, const SettingDefinition& setting);
    Place placeOf(std::string_view key);
    const Scope& scopeOf(std::string_view key, size_t& index) const;
    std::optional<SettingValue> valueAt(const Scope& scope, size_t index) const;
    // The values in use of the scope, for the cross-key rules.
    std::function<std::optional<SettingValue>(std::string_view key)> valuesIn(
        const Scope& scope) const;
    void loadScope(Scope& scope);
    void noteUnlistedKeys();
    // Takes a new list of mappings: a new name takes what its section in the file holds, a name
    // no longer listed takes its section along, so no old section comes back with a name.
    void takeMappings(const std::vector<std::string>& names);
    // The list as `mappings` holds it, checked; nothing with `error` saying why.
    static std::optional<SettingValue> listValue(const std::vector<std::string>& names,
                                                 std::string& error);
    void forgetStored(std::string_view mapping);
    void storeHeld(const Scope& scope, size_t index);
    // Writes `value` under `key` in the text every reader takes back as the same value.
    static void writeValue(PreferencesStore& into, const std::string& key,
                           const SettingDefinition& setting, const SettingValue& value);
    bool commit();
    void changed(std::string_view key);

    PreferencesStore& store_;
    Scope first_;
    // Read in place of a scope that is not there; never written.
    const Scope unlisted_;
    std::vector<Scope> mappings_;
    std::vector<std::string> notices_;
    // Who listens is no setting: parts holding the model read-only subscribe too.
    mutable std::vector<std::weak_ptr<Listener>> listeners_;
    std::string writeError_;
    std::optional<std::pair<std::string, std::string>> renaming_;  // from, to
};
