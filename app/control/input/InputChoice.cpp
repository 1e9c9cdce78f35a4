#include "app/control/input/InputChoice.h"

#include "app/audio/recording/RecordingDevice.h"

InputChoice InputChoice::fromStored(const std::optional<std::string>& stored) {
    if (!stored || *stored == followDefaultName) {
        return {};
    }
    if (stored->empty()) {
        return {Kind::none, {}};
    }
    if (const auto path = recording_device::pathOf(*stored)) {
        return {Kind::device, recording_device::named(*path)};
    }
    return {Kind::device, {*stored, ""}};
}

std::optional<std::string> InputChoice::stored() const {
    switch (kind) {
        case Kind::serverDefault:
            return std::nullopt;
        case Kind::none:
            return std::string();
        case Kind::device:
            return device.name;
    }
    return std::nullopt;
}

std::string InputChoice::shownName() const {
    return device.description.empty() ? device.name : device.description;
}
