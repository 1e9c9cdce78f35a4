#include "app/settings/store/PreferencesStore.h"

#include <charconv>

namespace {

template <typename Number>
Number numberOf(const std::optional<std::string>& text) {
    Number value{};
    if (!text) {
        return value;
    }
    const char* end = text->data() + text->size();
    const auto [stop, error] = std::from_chars(text->data(), end, value);
    return error == std::errc() && stop == end ? value : Number{};
}

}  // namespace

std::string shortestFloatText(float value) {
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, value);
    return std::string(text, written.ptr);
}

int64_t PreferencesStore::integerForKey(std::string_view key) const {
    return numberOf<int64_t>(stringForKey(key));
}

float PreferencesStore::floatForKey(std::string_view key) const {
    return numberOf<float>(stringForKey(key));
}

std::optional<bool> PreferencesStore::boolObjectForKey(std::string_view key) const {
    const std::optional<std::string> text = stringForKey(key);
    if (!text) {
        return std::nullopt;
    }
    return !(text->empty() || *text == "0" || *text == "false");
}

void PreferencesStore::setInteger(std::string_view key, int64_t value) {
    setString(key, std::to_string(value));
}

void PreferencesStore::setFloat(std::string_view key, float value) {
    setString(key, shortestFloatText(value));
}

void PreferencesStore::setBool(std::string_view key, bool value) {
    setString(key, value ? "true" : "false");
}

void PreferencesStore::whenWritten(std::function<void(const std::optional<std::string>&)> then) {
    then(std::nullopt);
}
