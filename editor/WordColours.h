#pragma once
// The editor's word colours as the settings keep them, and their captions.
#include "platform/SettingsStore.h"
#include "program/Colouring.h"

#include <array>

namespace tarvex {

// What the settings dialog calls each kind (none for plain text).
extern const std::array<const char*, nc::wordKinds> wordKindCaptions;

// A colour that is missing or not "#RRGGBB" reads as its default.
nc::WordColours readWordColours(const SettingsStore& s);
void writeWordColours(SettingsStore& s, const nc::WordColours& colours);

} // namespace tarvex
