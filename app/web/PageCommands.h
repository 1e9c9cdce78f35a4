#pragma once

#include <QByteArray>
#include <optional>
#include <string>

class KestranoController;

// What a page may change, as the window and remote control would: a tap of the tempo,
// {"do":"tap"}, a switch to a preset, {"do":"preset","name":"verse"}, which refuses in the words
// remote control uses, or one of a mapping's settings the page edits (active, its thresholds, its
// band),
// {"do":"set","key":"kick/bandHighCut","value":"150"}, through the settings model, which refuses
// what it refuses on every path. The message is hostile until read: any other shape or key is
// refused. Nothing when it was done, otherwise why not.
std::optional<std::string> obeyPageCommand(const QByteArray& message,
                                           KestranoController& controller);
