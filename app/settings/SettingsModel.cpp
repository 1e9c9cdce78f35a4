#include "app/settings/SettingsModel.h"

#include <algorithm>

#include "app/settings/SettingsKeys.h"
#include "app/settings/values/DisplayText.h"
#include "app/settings/values/MappingNames.h"

namespace {

// A refusal's reason, without the "bad value 'TEXT' for KEY: " that a notice says its own way.
std::string reasonOf(const std::string& refusal, std::string_view key) {
    const std::string marker = "' for " + std::string(key) + ": ";
    const size_t at = refusal.find(marker);
    return at == std::string::npos ? refusal : refusal.substr(at + marker.size());
}

std::optional<SettingValue> absentValue(const SettingDefinition& setting) {
    if (!setting.absent) {
        return std::nullopt;
    }
    std::string error;
    return parseSettingValue(setting, *setting.absent, error);
}

bool isZero(const SettingValue& value) {
    if (const float* decimal = std::get_if<float>(&value)) {
        return *decimal == 0.0f;
    }
    if (const int64_t* whole = std::get_if<int64_t>(&value)) {
        return *whole == 0;
    }
    return false;
}

// What older versions stored for "use the default" of a key whose stored 0 reads as absent. A 0
// that was set is stored as another text of 0, so that it reads back as 0.
constexpr std::string_view storedAbsentZero = "0";
constexpr std::string_view storedSetZero = "0.0";

// The catalogue row of a key without a mapping's name.
size_t rowOf(std::string_view key) {
    const std::span<const SettingDefinition> catalog = settingsCatalog();
    for (size_t index = 0; index < catalog.size(); ++index) {
        if (catalog[index].key == key) {
            return index;
        }
    }
    // Callers name keys of the catalogue; another reads as the first row's absence, never as a
    // crash in the middle of a show (a change of it is refused before it gets here).
    return 0;
}

}  // namespace

SettingsModel::SettingsModel(PreferencesStore& store)
    : store_(store), first_(scopeNamed("")), unlisted_(scopeNamed("")) {}

SettingsModel::Scope SettingsModel::scopeNamed(std::string name) {
    const size_t rows = settingsCatalog().size();
    return Scope{std::move(name), std::vector<std::optional<SettingValue>>(rows),
                 std::vector<bool>(rows)};
}

bool SettingsModel::belongsTo(const Scope& scope, const SettingDefinition& setting) {
    return scope.name.empty() || setting.scope == SettingScope::mapping;
}

const SettingsModel::Scope& SettingsModel::scopeOf(std::string_view key, size_t& index) const {
    const std::optional<ScopedKey> scoped = parseScopedKey(key);
    // A key of no catalogue row, or of a mapping no longer listed (a part that has not yet heard
    // of its removal), reads as absent: changes check keyProblem() first and never get here.
    if (!scoped) {
        index = 0;
        return unlisted_;
    }
    index = rowOf(scoped->setting->key);
    if (scoped->mapping.empty()) {
        return first_;
    }
    for (const Scope& scope : mappings_) {
        if (scope.name == scoped->mapping) {
            return scope;
        }
    }
    return unlisted_;
}

SettingsModel::Place SettingsModel::placeOf(std::string_view key) {
    size_t index = 0;
    Scope& scope = const_cast<Scope&>(scopeOf(key, index));
    return {scope, index};
}

std::vector<std::string> SettingsModel::mappingNames() const {
    std::vector<std::string> names;
    for (const Scope& scope : mappings_) {
        names.push_back(scope.name);
    }
    return names;
}

std::optional<std::string> SettingsModel::keyProblem(std::string_view key) const {
    const size_t slash = key.find('/');
    const std::string_view row = slash == std::string_view::npos ? key : key.substr(slash + 1);
    const SettingDefinition* setting = findSetting(row);
    if (setting == nullptr) {
        return "unknown setting '" + quotedRequestText(key) + "'";
    }
    if (slash == std::string_view::npos) {
        return std::nullopt;
    }
    if (setting->scope != SettingScope::mapping) {
        return std::string(row) + " is the instance's setting, not a mapping's; a mapping has " +
               mappingSettingNames();
    }
    const std::string_view name = key.substr(0, slash);
    const std::vector<std::string> names = mappingNames();
    if (std::ranges::find(names, name) != names.end()) {
        return std::nullopt;
    }
    std::string listed;
    for (const std::string& other : names) {
        listed += (listed.empty() ? "" : ", ") + other;
    }
    return "no mapping named '" + quotedRequestText(name) + "'; mappings lists " +
           (listed.empty() ? "none" : listed);
}

void SettingsModel::load() {
    notices_.clear();
    loadScope(first_);
    mappings_.clear();
    std::string error;
    const std::optional<std::string> list = text(settings_keys::mappings);
    for (std::string& name :
         list ? parseMappingNames(*list, error).value_or(std::vector<std::string>())
              : std::vector<std::string>()) {
        mappings_.push_back(scopeNamed(std::move(name)));
        loadScope(mappings_.back());
    }
    noteUnlistedKeys();
    // A file damaged on a large scale (or made to be) is named in a few lines, not thousands
    // that would bury the status and the log.
    if (notices_.size() > kMostNotices) {
        const size_t more = notices_.size() - (kMostNotices - 1);
        notices_.resize(kMostNotices - 1);
        notices_.push_back("and " + std::to_string(more) + " more lines ignored");
    }
    for (const SettingDefinition& setting : settingsCatalog()) {
        changed(setting.key);
    }
    for (const Scope& scope : mappings_) {
        for (const SettingDefinition& setting : settingsCatalog()) {
            if (belongsTo(scope, setting)) {
                changed(scopedKey(scope.name, setting.key));
            }
        }
    }
}

void SettingsModel::loadScope(Scope& scope) {
    const std::span<const SettingDefinition> catalog = settingsCatalog();
    std::vector<std::string> texts(catalog.size());
    for (size_t index = 0; index < catalog.size(); ++index) {
        const SettingDefinition& setting = catalog[index];
        scope.held[index].reset();
        scope.changed[index] = false;
        if (!belongsTo(scope, setting)) {
            continue;
        }
        const std::string key = scopedKey(scope.name, setting.key);
        const std::optional<std::string> text = store_.stringForKey(key);
        if (!text || (setting.zeroIsAbsent && *text == storedAbsentZero)) {
            continue;
        }
        texts[index] = *text;
        std::string error;
        std::optional<SettingValue> value =
            parseSettingValue(setting, *text, error, TextSource::settingsFile, scope.name);
        if (!value && text->empty() && !setting.absent) {
            continue;  // an empty text is as good as no key where absence means something
        }
        if (!value && setting.failsClosed) {
            scope.held[index] = *text;
            notices_.push_back("refused " + key + "=" + *text + ": " + reasonOf(error, key));
        } else if (!value) {
            notices_.push_back("ignored " + key + "=" + *text + ": " + reasonOf(error, key));
        } else {
            scope.held[index] = std::move(value);
        }
    }
    // A pair out of order: its dependent key reads as absent, as --set would have refused it.
    for (size_t index = 0; index < catalog.size(); ++index) {
        if (!scope.held[index] || !dependsOnAnother(catalog[index].key)) {
            continue;
        }
        if (const std::optional<std::string> conflict =
                settingConflict(catalog[index], *scope.held[index], valuesIn(scope), scope.name)) {
            scope.held[index].reset();
            const std::string key = scopedKey(scope.name, catalog[index].key);
            notices_.push_back("ignored " + key + "=" + texts[index] + ": " +
                               reasonOf(*conflict, key));
        }
    }
}

void SettingsModel::noteUnlistedKeys() {
    for (const std::string& key : store_.storedKeys()) {
        if (key.find('/') == std::string::npos) {
            continue;  // the general section's keys are read by name
        }
        if (const auto problem = keyProblem(key)) {
            notices_.push_back("ignored " + key + "=" + store_.stringForKey(key).value_or("") +
                               ": " + *problem);
        }
    }
}

std::function<std::optional<SettingValue>(std::string_view key)> SettingsModel::valuesIn(
    const Scope& scope) const {
    return [this, &scope](std::string_view key) { return valueAt(scope, rowOf(key)); };
}

std::optional<SettingValue> SettingsModel::valueAt(const Scope& scope, size_t index) const {
    const SettingDefinition& setting = settingsCatalog()[index];
    const std::optional<SettingValue>& held = scope.held[index];
    if (!held || (setting.zeroIsAbsentInUse && isZero(*held))) {
        return absentValue(setting);
    }
    return held;
}

std::optional<SettingValue> SettingsModel::value(std::string_view key) const {
    size_t index = 0;
    const Scope& scope = scopeOf(key, index);
    return valueAt(scope, index);
}

const std::optional<SettingValue>& SettingsModel::held(std::string_view key) const {
    size_t index = 0;
    const Scope& scope = scopeOf(key, index);
    return scope.held[index];
}

float SettingsModel::decimal(std::string_view key) const {
    const std::optional<SettingValue> number = value(key);
    const float* held = number ? std::get_if<float>(&*number) : nullptr;
    return held != nullptr ? *held : 0.0f;
}

int64_t SettingsModel::whole(std::string_view key) const {
    const std::optional<SettingValue> number = value(key);
    const int64_t* held = number ? std::get_if<int64_t>(&*number) : nullptr;
    return held != nullptr ? *held : 0;
}

bool SettingsModel::flag(std::string_view key) const {
    const std::optional<SettingValue> held = value(key);
    return held && std::holds_alternative<bool>(*held) && std::get<bool>(*held);
}

std::optional<std::string> SettingsModel::text(std::string_view key) const {
    const std::optional<SettingValue> held = value(key);
    if (!held || !std::holds_alternative<std::string>(*held)) {
        return std::nullopt;
    }
    return std::get<std::string>(*held);
}

std::optional<std::string> SettingsModel::change(std::string_view key,
                                                 std::optional<SettingValue> value, Write write) {
    if (auto problem = keyProblem(key)) {
        return problem;
    }
    const Place place = placeOf(key);
    const SettingDefinition& setting = settingsCatalog()[place.index];
    if (value) {
        if (auto problem = settingValueProblem(setting, *value, place.scope.name)) {
            return problem;
        }
        if (auto conflict =
                settingConflict(setting, *value, valuesIn(place.scope), place.scope.name)) {
            return conflict;
        }
    }
    const std::string named(key);  // the key may live in a scope that the change removes
    if (setting.key == settings_keys::mappings) {
        std::string error;
        const auto* list = value ? std::get_if<std::string>(&*value) : nullptr;
        takeMappings(list != nullptr
                         ? parseMappingNames(*list, error).value_or(std::vector<std::string>())
                         : std::vector<std::string>());
    }
    place.scope.held[place.index] = std::move(value);
    place.scope.changed[place.index] = true;
    if (write == Write::now || setting.persistence == Persistence::atOnce) {
        storeHeld(place.scope, place.index);
        if (!commit()) {
            changed(named);
            return writeError_;
        }
    }
    changed(named);
    return std::nullopt;
}

std::optional<std::string> SettingsModel::changeFromText(std::string_view key,
                                                         std::string_view text, Write write) {
    if (auto problem = keyProblem(key)) {
        return problem;
    }
    const Place place = placeOf(key);
    const SettingDefinition& setting = settingsCatalog()[place.index];
    std::string error;
    std::optional<SettingValue> value =
        parseSettingValue(setting, text, error, TextSource::typed, place.scope.name);
    if (!value) {
        // An empty text clears a key whose absence is a meaning of its own.
        if (text.empty() && !setting.absent) {
            return change(key, std::nullopt, write);
        }
        return error;
    }
    return change(key, std::move(value), write);
}

void SettingsModel::assign(std::string_view key, std::optional<SettingValue> value) {
    if (keyProblem(key)) {
        return;
    }
    const Place place = placeOf(key);
    place.scope.held[place.index] = std::move(value);
    place.scope.changed[place.index] = true;
    if (settingsCatalog()[place.index].persistence == Persistence::atOnce) {
        storeHeld(place.scope, place.index);
        commit();
    }
    changed(key);
}

void SettingsModel::takeMappings(const std::vector<std::string>& names) {
    std::vector<Scope> kept;
    for (const std::string& name : names) {
        const auto found = std::ranges::find(mappings_, name, &Scope::name);
        if (found != mappings_.end()) {
            kept.push_back(std::move(*found));
        } else {
            // A section the technician wrote before listing its name is what they meant it to be.
            kept.push_back(scopeNamed(name));
            loadScope(kept.back());
        }
    }
    for (const Scope& scope : mappings_) {
        if (!scope.name.empty() && std::ranges::find(names, scope.name) == names.end()) {
            forgetStored(scope.name);
        }
    }
    mappings_ = std::move(kept);
}

void SettingsModel::forgetStored(std::string_view mapping) {
    for (const SettingDefinition& setting : settingsCatalog()) {
        const std::string key = scopedKey(mapping, setting.key);
        if (store_.stringForKey(key)) {
            store_.setString(key, std::nullopt);
        }
    }
}

std::optional<SettingValue> SettingsModel::listValue(const std::vector<std::string>& names,
                                                     std::string& error) {
    std::string list;
    for (const std::string& name : names) {
        list += (list.empty() ? "" : ",") + name;
    }
    return parseSettingValue(*findSetting(settings_keys::mappings), list, error);
}

bool SettingsModel::hasUnlistedSection(std::string_view name) const {
    if (std::ranges::find(mappings_, name, &Scope::name) != mappings_.end()) {
        return false;
    }
    return std::ranges::any_of(store_.storedKeys(), [&](const std::string& key) {
        return key.size() > name.size() && key.starts_with(name) && key[name.size()] == '/';
    });
}

std::optional<std::string> SettingsModel::sectionInTheWay(std::string_view name) const {
    if (!hasUnlistedSection(name)) {
        return std::nullopt;
    }
    return "'" + quotedRequestText(name) + "' cannot name a mapping: the settings file has a [" +
           quotedRequestText(name) +
           "] section that mappings does not list; list the name to use that section, or remove "
           "it from the file";
}

std::optional<std::string> SettingsModel::addMapping(std::string_view name,
                                                     std::string_view address) {
    if (std::optional<std::string> problem = sectionInTheWay(name)) {
        return problem;
    }
    std::vector<std::string> names = mappingNames();
    names.emplace_back(name);
    std::string error;
    std::optional<SettingValue> list = listValue(names, error);
    if (!list) {
        return error;
    }
    const SettingDefinition& addressRow = *findSetting(settings_keys::address);
    std::optional<SettingValue> sentTo =
        parseSettingValue(addressRow, address, error, TextSource::typed, name);
    if (!sentTo) {
        return error;
    }
    takeMappings(names);
    const size_t listIndex = rowOf(settings_keys::mappings);
    const size_t addressIndex = rowOf(addressRow.key);
    Scope& added = mappings_.back();
    first_.held[listIndex] = std::move(list);
    first_.changed[listIndex] = true;
    added.held[addressIndex] = std::move(sentTo);
    added.changed[addressIndex] = true;
    storeHeld(first_, listIndex);
    storeHeld(added, addressIndex);
    const bool written = commit();
    changed(settings_keys::mappings);
    changed(scopedKey(name, addressRow.key));
    return written ? std::nullopt : std::optional(writeError_);
}

std::optional<std::string> SettingsModel::renameMapping(std::string_view from,
                                                        std::string_view to) {
    std::vector<std::string> names = mappingNames();
    const auto renamed = std::ranges::find(names, from);
    if (renamed == names.end()) {
        return "no mapping named '" + quotedRequestText(from) + "'";
    }
    if (from == to) {
        return std::nullopt;  // moving its keys onto themselves would remove them
    }
    // Refused for what is wrong with the new name, not with the whole list it would make.
    std::vector<std::string> others = names;
    std::erase(others, *renamed);
    if (std::optional<std::string> problem = mappingNameProblem(to, others)) {
        return problem;
    }
    // Moving onto a section the technician wrote would overwrite it.
    if (std::optional<std::string> problem = sectionInTheWay(to)) {
        return problem;
    }
    *renamed = std::string(to);
    std::string error;
    std::optional<SettingValue> value = listValue(names, error);
    if (!value) {
        return error;
    }
    // The file's texts move as they are; what was not saved yet stays to be saved.
    for (const SettingDefinition& row : settingsCatalog()) {
        const std::string oldKey = scopedKey(from, row.key);
        if (std::optional<std::string> text = store_.stringForKey(oldKey)) {
            store_.setString(scopedKey(to, row.key), std::move(text));
            store_.setString(oldKey, std::nullopt);
        }
    }
    std::ranges::find(mappings_, from, &Scope::name)->name = std::string(to);
    const size_t index = rowOf(settings_keys::mappings);
    first_.held[index] = std::move(value);
    first_.changed[index] = true;
    storeHeld(first_, index);
    const bool written = commit();
    renaming_.emplace(std::string(from), std::string(to));
    changed(settings_keys::mappings);
    renaming_.reset();
    return written ? std::nullopt : std::optional(writeError_);
}

std::optional<std::string> SettingsModel::formerName(std::string_view name) const {
    return renaming_ && renaming_->second == name ? std::optional(renaming_->first) : std::nullopt;
}

bool SettingsModel::save() {
    const auto storeScope = [this](const Scope& scope) {
        for (size_t index = 0; index < settingsCatalog().size(); ++index) {
            const SettingDefinition& setting = settingsCatalog()[index];
            if (belongsTo(scope, setting) && setting.persistence == Persistence::onSave) {
                storeHeld(scope, index);
            }
        }
    };
    storeScope(first_);
    for (const Scope& scope : mappings_) {
        storeScope(scope);
    }
    return commit();
}

void SettingsModel::storeHeld(const Scope& scope, size_t index) {
    const SettingDefinition& setting = settingsCatalog()[index];
    const std::string key = scopedKey(scope.name, setting.key);
    const std::optional<SettingValue>& value = scope.held[index];
    if (!value) {
        // A technician who never touched a setting keeps a file without its key; one the program
        // ignored stays as it was written, for the technician to see and mend.
        if (scope.changed[index] && store_.stringForKey(key)) {
            store_.setString(key, std::nullopt);
        }
        return;
    }
    writeValue(store_, key, setting, *value);
}

void SettingsModel::writeValue(PreferencesStore& into, const std::string& key,
                               const SettingDefinition& setting, const SettingValue& value) {
    if (setting.zeroIsAbsent && isZero(value)) {
        into.setString(key, std::string(storedSetZero));
        return;
    }
    switch (storageOf(setting.kind)) {
        case SettingStorage::whole:
            into.setInteger(key, std::get<int64_t>(value));
            return;
        case SettingStorage::decimal:
            into.setFloat(key, std::get<float>(value));
            return;
        case SettingStorage::flag:
            into.setBool(key, std::get<bool>(value));
            return;
        case SettingStorage::text:
            into.setString(key, std::get<std::string>(value));
            return;
    }
}

void SettingsModel::writeSetUp(PreferencesStore& into) const {
    const auto write = [&into](const Scope& scope) {
        for (size_t index = 0; index < settingsCatalog().size(); ++index) {
            const SettingDefinition& setting = settingsCatalog()[index];
            if (belongsTo(scope, setting) && inSetUp(setting) && scope.held[index]) {
                writeValue(into, scopedKey(scope.name, setting.key), setting, *scope.held[index]);
            }
        }
    };
    write(first_);
    for (const Scope& scope : mappings_) {
        write(scope);
    }
}

std::optional<std::string> SettingsModel::takeSetUp(const SettingsModel& preset) {
    const std::vector<std::string> names = preset.mappingNames();
    for (const Scope& scope : mappings_) {
        if (std::ranges::find(names, scope.name) == names.end()) {
            forgetStored(scope.name);
        }
    }
    // Every key of the set-up is taken, an absent one too, so that nothing of the set-up before
    // stays behind in the file.
    const auto take = [this](Scope& scope, const Scope& from) {
        for (size_t index = 0; index < settingsCatalog().size(); ++index) {
            const SettingDefinition& setting = settingsCatalog()[index];
            if (belongsTo(scope, setting) && inSetUp(setting)) {
                scope.held[index] = from.held[index];
                scope.changed[index] = true;
                storeHeld(scope, index);
            }
        }
    };
    take(first_, preset.first_);
    mappings_.clear();
    for (const Scope& from : preset.mappings_) {
        mappings_.push_back(scopeNamed(from.name));
        take(mappings_.back(), from);
    }
    const bool written = commit();
    for (const SettingDefinition& setting : settingsCatalog()) {
        if (inSetUp(setting)) {
            changed(setting.key);
        }
    }
    for (const std::string& name : names) {
        for (const SettingDefinition& setting : settingsCatalog()) {
            if (setting.scope == SettingScope::mapping) {
                changed(scopedKey(name, setting.key));
            }
        }
    }
    return written ? std::nullopt : std::optional(writeError_);
}

bool SettingsModel::commit() {
    writeError_ = store_.commit().value_or(std::string());
    return writeError_.empty();
}

SettingsModel::Subscription SettingsModel::subscribe(Listener listener) const {
    auto held = std::make_shared<Listener>(std::move(listener));
    listeners_.push_back(held);
    return Subscription(std::move(held));
}

void SettingsModel::changed(std::string_view key) {
    std::erase_if(listeners_,
                  [](const std::weak_ptr<Listener>& listener) { return listener.expired(); });
    // A listener may subscribe or unsubscribe others while it is told: tell the ones of now.
    const std::vector<std::weak_ptr<Listener>> listeners = listeners_;
    for (const std::weak_ptr<Listener>& weak : listeners) {
        if (const std::shared_ptr<Listener> listener = weak.lock()) {
            (*listener)(key);
        }
    }
}
