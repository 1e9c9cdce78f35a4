#pragma once

#include <QByteArray>
#include <cstdint>

#include "app/audio/frequencies/FrequencyAnalyser.h"

class KestranoController;

// What the browser page shows, as one JSON text message: the input and its meter, the spectrum
// (reduced to `spectrumPoints` points on the log scale the window draws), every mapping, the
// tempo and the status line. Each message is whole, so that a page that missed some is
// up to date with the next. Text from the settings and peers is escaped as JSON here and shown
// as text, never as markup, by the page.
QByteArray pageStateMessage(const KestranoController& controller,
                            const FrequencyAnalyser::Spectrum& spectrum);

inline constexpr int spectrumPoints = 160;
inline constexpr double spectrumLowestHertz = 20.0;
inline constexpr double spectrumHighestHertz = 20000.0;
