#pragma once
// Video files written with FFmpeg's libraries: pictures (32-bit pixels) and
// stereo float sound in, H.264 and AAC in an MP4 that phones and browsers
// play (yuv420p, index at the front), or VP9 and Opus in Matroska or WebM.
// The caller writes to a temporary file and renames it (FileBytes).
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

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
  // the header; null with error set when a codec or the file cannot be opened.
  static std::unique_ptr<TVideoEncoder> Open(const std::filesystem::path& fileName,
                                             const TVideoSettings& settings, std::string& error);
  ~TVideoEncoder();
  TVideoEncoder(const TVideoEncoder&) = delete;
  TVideoEncoder& operator=(const TVideoEncoder&) = delete;

  // The next frame: Width x Height pixels of 4 bytes in the order blue, green,
  // red, unused (QImage::Format_RGB32 on a little-endian machine), rows
  // bytesPerLine apart.
  bool WriteFrame(const std::uint8_t* pixels, std::ptrdiff_t bytesPerLine);
  // The next frame the same as the last one written.
  bool RepeatFrame();
  // The next n samples of each channel.
  bool WriteAudio(const float* left, const float* right, std::size_t n);
  // Flushes the encoders and writes the trailer; false when any write failed.
  bool Finish();

  std::int64_t FramesWritten() const;

private:
  struct TState;
  explicit TVideoEncoder(std::unique_ptr<TState> state);
  std::unique_ptr<TState> F;
};

} // namespace melo
