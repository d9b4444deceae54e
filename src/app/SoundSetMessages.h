#pragma once
// What the window tells the player about its sound sets: a set that did not
// load, with the file and the reason, and the built-in set loaded with such a
// message when it fails.
#include "sound/KoSoundSet.h"

#include <filesystem>
#include <string>

class QWidget;

namespace melo {

class TKoDirectMusic;

// Loads the built-in set (file) into the engine in place; a missing or
// refused file is told in a message box over parent.
void LoadBuiltInSoundSetTelling(TKoDirectMusic& engine, const std::filesystem::path& file,
                                QWidget* parent);
// Tells that the external set (file, UTF-8) did not load and why; the
// built-in set plays instead.
void TellExternalSetRefused(const std::string& file, const TSoundSetResult& why, QWidget* parent);

} // namespace melo
