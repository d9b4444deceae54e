#pragma once
// The synthesizer engine: every note, controller and program change of the
// program is played through one TKoDirectMusic. Sound comes from FluidSynth
// (one synthesizer, 16 channels, channel 9 drums) playing to an audio output
// (ALSA, PulseAudio or JACK), or the messages go to an external MIDI port
// (ALSA sequencer or JACK).
#include "music/MidiInterfaces.h"
#include "sound/KoDirectSound.h"
#include "sound/KoSoundSet.h"
#include "sound/PeakLimiter.h"
#include "sound/SampleScheduler.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

typedef struct _fluid_hashtable_t fluid_settings_t;
typedef struct _fluid_audio_driver_t fluid_audio_driver_t;

namespace melo {

class TSequencerPorts;
class TJackMidiPort;

constexpr std::uint32_t F_INSTRUMENT_DRUMS = 0x80000000u;
constexpr int MidiChannelCount = 16;
constexpr int MaxInstruments = 300;
constexpr int MaxPorts = 24;

// ---- Patches ---------------------------------------------------------------

// The three-byte form of a patch (the drum flag is not carried).
struct TPatchBytes {
  std::uint8_t MSB = 0;
  std::uint8_t LSB = 0;
  std::uint8_t Program = 0;
};

constexpr TPatchBytes UnpackPatch(std::uint32_t patch) {
  return {static_cast<std::uint8_t>(patch >> 16), static_cast<std::uint8_t>(patch >> 8),
          static_cast<std::uint8_t>(patch)};
}

constexpr std::uint32_t PackPatch(TPatchBytes bytes) {
  return std::uint32_t{bytes.MSB} << 16 | std::uint32_t{bytes.LSB} << 8 | bytes.Program;
}

// ---- The instrument list of the loaded sound set ---------------------------

struct InstrumentEntry {
  std::int32_t Index; // position in the sound set's own order
  std::uint32_t Patch;
  char16_t Name[32]; // zero-terminated, at most 31 units
};
static_assert(sizeof(InstrumentEntry) == 72);

struct TInstrumentList {
  std::int32_t Count = 0;
  std::array<InstrumentEntry, MaxInstruments> Entries{};

  void Clear();
  // Replaces the content by the instruments in their given order (Index =
  // position), keeping at most MaxInstruments.
  void Fill(const std::vector<TSoundSetInstrument>& instruments);
  // Ascending by patch as unsigned numbers: melodic by MSB, LSB, program,
  // drum kits last. Entries move whole.
  void SortByPatch();
  std::string NameUtf8(int index) const;
};

// One per process; filled by the engine's loading, emptied when it goes.
extern TInstrumentList InstrumentList;

// InstrumentList as the voices a performance chooses from; reads the list as
// it is at each call, so reloading a sound set needs no notice.
class TInstrumentListVoices final : public TVoiceList {
public:
  int VoiceCount() const override { return InstrumentList.Count; }
  std::uint32_t VoicePatch(int index) const override {
    return InstrumentList.Entries[static_cast<std::size_t>(index)].Patch;
  }
};

// ---- Output ports ------------------------------------------------------------

enum class TPortKind {
  SoftwareSynth, // the synthesizer playing to an audio output
  OfflineSynth,  // the synthesizer without audio output; rendered on request
  Capture,       // records the bytes it is sent, plays nothing
  Sequencer,     // an external ALSA sequencer port
  JackMidi,      // another program's JACK MIDI input
};

struct TPortCaps {
  TPortKind Kind = TPortKind::SoftwareSynth;
  std::string Description; // UTF-8
  int SeqClient = -1;
  int SeqPort = -1;
  std::string JackPort; // full "client:port" name
};

struct TPortList {
  std::int32_t OutputCount = 0;
  std::int32_t InputCount = 0;
  std::array<TPortCaps, MaxPorts> OutputPorts;
  std::array<TPortCaps, MaxPorts> InputPorts;
};

// Append unless the list already holds MaxPorts; false when it is full.
bool AddOutputPort(TPortList& list, const TPortCaps& port);
bool AddInputPort(TPortList& list, const TPortCaps& port);

// Writes "OutDevList.txt" into folder: "%d:  %s" per output port, CR LF, GBK.
bool WriteOutDevList(const std::filesystem::path& folder, const TPortList& ports);

// ---- Settings mapped onto the synthesizer --------------------------------------

// DirectMusic's waves-reverb record, kept as the engine's reverb setting.
struct TWavesReverbParams {
  float InGain = 0.0f;            // dB, -96..0
  float ReverbMix = -10.0f;       // dB, -96..0
  float ReverbTime = 1000.0f;     // ms
  float HighFreqRTRatio = 0.001f; // high-frequency decay time / overall decay time
};

struct TFluidReverb {
  bool On = false;
  double Level = 0.0;
  double RoomSize = 0.0;
  double Damping = 0.0;
};

// Level = 10^((InGain + ReverbMix) / 20), 0..1 (the wet amplitude); off at a
// mix of -96 dB or below or a time of 0.
// RoomSize = (ReverbTime / 1000 - 0.7) / 11.8, 0..1: FluidSynth's reverb decays
// at low frequencies in 0.7 s + 11.8 s x room size.
// Damping = 0.5 x (1 - HighFreqRTRatio), 0..0.5: damping shortens the
// high-frequency decay; above 0.5 FluidSynth leaves next to no reverb on notes
// above middle C, where DirectMusic's reverb at its default ratio still rings.
TFluidReverb MapReverb(const TWavesReverbParams& params);

// Hundredths of a dB of gain relative to the engine's unity gain.
float GainOfVolume(std::int32_t hundredthsDb);

struct TDriverBuffer {
  int PeriodFrames = 128;
  int PeriodCount = 2;
};

// The audio driver's buffer for a write latency and period in ms: a period of
// periodMs (64..8192 frames), as many periods as make up latencyMs (2..64).
TDriverBuffer DriverBufferFor(int latencyMs, int periodMs, int sampleRate);

// The driver's buffer for a response time, the latency the player hears. A
// key waits for the driver's next render (half a period on average), and the
// rendered period waits in the driver for room behind the buffer's periods:
// (PeriodCount + 1.5) periods in all. Two to eight periods of the size the
// device grants (GrantPeriod: frames asked -> frames granted; devices round
// periods to their own steps): of those within a synthesizer block (64
// frames) of responseMs the shortest period, else the nearest.
TDriverBuffer DriverBufferForResponse(int responseMs, int sampleRate,
                                      const std::function<int(int)>& grantPeriod);
double HeardLatencyMs(TDriverBuffer buffer, int sampleRate);

// ---- The engine --------------------------------------------------------------------

enum class TEngineMode {
  Live,    // software synthesizer to the audio output, then sequencer ports
  Offline, // one port: the synthesizer without audio output (tests, tools)
  Capture, // one port that records the bytes it is sent (tests)
};

struct TEngineOptions {
  TEngineMode Mode = TEngineMode::Live;
  // Capture mode keeps up to this many bytes; sends beyond it fail.
  std::size_t CaptureCapacity = 1u << 20;
  // The FluidSynth audio driver of the software-synthesizer port: "alsa"
  // plays to the chosen audio output (TKoDirectSound: ALSA, PulseAudio or
  // JACK); "file" writes raw audio to AudioFile in real time (for tools and
  // tests on machines without sound).
  std::string AudioDriver = "alsa";
  std::string AudioFile;
  // Keep the loaded set's instruments in the engine's own list instead of the
  // process's InstrumentList, so a second engine (an export rendering beside
  // the window's) leaves the window's list alone.
  bool OwnInstrumentList = false;
  // The clock of intended times (TIntendedTimeScope), in ms; the steady clock
  // when empty. Tests that drive a metronome by hand pass the same clock.
  std::function<double()> ClockMs;
  // Both on in the program; benchmarks switch them off for their baselines:
  // timed messages then play at once, and the output is not limited.
  bool PlaceTimedMessages = true;
  bool LimitPeaks = true;
  // Silence costs next to nothing: once the output has stayed below
  // RestLevel for RestAfterMs with no voice left (reverb and chorus tails
  // included), the synthesizer is no longer run until a message reaches it.
  // Every output is handed zeros meanwhile, period by period, and never runs
  // dry: a stream started again loses its first audio on a sound server
  // whose sink runs with a long latency. A timed note after a rest starts on
  // the frame it would have, had the synthesizer rendered throughout; a note
  // sent at once, no later than it would have.
  bool RestWhenSilent = true;
};

// What a look at the audio output found (TKoDirectMusic::CheckOutput).
enum class TOutputCheck {
  Unchanged, // playing, or still lost
  Lost,      // the output stopped asking for sound: it was closed
  Restored,  // it was opened again and plays
};

class TKoDirectMusic : public TMidiMessageSink {
public:
  static constexpr int SampleRate = 44100;

  explicit TKoDirectMusic(const TEngineOptions& options);
  explicit TKoDirectMusic(TEngineMode mode = TEngineMode::Live,
                          std::size_t captureCapacity = 1u << 20);
  ~TKoDirectMusic() override;
  TKoDirectMusic(const TKoDirectMusic&) = delete;
  TKoDirectMusic& operator=(const TKoDirectMusic&) = delete;

  // Ports.
  bool SelectPort(int index);
  int GetDefaultPortIndex() const;
  int PortIndex() const;
  const TPortList& OutputPorts() const { return FPorts; }
  bool WriteOutDevList(const std::filesystem::path& folder) const;
  bool SetActive(bool value);
  bool SetPortActive(bool value);
  // The software synthesizer's audio output, watched by its owner every few
  // hundred ms (the UI thread). An output whose driver has asked for no
  // period for OutputStallMs (the sound server ended, the device was
  // unplugged) is closed: Lost, once. From then on each call after
  // OutputRetryMs tries to open it again, and Restored comes once it plays.
  // Unchanged otherwise, and always for other ports. A healthy stream may
  // wait for as long as its sink's latency before it is asked again: a new
  // one on PulseAudio's null sink left without another stream, or a running
  // one whose sink a recorder holds at its default latency (2 s each).
  static constexpr double OutputStallMs = 4000;
  static constexpr double OutputRetryMs = 1000;
  TOutputCheck CheckOutput();
  bool OutputLost() const;
  bool Active() const;
  bool PortActive() const;
  bool SelectDirectSoundDevice(int index);
  // Chooses the audio output by name ("default", "pulse", "pipewire", "jack"
  // or an ALSA device name); false when there is no such output.
  bool SelectAudioOutput(const std::string& name);
  const TKoDirectSound& DirectSound() const { return *FDirectSound; }

  // Sound sets.
  bool LoadCollectionFromStream(std::span<const std::uint8_t> stream);
  // The built-in set, opened in place: the file is mapped, not read, and the
  // voices play its waves from the mapping, so loading is quick and memory
  // grows only with what is played. Listed and sorted like a stream's set.
  TSoundSetResult LoadCollectionFromMappedFile(const std::filesystem::path& file);
  // The external set named by Config (UseExternalDLS, ExternalDLSFileName),
  // in the set's own order (Missing when Config names none). The list is
  // emptied first, whatever the result.
  TSoundSetResult LoadCollectionFromFile();
  // The same for a given file, whatever Config says.
  TSoundSetResult LoadCollectionFromFile(const std::filesystem::path& fileName);
  bool DownloadInstruments();
  // LoadCollectionFromFile, then DownloadInstruments; says why when the set did not load.
  TSoundSetResult LoadExternalDLS();
  static int FindInstrument(std::uint32_t patch);
  // The list this engine fills: InstrumentList, or its own.
  const TInstrumentList& Instruments() const { return *FInstruments; }

  // Messages. Each call is one whole send, serialised against every other.
  bool SendMidiMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) override;
  // Sets the last instrument of the list (a sound set lists its drum kits
  // last) on the drum channel. The kit set; nothing without a sound set or
  // when the program change could not be sent.
  std::optional<std::uint32_t> SelectDrumKit();

  // Port settings.
  bool SetWriteLatency(int ms);
  bool SetWritePeriod(int ms);
  // Sizes the output for the response-time setting (DriverBufferForResponse);
  // JACK's server sets its own period, so there it is only remembered.
  bool SetResponseTime(int ms);
  TDriverBuffer DriverBuffer() const;
  int GetWriteLatency() const;
  int GetWritePeriod() const;
  bool SetVolume(std::int32_t value);
  bool GetReverbParams(TWavesReverbParams& params) const;
  bool SetReverbParams(const TWavesReverbParams& params);
  void SetReverbLevel(std::uint8_t level);
  std::uint8_t ReverbLevel() const;

  // Offline port: renders the next frames of the synthesizer's output as one
  // audio period would be (timed messages at their frames, the limiter last).
  // False while an audio driver plays the synthesizer or without a synthesizer.
  bool Render(std::span<float> left, std::span<float> right);
  // The synthesizer rests: silence has gone on long enough (RestWhenSilent).
  bool Resting() const { return FResting.load(std::memory_order_relaxed); }
  static constexpr float RestLevel = 3.1623e-5f; // -90 dBFS
  static constexpr double RestAfterMs = 200;     // longer than any reverb delay line
  // Timed messages still waiting for their period (tests).
  std::size_t WaitingMessages() const { return FScheduler.Waiting(); }
  // Capture port: the bytes sent so far, three per message.
  std::vector<std::uint8_t> CapturedBytes() const;
  // The synthesizer itself (benchmarks and tools); may be null.
  fluid_synth_t* Synth() const { return FSynth; }

private:
  void CreateSynth();
  void EnumeratePorts();
  void ReleaseAll();
  TPortKind SelectedKind() const;
  bool HasSynthPort() const;
  bool OpenDriver();
  bool DriverIsJack() const;
  void CloseDriver();
  bool ApplyBuffer(TDriverBuffer buffer);
  std::string DriverName() const;
  TSoundSetResult LoadCollection(std::span<const std::uint8_t> bytes, bool sort,
                                 std::shared_ptr<const void> owner = {});
  void ApplyReverb();
  bool SendLocked(std::uint8_t status, std::uint8_t data1, std::uint8_t data2);
  bool PlayOnSynth(std::uint8_t status, std::uint8_t data1, std::uint8_t data2);
  bool CaptureMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2);
  bool Scheduling() const;
  static int AudioCallback(void* data, int len, int nfx, float* fx[], int nout, float* out[]);
  void RenderPeriod(float* left, float* right, int frames);
  void RenderFrames(float* left, float* right, std::int64_t offset, std::int64_t frames);
  void WakeRenderer();
  bool RestPeriod(float* left, float* right, int frames, bool messagesDue);
  void WatchForSilence(const float* left, const float* right, int frames);

  const TEngineOptions FOptions;
  std::unique_ptr<TInstrumentList> FOwnInstruments;
  TInstrumentList* FInstruments = &InstrumentList;
  mutable std::mutex FLock; // one whole send, and every state change
  std::unique_ptr<TKoDirectSound> FDirectSound;
  std::unique_ptr<TSequencerPorts> FSequencer;
  std::unique_ptr<TJackMidiPort> FJackOut;
  // What the audio output holds, set before its thread starts; offline
  // rendering never runs dry.
  int FOutputBufferFrames = std::numeric_limits<int>::max() / 2;
  fluid_settings_t* FSettings = nullptr;
  fluid_synth_t* FSynth = nullptr;
  fluid_audio_driver_t* FDriver = nullptr;
  bool FDriverCallsUs = false; // the driver renders through RenderPeriod
  // Periods the driver asked for; the watch compares it between its looks.
  std::atomic<std::uint64_t> FPeriodsAsked{0};
  std::uint64_t FPeriodsSeen = 0;
  double FPeriodsSeenAtMs = 0;
  bool FOutputLost = false;
  double FRetryAtMs = 0;
  int FFontId = -1;
  TPortList FPorts;
  int FPortIndex = -1;
  bool FActive = false;
  bool FPortActive = false;
  std::uint8_t FReverbLevel = 2;
  TWavesReverbParams FReverb;
  TDriverBuffer FBuffer;
  std::vector<std::uint8_t> FCaptured;
  std::size_t FCaptureCapacity = 0;
  // The rendering side: touched only by whoever renders (the driver's thread,
  // or Render under FLock while no driver runs).
  TSampleScheduler FScheduler;
  TPeakLimiter FLimiter;
  std::int64_t FFrame = 0; // frames rendered since the synthesizer was made
  // Resting (RestWhenSilent): a message that reached the synthesizer since the
  // renderer last looked wakes it; frames rested are counted modulo a
  // synthesizer block, so that its blocks line up with FFrame again on waking.
  std::atomic<bool> FSynthTouched{false};
  std::atomic<bool> FResting{false};
  std::int64_t FQuietFrames = 0;
  int FRestedOffBlock = 0;
};

} // namespace melo
