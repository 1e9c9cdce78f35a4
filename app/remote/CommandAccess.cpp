#include "app/remote/CommandAccess.h"

#include "app/settings/SettingsKeys.h"

CommandAccess::CommandAccess(SettingsModel& settings) : settings_(settings) {
    takeAllowList();
    subscription_ = settings_.subscribe([this](std::string_view key) {
        if (key == settings_keys::remoteControlFrom) {
            takeAllowList();
        }
    });
}

void CommandAccess::takeAllowList() {
    allowed_.reset();
    refusal_.clear();
    if (const std::optional<std::string> text = settings_.text(settings_keys::remoteControlFrom)) {
        // A list that cannot be read allows nobody rather than everybody.
        std::optional<std::vector<SourceRule>> rules = parseSourceList(*text, refusal_);
        allowed_ = SourceAllowList(rules ? std::move(*rules) : std::vector<SourceRule>());
    }
}

bool CommandAccess::on() const {
    return settings_.flag(settings_keys::remoteControl);
}

bool CommandAccess::allows(const NetworkEndpoint& source) const {
    return on() && (!allowed_ || allowed_->allows(source));
}

std::string CommandAccess::note() const {
    if (!on()) {
        return {};
    }
    if (!allowed_) {
        return "remote control: any source may command (no remoteControlFrom list)";
    }
    if (!refusal_.empty()) {
        return "remote control: refused remoteControlFrom (" + refusal_ + "), nobody may command";
    }
    return {};
}
