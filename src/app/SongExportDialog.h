#pragma once
// Song export as the window runs it: MIDI files at once, audio on a worker
// thread behind a progress dialog that can cancel it; failures are told in a
// message box. The song is copied first, so the window may go on meanwhile.
#include "app/SongExport.h"

#include <cstdint>
#include <filesystem>

class QWidget;

namespace melo {

// Exports the song to fileName in the format its extension names, with the
// window's voices (InstrumentList) for MIDI and the sound set and reverb of
// Config for audio, at the window's synthesizer volume (hundredths of a dB).
// UI thread; returns when the export has ended.
TExportResult ExportSongFromWindow(QWidget* parent, const TSongHeader& header,
                                   const TSimpleBuffer& events,
                                   const std::filesystem::path& fileName,
                                   std::int32_t synthVolume = 0);

} // namespace melo
