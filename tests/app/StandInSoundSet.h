#pragma once
// The built-in sound set of a window test's program folder: a valid one-voice
// set, so the window opens it without a message, small enough to write for
// every test.
#include "../sound/DlsTestSets.h"
#include "sound/DlsWriter.h"

#include <filesystem>

namespace melo::test {

inline bool WriteStandInSoundSet(const std::filesystem::path& file) {
  TDlsCollection set;
  set.Waves.push_back(LoopedSine(440.0, 22050, 20, 69));
  set.Instruments.push_back(Instrument(0, 0, "Stand-in", {Region(0)}, false));
  return SaveDlsFile(set, file.string());
}

} // namespace melo::test
