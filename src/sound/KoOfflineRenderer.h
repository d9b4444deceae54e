#pragma once
// Songs rendered to audio files: the timed messages of a song played offline
// on a synthesizer set up as the window's engine is (sound set, reverb,
// volume), written as WAV, FLAC or Ogg Vorbis as fast as the machine allows.
#include "music/TimedMidi.h"
#include "sound/KoDirectMusic.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace melo {

enum class TAudioFileType { Wav, Flac, Ogg };

// The type named by the file's extension (".wav", ".flac", ".ogg" in any
// letter case); false for any other name.
bool AudioFileTypeOf(const std::filesystem::path& fileName, TAudioFileType& type);

// Texts an audio file carries in its format's own tags (WAV INFO chunk, FLAC
// and Vorbis comments), UTF-8; empty ones are left out.
struct TAudioFileTags {
  std::string Title;
  std::string Artist;
  std::string Comment;
};

// Which sound set and reverb the window's engine would use.
struct TRenderSetup {
  bool UseExternalDLS = false;
  std::filesystem::path ExternalDLSFileName;
  std::filesystem::path BuiltInFileName; // msf4.s among the program's files
  std::uint8_t ReverbLevel = 2;
  // The synthesizer volume in hundredths of a dB (the window's slider in
  // synthesizer mode); 0 is the volume the window starts with.
  std::int32_t Volume = 0;
  // Told why when the external set does not load: the built-in set plays
  // instead, as in the window.
  std::function<void(const TSoundSetResult&)> OnBuiltInInstead;

  // From Config and the program folder; UI thread (Config is read).
  static TRenderSetup FromConfig();
};

// The voices of the set setup names, in the order the window lists them, read
// from the built-in set's instrument headers in place: no wave is touched, as a
// MIDI export needs only their patches. Null for an external set (only its
// load tells whether the built-in set plays instead) and when it does not read.
std::unique_ptr<TInstrumentList> ListBuiltInVoices(const TRenderSetup& setup);

enum class TRenderResult {
  Done,
  Cancelled,
  NoSoundSet,  // the sound set could not be loaded
  WriteFailed, // the file could not be written (nothing is left behind)
  Used,        // the renderer has rendered already
};

// Called now and then with the share of the work done (0..1); returning false
// cancels the render.
using TRenderProgress = std::function<bool(double done)>;

class TKoOfflineRenderer {
public:
  static constexpr int SampleRate = TKoDirectMusic::SampleRate;
  // The sound after the last message may ring this long at most; it ends
  // earlier once it has died away.
  static constexpr std::uint32_t MaxTailMs = 4000;

  // Loads the sound set (which takes a while); any thread. Uses the engine's
  // own instrument list, never the window's.
  explicit TKoOfflineRenderer(const TRenderSetup& setup);
  ~TKoOfflineRenderer();
  TKoOfflineRenderer(const TKoOfflineRenderer&) = delete;
  TKoOfflineRenderer& operator=(const TKoOfflineRenderer&) = delete;

  bool SoundSetLoaded() const { return FLoaded; }
  // The loaded set's instruments, ordered as the window's list is.
  const TInstrumentList& Instruments() const { return FEngine->Instruments(); }

  // Plays the messages (in time order, equal times in their order) at their
  // exact times and renders until the sound has died away. One render per
  // renderer. Into memory (tests, comparisons) or into a file of the given
  // type with the tags, written through a temporary renamed over fileName.
  TRenderResult Render(const std::vector<TTimedMidiMessage>& messages, std::vector<float>& left,
                       std::vector<float>& right, const TRenderProgress& progress = {});
  TRenderResult RenderToFile(const std::vector<TTimedMidiMessage>& messages,
                             const std::filesystem::path& fileName, TAudioFileType type,
                             const TAudioFileTags& tags = {}, const TRenderProgress& progress = {});

  // Or block by block into write, whose false fails the render (WriteFailed).
  using TBlockWriter = std::function<bool(const float* left, const float* right, std::size_t n)>;
  TRenderResult RenderInto(const std::vector<TTimedMidiMessage>& messages,
                           const TBlockWriter& write, const TRenderProgress& progress = {}) {
    return Run(messages, write, progress);
  }

  // The first frame at or after a millisecond.
  static std::uint64_t FrameOfTime(std::uint32_t ms);

private:
  TRenderResult Run(const std::vector<TTimedMidiMessage>& messages, const TBlockWriter& write,
                    const TRenderProgress& progress);

  std::unique_ptr<TKoDirectMusic> FEngine;
  bool FLoaded = false;
  bool FUsed = false;
};

} // namespace melo
