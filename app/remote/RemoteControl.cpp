#include "app/remote/RemoteControl.h"

#include <algorithm>
#include <cstring>

#include "app/audio/recording/RecordingDevice.h"
#include "app/remote/RemoteRequest.h"
#include "app/settings/SettingsKeys.h"
#include "app/settings/values/DisplayText.h"
#include "osc/QVOSCAddress.h"
#include "osc/QVOSCArgument.h"
#include "osc/QVOSCBundle.h"
#include "osc/QVOSCMessage.h"

namespace {

constexpr std::string_view commandPrefix = "/kestrano/";
constexpr std::string_view setPrefix = "/kestrano/set/";
constexpr std::string_view getPrefix = "/kestrano/get/";
constexpr std::string_view presetCommand = "/kestrano/preset";
constexpr std::string_view presetSaveCommand = "/kestrano/preset/save";
// The most names one answer lists: 64 names of 64 characters fit a datagram with room to spare.
constexpr size_t mostPresetNames = 64;
// The level reported without an input, as for silence.
constexpr float quietestLevel = -160.0f;

std::shared_ptr<QVOSCMessage> messageTo(const std::string& address) {
    return std::make_shared<QVOSCMessage>(QVOSCAddress::addressWithString(address));
}

std::shared_ptr<QVOSCMessage> errorMessage(const std::string& problem) {
    auto error = messageTo("/kestrano/error");
    error->attachArgument(QVOSCArgument::argumentWithString(problem));
    return error;
}

// One setting as /kestrano/setting/<key> with its value; flags go as 0 / 1, since T and F are
// not read by every OSC peer, and an absent value as what it stands for.
std::shared_ptr<QVOSCMessage> settingMessage(const std::string& key,
                                             const SettingDefinition& setting,
                                             const std::optional<SettingValue>& value) {
    auto message = messageTo("/kestrano/setting/" + key);
    if (!value && setting.kind == SettingKind::decimal) {
        message->attachArgument(QVOSCArgument::argumentWithFloat(0.0f));  // "0: the default"
        return message;
    }
    if (!value) {
        message->attachArgument(
            QVOSCArgument::argumentWithString(std::string(setting.absentShown)));
        return message;
    }
    std::visit(
        [&message](const auto& held) {
            using Held = std::decay_t<decltype(held)>;
            if constexpr (std::is_same_v<Held, std::string>) {
                message->attachArgument(QVOSCArgument::argumentWithString(held));
            } else if constexpr (std::is_same_v<Held, float>) {
                message->attachArgument(QVOSCArgument::argumentWithFloat(held));
            } else {
                message->attachArgument(QVOSCArgument::argumentWithInt(static_cast<int32_t>(held)));
            }
        },
        *value);
    return message;
}

// The readings of the first mapping (no name) or of a further one (NAME/level ...) that `what`
// asks for: all of them without it.
void attachReadings(QVOSCBundle& bundle, const std::optional<std::string>& what,
                    const std::string& mapping, std::optional<float> inputLevel,
                    std::optional<float> samplePeak, std::optional<float> lastValueSent) {
    const auto asked = [&](std::string_view reading) {
        const std::string key = scopedKey(mapping, reading);
        return !what || *what == key ? std::optional(key) : std::nullopt;
    };
    // An absent level or peak reads as silence; an absent value sent as no argument.
    const auto attach = [&bundle](const std::string& key, std::optional<float> value) {
        auto message = messageTo("/kestrano/" + key);
        if (value) {
            message->attachArgument(QVOSCArgument::argumentWithFloat(*value));
        }
        bundle.attachObject(message);
    };
    if (const auto key = asked("level")) {
        attach(*key, std::max(inputLevel.value_or(quietestLevel), quietestLevel));
    }
    if (const auto key = asked("peak")) {
        attach(*key, std::max(samplePeak.value_or(quietestLevel), quietestLevel));
    }
    if (const auto key = asked("lastValueSent")) {
        attach(*key, lastValueSent);
    }
}

bool isReading(std::string_view name) {
    return name == "level" || name == "peak" || name == "lastValueSent";
}

std::shared_ptr<QVOSCMessage> presetMessage(std::string_view address, std::string_view name) {
    auto message = messageTo(std::string(address));
    message->attachArgument(QVOSCArgument::argumentWithString(std::string(name)));
    return message;
}

}  // namespace

RemoteControl::RemoteControl(SettingsModel& settings, MonotonicClock clock, Hooks hooks)
    : settings_(settings), hooks_(std::move(hooks)), budget_(std::move(clock)), access_(settings) {}

std::string RemoteControl::accessNote() const {
    return access_.note();
}

bool RemoteControl::admits(const QVOSCData& data, const NetworkEndpoint& source) {
    if (!access_.on()) {
        return false;
    }
    if (data.size() < commandPrefix.size() ||
        std::memcmp(data.data(), commandPrefix.data(), commandPrefix.size()) != 0) {
        return false;
    }
    if (!access_.allows(source)) {
        ++refusedCommands_;
        return false;
    }
    // Credit comes from commands that will be answered only: bytes from a refused source or of
    // other traffic would let a forged flood buy answers aimed at a third party.
    budget_.noteReceived(data.size());
    return true;
}

void RemoteControl::reply(const QVOSCPacket& packet, const NetworkEndpoint& destination) {
    if (budget_.allowReply(packet.packetizedData().size())) {
        hooks_.reply(packet, destination);
    }
}

void RemoteControl::obey(const QVOSCData& data, const NetworkEndpoint& source) {
    const std::optional<RemoteRequest> request = readRemoteRequest(data);
    std::optional<std::string> problem;
    const bool takesNoValue =
        request &&
        (request->address == "/kestrano/get" || request->address.starts_with(getPrefix) ||
         request->address == "/kestrano/save" || request->address == "/kestrano/tap");
    if (!request) {
        problem = "cannot read the message";
    } else if (takesNoValue && !request->arguments.empty()) {
        // Refused rather than obeyed: a value sent with these is a peer's mistake about what it
        // asked for, and a tap or a save must not happen by mistake.
        problem = quotedRequestText(request->address) + " takes no value, got " +
                  std::to_string(request->arguments.size());
    } else if (request->address == "/kestrano/get/presets") {
        answerPresetNames(source);
    } else if (request->address == "/kestrano/get") {
        answerGet(std::nullopt, source);
    } else if (request->address.starts_with(getPrefix)) {
        // Never empty: "/kestrano/get/" names no setting rather than all of them.
        answerGet(request->address.substr(getPrefix.size()), source);
    } else if (request->address == "/kestrano/save") {
        // "saved" only once the file holds it: a write the disk refuses is answered as an error.
        hooks_.save([this, source](const std::optional<std::string>& failure) {
            reply(failure ? *errorMessage(*failure) : *messageTo("/kestrano/saved"), source);
        });
    } else if (request->address == "/kestrano/tap") {
        if (hooks_.tap) {
            hooks_.tap();
        }
    } else if (request->address == presetCommand || request->address == presetSaveCommand) {
        problem = obeyPreset(*request, source);
    } else if (request->address.starts_with(setPrefix)) {
        const std::string key = request->address.substr(setPrefix.size());
        const std::optional<ScopedKey> scoped = parseScopedKey(key);
        const SettingDefinition* setting = scoped ? scoped->setting : nullptr;
        const auto& arguments = request->arguments;
        if (auto unknown = settings_.keyProblem(key)) {
            problem = std::move(unknown);
        } else if (!setting->remotelySettable) {
            problem = key + " cannot be set remotely";
        } else if (setting->key == settings_keys::inputDevice && arguments.size() == 1 &&
                   arguments[0].type == 's' && recording_device::pathOf(arguments[0].text)) {
            // A path from the network would open any file of the machine, a pipe that never
            // answers among them: a recording is chosen at the machine only.
            problem = "a recording is chosen as the input at the machine, not remotely";
        } else if (arguments.size() != 1) {
            problem = arguments.empty()
                          ? "missing value for " + key
                          : key + " takes one value, got " + std::to_string(arguments.size());
        } else {
            std::string error;
            std::optional<SettingValue> value =
                remoteSettingValue(*setting, arguments[0], error, scoped->mapping);
            problem = value ? settings_.change(key, std::move(value)) : error;
        }
    } else {
        problem = "unknown command " + quotedRequestText(request->address);
    }
    if (problem) {
        reply(*errorMessage(*problem), source);
    }
}

std::optional<std::string> RemoteControl::obeyPreset(const RemoteRequest& request,
                                                     const NetworkEndpoint& source) {
    const auto& arguments = request.arguments;
    if (arguments.size() != 1 || arguments[0].type != 's') {
        return quotedRequestText(request.address) + " takes the name of a preset (s)";
    }
    const std::string& name = arguments[0].text;
    const bool saving = request.address == presetSaveCommand;
    if (std::optional<std::string> problem =
            saving ? hooks_.savePreset(name) : hooks_.switchPreset(name)) {
        return problem;
    }
    // Answered with the name as the preset's file has it, which may differ in case.
    const std::optional<std::string> loaded = settings_.text(settings_keys::preset);
    reply(*presetMessage(saving ? "/kestrano/preset/saved" : presetCommand, loaded.value_or(name)),
          source);
    return std::nullopt;
}

void RemoteControl::answerPresetNames(const NetworkEndpoint& source) {
    auto message = messageTo("/kestrano/presets");
    std::vector<std::string> names = hooks_.presetNames();
    names.resize(std::min(names.size(), mostPresetNames));
    for (std::string& name : names) {
        message->attachArgument(QVOSCArgument::argumentWithString(std::move(name)));
    }
    reply(*message, source);
}

void RemoteControl::answerGet(const std::optional<std::string>& what,
                              const NetworkEndpoint& source) {
    const Readings readings = hooks_.readings();
    budget_.setAllowanceShares(1 + settings_.mappingNames().size());
    auto bundle = std::make_shared<QVOSCBundle>();
    // The first mapping's and the instance's settings, then each further mapping's.
    std::vector<std::string> mappings = settings_.mappingNames();
    mappings.insert(mappings.begin(), std::string());
    for (const std::string& mapping : mappings) {
        for (const SettingDefinition& setting : settingsCatalog()) {
            const std::string key = scopedKey(mapping, setting.key);
            if ((!mapping.empty() && setting.scope != SettingScope::mapping) ||
                (what && *what != key)) {
                continue;
            }
            bundle->attachObject(settingMessage(key, setting, settings_.value(key)));
        }
    }
    // Whether the set-up still is the preset named by the setting "preset".
    if (!what || *what == "presetChanged") {
        auto changed = messageTo("/kestrano/presetChanged");
        changed->attachArgument(QVOSCArgument::argumentWithInt(readings.presetChanged ? 1 : 0));
        bundle->attachObject(changed);
    }
    for (const Readings::Mapping& mapping : readings.mappings) {
        attachReadings(*bundle, what, mapping.name, mapping.inputLevel, mapping.samplePeak,
                       mapping.lastValueSent);
    }
    const auto& answers = bundle->attachedObjects();
    if (answers.empty()) {
        reply(*errorMessage(getProblem(*what)), source);
    } else if (answers.size() == 1) {
        reply(*std::dynamic_pointer_cast<QVOSCPacket>(answers[0]), source);
    } else {
        reply(*bundle, source);
    }
}

std::string RemoteControl::getProblem(std::string_view what) const {
    // NAME/level of a mapping not listed is refused in the words NAME/KEY would be.
    const size_t slash = what.find('/');
    const bool mappingReading = slash != std::string_view::npos &&
                                what.find('/', slash + 1) == std::string_view::npos &&
                                isReading(what.substr(slash + 1));
    const std::string key = mappingReading ? scopedKey(what.substr(0, slash), settings_keys::active)
                                           : std::string(what);
    return settings_.keyProblem(key).value_or("unknown setting '" + quotedRequestText(what) + "'");
}
