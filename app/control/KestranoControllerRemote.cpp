// Remote control: /kestrano/set/<key>, /kestrano/save and /kestrano/get at the listen port.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "app/control/KestranoController.h"
#include "app/settings/SettingsKeys.h"
#include "osc/QVOSCAddress.h"
#include "osc/QVOSCArgument.h"

namespace {

namespace keys = settings_keys;

constexpr std::string_view commandPrefix = "/kestrano/";
constexpr std::string_view setPrefix = "/kestrano/set/";
// The level reported without an input, as for silence.
constexpr float quietestLevel = -160.0f;

// What a remote request may change: what the technician changes in the window while the show
// runs, not where the program sends and listens.
constexpr std::array<std::string_view, 15> remotelySettable = {keys::active,
                                                               keys::type,
                                                               keys::address,
                                                               keys::minValue,
                                                               keys::maxValue,
                                                               keys::volumeAmplification,
                                                               keys::triggerOnThreshold,
                                                               keys::triggerOffThreshold,
                                                               keys::triggerOnDelay,
                                                               keys::triggerOffDelay,
                                                               keys::attackTime,
                                                               keys::releaseTime,
                                                               keys::bandLowCut,
                                                               keys::bandHighCut,
                                                               keys::inputDevice};

std::string decimalText(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

bool startsWith(const QVOSCData& data, std::string_view prefix) {
    return data.size() >= prefix.size() &&
           std::memcmp(data.data(), prefix.data(), prefix.size()) == 0;
}

QVOSCMessage messageTo(const std::string& address) {
    return QVOSCMessage(QVOSCAddress::addressWithString(address));
}

}  // namespace

void KestranoController::packetFromZandorexWithSource(std::shared_ptr<const QVOSCData> data,
                                                      const NetworkEndpoint& source) {
    if (!data) {
        return;
    }
    monitor_.record(MonitorEntry::Direction::in, source, data);
    if (remoteControl_ && startsWith(*data, commandPrefix)) {
        obeyRemoteRequest(*data, source);
        return;
    }
    packetFromZandorex(std::move(data));
}

void KestranoController::obeyRemoteRequest(const QVOSCData& data, const NetworkEndpoint& source) {
    const std::optional<RemoteRequest> request = readRemoteRequest(data);
    std::optional<std::string> problem;
    if (!request) {
        problem = "cannot read the message";
    } else if (request->address == "/kestrano/get") {
        sendSettingValues(source);
    } else if (request->address == "/kestrano/save") {
        save();
    } else if (request->address.starts_with(setPrefix)) {
        problem = setRemotely(request->address.substr(setPrefix.size()), request->arguments);
    } else {
        problem = "unknown command " + request->address;
    }
    if (problem) {
        QVOSCMessage error = messageTo("/kestrano/error");
        error.attachArgument(QVOSCArgument::argumentWithString(*problem));
        reply(error, source);
    }
}

std::optional<std::string> KestranoController::setRemotely(
    const std::string& key, const std::vector<RemoteArgument>& arguments) {
    const SettingDefinition* setting = findSetting(key);
    if (setting == nullptr) {
        return "unknown setting '" + key + "'";
    }
    if (std::find(remotelySettable.begin(), remotelySettable.end(), key) ==
        remotelySettable.end()) {
        return key + " cannot be set remotely";
    }
    if (arguments.size() != 1) {
        return arguments.empty()
                   ? "missing value for " + key
                   : key + " takes one value, got " + std::to_string(arguments.size());
    }
    std::string error;
    const std::optional<SettingValue> value = remoteSettingValue(*setting, arguments[0], error);
    if (!value) {
        return error;
    }
    if (auto conflict = remoteConflict(key, *value)) {
        return conflict;
    }
    applySetting(key, *value);
    return std::nullopt;
}

std::optional<std::string> KestranoController::remoteConflict(const std::string& key,
                                                              const SettingValue& value) const {
    // The same pairs the window and --set keep in order, against the values in use now.
    const TriggerSettings trigger = triggerSettings();
    if (key == keys::triggerOffThreshold && std::get<float>(value) > trigger.onThreshold) {
        return "bad value '" + decimalText(std::get<float>(value)) +
               "' for triggerOffThreshold: it must not exceed triggerOnThreshold (" +
               decimalText(trigger.onThreshold) + ")";
    }
    if (key == keys::triggerOnThreshold) {
        // 0 stands for the default threshold.
        const float on = std::get<float>(value) > 0.0f ? std::get<float>(value) : 0.5f;
        if (on < trigger.offThreshold) {
            return "bad value '" + decimalText(std::get<float>(value)) +
                   "' for triggerOnThreshold: it is below triggerOffThreshold (" +
                   decimalText(trigger.offThreshold) + ")";
        }
    }
    if (key == keys::inputDevice && !std::get<std::string>(value).empty() &&
        std::none_of(audioDevices_.begin(), audioDevices_.end(), [&](const AudioDevice& device) {
            return device.name == std::get<std::string>(value);
        })) {
        return "no input device named '" + std::get<std::string>(value) + "'";
    }
    return std::nullopt;
}

void KestranoController::applySetting(std::string_view key, const SettingValue& value) {
    if (key == keys::active) {
        setActive(std::get<bool>(value));
    } else if (key == keys::type) {
        setType(static_cast<int32_t>(std::get<int64_t>(value)));
    } else if (key == keys::address) {
        setAddress(std::get<std::string>(value));
    } else if (key == keys::minValue) {
        setMinValue(std::get<float>(value));
    } else if (key == keys::maxValue) {
        setMaxValue(std::get<float>(value));
    } else if (key == keys::volumeAmplification) {
        setVolumeAmplification(std::get<float>(value));
    } else if (key == keys::triggerOnThreshold) {
        setTriggerOnThreshold(std::get<float>(value));
    } else if (key == keys::triggerOffThreshold) {
        setTriggerOffThreshold(std::get<float>(value));
    } else if (key == keys::triggerOnDelay) {
        setTriggerOnDelay(static_cast<int32_t>(std::get<int64_t>(value)));
    } else if (key == keys::triggerOffDelay) {
        setTriggerOffDelay(static_cast<int32_t>(std::get<int64_t>(value)));
    } else if (key == keys::attackTime) {
        setAttackTime(static_cast<int32_t>(std::get<int64_t>(value)));
    } else if (key == keys::releaseTime) {
        setReleaseTime(static_cast<int32_t>(std::get<int64_t>(value)));
    } else if (key == keys::bandLowCut) {
        setBandLowCut(std::get<float>(value));
    } else if (key == keys::bandHighCut) {
        setBandHighCut(std::get<float>(value));
    } else if (key == keys::inputDevice) {
        const std::string& name = std::get<std::string>(value);
        const auto found =
            std::find_if(audioDevices_.begin(), audioDevices_.end(),
                         [&](const AudioDevice& device) { return device.name == name; });
        setSelectedAudioDevice(found == audioDevices_.end() ? std::nullopt
                                                            : std::optional<AudioDevice>(*found));
    }
}

std::optional<SettingValue> KestranoController::currentSettingValue(std::string_view key) const {
    if (key == keys::zandorexSendPort) {
        return int64_t{zandorexSendPort_};
    }
    if (key == keys::zandorexListenPort) {
        return int64_t{zandorexListenPort_};
    }
    if (key == keys::volumeAmplification) {
        return volumeAmplification_;
    }
    if (key == keys::active) {
        return active_;
    }
    if (key == keys::type) {
        return int64_t{type_};
    }
    if (key == keys::address) {
        return address_.value_or(std::string());
    }
    if (key == keys::minValue) {
        return minValue_;
    }
    if (key == keys::maxValue) {
        return maxValue_;
    }
    if (key == keys::zandorexHost) {
        return zandorexHost_.value_or("127.0.0.1");
    }
    if (key == keys::listenAddress) {
        return listenAddress_.value_or("0.0.0.0");
    }
    if (key == keys::remoteControl) {
        return remoteControl_;
    }
    if (key == keys::triggerOnThreshold) {
        return triggerOnThreshold_;
    }
    if (key == keys::triggerOffThreshold) {
        return triggerOffThreshold_;
    }
    if (key == keys::triggerOnDelay) {
        return int64_t{triggerOnDelay_};
    }
    if (key == keys::triggerOffDelay) {
        return int64_t{triggerOffDelay_};
    }
    if (key == keys::attackTime) {
        return int64_t{attackTime_};
    }
    if (key == keys::releaseTime) {
        return int64_t{releaseTime_};
    }
    if (key == keys::bandLowCut) {
        return bandLowCut_;
    }
    if (key == keys::bandHighCut) {
        return bandHighCut_;
    }
    if (key == keys::inputDevice) {
        const std::optional<AudioDevice> selected = selectedAudioDevice();
        return selected ? selected->name : std::string();
    }
    return std::nullopt;
}

void KestranoController::sendSettingValues(const NetworkEndpoint& destination) {
    for (const SettingDefinition& setting : settingsCatalog()) {
        const std::optional<SettingValue> value = currentSettingValue(setting.key);
        if (!value) {
            continue;
        }
        QVOSCMessage message = messageTo("/kestrano/setting/" + std::string(setting.key));
        // Flags go as 0 / 1: T and F are not read by every OSC peer.
        std::visit(
            [&message](const auto& held) {
                using Held = std::decay_t<decltype(held)>;
                if constexpr (std::is_same_v<Held, std::string>) {
                    message.attachArgument(QVOSCArgument::argumentWithString(held));
                } else if constexpr (std::is_same_v<Held, float>) {
                    message.attachArgument(QVOSCArgument::argumentWithFloat(held));
                } else {
                    message.attachArgument(
                        QVOSCArgument::argumentWithInt(static_cast<int32_t>(held)));
                }
            },
            *value);
        reply(message, destination);
    }
    QVOSCMessage level = messageTo("/kestrano/level");
    const float decibels =
        status_.inputLevel ? std::max(*status_.inputLevel, quietestLevel) : quietestLevel;
    level.attachArgument(QVOSCArgument::argumentWithFloat(decibels));
    reply(level, destination);
    QVOSCMessage lastValue = messageTo("/kestrano/lastValueSent");
    if (status_.lastValueSent) {
        lastValue.attachArgument(QVOSCArgument::argumentWithFloat(*status_.lastValueSent));
    }
    reply(lastValue, destination);
}

void KestranoController::reply(const QVOSCMessage& message, const NetworkEndpoint& destination) {
    if (zandorexListener_ && zandorexListener_->sendPacketTo(message, destination)) {
        monitor_.record(MonitorEntry::Direction::out, destination,
                        std::make_shared<const QVOSCData>(message.packetizedData()));
    }
}
