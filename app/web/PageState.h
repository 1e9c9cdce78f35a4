#pragma once

#include <QByteArray>
#include <cstdint>

#include "app/audio/frequencies/FrequencyAnalyser.h"

class KestranoController;

// What the browser page shows, as JSON text messages of two kinds, each whole, so that a page
// that missed some is up to date with the next of its kind:
// - the setup, which changes only with the settings: every mapping's name, address, mode,
//   thresholds and band, and the tempo's mode;
// - the state, each tick: the input and its meter, each mapping's meter and lamp in the setup's
//   order, the tempo, the status line, and when given the spectrum (reduced to `spectrumPoints`
//   points on the log scale the window draws).
// Text from the settings and peers is escaped as JSON here and shown as text, never as markup, by
// the page.
QByteArray pageSetupMessage(const KestranoController& controller);
QByteArray pageStateMessage(const KestranoController& controller,
                            const FrequencyAnalyser::Spectrum* spectrum);

inline constexpr int spectrumPoints = 160;
inline constexpr double spectrumLowestHertz = 20.0;
inline constexpr double spectrumHighestHertz = 20000.0;
