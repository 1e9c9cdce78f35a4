#include "app/settings/SettingsModel.h"

#include <cstdlib>

namespace {

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

}  // namespace

SettingsModel::SettingsModel(PreferencesStore& store)
    : store_(store), held_(settingsCatalog().size()), changed_(settingsCatalog().size()) {}

size_t SettingsModel::indexOf(std::string_view key) const {
    const std::span<const SettingDefinition> catalog = settingsCatalog();
    for (size_t index = 0; index < catalog.size(); ++index) {
        if (catalog[index].key == key) {
            return index;
        }
    }
    // Every caller names a key of the catalogue; another is a programming error.
    std::abort();
}

void SettingsModel::load() {
    notices_.clear();
    const std::span<const SettingDefinition> catalog = settingsCatalog();
    std::vector<std::string> texts(catalog.size());
    for (size_t index = 0; index < catalog.size(); ++index) {
        const SettingDefinition& setting = catalog[index];
        held_[index].reset();
        changed_[index] = false;
        const std::optional<std::string> text = store_.stringForKey(setting.key);
        if (!text || (setting.zeroIsAbsent && *text == storedAbsentZero)) {
            continue;
        }
        texts[index] = *text;
        std::string error;
        std::optional<SettingValue> value =
            parseSettingValue(setting, *text, error, TextSource::settingsFile);
        if (!value && text->empty() && !setting.absent) {
            continue;  // an empty text is as good as no key where absence means something
        }
        if (!value && setting.failsClosed) {
            held_[index] = *text;
            notices_.push_back("refused " + std::string(setting.key) + "=" + *text);
        } else if (!value) {
            notices_.push_back("ignored " + std::string(setting.key) + "=" + *text);
        } else {
            held_[index] = std::move(value);
        }
    }
    // A pair out of order: its dependent key reads as absent, as --set would have refused it.
    for (size_t index = 0; index < catalog.size(); ++index) {
        if (held_[index] && dependsOnAnother(catalog[index].key) &&
            settingConflict(catalog[index], *held_[index],
                            [this](std::string_view key) { return value(key); })) {
            held_[index].reset();
            notices_.push_back("ignored " + std::string(catalog[index].key) + "=" + texts[index]);
        }
    }
    for (const SettingDefinition& setting : catalog) {
        changed(setting.key);
    }
}

std::optional<SettingValue> SettingsModel::value(std::string_view key) const {
    const size_t index = indexOf(key);
    const SettingDefinition& setting = settingsCatalog()[index];
    if (!held_[index] || (setting.zeroIsAbsentInUse && isZero(*held_[index]))) {
        return absentValue(setting);
    }
    return held_[index];
}

const std::optional<SettingValue>& SettingsModel::held(std::string_view key) const {
    return held_[indexOf(key)];
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
    const SettingDefinition& setting = settingsCatalog()[indexOf(key)];
    if (value) {
        if (auto problem = settingValueProblem(setting, *value)) {
            return problem;
        }
        if (auto conflict = settingConflict(
                setting, *value, [this](std::string_view other) { return this->value(other); })) {
            return conflict;
        }
    }
    held_[indexOf(key)] = std::move(value);
    changed_[indexOf(key)] = true;
    if (write == Write::now || setting.persistence == Persistence::atOnce) {
        storeHeld(setting);
        if (!commit()) {
            changed(key);
            return writeError_;
        }
    }
    changed(key);
    return std::nullopt;
}

std::optional<std::string> SettingsModel::changeFromText(std::string_view key,
                                                         std::string_view text, Write write) {
    const SettingDefinition& setting = settingsCatalog()[indexOf(key)];
    std::string error;
    std::optional<SettingValue> value = parseSettingValue(setting, text, error);
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
    const SettingDefinition& setting = settingsCatalog()[indexOf(key)];
    held_[indexOf(key)] = std::move(value);
    changed_[indexOf(key)] = true;
    if (setting.persistence == Persistence::atOnce) {
        storeHeld(setting);
        commit();
    }
    changed(key);
}

bool SettingsModel::save() {
    for (const SettingDefinition& setting : settingsCatalog()) {
        if (setting.persistence == Persistence::onSave) {
            storeHeld(setting);
        }
    }
    return commit();
}

void SettingsModel::storeHeld(const SettingDefinition& setting) {
    const size_t index = indexOf(setting.key);
    const std::optional<SettingValue>& value = held_[index];
    if (!value) {
        // A technician who never touched a setting keeps a file without its key; one the program
        // ignored stays as it was written, for the technician to see and mend.
        if (changed_[index] && store_.stringForKey(setting.key)) {
            store_.setString(setting.key, std::nullopt);
        }
        return;
    }
    if (setting.zeroIsAbsent && isZero(*value)) {
        store_.setString(setting.key, std::string(storedSetZero));
        return;
    }
    switch (storageOf(setting.kind)) {
        case SettingStorage::whole:
            store_.setInteger(setting.key, std::get<int64_t>(*value));
            return;
        case SettingStorage::decimal:
            store_.setFloat(setting.key, std::get<float>(*value));
            return;
        case SettingStorage::flag:
            store_.setBool(setting.key, std::get<bool>(*value));
            return;
        case SettingStorage::text:
            store_.setString(setting.key, std::get<std::string>(*value));
            return;
    }
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
