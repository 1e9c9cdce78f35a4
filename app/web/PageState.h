#pragma once

#include <QByteArray>
#include <cstdint>

#include "app/audio/frequencies/FrequencyAnalyser.h"

class KestranoController;

// What the browser page shows, as JSON text messages of two kinds, each whole, so that a page
// that missed some is up to date with the next of its kind:
// - the setup, which changes only with the settings: every mapping's name, address, mode,
//   thresholds and band, the tempo's mode, and the presets (their names, at most
//   `mostPresetsShown`, the loaded one and whether the set-up was changed since);
// - the state, each tick: the input and its meter, each mapping's meter and lamp in the setup's
//   order, the tempo, the status line; when a spectrum is given, the text is followed by a zero
//   byte and the spectrum as `spectrumPoints` bytes, points on the log scale the window draws,
//   each the loudness in whole dB below full scale (0 to 255).
// Text from the settings and peers is escaped as JSON here and shown as text, never as markup, by
// the page.
QByteArray pageSetupMessage(const KestranoController& controller);
QByteArray pageStateMessage(const KestranoController& controller,
                            const FrequencyAnalyser::Spectrum* spectrum);

inline constexpr size_t mostPresetsShown = 128;
inline constexpr int spectrumPoints = 160;
inline constexpr double spectrumLowestHertz = 20.0;
inline constexpr double spectrumHighestHertz = 20000.0;
