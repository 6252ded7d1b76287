// Where the recorder keeps its settings: one key of the current user's store.
#pragma once

#include "platform/registry/registry.h"

namespace velmar {

inline constexpr HKEY kSettingsRoot = HKEY_CURRENT_USER;
inline constexpr const char* kSettingsKey = "\\SOFTWARE\\Velmar\\Velmar Audio Recorder";

}  // namespace velmar
