#pragma once

#include <string_view>

// The keys of the persisted settings.
namespace settings_keys {
inline constexpr std::string_view zandorexSendPort = "zandorexSendPort";
inline constexpr std::string_view zandorexListenPort = "zandorexListenPort";
inline constexpr std::string_view volumeAmplification = "volumeAmplification";
inline constexpr std::string_view active = "active";
inline constexpr std::string_view type = "type";
inline constexpr std::string_view address = "address";
inline constexpr std::string_view minValue = "minValue";
inline constexpr std::string_view maxValue = "maxValue";
inline constexpr std::string_view zandorexHost = "zandorexHost";
inline constexpr std::string_view zandorexProtocol = "zandorexProtocol";
inline constexpr std::string_view listenAddress = "listenAddress";
inline constexpr std::string_view remoteControl = "remoteControl";
inline constexpr std::string_view remoteControlFrom = "remoteControlFrom";
inline constexpr std::string_view webPort = "webPort";
inline constexpr std::string_view webAddress = "webAddress";
inline constexpr std::string_view triggerOnThreshold = "triggerOnThreshold";
inline constexpr std::string_view triggerOffThreshold = "triggerOffThreshold";
inline constexpr std::string_view triggerOnDelay = "triggerOnDelay";
inline constexpr std::string_view triggerOffDelay = "triggerOffDelay";
inline constexpr std::string_view attackTime = "attackTime";
inline constexpr std::string_view releaseTime = "releaseTime";
inline constexpr std::string_view bandLowCut = "bandLowCut";
inline constexpr std::string_view bandHighCut = "bandHighCut";
inline constexpr std::string_view inputDevice = "inputDevice";
inline constexpr std::string_view inputChannels = "inputChannels";
inline constexpr std::string_view triggerResponse = "triggerResponse";
inline constexpr std::string_view mappings = "mappings";
inline constexpr std::string_view tempo = "tempo";
inline constexpr std::string_view tempoAddress = "tempoAddress";
inline constexpr std::string_view beatAddress = "beatAddress";
inline constexpr std::string_view tempoMinimum = "tempoMinimum";
inline constexpr std::string_view tempoChannels = "tempoChannels";
inline constexpr std::string_view preset = "preset";
}  // namespace settings_keys
