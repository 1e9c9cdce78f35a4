#pragma once

#include <chrono>
#include <functional>

// Points the settings store at a fresh temporary folder, keeps the tests away from any sound
// server and from a real display. Call first in main, before any Qt object exists.
void prepareAppTestEnvironment();

// Empties the settings store.
void clearStoredSettings();

// Runs the Qt event loop until `done` holds or `timeout` passes; gives done().
bool processEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

// Runs the Qt event loop for `duration`.
void processEventsFor(std::chrono::milliseconds duration);
