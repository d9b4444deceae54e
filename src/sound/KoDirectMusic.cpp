#include "sound/KoDirectMusic.h"

#include "platform/FileBytes.h"
#include "platform/GbkText.h"
#include "platform/GlobalState.h"
#include "platform/MappedFile.h"
#include "sound/DlsSoundFont.h"
#include "sound/GetDXVer.h"
#include "sound/JackPorts.h"
#include "sound/MyGetDxVer.h"
#include "sound/SequencerPorts.h"
#include "sound/SetupConfig.h"

#include <QString>
#include <alsa/asoundlib.h>
#include <fluidsynth.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <set>
#include <string>
#include <system_error>
#include <utility>

namespace melo {

TInstrumentList InstrumentList;

namespace {

// Put back after each test (platform/GlobalState.h).
[[maybe_unused]] const bool StateRegistered = RegisterGlobalVariables(InstrumentList);

} // namespace

namespace {

// Volume 0 (no attenuation) plays at this synthesizer gain: a mezzo-forte
// piano note of the built-in set reaches about -18 dBFS RMS, as loud as other
// players. Many loud notes together then add up beyond full scale; the peak
// limiter after the synthesizer holds them below it.
constexpr float UnityGain = 3.8f;
constexpr float MaxGain = 10.0f; // the synthesizer's own limit
constexpr float SilentMixDb = -96.0f;
constexpr double MinDecaySeconds = 0.7;
constexpr double DecaySecondsPerRoomSize = 11.8;
constexpr double MaxDamping = 0.5;
constexpr int AllGroups = -1;
constexpr int ReverbDepthController = 91;
constexpr double FullSendAmount = 1000.0; // tenths of a percent
// The synthesizer plays this many voices at most (its own default).
constexpr int Polyphony = 256;
// FluidSynth hands every change of a voice to its renderer through one queue,
// sized by the polyphony it is created with (64 places per voice) and emptied
// once per rendered period; a full queue drops what follows, note-offs
// included. One period of MIDI input can bring far more than 256 voices' worth
// (twelve held notes bent a thousand times take some 24,000 places), so the
// synthesizer is created for QueueVoices, which sizes the queue, and then
// limited to Polyphony voices.
constexpr int QueueVoices = 1024;
// The synthesizer renders in blocks of this many frames and takes messages
// between them.
constexpr int SynthBlockFrames = 64;
constexpr std::uint8_t AllSoundOffController = 120;
constexpr std::uint8_t AllNotesOffController = 123;

// The synthesizer's warnings and errors go to our log, each kind once (a kind
// is the text without its numbers: a flood of notes that find no free voice
// says so once, not once a note); its information and debugging output stay
// quiet.
void LogSynthMessage(int, const char* message, void*) {
  static std::mutex lock;
  static std::set<std::string> said;
  if (message == nullptr) {
    return;
  }
  std::string kind = message;
  std::erase_if(kind, [](char c) { return c >= '0' && c <= '9'; });
  std::lock_guard guard(lock);
  if (said.insert(kind).second) {
    std::fprintf(stderr, "Melotastico: synthesizer: %s\n", message);
  }
}

void RouteSynthLog() {
  static const bool once = [] {
    for (const int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN}) {
      fluid_set_log_function(level, &LogSynthMessage, nullptr);
    }
    fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
    fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
    return true;
  }();
  (void)once;
}

// UTF-8 to at most 31 UTF-16 units, never splitting a surrogate pair;
// malformed bytes become U+FFFD.
void CopyName(char16_t (&target)[32], std::string_view utf8) {
  const std::u16string name =
      QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())).toStdU16String();
  std::size_t length = std::min<std::size_t>(name.size(), 31);
  if (length > 0 && length < name.size() && QChar::isHighSurrogate(name[length - 1])) {
    --length;
  }
  std::fill(std::copy_n(name.begin(), length, target), target + 32, u'\0');
}

// DirectMusic's reverb works on the synthesizer's whole output; the reverb
// level alone sets the wet mix. So every channel sends fully (controller 91 at
// 127, where the synthesizer's default would send 20 % at most), and a song can
// still lower a channel's send with controller 91.
void SendEverythingThroughReverb(fluid_synth_t* synth) {
  fluid_mod_t* mod = new_fluid_mod();
  if (mod == nullptr) {
    return;
  }
  fluid_mod_set_source1(mod, ReverbDepthController,
                        FLUID_MOD_CC | FLUID_MOD_LINEAR | FLUID_MOD_UNIPOLAR | FLUID_MOD_POSITIVE);
  fluid_mod_set_source2(mod, 0, 0);
  fluid_mod_set_dest(mod, GEN_REVERBSEND);
  fluid_mod_set_amount(mod, FullSendAmount);
  fluid_synth_add_default_mod(synth, mod, FLUID_SYNTH_OVERWRITE);
  delete_fluid_mod(mod);
  for (int channel = 0; channel < MidiChannelCount; ++channel) {
    fluid_synth_cc(synth, channel, ReverbDepthController, 127);
  }
}

} // namespace

// ---- Instrument list -------------------------------------------------------

void TInstrumentList::Clear() {
  Count = 0;
  std::fill(Entries.begin(), Entries.end(), InstrumentEntry{});
}

void TInstrumentList::Fill(const std::vector<TSoundSetInstrument>& instruments) {
  Clear();
  const auto count = std::min<std::size_t>(instruments.size(), MaxInstruments);
  for (std::size_t i = 0; i < count; ++i) {
    InstrumentEntry& entry = Entries[i];
    entry.Index = static_cast<std::int32_t>(i);
    entry.Patch = instruments[i].Patch;
    CopyName(entry.Name, instruments[i].Name);
  }
  Count = static_cast<std::int32_t>(count);
}

void TInstrumentList::SortByPatch() {
  for (int i = 0; i < Count - 1; ++i) {
    for (int j = i + 1; j < Count; ++j) {
      if (Entries[static_cast<std::size_t>(j)].Patch < Entries[static_cast<std::size_t>(i)].Patch) {
        std::swap(Entries[static_cast<std::size_t>(i)], Entries[static_cast<std::size_t>(j)]);
      }
    }
  }
}

std::string TInstrumentList::NameUtf8(int index) const {
  if (index < 0 || index >= Count) {
    return {};
  }
  return QString::fromUtf16(Entries[static_cast<std::size_t>(index)].Name).toStdString();
}

// ---- Ports -----------------------------------------------------------------

bool AddOutputPort(TPortList& list, const TPortCaps& port) {
  if (list.OutputCount >= MaxPorts) {
    return false;
  }
  list.OutputPorts[static_cast<std::size_t>(list.OutputCount++)] = port;
  return true;
}

bool AddInputPort(TPortList& list, const TPortCaps& port) {
  if (list.InputCount >= MaxPorts) {
    return false;
  }
  list.InputPorts[static_cast<std::size_t>(list.InputCount++)] = port;
  return true;
}

bool WriteOutDevList(const std::filesystem::path& folder, const TPortList& ports) {
  std::string text;
  for (int i = 0; i < ports.OutputCount; ++i) {
    text += std::to_string(i) + ":  " +
            Utf8ToGbk(ports.OutputPorts[static_cast<std::size_t>(i)].Description) + "\r\n";
  }
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  return WriteFileReplacing(folder / "OutDevList.txt", std::span(bytes, text.size()));
}

// ---- Settings mapping ----------------------------------------------------------

TFluidReverb MapReverb(const TWavesReverbParams& params) {
  TFluidReverb reverb;
  reverb.On = params.ReverbMix > SilentMixDb && params.ReverbTime > 0.0f;
  reverb.Level = std::clamp(std::pow(10.0, (params.InGain + params.ReverbMix) / 20.0), 0.0, 1.0);
  reverb.RoomSize = std::clamp(
      (params.ReverbTime / 1000.0 - MinDecaySeconds) / DecaySecondsPerRoomSize, 0.0, 1.0);
  reverb.Damping = std::clamp(MaxDamping * (1.0 - params.HighFreqRTRatio), 0.0, MaxDamping);
  return reverb;
}

float GainOfVolume(std::int32_t hundredthsDb) {
  const double gain = UnityGain * std::pow(10.0, hundredthsDb / 2000.0);
  return static_cast<float>(std::clamp(gain, 0.0, static_cast<double>(MaxGain)));
}

TDriverBuffer DriverBufferFor(int latencyMs, int periodMs, int sampleRate) {
  TDriverBuffer buffer;
  buffer.PeriodFrames =
      static_cast<int>(std::clamp(std::lround(periodMs * sampleRate / 1000.0), 64l, 8192l));
  const double framedPeriodMs = buffer.PeriodFrames * 1000.0 / sampleRate;
  buffer.PeriodCount =
      static_cast<int>(std::clamp(std::lround(latencyMs / framedPeriodMs), 2l, 64l));
  return buffer;
}

TDriverBuffer DriverBufferForResponse(int responseMs, int sampleRate,
                                      const std::function<int(int)>& grantPeriod) {
  const double targetFrames = std::max(responseMs, 1) * sampleRate / 1000.0;
  TDriverBuffer nearest{.PeriodFrames = 64, .PeriodCount = 2};
  double nearestError = -1;
  TDriverBuffer finest = nearest;
  bool withinBlock = false;
  for (int count = 2; count <= 8; ++count) {
    // Asked in whole synthesizer blocks; granted as the device allows.
    const long blocks = std::lround(targetFrames / (count + 1.5) / 64.0);
    const int asked = static_cast<int>(std::clamp(blocks * 64, 64l, 8192l));
    const TDriverBuffer buffer{.PeriodFrames = std::clamp(grantPeriod(asked), 16, 65536),
                               .PeriodCount = count};
    const double error = std::fabs((count + 1.5) * buffer.PeriodFrames - targetFrames);
    if (nearestError < 0 || error < nearestError) {
      nearest = buffer;
      nearestError = error;
    }
    // Among those within a block of the setting, the shortest period: a key
    // waits less unevenly for the next render, and the buffer has more room
    // for a late wake-up of the driver's thread.
    if (error <= 64 && (!withinBlock || buffer.PeriodFrames < finest.PeriodFrames)) {
      finest = buffer;
      withinBlock = true;
    }
  }
  return withinBlock ? finest : nearest;
}

double HeardLatencyMs(TDriverBuffer buffer, int sampleRate) {
  return (buffer.PeriodCount + 1.5) * buffer.PeriodFrames * 1000.0 / sampleRate;
}

namespace {

// The period an ALSA device grants for a request in the format FluidSynth's
// driver opens it with; the request itself when the device cannot be asked.
int AlsaPeriodFrames(const std::string& device, int sampleRate, int frames) {
  snd_pcm_t* pcm = nullptr;
  if (snd_pcm_open(&pcm, device.empty() ? "default" : device.c_str(), SND_PCM_STREAM_PLAYBACK,
                   SND_PCM_NONBLOCK) != 0)
    return frames;
  snd_pcm_hw_params_t* params = nullptr;
  snd_pcm_hw_params_malloc(&params);
  snd_pcm_uframes_t period = static_cast<snd_pcm_uframes_t>(frames);
  unsigned int rate = static_cast<unsigned int>(sampleRate);
  int dir = 0;
  const bool granted =
      params != nullptr && snd_pcm_hw_params_any(pcm, params) >= 0 &&
      snd_pcm_hw_params_set_access(pcm, params, SND_PCM_ACCESS_RW_INTERLEAVED) >= 0 &&
      snd_pcm_hw_params_set_format(pcm, params, SND_PCM_FORMAT_S16) >= 0 &&
      snd_pcm_hw_params_set_channels(pcm, params, 2) >= 0 &&
      snd_pcm_hw_params_set_rate_near(pcm, params, &rate, nullptr) >= 0 &&
      snd_pcm_hw_params_set_period_size_near(pcm, params, &period, &dir) >= 0;
  snd_pcm_hw_params_free(params);
  snd_pcm_close(pcm);
  return granted ? static_cast<int>(period) : frames;
}

} // namespace

// ---- Engine: life cycle ----------------------------------------------------------

TKoDirectMusic::TKoDirectMusic(TEngineMode mode, std::size_t captureCapacity)
    : TKoDirectMusic(TEngineOptions{mode, captureCapacity, "alsa", {}, false, {}, true, true}) {}

TKoDirectMusic::TKoDirectMusic(const TEngineOptions& options)
    : FOptions(options), FDirectSound(std::make_unique<TKoDirectSound>()),
      FScheduler(SampleRate, SynthBlockFrames), FLimiter(SampleRate) {
  RouteSynthLog();
  if (FOptions.OwnInstrumentList) {
    FOwnInstruments = std::make_unique<TInstrumentList>();
    FInstruments = FOwnInstruments.get();
  }
  if (FOptions.Mode == TEngineMode::Capture) {
    FCaptureCapacity = FOptions.CaptureCapacity;
    FCaptured.reserve(FCaptureCapacity);
  }
  if (FOptions.Mode == TEngineMode::Live) {
    FSequencer = std::make_unique<TSequencerPorts>();
    FJackOut = std::make_unique<TJackMidiPort>("Melotastico out", "midi_out",
                                               TJackMidiPort::TDirection::Output);
  }
  CreateSynth();
  EnumeratePorts();
  SelectDirectSoundDevice(0);
}

TKoDirectMusic::~TKoDirectMusic() {
  std::lock_guard guard(FLock);
  FActive = false;
  ReleaseAll();
  FInstruments->Clear();
}

void TKoDirectMusic::CreateSynth() {
  FSettings = new_fluid_settings();
  if (FSettings == nullptr) {
    return;
  }
  fluid_settings_setnum(FSettings, "synth.sample-rate", SampleRate);
  fluid_settings_setint(FSettings, "synth.midi-channels", MidiChannelCount);
  // Sound sets come from memory buffers that are gone after loading.
  fluid_settings_setint(FSettings, "synth.dynamic-sample-loading", 0);
  // Bank select MSB and LSB together pick the bank, as a DLS patch does.
  fluid_settings_setstr(FSettings, "synth.midi-bank-select", "mma");
  fluid_settings_setint(FSettings, "synth.polyphony", QueueVoices);
  fluid_settings_setstr(FSettings, "audio.driver", FOptions.AudioDriver.c_str());
  fluid_settings_setstr(FSettings, "audio.file.name", FOptions.AudioFile.c_str());
  fluid_settings_setstr(FSettings, "audio.file.type", "raw");
  FSynth = new_fluid_synth(FSettings);
  if (FSynth == nullptr) {
    return;
  }
  fluid_synth_set_polyphony(FSynth, Polyphony);
  AddMemoryLoader(FSynth);
  AddDlsLoader(FSynth);
  SendEverythingThroughReverb(FSynth);
  fluid_synth_set_gain(FSynth, GainOfVolume(0));
  ApplyReverb();
}

void TKoDirectMusic::EnumeratePorts() {
  FPorts = TPortList{};
  switch (FOptions.Mode) {
  case TEngineMode::Offline:
    if (FSynth != nullptr) {
      AddOutputPort(FPorts,
                    {TPortKind::OfflineSynth, "Software synthesizer (offline)", -1, -1, {}});
    }
    return;
  case TEngineMode::Capture:
    AddOutputPort(FPorts, {TPortKind::Capture, "MIDI capture", -1, -1, {}});
    return;
  case TEngineMode::Live:
    break;
  }
  if (FSynth != nullptr) {
    AddOutputPort(FPorts,
                  {TPortKind::SoftwareSynth, "Software synthesizer (FluidSynth)", -1, -1, {}});
  }
  FSequencer->Enumerate([this](const TSequencerPortInfo& info) {
    const TPortCaps caps{TPortKind::Sequencer, info.Description, info.Client, info.Port, {}};
    if (info.Writable) {
      AddOutputPort(FPorts, caps);
    }
    if (info.Readable) {
      AddInputPort(FPorts, caps);
    }
  });
  for (const std::string& peer : FJackOut->Peers()) {
    AddOutputPort(FPorts, {TPortKind::JackMidi, "JACK: " + peer, -1, -1, peer});
  }
}

void TKoDirectMusic::ReleaseAll() {
  CloseDriver();
  FSequencer.reset();
  FJackOut.reset();
  if (FSynth != nullptr) {
    delete_fluid_synth(FSynth);
    FSynth = nullptr;
  }
  if (FSettings != nullptr) {
    delete_fluid_settings(FSettings);
    FSettings = nullptr;
  }
  FFontId = -1;
  FPortIndex = -1;
  FPortActive = false;
}

// ---- Engine: ports -----------------------------------------------------------------

TPortKind TKoDirectMusic::SelectedKind() const {
  return FPorts.OutputPorts[static_cast<std::size_t>(FPortIndex)].Kind;
}

bool TKoDirectMusic::HasSynthPort() const {
  return FPortIndex >= 0 && SelectedKind() != TPortKind::Sequencer &&
         SelectedKind() != TPortKind::JackMidi && FSynth != nullptr;
}

bool TKoDirectMusic::DriverIsJack() const {
  return FOptions.AudioDriver == "alsa" && FDirectSound->SelectedDriver() == "jack";
}

std::string TKoDirectMusic::DriverName() const {
  // Tools and tests may ask for another driver; otherwise the chosen output's.
  return FOptions.AudioDriver == "alsa" ? FDirectSound->SelectedDriver() : FOptions.AudioDriver;
}

bool TKoDirectMusic::OpenDriver() {
  if (FDriver != nullptr) {
    return true;
  }
  const std::string driver = DriverName();
  fluid_settings_setstr(FSettings, "audio.driver", driver.c_str());
  fluid_settings_setstr(FSettings, "audio.alsa.device", FDirectSound->SelectedDeviceName().c_str());
  // JACK: our own client name, and played through the system's speakers.
  fluid_settings_setstr(FSettings, "audio.jack.id", "Melotastico");
  fluid_settings_setint(FSettings, "audio.jack.autoconnect", 1);
  fluid_settings_setint(FSettings, "audio.period-size", FBuffer.PeriodFrames);
  fluid_settings_setint(FSettings, "audio.periods", FBuffer.PeriodCount);
  // The file writer takes no callback: it plays the synthesizer directly, so
  // timed messages then play at once and nothing is limited.
  FDriverCallsUs = FOptions.AudioDriver != "file";
  // A new output keeps its own time: the clock is tied to its frames afresh.
  FScheduler.Restart();
  // JACK calls once per cycle of its own; the others write into a buffer.
  FOutputBufferFrames = driver == "jack" ? 0 : FBuffer.PeriodFrames * FBuffer.PeriodCount;
  FDriver = FDriverCallsUs ? new_fluid_audio_driver2(FSettings, &AudioCallback, this)
                           : new_fluid_audio_driver(FSettings, FSynth);
  FPeriodsSeen = FPeriodsAsked.load(std::memory_order_relaxed);
  FPeriodsSeenAtMs = SteadyClockMs();
  return FDriver != nullptr;
}

TOutputCheck TKoDirectMusic::CheckOutput() {
  std::lock_guard guard(FLock);
  if (FPortIndex < 0 || SelectedKind() != TPortKind::SoftwareSynth || !FDriverCallsUs ||
      (FDriver == nullptr && !FOutputLost)) {
    return TOutputCheck::Unchanged;
  }
  const double now = SteadyClockMs();
  if (FDriver != nullptr) {
    const std::uint64_t asked = FPeriodsAsked.load(std::memory_order_relaxed);
    if (asked != FPeriodsSeen) {
      FPeriodsSeen = asked;
      FPeriodsSeenAtMs = now;
      if (!FOutputLost) {
        return TOutputCheck::Unchanged;
      }
      FOutputLost = false;
      FPortActive = true;
      return TOutputCheck::Restored;
    }
    if (now - FPeriodsSeenAtMs < OutputStallMs) {
      return TOutputCheck::Unchanged;
    }
    // Nothing asked for sound for a while: the driver's thread has given up
    // (its server or device went away). Closed, it plays what waits at once.
    CloseDriver();
    // Nobody hears what sounded: left in the synthesizer, it would sound all
    // at once when the output is back (and, with it, every note started
    // meanwhile, which SendLocked therefore does not start).
    if (FSynth != nullptr)
      fluid_synth_all_sounds_off(FSynth, -1);
    FPortActive = false;
    FRetryAtMs = now + OutputRetryMs;
    if (FOutputLost) {
      return TOutputCheck::Unchanged; // a reopened output that never played
    }
    FOutputLost = true;
    return TOutputCheck::Lost;
  }
  if (now >= FRetryAtMs && !OpenDriver()) {
    FRetryAtMs = now + OutputRetryMs;
  }
  return TOutputCheck::Unchanged;
}

bool TKoDirectMusic::OutputLost() const {
  std::lock_guard guard(FLock);
  return FOutputLost;
}

void TKoDirectMusic::CloseDriver() {
  if (FDriver != nullptr) {
    delete_fluid_audio_driver(FDriver);
    FDriver = nullptr;
  }
  // No period will come for what waits: it plays now, so that no note-off
  // is lost.
  for (const TSampleScheduler::TMessage& message : FScheduler.TakeAll()) {
    if (FSynth != nullptr)
      PlayOnSynth(message.Status, message.Data1, message.Data2);
  }
}

bool TKoDirectMusic::SelectPort(int index) {
  std::lock_guard guard(FLock);
  if (index < 0 || index >= FPorts.OutputCount) {
    return false;
  }
  // The previous port goes first, whether or not the new one opens.
  CloseDriver();
  FOutputLost = false;
  FPortIndex = -1;
  FPortActive = false;
  const TPortCaps& port = FPorts.OutputPorts[static_cast<std::size_t>(index)];
  bool opened = true;
  if (port.Kind == TPortKind::SoftwareSynth) {
    opened = FSynth != nullptr && OpenDriver();
  } else if (port.Kind == TPortKind::Sequencer) {
    opened = FSequencer != nullptr && FSequencer->Connect(port.SeqClient, port.SeqPort);
  } else if (port.Kind == TPortKind::JackMidi) {
    opened = FJackOut != nullptr && FJackOut->Connect(port.JackPort);
  }
  if (!opened) {
    return false;
  }
  FPortActive = true;
  FPortIndex = index;
  return true;
}

int TKoDirectMusic::GetDefaultPortIndex() const {
  std::lock_guard guard(FLock);
  for (int i = 0; i < FPorts.OutputCount; ++i) {
    const TPortKind kind = FPorts.OutputPorts[static_cast<std::size_t>(i)].Kind;
    if (kind != TPortKind::Sequencer && kind != TPortKind::JackMidi) {
      return i;
    }
  }
  return -1;
}

int TKoDirectMusic::PortIndex() const {
  std::lock_guard guard(FLock);
  return FPortIndex;
}

bool TKoDirectMusic::WriteOutDevList(const std::filesystem::path& folder) const {
  std::lock_guard guard(FLock);
  return melo::WriteOutDevList(folder, FPorts);
}

bool TKoDirectMusic::SetActive(bool value) {
  std::lock_guard guard(FLock);
  FActive = value;
  return true;
}

bool TKoDirectMusic::SetPortActive(bool value) {
  std::lock_guard guard(FLock);
  if (FPortIndex < 0) {
    return false;
  }
  FOutputLost = false; // the owner decides now, not the watch
  if (SelectedKind() == TPortKind::SoftwareSynth) {
    if (value && !OpenDriver()) {
      return false;
    }
    if (!value) {
      CloseDriver();
    }
  }
  FPortActive = value;
  return true;
}

bool TKoDirectMusic::Active() const {
  std::lock_guard guard(FLock);
  return FActive;
}

bool TKoDirectMusic::PortActive() const {
  std::lock_guard guard(FLock);
  return FPortActive;
}

bool TKoDirectMusic::SelectDirectSoundDevice(int index) {
  static_cast<void>(SetActive(false)); // always succeeds
  std::unique_lock guard(FLock);
  if (!FDirectSound->SelectDevice(index)) {
    return false;
  }
  // A playing synthesizer moves to the new device at once.
  if (FDriver != nullptr) {
    CloseDriver();
    FPortActive = OpenDriver();
  }
  guard.unlock();
  return SetActive(true);
}

bool TKoDirectMusic::SelectAudioOutput(const std::string& name) {
  int index = -1;
  {
    std::lock_guard guard(FLock);
    index = FDirectSound->FindOrAddDevice(name);
  }
  return index >= 0 && SelectDirectSoundDevice(index);
}

// ---- Engine: sound sets ----------------------------------------------------------

TSoundSetResult TKoDirectMusic::LoadCollection(std::span<const std::uint8_t> bytes, bool sort,
                                               std::shared_ptr<const void> owner) {
  // Reading a set takes long; senders keep playing meanwhile (the synthesizer
  // guards its own font list). Only the switch-over holds the engine's lock.
  TLoadedSoundSet loaded;
  const TSoundSetResult result = owner
                                     ? LoadSoundSetInPlace(FSynth, bytes, std::move(owner), loaded)
                                     : LoadSoundSet(FSynth, bytes, loaded);
  if (!result) {
    return result;
  }
  std::lock_guard guard(FLock);
  if (FFontId >= 0) {
    fluid_synth_sfunload(FSynth, FFontId, 1);
  }
  FFontId = loaded.FontId;
  FInstruments->Fill(loaded.Instruments);
  if (sort) {
    FInstruments->SortByPatch();
  }
  if (HasSynthPort()) {
    fluid_synth_program_reset(FSynth);
  }
  return result;
}

bool TKoDirectMusic::LoadCollectionFromStream(std::span<const std::uint8_t> stream) {
  // A set that cannot be read leaves the current one playing and listed.
  return static_cast<bool>(LoadCollection(stream, true));
}

TSoundSetResult TKoDirectMusic::LoadCollectionFromMappedFile(const std::filesystem::path& file) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(file, error)) {
    return {TSoundSetFault::Missing};
  }
  const std::shared_ptr<const TMappedFile> mapped = TMappedFile::Open(file, MaxSoundSetBytes);
  if (mapped == nullptr) {
    return {TSoundSetFault::Unreadable};
  }
  const TSoundSetResult result = LoadCollection(mapped->Bytes(), true, mapped);
  if (result) {
    // Only what is played stays resident.
    mapped->ReleaseTouchedPages();
  }
  return result;
}

TSoundSetResult TKoDirectMusic::LoadCollectionFromFile() {
  if (!Config.UseExternalDLS) {
    std::lock_guard guard(FLock);
    FInstruments->Clear();
    return {TSoundSetFault::Missing};
  }
  return LoadCollectionFromFile(std::filesystem::path(Config.ExternalDLSFileName));
}

TSoundSetResult TKoDirectMusic::LoadCollectionFromFile(const std::filesystem::path& fileName) {
  {
    std::lock_guard guard(FLock);
    FInstruments->Clear();
  }
  std::error_code error;
  if (!std::filesystem::is_regular_file(fileName, error)) {
    return {TSoundSetFault::Missing};
  }
  std::vector<std::uint8_t> bytes;
  TSoundSetResult result{TSoundSetFault::Unreadable};
  if (ReadFileBytes(fileName, bytes, MaxSoundSetBytes)) {
    result = LoadCollection(bytes, false);
    if (result) {
      return result;
    }
  }
  // The chosen set replaces the current one even when it cannot be read: the
  // list is empty, so nothing may keep sounding from the old set.
  std::lock_guard guard(FLock);
  if (FFontId >= 0 && FSynth != nullptr) {
    fluid_synth_sfunload(FSynth, FFontId, 1);
    FFontId = -1;
  }
  return result;
}

bool TKoDirectMusic::DownloadInstruments() {
  std::lock_guard guard(FLock);
  if (FFontId < 0 || !HasSynthPort()) {
    return false;
  }
  // Every channel takes its instrument from the new set.
  return fluid_synth_program_reset(FSynth) == FLUID_OK;
}

TSoundSetResult TKoDirectMusic::LoadExternalDLS() {
  const TSoundSetResult loaded = LoadCollectionFromFile();
  // Fails only without a synthesizer (a capture port), where nothing plays anyway.
  static_cast<void>(DownloadInstruments());
  return loaded;
}

int TKoDirectMusic::FindInstrument(std::uint32_t patch) {
  for (int i = 0; i < InstrumentList.Count; ++i) {
    if (InstrumentList.Entries[static_cast<std::size_t>(i)].Patch == patch) {
      return i;
    }
  }
  return -1;
}

// ---- Engine: messages ------------------------------------------------------------

bool TKoDirectMusic::PlayOnSynth(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) {
  // Set before the call: set after, it could come too late for a renderer
  // that looks between the two.
  WakeRenderer();
  const int channel = status & 0x0F;
  const int key = data1 & 0x7F;
  const int value = data2 & 0x7F;
  // The synthesizer's own results are not failures of the send: a note-off for
  // a note that already ended, for example, reports one.
  switch (status & 0xF0) {
  case NoteOffStatus:
    fluid_synth_noteoff(FSynth, channel, key);
    return true;
  case NoteOnStatus:
    fluid_synth_noteon(FSynth, channel, key, value);
    return true;
  case 0xA0:
    fluid_synth_key_pressure(FSynth, channel, key, value);
    return true;
  case ControlChangeStatus:
    fluid_synth_cc(FSynth, channel, key, value);
    return true;
  case ProgramChangeStatus:
    fluid_synth_program_change(FSynth, channel, key);
    return true;
  case 0xD0:
    fluid_synth_channel_pressure(FSynth, channel, key);
    return true;
  case 0xE0:
    fluid_synth_pitch_bend(FSynth, channel, key | value << 7);
    return true;
  default:
    return false; // not a channel message
  }
}

bool TKoDirectMusic::CaptureMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) {
  if (FCaptured.size() + 3 > FCaptureCapacity) {
    return false;
  }
  FCaptured.push_back(status);
  FCaptured.push_back(data1);
  FCaptured.push_back(data2);
  return true;
}

bool TKoDirectMusic::Scheduling() const {
  if (!FOptions.PlaceTimedMessages) {
    return false;
  }
  switch (SelectedKind()) {
  case TPortKind::OfflineSynth:
    return true;
  case TPortKind::SoftwareSynth:
    return FDriver != nullptr && FDriverCallsUs;
  default:
    return false;
  }
}

bool TKoDirectMusic::SendLocked(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) {
  if (FPortIndex < 0) {
    return false;
  }
  switch (SelectedKind()) {
  case TPortKind::SoftwareSynth:
  case TPortKind::OfflineSynth:
    if (FOutputLost && (status & 0xF0) == NoteOnStatus && data2 != 0)
      return true; // unheard now, and no burst when the output is back
    if (const auto when = TIntendedTimeScope::Current();
        when && Scheduling() && (status & 0xF0) >= 0x80 && (status & 0xF0) < 0xF0) {
      if (FScheduler.Push(when->Ms + when->SlackMs, status, data1, data2)) {
        WakeRenderer();
        return true;
      }
    }
    if ((status & 0xF0) == ControlChangeStatus &&
        (data1 == AllSoundOffController || data1 == AllNotesOffController)) {
      FScheduler.DropNoteOns(status & 0x0F);
    }
    // A note-off now (a stop on the UI thread) ends the same note still
    // waiting for its sample, which would otherwise sound after it for ever.
    if ((status & 0xF0) == NoteOffStatus || ((status & 0xF0) == NoteOnStatus && data2 == 0))
      FScheduler.DropNoteOns(status & 0x0F, data1);
    return PlayOnSynth(status, data1, data2);
  case TPortKind::Capture:
    return CaptureMessage(status, data1, data2);
  case TPortKind::Sequencer:
    return FSequencer->Send(status, data1, data2);
  case TPortKind::JackMidi:
    return FJackOut->Send(status, data1, data2);
  }
  return false;
}

bool TKoDirectMusic::SendMidiMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) {
  std::lock_guard guard(FLock);
  return SendLocked(status, data1, data2);
}

std::optional<std::uint32_t> TKoDirectMusic::SelectDrumKit() {
  std::lock_guard guard(FLock);
  if (FInstruments->Count == 0) {
    return std::nullopt; // no sound set: the drum channel keeps what it has
  }
  const std::uint32_t kit =
      FInstruments->Entries[static_cast<std::size_t>(FInstruments->Count - 1)].Patch;
  const TPatchBytes bytes = UnpackPatch(kit);
  const auto control = ChannelStatus(ControlChangeStatus, DrumChannel);
  // The program change's result answers for the whole patch.
  static_cast<void>(SendLocked(control, 0, bytes.MSB));
  static_cast<void>(SendLocked(control, 32, bytes.LSB));
  if (!SendLocked(ChannelStatus(ProgramChangeStatus, DrumChannel), bytes.Program, 0)) {
    return std::nullopt;
  }
  return kit;
}

// ---- Engine: port settings -------------------------------------------------------

bool TKoDirectMusic::ApplyBuffer(TDriverBuffer buffer) {
  const TDriverBuffer previous = FBuffer;
  FBuffer = buffer;
  // JACK's server sets the period for every client; re-opening would only
  // drop the connections.
  if (FDriver == nullptr || DriverIsJack()) {
    return true;
  }
  // Re-opening keeps the synthesizer, so the sound set and every channel's
  // state stay as they are.
  CloseDriver();
  if (OpenDriver()) {
    return true;
  }
  FBuffer = previous;
  OpenDriver();
  return false;
}

bool TKoDirectMusic::SetWriteLatency(int ms) {
  std::lock_guard guard(FLock);
  if (!HasSynthPort()) {
    return false;
  }
  const int periodMs = static_cast<int>(std::lround(FBuffer.PeriodFrames * 1000.0 / SampleRate));
  return ApplyBuffer(DriverBufferFor(ms, std::max(periodMs, 1), SampleRate));
}

bool TKoDirectMusic::SetWritePeriod(int ms) {
  std::lock_guard guard(FLock);
  if (!HasSynthPort()) {
    return false;
  }
  const int latencyMs = static_cast<int>(
      std::lround(FBuffer.PeriodFrames * FBuffer.PeriodCount * 1000.0 / SampleRate));
  return ApplyBuffer(DriverBufferFor(latencyMs, ms, SampleRate));
}

bool TKoDirectMusic::SetResponseTime(int ms) {
  std::lock_guard guard(FLock);
  if (!HasSynthPort()) {
    return false;
  }
  // One step from the setting alone: the buffer does not depend on the one
  // before it. A device may serve one user at a time, so it is asked for its
  // period while our own driver is closed.
  const bool reopen = FDriver != nullptr && !DriverIsJack();
  if (reopen)
    CloseDriver();
  const bool alsa = FOptions.Mode == TEngineMode::Live && DriverName() == "alsa";
  const std::string device = FDirectSound->SelectedDeviceName();
  const TDriverBuffer previous = FBuffer;
  FBuffer = DriverBufferForResponse(ms, SampleRate, [&](int frames) {
    return alsa ? AlsaPeriodFrames(device, SampleRate, frames) : frames;
  });
  if (!reopen || OpenDriver()) {
    return true;
  }
  FBuffer = previous;
  OpenDriver();
  return false;
}

TDriverBuffer TKoDirectMusic::DriverBuffer() const {
  std::lock_guard guard(FLock);
  return FBuffer;
}

int TKoDirectMusic::GetWriteLatency() const {
  std::lock_guard guard(FLock);
  if (!HasSynthPort()) {
    return 0;
  }
  return static_cast<int>(
      std::lround(FBuffer.PeriodFrames * FBuffer.PeriodCount * 1000.0 / SampleRate));
}

int TKoDirectMusic::GetWritePeriod() const {
  std::lock_guard guard(FLock);
  if (!HasSynthPort()) {
    return 0;
  }
  return static_cast<int>(std::lround(FBuffer.PeriodFrames * 1000.0 / SampleRate));
}

bool TKoDirectMusic::SetVolume(std::int32_t value) {
  std::lock_guard guard(FLock);
  if (!HasSynthPort()) {
    return false;
  }
  fluid_synth_set_gain(FSynth, GainOfVolume(value));
  return true;
}

void TKoDirectMusic::ApplyReverb() {
  const TFluidReverb reverb = MapReverb(FReverb);
  fluid_synth_reverb_on(FSynth, AllGroups, reverb.On ? 1 : 0);
  fluid_synth_set_reverb_group_level(FSynth, AllGroups, reverb.Level);
  fluid_synth_set_reverb_group_roomsize(FSynth, AllGroups, reverb.RoomSize);
  fluid_synth_set_reverb_group_damp(FSynth, AllGroups, reverb.Damping);
}

bool TKoDirectMusic::GetReverbParams(TWavesReverbParams& params) const {
  std::lock_guard guard(FLock);
  if (!HasSynthPort()) {
    return false;
  }
  params = FReverb;
  return true;
}

bool TKoDirectMusic::SetReverbParams(const TWavesReverbParams& params) {
  std::lock_guard guard(FLock);
  if (DXVersion < DXVersionReverb || !HasSynthPort()) {
    return false;
  }
  FReverb = params;
  ApplyReverb();
  return true;
}

void TKoDirectMusic::SetReverbLevel(std::uint8_t level) {
  struct TLevel {
    float Mix;
    float Time;
  };
  static constexpr std::array<TLevel, 5> levels{
      {{-100.0f, 0.0f}, {-12.0f, 500.0f}, {-10.0f, 1000.0f}, {-7.0f, 1800.0f}, {-5.0f, 2500.0f}}};
  if (DXVersion < DXVersionReverb) {
    return;
  }
  {
    std::lock_guard guard(FLock);
    FReverbLevel = level;
  }
  TWavesReverbParams params;
  GetReverbParams(params);
  if (level < levels.size()) {
    params.ReverbMix = levels[level].Mix;
    params.ReverbTime = levels[level].Time;
  }
  // False without reverb or a synthesizer port: the level then has no effect.
  static_cast<void>(SetReverbParams(params));
}

std::uint8_t TKoDirectMusic::ReverbLevel() const {
  std::lock_guard guard(FLock);
  return FReverbLevel;
}

// ---- Engine: offline and capture -------------------------------------------------

bool TKoDirectMusic::Render(std::span<float> left, std::span<float> right) {
  std::lock_guard guard(FLock);
  if (FSynth == nullptr || FDriver != nullptr || left.size() != right.size()) {
    return false;
  }
  RenderPeriod(left.data(), right.data(), static_cast<int>(left.size()));
  return true;
}

int TKoDirectMusic::AudioCallback(void* data, int len, int, float*[], int nout, float* out[]) {
  if (nout < 2 || len < 0) {
    return FLUID_FAILED;
  }
  auto* engine = static_cast<TKoDirectMusic*>(data);
  engine->FPeriodsAsked.fetch_add(1, std::memory_order_relaxed);
  engine->RenderPeriod(out[0], out[1], len);
  return FLUID_OK;
}

void TKoDirectMusic::RenderFrames(float* left, float* right, std::int64_t offset,
                                  std::int64_t frames) {
  if (frames > 0) {
    fluid_synth_write_float(FSynth, static_cast<int>(frames), left, static_cast<int>(offset), 1,
                            right, static_cast<int>(offset), 1);
  }
}

// The period is rendered in pieces: up to the block boundary of the next
// timed message, the message, on to the next. The synthesizer's own blocks
// stay aligned with FFrame because nothing else makes it render.
void TKoDirectMusic::RenderPeriod(float* left, float* right, int frames) {
  const double now = FOptions.ClockMs ? FOptions.ClockMs() : SteadyClockMs();
  const std::int64_t end = FFrame + frames;
  std::int64_t at = FFrame;
  const auto due = FScheduler.BeginPeriod(FFrame, frames, now, FOutputBufferFrames);
  if (RestPeriod(left, right, frames, !due.empty())) {
    return;
  }
  for (const TSampleScheduler::TMessage& message : due) {
    const std::int64_t next = std::clamp(message.Frame, at, end);
    RenderFrames(left, right, at - FFrame, next - at);
    at = next;
    PlayOnSynth(message.Status, message.Data1, message.Data2);
  }
  RenderFrames(left, right, at - FFrame, end - at);
  FFrame = end;
  if (FOptions.LimitPeaks) {
    FLimiter.Process(std::span(left, static_cast<std::size_t>(frames)),
                     std::span(right, static_cast<std::size_t>(frames)));
  }
  WatchForSilence(left, right, frames);
}

void TKoDirectMusic::WakeRenderer() {
  FSynthTouched.store(true, std::memory_order_release);
}

// While resting, a period with nothing for the synthesizer is zeros and
// nothing else: the output is still fed every period, so that a sound server
// or device never runs dry and never drops the start of the next note while
// it starts its stream again. The first period with something wakes the
// synthesizer: the frames it missed are rendered (silence) up to its next
// block boundary, so its blocks, and the timed messages placed on them, fall
// where they would have. True when the period was rested.
bool TKoDirectMusic::RestPeriod(float* left, float* right, int frames, bool messagesDue) {
  if (!FResting.load(std::memory_order_relaxed)) {
    return false;
  }
  if (!messagesDue && !FSynthTouched.exchange(false, std::memory_order_acquire)) {
    std::fill_n(left, frames, 0.0f);
    std::fill_n(right, frames, 0.0f);
    FFrame += frames;
    FRestedOffBlock = static_cast<int>((FRestedOffBlock + frames) % SynthBlockFrames);
    return true;
  }
  std::array<float, SynthBlockFrames> discardLeft{};
  std::array<float, SynthBlockFrames> discardRight{};
  RenderFrames(discardLeft.data(), discardRight.data(), 0, FRestedOffBlock);
  FRestedOffBlock = 0;
  FQuietFrames = 0;
  FResting.store(false, std::memory_order_relaxed);
  return false;
}

// The rest begins after RestAfterMs below RestLevel with no message for the
// synthesizer meanwhile and no voice left. The voice count takes the
// synthesizer's own lock: asked once, when the silence has lasted.
void TKoDirectMusic::WatchForSilence(const float* left, const float* right, int frames) {
  if (!FOptions.RestWhenSilent) {
    return;
  }
  const auto loud = [](float sample) { return std::fabs(sample) > RestLevel; };
  if (FSynthTouched.exchange(false, std::memory_order_acquire) ||
      std::any_of(left, left + frames, loud) || std::any_of(right, right + frames, loud)) {
    FQuietFrames = 0;
    return;
  }
  FQuietFrames += frames;
  if (FQuietFrames >= static_cast<std::int64_t>(RestAfterMs * SampleRate / 1000) &&
      fluid_synth_get_active_voice_count(FSynth) == 0) {
    FResting.store(true, std::memory_order_relaxed);
  }
}

std::vector<std::uint8_t> TKoDirectMusic::CapturedBytes() const {
  std::lock_guard guard(FLock);
  return FCaptured;
}

} // namespace melo
