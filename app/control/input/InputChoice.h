#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/audio/AudioCapture.h"

// What the technician chose as the input, as kept under the "inputDevice" key: the key absent
// follows the sound server's default source; an empty text is "No input"; any other text is the
// name of one source, which is waited for while it is absent (never replaced by another), or
// "file:" and the path of a recording, which is played in a loop as the input.
// The sound server's own name for its default source also follows the default.
struct InputChoice {
    static constexpr std::string_view followDefaultName = "@DEFAULT_SOURCE@";

    enum class Kind { serverDefault, none, device };
    Kind kind = Kind::serverDefault;
    AudioDevice device;  // for Kind::device; the description may be unknown (empty)

    static InputChoice fromStored(const std::optional<std::string>& stored);
    // What the key holds; nothing for the server's default.
    std::optional<std::string> stored() const;
    // How the status names the device: its description when known, else its name.
    std::string shownName() const;
};
