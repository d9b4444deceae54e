#pragma once
// Song export as the window runs it: MIDI files at once, audio on a worker
// thread and video on the UI thread, behind a progress dialog that can cancel
// them; failures are told in a
// message box. The song is copied first, so the window may go on meanwhile.
#include "app/SongExport.h"

#include <cstdint>
#include <filesystem>

#include <QString>

class QWidget;

namespace melo {

// Exports the song to fileName in the format its extension names, with the
// window's voices (InstrumentList) for MIDI and the sound set and reverb of
// Config for audio and video, at the window's synthesizer volume (hundredths
// of a dB); a video's caption shows songName. UI thread; returns when the
// export has ended.
TExportResult ExportSongFromWindow(QWidget* parent, const TSongHeader& header,
                                   const TSimpleBuffer& events,
                                   const std::filesystem::path& fileName,
                                   std::int32_t synthVolume = 0, const QString& songName = {});

} // namespace melo
