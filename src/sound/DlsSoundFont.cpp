#include "sound/DlsSoundFont.h"

#include "music/MidiInterfaces.h"
#include "platform/GbkText.h"

#include <fluidsynth.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace melo {

namespace {

std::atomic<int> LiveFonts{0};

constexpr int kDrumBank = 128;
// FluidSynth reads a few frames around a sample when it interpolates, and
// wants at least 48 frames.
constexpr std::size_t kMargin = 8;
constexpr std::size_t kMinFrames = 48;
constexpr std::size_t kTailPadding = kMinFrames + kMargin;

// DLS articulation values use 16.16 fixed point.
double Units(std::int32_t scale) {
  return scale / 65536.0;
}

// ---- Articulation: DLS connections gathered into the values of one voice ----

struct TEnvelope {
  double Delay = -12000, Attack = -12000, Hold = -12000, Decay = -12000;
  double Sustain = 1000; // per mille of full level
  double Release = -12000;
  double KeyToHold = 0, KeyToDecay = 0; // time cents over the whole key range
};

// DLS's implied values where a connection is absent.
struct TArticulation {
  TEnvelope Volume, Modulation;
  double LfoFrequency = -851.3, LfoDelay = -7973; // 5 Hz after 10 ms
  double VibratoFrequency = -851.3, VibratoDelay = -7973;
  bool HasVibrato = false;
  double LfoToPitch = 0, LfoToGain = 0, LfoToFilter = 0, VibratoToPitch = 0;
  double EnvelopeToPitch = 0, EnvelopeToFilter = 0;
  double Pan = 0, Gain = 0, Pitch = 0, KeyToPitch = 12800;
  double FilterCutoff = 13500, FilterQ = 0;
  double Chorus = -1, Reverb = -1;        // -1: leave the synthesizer's default
  std::vector<TDlsConnection> Modulators; // connections with a MIDI source
};

bool SetEnvelope(TEnvelope& env, std::uint16_t dst, std::uint16_t base, double value) {
  switch (dst - base) {
  case 0:
    env.Attack = value;
    return true;
  case 1:
    env.Decay = value;
    return true;
  case 3:
    env.Release = value;
    return true;
  case 4:
    env.Sustain = value;
    return true;
  case 5:
    env.Delay = value;
    return true;
  case 6:
    env.Hold = value;
    return true;
  default:
    return false;
  }
}

bool SetConstant(TArticulation& a, std::uint16_t dst, double v) {
  if (dst >= CONN_DST_EG1_ATTACKTIME && dst <= CONN_DST_EG1_HOLDTIME)
    return SetEnvelope(a.Volume, dst, CONN_DST_EG1_ATTACKTIME, v);
  if (dst >= CONN_DST_EG2_ATTACKTIME && dst <= CONN_DST_EG2_HOLDTIME)
    return SetEnvelope(a.Modulation, dst, CONN_DST_EG2_ATTACKTIME, v);
  switch (dst) {
  case CONN_DST_LFO_FREQUENCY:
    a.LfoFrequency = v;
    return true;
  case CONN_DST_LFO_STARTDELAY:
    a.LfoDelay = v;
    return true;
  case CONN_DST_VIB_FREQUENCY:
    a.VibratoFrequency = v;
    a.HasVibrato = true;
    return true;
  case CONN_DST_VIB_STARTDELAY:
    a.VibratoDelay = v;
    a.HasVibrato = true;
    return true;
  case CONN_DST_PAN:
    a.Pan = v;
    return true;
  case CONN_DST_ATTENUATION:
    a.Gain = v;
    return true;
  case CONN_DST_PITCH:
    a.Pitch = v;
    return true;
  case CONN_DST_FILTER_CUTOFF:
    a.FilterCutoff = v;
    return true;
  case CONN_DST_FILTER_Q:
    a.FilterQ = v;
    return true;
  case CONN_DST_CHORUS:
    a.Chorus = v;
    return true;
  case CONN_DST_REVERB:
    a.Reverb = v;
    return true;
  default:
    return false;
  }
}

bool SetKeyScaling(TArticulation& a, std::uint16_t dst, double v) {
  switch (dst) {
  case CONN_DST_EG1_DECAYTIME:
    a.Volume.KeyToDecay = v;
    return true;
  case CONN_DST_EG1_HOLDTIME:
    a.Volume.KeyToHold = v;
    return true;
  case CONN_DST_EG2_DECAYTIME:
    a.Modulation.KeyToDecay = v;
    return true;
  case CONN_DST_EG2_HOLDTIME:
    a.Modulation.KeyToHold = v;
    return true;
  case CONN_DST_PITCH:
    a.KeyToPitch = v;
    return true;
  default:
    return false;
  }
}

// Depth of an internal source (LFO, vibrato LFO, EG2) on a destination.
bool SetDepth(TArticulation& a, std::uint16_t src, std::uint16_t dst, double v) {
  const bool pitch = dst == CONN_DST_PITCH, filter = dst == CONN_DST_FILTER_CUTOFF;
  double* target = nullptr;
  if (src == CONN_SRC_LFO) {
    target = pitch                         ? &a.LfoToPitch
             : filter                      ? &a.LfoToFilter
             : dst == CONN_DST_ATTENUATION ? &a.LfoToGain
                                           : nullptr;
  } else if (src == CONN_SRC_VIBRATO && pitch) {
    target = &a.VibratoToPitch;
  } else if (src == CONN_SRC_EG2) {
    target = pitch ? &a.EnvelopeToPitch : filter ? &a.EnvelopeToFilter : nullptr;
  }
  if (target == nullptr)
    return false;
  *target = v;
  return true;
}

bool SameRoute(const TDlsConnection& a, const TDlsConnection& b) {
  return a.Source == b.Source && a.Control == b.Control && a.Destination == b.Destination;
}

void Apply(TArticulation& a, const TDlsConnection& c) {
  const double v = Units(c.Scale);
  if (c.Control == CONN_SRC_NONE) {
    if (c.Source == CONN_SRC_NONE && SetConstant(a, c.Destination, v))
      return;
    if (c.Source == CONN_SRC_KEYNUMBER && SetKeyScaling(a, c.Destination, v))
      return;
    if (SetDepth(a, c.Source, c.Destination, v))
      return;
  }
  // A later connection on the same route replaces an earlier one.
  auto& mods = a.Modulators;
  mods.erase(std::remove_if(mods.begin(), mods.end(),
                            [&](const TDlsConnection& m) { return SameRoute(m, c); }),
             mods.end());
  mods.push_back(c);
}

// ---- Modulators: connections with a MIDI source -------------------------------

struct TModSource {
  int Source = FLUID_MOD_NONE;
  int Flags = FLUID_MOD_GC;
  bool Valid = false;
};

TModSource MapSource(std::uint16_t src) {
  switch (src) {
  case CONN_SRC_KEYONVELOCITY:
    return {FLUID_MOD_VELOCITY, FLUID_MOD_GC, true};
  case CONN_SRC_KEYNUMBER:
    return {FLUID_MOD_KEY, FLUID_MOD_GC, true};
  case CONN_SRC_PITCHWHEEL:
    return {FLUID_MOD_PITCHWHEEL, FLUID_MOD_GC | FLUID_MOD_BIPOLAR, true};
  case CONN_SRC_POLYPRESSURE:
    return {FLUID_MOD_KEYPRESSURE, FLUID_MOD_GC, true};
  case CONN_SRC_CHANNELPRESSURE:
    return {FLUID_MOD_CHANNELPRESSURE, FLUID_MOD_GC, true};
  case CONN_SRC_RPN0:
    return {FLUID_MOD_PITCHWHEELSENS, FLUID_MOD_GC, true};
  default:
    if (src >= 0x80 && src < 0x100)
      return {src - 0x80, FLUID_MOD_CC, true};
    return {};
  }
}

// The curve bits of a transform: Level 1 has one output curve, Level 2 a
// curve and invert/bipolar bits per input.
int CurveFlags(std::uint16_t transform, bool level2, int shift) {
  const int curve = level2 ? (transform >> shift) & 0xF : transform & 0xF;
  int flags = curve == CONN_TRN_CONCAVE  ? FLUID_MOD_CONCAVE
              : curve == CONN_TRN_CONVEX ? FLUID_MOD_CONVEX
              : curve == CONN_TRN_SWITCH ? FLUID_MOD_SWITCH
                                         : FLUID_MOD_LINEAR;
  if (level2) {
    const int bits = shift == 10 ? transform >> 14 : transform >> 8;
    flags |= (bits & 1) ? FLUID_MOD_BIPOLAR : 0;
    flags |= (bits & 2) ? FLUID_MOD_NEGATIVE : 0;
  }
  return flags;
}

// Generator and amount factor of a DLS destination reached through a MIDI
// source; internal sources (LFO, vibrato, EG2) turn into their depth.
int MapDestination(std::uint16_t src, std::uint16_t dst, double& factor) {
  factor = 1.0;
  const bool pitch = dst == CONN_DST_PITCH, filter = dst == CONN_DST_FILTER_CUTOFF;
  if (src == CONN_SRC_LFO) {
    return pitch                         ? GEN_MODLFOTOPITCH
           : filter                      ? GEN_MODLFOTOFILTERFC
           : dst == CONN_DST_ATTENUATION ? GEN_MODLFOTOVOL
                                         : -1;
  }
  if (src == CONN_SRC_VIBRATO)
    return pitch ? GEN_VIBLFOTOPITCH : -1;
  if (src == CONN_SRC_EG2)
    return pitch ? GEN_MODENVTOPITCH : filter ? GEN_MODENVTOFILTERFC : -1;
  switch (dst) {
  case CONN_DST_ATTENUATION:
    factor = -1.0; // a gain in DLS, an attenuation here
    return GEN_ATTENUATION;
  case CONN_DST_PITCH:
    return GEN_PITCH;
  case CONN_DST_PAN:
    return GEN_PAN;
  case CONN_DST_FILTER_CUTOFF:
    return GEN_FILTERFC;
  case CONN_DST_FILTER_Q:
    return GEN_FILTERQ;
  case CONN_DST_CHORUS:
    return GEN_CHORUSSEND;
  case CONN_DST_REVERB:
    return GEN_REVERBSEND;
  case CONN_DST_EG1_ATTACKTIME:
    return GEN_VOLENVATTACK;
  case CONN_DST_EG1_DECAYTIME:
    return GEN_VOLENVDECAY;
  case CONN_DST_EG1_HOLDTIME:
    return GEN_VOLENVHOLD;
  case CONN_DST_EG1_RELEASETIME:
    return GEN_VOLENVRELEASE;
  case CONN_DST_EG2_ATTACKTIME:
    return GEN_MODENVATTACK;
  case CONN_DST_EG2_DECAYTIME:
    return GEN_MODENVDECAY;
  case CONN_DST_EG2_HOLDTIME:
    return GEN_MODENVHOLD;
  case CONN_DST_EG2_RELEASETIME:
    return GEN_MODENVRELEASE;
  default:
    return -1;
  }
}

struct TModSpec {
  fluid_mod_t* Mod = nullptr; // owned by the font
  int Mode = FLUID_VOICE_ADD;
};

using TModDeleter = decltype(&delete_fluid_mod);
using TModPtr = std::unique_ptr<fluid_mod_t, TModDeleter>;

TModPtr MakeMod(int src1, int flags1, int src2, int flags2, int dest, double amount) {
  TModPtr mod(new_fluid_mod(), &delete_fluid_mod);
  if (mod) {
    fluid_mod_set_source1(mod.get(), src1, flags1);
    fluid_mod_set_source2(mod.get(), src2, flags2);
    fluid_mod_set_dest(mod.get(), dest);
    fluid_mod_set_amount(mod.get(), amount);
  }
  return mod;
}

// The synthesizer's own default modulators that a DLS connection on the same
// route replaces (sources, flags and destination as FluidSynth defines them).
struct TDefaultRoute {
  int Source, Flags, Source2, Flags2, Dest;
};
constexpr TDefaultRoute kDefaultRoutes[] = {
    {FLUID_MOD_VELOCITY, FLUID_MOD_GC | FLUID_MOD_CONCAVE | FLUID_MOD_NEGATIVE, FLUID_MOD_NONE, 0,
     GEN_ATTENUATION},
    {FLUID_MOD_VELOCITY, FLUID_MOD_GC | FLUID_MOD_NEGATIVE, FLUID_MOD_VELOCITY,
     FLUID_MOD_GC | FLUID_MOD_SWITCH, GEN_FILTERFC},
    {FLUID_MOD_CHANNELPRESSURE, FLUID_MOD_GC, FLUID_MOD_NONE, 0, GEN_VIBLFOTOPITCH},
    {1, FLUID_MOD_CC, FLUID_MOD_NONE, 0, GEN_VIBLFOTOPITCH},
    {7, FLUID_MOD_CC | FLUID_MOD_CONCAVE | FLUID_MOD_NEGATIVE, FLUID_MOD_NONE, 0, GEN_ATTENUATION},
    {10, FLUID_MOD_CC | FLUID_MOD_BIPOLAR, FLUID_MOD_NONE, 0, GEN_PAN},
    {11, FLUID_MOD_CC | FLUID_MOD_CONCAVE | FLUID_MOD_NEGATIVE, FLUID_MOD_NONE, 0, GEN_ATTENUATION},
    {91, FLUID_MOD_CC, FLUID_MOD_NONE, 0, GEN_REVERBSEND},
    {93, FLUID_MOD_CC, FLUID_MOD_NONE, 0, GEN_CHORUSSEND},
    {FLUID_MOD_PITCHWHEEL, FLUID_MOD_GC | FLUID_MOD_BIPOLAR, FLUID_MOD_PITCHWHEELSENS, FLUID_MOD_GC,
     GEN_PITCH},
};

// ---- The font -------------------------------------------------------------------

struct TGenValue {
  int Gen;
  float Value;
};

struct TVoiceSpec {
  std::uint8_t KeyLow, KeyHigh, VelocityLow, VelocityHigh;
  fluid_sample_t* Sample = nullptr;
  std::vector<TGenValue> Gens;
  std::vector<TModSpec> Mods;
};

// An instrument's voices are built at its first note: a whole set takes far
// longer to build than to read, and most of it is never played.
struct TFontInstrument {
  std::uint32_t Patch = 0;
  std::string Name;
  const TDlsInstrument* Source = nullptr;
  std::atomic<bool> Built{false};
  std::vector<TVoiceSpec> Voices; // once Built
};

class TDlsFont;

// What a bank and program select: the melodic instrument and the drum kit
// there (both exist where the synthesizer's bank numbers overlap).
struct TPresetSlot {
  TDlsFont* Font = nullptr;
  int Bank = 0, Program = 0;
  TFontInstrument* Melodic = nullptr;
  TFontInstrument* Drum = nullptr;
  fluid_preset_t* Preset = nullptr;
};

struct TStartedVoice {
  fluid_voice_t* Voice;
  unsigned int Id;
};

class TDlsFont {
public:
  TDlsFont(fluid_synth_t* synth, TDlsCollection collection, std::shared_ptr<const void> owner);
  ~TDlsFont();
  TDlsFont(const TDlsFont&) = delete;
  TDlsFont& operator=(const TDlsFont&) = delete;

  bool Build(fluid_sfont_t* font);
  fluid_preset_t* Preset(int bank, int program) const;
  fluid_preset_t* NextPreset();
  void StartIteration() { FNext = 0; }
  int NoteOn(const TPresetSlot& slot, fluid_synth_t* synth, int chan, int key, int vel);
  bool Playing() const;
  const char* Name() const { return "DLS"; }

private:
  bool BuildSamples();
  bool Ready(TFontInstrument& ins);
  bool BuildVoices(const TDlsInstrument& source, TFontInstrument& out);
  bool AddVoices(const TDlsInstrument& ins, const TDlsRegion& region, TFontInstrument& out);
  bool AddMods(const TArticulation& a, bool level2, TVoiceSpec& voice);
  void AddGens(const TArticulation& a, const TDlsRegion& region, TVoiceSpec& voice) const;
  TPresetSlot& Slot(int bank, int program);
  TFontInstrument* Resolve(const TPresetSlot& slot, int chan) const;
  void Remember(fluid_voice_t* voice);
  void MeasureOnFirstUse(fluid_sample_t* sample);

  fluid_synth_t* FSynth;
  std::shared_ptr<const void> FOwner; // owns the borrowed waves
  TDlsCollection FCollection;
  bool FMmaBanks = false;
  std::vector<std::vector<std::int16_t>> FBuffers; // one per wave channel
  std::vector<std::size_t> FFrames;                // per wave
  std::vector<std::vector<fluid_sample_t*>> FSamples;
  std::vector<TModPtr> FMods;
  std::vector<TFontInstrument> FInstruments;
  std::deque<TPresetSlot> FSlots;
  std::map<std::pair<int, int>, TPresetSlot*> FSlotAt;
  std::array<TFontInstrument*, 128> FMelodicBank0{};
  std::array<TFontInstrument*, 128> FDrumByProgram{};
  std::mutex FBuildLock; // notes may come from more than one thread
  std::size_t FNext = 0;
  std::vector<TStartedVoice> FStarted;
  // Looped samples not yet measured for early voice ending (sorted).
  std::vector<fluid_sample_t*> FUnmeasured;
};

// ---- FluidSynth callbacks --------------------------------------------------------

TDlsFont* FontOf(fluid_sfont_t* sfont) {
  return static_cast<TDlsFont*>(fluid_sfont_get_data(sfont));
}
TPresetSlot* SlotOf(fluid_preset_t* preset) {
  return static_cast<TPresetSlot*>(fluid_preset_get_data(preset));
}

const char* FontName(fluid_sfont_t* sfont) {
  return FontOf(sfont)->Name();
}
fluid_preset_t* FontPreset(fluid_sfont_t* sfont, int bank, int program) {
  return FontOf(sfont)->Preset(bank, program);
}
void FontIterationStart(fluid_sfont_t* sfont) {
  FontOf(sfont)->StartIteration();
}
fluid_preset_t* FontIterationNext(fluid_sfont_t* sfont) {
  return FontOf(sfont)->NextPreset();
}

// Voices read the samples while they sound: the font goes only when none of
// its voices plays; FluidSynth asks again later otherwise.
int FontFree(fluid_sfont_t* sfont) {
  TDlsFont* font = FontOf(sfont);
  if (font != nullptr && font->Playing())
    return -1;
  delete font;
  delete_fluid_sfont(sfont);
  return 0;
}

const char* PresetName(fluid_preset_t* preset) {
  const TPresetSlot* slot = SlotOf(preset);
  const TFontInstrument* ins = slot->Melodic ? slot->Melodic : slot->Drum;
  return ins->Name.c_str();
}
int PresetBank(fluid_preset_t* preset) {
  return SlotOf(preset)->Bank;
}
int PresetProgram(fluid_preset_t* preset) {
  return SlotOf(preset)->Program;
}
int PresetNoteOn(fluid_preset_t* preset, fluid_synth_t* synth, int chan, int key, int vel) {
  const TPresetSlot* slot = SlotOf(preset);
  return slot->Font->NoteOn(*slot, synth, chan, key, vel);
}

// ---- Building ---------------------------------------------------------------------

TDlsFont::TDlsFont(fluid_synth_t* synth, TDlsCollection collection,
                   std::shared_ptr<const void> owner)
    : FSynth(synth), FOwner(std::move(owner)), FCollection(std::move(collection)) {
  ++LiveFonts;
  char style[8] = {};
  fluid_settings_copystr(fluid_synth_get_settings(synth), "synth.midi-bank-select", style,
                         sizeof style);
  FMmaBanks = std::string(style) == "mma";
  int polyphony = fluid_synth_get_polyphony(synth);
  FStarted.reserve(std::size_t(std::max(polyphony, 64)) * 2);
}

TDlsFont::~TDlsFont() {
  --LiveFonts;
  for (TPresetSlot& slot : FSlots)
    delete_fluid_preset(slot.Preset);
  for (auto& channels : FSamples) {
    for (fluid_sample_t* sample : channels)
      delete_fluid_sample(sample);
  }
}

bool TDlsFont::BuildSamples() {
  for (TDlsWave& wave : FCollection.Waves) {
    FFrames.push_back(wave.FrameCount());
    std::vector<fluid_sample_t*> channels;
    for (std::size_t ch = 0; ch < wave.ChannelCount(); ++ch) {
      // A borrowed wave is played where it lies (the synthesizer reads
      // nothing outside a sample's frames); a short one is copied to reach
      // the synthesizer's minimum length.
      const std::int16_t* frames = wave.Borrowed.data();
      std::size_t count = wave.Borrowed.size();
      if (wave.Borrowed.empty() || count < kMinFrames) {
        auto& buffer = FBuffers.emplace_back();
        buffer.reserve(kMargin + wave.FrameCount() + kTailPadding);
        buffer.insert(buffer.end(), kMargin, 0);
        if (wave.Borrowed.empty()) {
          auto& source = wave.Channels[ch];
          buffer.insert(buffer.end(), source.begin(), source.end());
          std::vector<std::int16_t>().swap(source); // the font's copy is the one kept
        } else {
          buffer.insert(buffer.end(), wave.Borrowed.begin(), wave.Borrowed.end());
        }
        buffer.insert(buffer.end(), kTailPadding, 0);
        frames = buffer.data() + kMargin;
        count = std::max(buffer.size() - kMargin - kTailPadding, kMinFrames);
      }
      fluid_sample_t* sample = new_fluid_sample();
      if (sample == nullptr)
        return false;
      channels.push_back(sample);
      const auto length = unsigned(count);
      const TDlsSampleInfo& info = wave.SampleInfo;
      const unsigned loopStart = info.Looped ? info.LoopStart : 0;
      const unsigned loopEnd = info.Looped ? info.LoopStart + info.LoopLength : length;
      // The synthesizer only reads the frames (it does not copy them: the
      // last argument), so a read-only mapping serves.
      if (fluid_sample_set_sound_data(sample, const_cast<short*>(frames), nullptr, length,
                                      wave.SampleRate, 0) != FLUID_OK ||
          fluid_sample_set_loop(sample, loopStart, loopEnd) != FLUID_OK ||
          fluid_sample_set_pitch(sample, info.UnityNote, 0) != FLUID_OK)
        return false;
      // Looping voices that fade below hearing may end early once the loop is
      // measured; that reads the loop, so it waits for the first note.
      if (info.Looped)
        FUnmeasured.push_back(sample);
    }
    FSamples.push_back(std::move(channels));
  }
  std::sort(FUnmeasured.begin(), FUnmeasured.end());
  return true;
}

TPresetSlot& TDlsFont::Slot(int bank, int program) {
  TPresetSlot*& slot = FSlotAt[{bank, program}];
  if (slot == nullptr) {
    slot = &FSlots.emplace_back();
    slot->Font = this;
    slot->Bank = bank;
    slot->Program = program;
  }
  return *slot;
}

bool TDlsFont::Build(fluid_sfont_t* font) {
  if (!BuildSamples())
    return false;
  FInstruments = std::vector<TFontInstrument>(FCollection.Instruments.size());
  for (std::size_t i = 0; i < FInstruments.size(); ++i) {
    const TDlsInstrument& source = FCollection.Instruments[i];
    FInstruments[i].Patch = source.Patch();
    FInstruments[i].Name = GbkToUtf8(source.Name);
    FInstruments[i].Source = &source;
  }
  for (TFontInstrument& ins : FInstruments) {
    const int msb = int(ins.Patch >> 16) & 0x7F, lsb = int(ins.Patch >> 8) & 0x7F;
    const int program = int(ins.Patch & 0x7F);
    if (ins.Patch & DlsDrumFlag) {
      // The drum channel ignores the bank MSB; only the LSB reaches it, and
      // only when bank selects are read the MMA way.
      TPresetSlot& slot = Slot(kDrumBank | (FMmaBanks ? lsb : 0), program);
      slot.Drum = slot.Drum ? slot.Drum : &ins;
      FDrumByProgram[program] = FDrumByProgram[program] ? FDrumByProgram[program] : &ins;
    } else {
      TPresetSlot& slot = Slot(FMmaBanks ? msb * 128 + lsb : msb, program);
      if (slot.Melodic == nullptr || (lsb == 0 && (slot.Melodic->Patch >> 8 & 0x7F) != 0))
        slot.Melodic = &ins;
      if (msb == 0 && lsb == 0)
        FMelodicBank0[program] = &ins;
    }
  }
  for (TPresetSlot& slot : FSlots) {
    slot.Preset = new_fluid_preset(font, PresetName, PresetBank, PresetProgram, PresetNoteOn,
                                   delete_fluid_preset);
    if (slot.Preset == nullptr)
      return false;
    fluid_preset_set_data(slot.Preset, &slot);
  }
  // The waves' frames now belong to the samples; their tuning and loops stay
  // for the instruments still to be built.
  return true;
}

bool TDlsFont::Ready(TFontInstrument& ins) {
  if (ins.Built.load(std::memory_order_acquire))
    return true;
  std::lock_guard guard(FBuildLock);
  if (ins.Built.load(std::memory_order_relaxed))
    return true;
  if (!BuildVoices(*ins.Source, ins)) {
    ins.Voices.clear(); // tried again at the next note
    return false;
  }
  ins.Built.store(true, std::memory_order_release);
  return true;
}

bool TDlsFont::BuildVoices(const TDlsInstrument& source, TFontInstrument& out) {
  for (const TDlsRegion& region : source.Regions) {
    if (!AddVoices(source, region, out))
      return false;
  }
  return true;
}

bool TDlsFont::AddVoices(const TDlsInstrument& ins, const TDlsRegion& region,
                         TFontInstrument& out) {
  TArticulation a;
  for (const TDlsConnection& c : ins.Connections)
    Apply(a, c);
  for (const TDlsConnection& c : region.Connections)
    Apply(a, c);
  const auto& channels = FSamples[region.WaveIndex];
  for (std::size_t ch = 0; ch < channels.size(); ++ch) {
    TVoiceSpec voice{std::uint8_t(region.KeyLow),
                     std::uint8_t(region.KeyHigh),
                     std::uint8_t(region.VelocityLow),
                     std::uint8_t(region.VelocityHigh),
                     channels[ch],
                     {},
                     {}};
    TArticulation placed = a;
    // A stereo wave sounds as a left and right voice; a mono wave linked to
    // a speaker channel is placed on its side.
    if (channels.size() == 2) {
      placed.Pan = ch == 0 ? -500 : 500;
    } else if (region.LinkOptions & F_WAVELINK_MULTICHANNEL) {
      placed.Pan = region.Channel == WAVELINK_CHANNEL_LEFT    ? -500
                   : region.Channel == WAVELINK_CHANNEL_RIGHT ? 500
                                                              : placed.Pan;
    }
    AddGens(placed, region, voice);
    if (!AddMods(placed, ins.Level2 || region.Level2, voice))
      return false;
    out.Voices.push_back(std::move(voice));
  }
  return true;
}

float Clamp(double v, double low, double high) {
  return float(std::clamp(v, low, high));
}

void AddEnvelope(const TEnvelope& e, int firstGen, int keyToHoldGen, std::vector<TGenValue>& gens) {
  // DLS scales hold and decay over the whole key range from key 0; the
  // synthesizer per key around key 60.
  const double hold = e.Hold + e.KeyToHold * 60 / 128, decay = e.Decay + e.KeyToDecay * 60 / 128;
  gens.push_back({firstGen, Clamp(e.Delay, -12000, 5000)});
  gens.push_back({firstGen + 1, Clamp(e.Attack, -12000, 8000)});
  gens.push_back({firstGen + 2, Clamp(hold, -12000, 5000)});
  gens.push_back({firstGen + 3, Clamp(decay, -12000, 8000)});
  gens.push_back({firstGen + 4, Clamp(1000 - e.Sustain, 0, 1000)});
  gens.push_back({firstGen + 5, Clamp(e.Release, -12000, 8000)});
  gens.push_back({keyToHoldGen, Clamp(-e.KeyToHold / 128, -1200, 1200)});
  gens.push_back({keyToHoldGen + 1, Clamp(-e.KeyToDecay / 128, -1200, 1200)});
}

void TDlsFont::AddGens(const TArticulation& a, const TDlsRegion& region, TVoiceSpec& voice) const {
  const TDlsWave& wave = FCollection.Waves[region.WaveIndex];
  const TDlsSampleInfo& waveInfo = wave.SampleInfo;
  const TDlsSampleInfo& info = region.HasSampleInfo ? region.SampleInfo : waveInfo;
  auto& g = voice.Gens;
  AddEnvelope(a.Volume, GEN_VOLENVDELAY, GEN_KEYTOVOLENVHOLD, g);
  AddEnvelope(a.Modulation, GEN_MODENVDELAY, GEN_KEYTOMODENVHOLD, g);
  g.push_back({GEN_MODLFOFREQ, Clamp(a.LfoFrequency, -16000, 4500)});
  g.push_back({GEN_MODLFODELAY, Clamp(a.LfoDelay, -12000, 5000)});
  g.push_back(
      {GEN_VIBLFOFREQ, Clamp(a.HasVibrato ? a.VibratoFrequency : a.LfoFrequency, -16000, 4500)});
  g.push_back({GEN_VIBLFODELAY, Clamp(a.HasVibrato ? a.VibratoDelay : a.LfoDelay, -12000, 5000)});
  g.push_back({GEN_MODLFOTOPITCH, Clamp(a.LfoToPitch, -12000, 12000)});
  g.push_back({GEN_MODLFOTOVOL, Clamp(a.LfoToGain, -960, 960)});
  g.push_back({GEN_MODLFOTOFILTERFC, Clamp(a.LfoToFilter, -12000, 12000)});
  g.push_back({GEN_VIBLFOTOPITCH, Clamp(a.VibratoToPitch, -12000, 12000)});
  g.push_back({GEN_MODENVTOPITCH, Clamp(a.EnvelopeToPitch, -12000, 12000)});
  g.push_back({GEN_MODENVTOFILTERFC, Clamp(a.EnvelopeToFilter, -12000, 12000)});
  g.push_back({GEN_PAN, Clamp(a.Pan, -500, 500)});
  g.push_back({GEN_ATTENUATION, Clamp(-(a.Gain + Units(info.Attenuation)), -960, 1440)});
  g.push_back({GEN_OVERRIDEROOTKEY, float(info.UnityNote)});
  g.push_back({GEN_FINETUNE, Clamp(a.Pitch + info.FineTune, -12000, 12000)});
  g.push_back({GEN_SCALETUNE, Clamp(a.KeyToPitch / 128, 0, 1200)});
  // 0x7FFFFFFF (filter off) lands far above the top of the range.
  g.push_back({GEN_FILTERFC, Clamp(a.FilterCutoff, 1500, 13500)});
  g.push_back({GEN_FILTERQ, Clamp(a.FilterQ, 0, 960)});
  if (a.Chorus >= 0)
    g.push_back({GEN_CHORUSSEND, Clamp(a.Chorus, 0, 1000)});
  if (a.Reverb >= 0)
    g.push_back({GEN_REVERBSEND, Clamp(a.Reverb, 0, 1000)});
  g.push_back({GEN_EXCLUSIVECLASS, float(region.KeyGroup)});
  g.push_back({GEN_SAMPLEMODE, !info.Looped                          ? 0.0f
                               : info.LoopType == WLOOP_TYPE_RELEASE ? 3.0f
                                                                     : 1.0f});
  if (info.Looped && region.HasSampleInfo) {
    // The sample carries the wave's loop; a region's own loop is an offset.
    const long long waveStart = waveInfo.Looped ? waveInfo.LoopStart : 0;
    const long long waveEnd = waveInfo.Looped
                                  ? waveStart + waveInfo.LoopLength
                                  : (long long)std::max(FFrames[region.WaveIndex], kMinFrames);
    const long long startShift = info.LoopStart - waveStart;
    const long long endShift = (long long)info.LoopStart + info.LoopLength - waveEnd;
    g.push_back({GEN_STARTLOOPADDROFS, float(startShift % 32768)});
    g.push_back({GEN_STARTLOOPADDRCOARSEOFS, float(startShift / 32768)});
    g.push_back({GEN_ENDLOOPADDROFS, float(endShift % 32768)});
    g.push_back({GEN_ENDLOOPADDRCOARSEOFS, float(endShift / 32768)});
  }
}

// Whether a connection takes over a default route: the same sources (a MIDI
// controller is not the general source of the same number) and destination.
// The implied modulation-wheel and pressure vibrato runs on the vibrato LFO
// here, so a connection to the LFO's pitch depth takes that route over too.
bool RoutesMatch(const TDefaultRoute& d, int src1, int flags1, int src2, int dest) {
  const bool vibrato = dest == GEN_MODLFOTOPITCH && d.Dest == GEN_VIBLFOTOPITCH;
  return d.Source == src1 && (d.Flags & FLUID_MOD_CC) == (flags1 & FLUID_MOD_CC) &&
         (d.Dest == dest || vibrato) &&
         (d.Source2 == src2 || (d.Dest == GEN_FILTERFC && src2 == FLUID_MOD_NONE));
}

bool TDlsFont::AddMods(const TArticulation& a, bool level2, TVoiceSpec& voice) {
  // DLS implies no velocity-to-cutoff connection: the synthesizer's default
  // one is switched off unless the articulation sets its own.
  std::vector<const TDefaultRoute*> silenced{&kDefaultRoutes[1]};
  std::vector<TModPtr> added;
  for (const TDlsConnection& c : a.Modulators) {
    const bool internal =
        c.Source == CONN_SRC_LFO || c.Source == CONN_SRC_VIBRATO || c.Source == CONN_SRC_EG2;
    const TModSource s1 = MapSource(internal ? c.Control : c.Source);
    const TModSource s2 = internal ? TModSource{FLUID_MOD_NONE, 0, true} : MapSource(c.Control);
    double factor = 1.0;
    const int dest = MapDestination(c.Source, c.Destination, factor);
    if (!s1.Valid || (c.Control != CONN_SRC_NONE && !s2.Valid) || dest < 0)
      continue; // a route the synthesizer cannot follow
    // Through an internal source the MIDI source is the control input.
    int flags1 = s1.Flags | CurveFlags(c.Transform, level2, internal ? 4 : 10);
    const int flags2 =
        c.Control == CONN_SRC_NONE ? 0 : s2.Flags | (level2 ? CurveFlags(c.Transform, true, 4) : 0);
    // A falling gain curve on velocity or volume means attenuation at the low end.
    if (dest == GEN_ATTENUATION && (flags1 & FLUID_MOD_CONCAVE))
      flags1 |= FLUID_MOD_NEGATIVE;
    const int src2 = c.Control == CONN_SRC_NONE ? FLUID_MOD_NONE : s2.Source;
    for (const TDefaultRoute& d : kDefaultRoutes) {
      if (RoutesMatch(d, s1.Source, flags1, src2, dest))
        silenced.push_back(&d);
    }
    added.push_back(MakeMod(s1.Source, flags1, src2, flags2, dest, factor * Units(c.Scale)));
  }
  for (const TDefaultRoute* d : silenced) {
    TModPtr zero = MakeMod(d->Source, d->Flags, d->Source2, d->Flags2, d->Dest, 0.0);
    if (!zero)
      return false;
    voice.Mods.push_back({zero.get(), FLUID_VOICE_OVERWRITE});
    FMods.push_back(std::move(zero));
  }
  for (TModPtr& mod : added) {
    if (!mod)
      return false;
    voice.Mods.push_back({mod.get(), FLUID_VOICE_ADD});
    FMods.push_back(std::move(mod));
  }
  return true;
}

// ---- Playing ------------------------------------------------------------------------

fluid_preset_t* TDlsFont::Preset(int bank, int program) const {
  auto found = FSlotAt.find({bank, program});
  return found == FSlotAt.end() ? nullptr : found->second->Preset;
}

fluid_preset_t* TDlsFont::NextPreset() {
  return FNext < FSlots.size() ? FSlots[FNext++].Preset : nullptr;
}

// Channel 9 plays drum kits, the others melodic instruments; a bank without
// the program falls back to bank 0 (melodic) or any kit of that program.
TFontInstrument* TDlsFont::Resolve(const TPresetSlot& slot, int chan) const {
  const int program = slot.Program & 0x7F;
  if (chan == DrumChannel)
    return slot.Drum ? slot.Drum : FDrumByProgram[program];
  return slot.Melodic ? slot.Melodic : FMelodicBank0[program];
}

void TDlsFont::Remember(fluid_voice_t* voice) {
  const unsigned int id = fluid_voice_get_id(voice);
  for (TStartedVoice& started : FStarted) {
    if (started.Voice == voice) {
      started.Id = id;
      return;
    }
  }
  FStarted.push_back({voice, id});
}

void TDlsFont::MeasureOnFirstUse(fluid_sample_t* sample) {
  const auto found = std::lower_bound(FUnmeasured.begin(), FUnmeasured.end(), sample);
  if (found == FUnmeasured.end() || *found != sample)
    return;
  fluid_voice_optimize_sample(sample);
  FUnmeasured.erase(found);
}

bool TDlsFont::Playing() const {
  const bool mayPlay = std::any_of(FStarted.begin(), FStarted.end(), [](const TStartedVoice& s) {
    return fluid_voice_get_id(s.Voice) == s.Id && fluid_voice_is_playing(s.Voice);
  });
  // A voice whose font was unloaded can keep its playing state after its
  // sound has ended; the synthesizer's count of sounding voices settles it.
  return mayPlay && fluid_synth_get_active_voice_count(FSynth) > 0;
}

int TDlsFont::NoteOn(const TPresetSlot& slot, fluid_synth_t* synth, int chan, int key, int vel) {
  TFontInstrument* ins = Resolve(slot, chan);
  if (ins == nullptr)
    return FLUID_OK;
  if (!Ready(*ins))
    return FLUID_FAILED;
  for (const TVoiceSpec& voiceDesc : ins->Voices) {
    if (key < voiceDesc.KeyLow || key > voiceDesc.KeyHigh || vel < voiceDesc.VelocityLow ||
        vel > voiceDesc.VelocityHigh)
      continue;
    MeasureOnFirstUse(voiceDesc.Sample);
    fluid_voice_t* voice = fluid_synth_alloc_voice(synth, voiceDesc.Sample, chan, key, vel);
    if (voice == nullptr)
      return FLUID_FAILED;
    for (const TGenValue& g : voiceDesc.Gens)
      fluid_voice_gen_set(voice, g.Gen, g.Value);
    for (const TModSpec& m : voiceDesc.Mods)
      fluid_voice_add_mod(voice, m.Mod, m.Mode);
    Remember(voice);
    fluid_synth_start_voice(synth, voice);
  }
  return FLUID_OK;
}

} // namespace

fluid_sfont_t* NewDlsSoundFont(fluid_synth_t* synth, TDlsCollection collection,
                               std::shared_ptr<const void> owner) {
  if (synth == nullptr)
    return nullptr;
  fluid_sfont_t* sfont =
      new_fluid_sfont(FontName, FontPreset, FontIterationStart, FontIterationNext, FontFree);
  if (sfont == nullptr)
    return nullptr;
  auto* font = new TDlsFont(synth, std::move(collection), std::move(owner));
  fluid_sfont_set_data(sfont, font);
  if (!font->Build(sfont)) {
    FontFree(sfont);
    return nullptr;
  }
  return sfont;
}

namespace {

// The synthesizer counts the users of a font (channels, its font list) only
// for fonts that come through a loader, and frees them through that count.
// A parsed collection therefore reaches it by name through a loader of ours:
// "melo-dls:<address of the pending load>".
constexpr std::string_view kLoaderPrefix = "melo-dls:";

struct TPendingLoad {
  fluid_sfont_t* Font = nullptr; // built beforehand; the loader hands it over
  bool Taken = false;
};

fluid_sfont_t* LoaderLoad(fluid_sfloader_t*, const char* filename) {
  const std::string_view name(filename);
  if (!name.starts_with(kLoaderPrefix))
    return nullptr;
  std::uintptr_t address = 0;
  const char* first = name.data() + kLoaderPrefix.size();
  if (std::from_chars(first, name.data() + name.size(), address, 16).ec != std::errc{})
    return nullptr;
  auto* pending = reinterpret_cast<TPendingLoad*>(address);
  pending->Taken = true;
  return std::exchange(pending->Font, nullptr);
}

// Tries the synthesizer's loaders with the pending font's name.
int AddThroughLoader(fluid_synth_t* synth, TPendingLoad& pending) {
  char name[64];
  std::snprintf(name, sizeof name, "%.*s%llx", int(kLoaderPrefix.size()), kLoaderPrefix.data(),
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(&pending)));
  return fluid_synth_sfload(synth, name, 1);
}

} // namespace

int LiveDlsFontCount() {
  return LiveFonts;
}

void AddDlsLoader(fluid_synth_t* synth) {
  if (synth == nullptr)
    return;
  if (fluid_sfloader_t* loader = new_fluid_sfloader(LoaderLoad, delete_fluid_sfloader))
    fluid_synth_add_sfloader(synth, loader);
}

namespace {

std::vector<TSoundSetInstrument> Listed(const std::vector<TDlsInstrument>& collection) {
  std::vector<TSoundSetInstrument> instruments;
  for (const TDlsInstrument& ins : collection)
    instruments.push_back({ins.Patch(), GbkToUtf8(ins.Name)});
  return instruments;
}

} // namespace

std::optional<std::vector<TSoundSetInstrument>> ListDlsBytes(std::span<const std::uint8_t> bytes) {
  std::vector<TDlsInstrument> instruments;
  if (!ListDlsInstruments(bytes.data(), bytes.size(), instruments))
    return std::nullopt;
  return Listed(instruments);
}

bool LoadDlsBytes(fluid_synth_t* synth, std::span<const std::uint8_t> bytes,
                  TLoadedSoundSet& loaded, std::shared_ptr<const void> owner) {
  TDlsCollection collection;
  if (synth == nullptr || !collection.LoadFromMemory(bytes.data(), bytes.size(), owner != nullptr))
    return false;
  std::vector<TSoundSetInstrument> instruments = Listed(collection.Instruments);
  // Built before the synthesizer is asked, so that its lock is held only for
  // the hand-over, not while the samples are prepared.
  TPendingLoad pending{NewDlsSoundFont(synth, std::move(collection), std::move(owner))};
  if (pending.Font == nullptr)
    return false;
  int id = AddThroughLoader(synth, pending);
  if (id == FLUID_FAILED && !pending.Taken) {
    AddDlsLoader(synth); // the synthesizer had no loader of ours yet
    id = AddThroughLoader(synth, pending);
  }
  if (pending.Font != nullptr)
    FontFree(pending.Font);
  if (id == FLUID_FAILED)
    return false;
  loaded.FontId = id;
  loaded.Instruments = std::move(instruments);
  return true;
}

} // namespace melo
