#pragma once
// Songs exported as videos: the window as it looks while the song plays,
// drawn offscreen by the window's own controls, with the audio export's sound.
// Frame k shows the song at sample round(k * rate / fps) of the sound, so
// picture and sound cannot drift apart. Needs a QApplication (any platform,
// "offscreen" too) and the glyph library; UI thread.
#include "app/CommandLine.h"
#include "app/ControlsView.h"
#include "app/SongExport.h"

#include <QImage>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <memory>

namespace melo {

// The sample of the sound that frame is drawn at: round(frame * rate / fps).
std::uint64_t SampleOfFrame(std::uint64_t frame, int framesPerSecond);

// The window's picture with a caption bar above it, scaled and padded to even
// sizes. Its view shows a performance; a key lit and released between two
// frames stays lit for the next frame drawn.
class TSongPicture {
public:
  TSongPicture(int scale, const QString& caption);
  ~TSongPicture();
  TSongPicture(const TSongPicture&) = delete;
  TSongPicture& operator=(const TSongPicture&) = delete;

  TPerformanceView& View();
  QSize Size() const { return FImage.size(); }
  // Whether anything was shown since the last Draw.
  bool Changed() const;
  // The picture as it is now; then the keys held for it are released.
  const QImage& Draw();

private:
  class TView;
  class THost;
  std::unique_ptr<THost> FHost;
  std::unique_ptr<TView> FView;
  int FScale;
  QString FCaption;
  QImage FImage;
};

// Exports the song as a video to fileName (its container by its extension),
// with the sound set, reverb and volume of setup; songName shows in the
// caption. Progress as the audio export reports it; a cancelled or failed
// export leaves no file.
TExportResult ExportSongVideo(const TSongHeader& header, const TSimpleBuffer& events,
                              const std::filesystem::path& fileName, const TRenderSetup& setup,
                              const TVideoOptions& options, const QString& songName,
                              const TRenderProgress& progress = {});

// --export to a video as the command line asks for it (IsVideoExport): the exit
// code, messages on err. Needs a QApplication.
int RunVideoExportCommand(const TCommandLine& command, std::ostream& err);

} // namespace melo
