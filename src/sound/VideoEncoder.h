#pragma once
// Video files written with FFmpeg's libraries: pictures (32-bit pixels) and
// stereo float sound in, H.264 and AAC in an MP4 that phones and browsers
// play (yuv420p, index at the front), or VP9 and Opus in Matroska or WebM.
// The caller writes to a temporary file and renames it (FileBytes). The
// writer lives in a module of its own (FFmpegVideoEncoder.cpp), loaded at the
// first Open, so that the program starts without FFmpeg's libraries.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace melo {

enum class TVideoContainer { Mp4, Matroska, WebM };

// By the file's extension: ".mp4", ".mkv", ".webm" (any letter case).
bool VideoContainerOf(const std::filesystem::path& fileName, TVideoContainer& container);

struct TVideoSettings {
  TVideoContainer Container = TVideoContainer::Mp4;
  int Width = 0; // even
  int Height = 0;
  int FramesPerSecond = 60;
  int SampleRate = 44100; // of the sound given; resampled where the codec needs another
  // UTF-8 texts for the container's metadata; empty ones are left out.
  std::string Title;
  std::string Artist;
  std::string Comment;
};

class TVideoEncoder {
public:
  // Opens fileName (its format comes from settings, not its name) and writes
  // the header; null with error set when a codec or the file cannot be opened,
  // or the module that writes videos cannot be loaded.
  static std::unique_ptr<TVideoEncoder> Open(const std::filesystem::path& fileName,
                                             const TVideoSettings& settings, std::string& error);
  virtual ~TVideoEncoder() = default;

  // The next frame: Width x Height pixels of 4 bytes in the order blue, green,
  // red, unused (QImage::Format_RGB32 on a little-endian machine), rows
  // bytesPerLine apart.
  virtual bool WriteFrame(const std::uint8_t* pixels, std::ptrdiff_t bytesPerLine) = 0;
  // The next frame the same as the last one written.
  virtual bool RepeatFrame() = 0;
  // The next n samples of each channel.
  virtual bool WriteAudio(const float* left, const float* right, std::size_t n) = 0;
  // Flushes the encoders and writes the trailer; false when any write failed.
  virtual bool Finish() = 0;

  virtual std::int64_t FramesWritten() const = 0;

protected:
  TVideoEncoder() = default;
  TVideoEncoder(const TVideoEncoder&) = default;
  TVideoEncoder& operator=(const TVideoEncoder&) = default;
};

// The module's file name, and where the program looks for it: beside itself
// (a build), then in the installed library folder.
inline constexpr std::string_view VideoModuleFileName = "melotastico-video.so";

} // namespace melo

// The module's one entry: TVideoEncoder::Open there. The module's own to
// define and the loader's to look up, never to be called by name.
extern "C" melo::TVideoEncoder* MeloOpenVideoEncoder(const char* fileName,
                                                     const melo::TVideoSettings& settings,
                                                     std::string& error);
