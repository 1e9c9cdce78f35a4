#pragma once

#include <string>

// The settings reference page (docs/settings.md) in Markdown, written from the settings catalogue
// as --help and the man page are, so that the page cannot drift from what the program takes:
// every key, its values, what its absence means, when it is stored and whether remote control
// may set it.
std::string settingsReferenceMarkdown();
