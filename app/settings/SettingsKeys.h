#pragma once

#include <array>
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
inline constexpr std::array<std::string_view, 8> all = {
    zandorexSendPort, zandorexListenPort, volumeAmplification, active, type, address, minValue,
    maxValue};
}  // namespace settings_keys
