#include "SoundFontToDls.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <map>
#include <optional>
#include <vector>

namespace melo {

namespace {

// SoundFont 2 generator numbers.
enum : int {
  kStartLoopOffset = 2,
  kEndLoopOffset = 3,
  kModLfoToPitch = 5,
  kVibLfoToPitch = 6,
  kModEnvToPitch = 7,
  kFilterFc = 8,
  kFilterQ = 9,
  kModLfoToFilterFc = 10,
  kModEnvToFilterFc = 11,
  kModLfoToVolume = 13,
  kChorusSend = 15,
  kReverbSend = 16,
  kPan = 17,
  kModLfoDelay = 21,
  kModLfoFreq = 22,
  kVibLfoDelay = 23,
  kVibLfoFreq = 24,
  kModEnvDelay = 25, // delay, attack, hold, decay, sustain, release, key>hold, key>decay
  kVolEnvDelay = 33, // the same eight for the volume envelope
  kInstrument = 41,
  kKeyRange = 43,
  kVelRange = 44,
  kStartLoopCoarse = 45,
  kAttenuation = 48,
  kEndLoopCoarse = 50,
  kCoarseTune = 51,
  kFineTune = 52,
  kSampleId = 53,
  kSampleModes = 54,
  kScaleTuning = 56,
  kExclusiveClass = 57,
  kRootKey = 58,
  kGenCount = 61,
};

// FluidSynth scales initial attenuation from SoundFonts by 0.4, as EMU's
// hardware did; the converted gain keeps what the SoundFont sounds like.
constexpr double kEmuAttenuationFactor = 0.4;

using TGens = std::array<int, kGenCount>;
using TSet = std::array<bool, kGenCount>;

std::uint16_t U16(const std::uint8_t* p) {
  return std::uint16_t(p[0] | p[1] << 8);
}
std::uint32_t U32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}

struct TSpan {
  const std::uint8_t* Data = nullptr;
  std::size_t Size = 0;
};

// The chunk with id (or the LIST of that type) inside a list's bytes.
std::optional<TSpan> FindChunk(TSpan list, const char* id, bool isList) {
  std::size_t pos = 0;
  while (list.Size - pos >= 8) {
    const std::uint8_t* h = list.Data + pos;
    const std::size_t size = U32(h + 4);
    if (size > list.Size - pos - 8)
      return std::nullopt;
    const bool match =
        isList ? std::memcmp(h, "LIST", 4) == 0 && size >= 4 && std::memcmp(h + 8, id, 4) == 0
               : std::memcmp(h, id, 4) == 0;
    if (match)
      return isList ? TSpan{h + 12, size - 4} : TSpan{h + 8, size};
    pos += 8 + size + (size & 1);
  }
  return std::nullopt;
}

struct TGenRecord {
  int Oper;
  std::uint16_t Amount;
};

struct TSampleHeader {
  std::string Name;
  std::uint32_t Start, End, LoopStart, LoopEnd, Rate;
  std::uint8_t Pitch;
  std::int8_t Correction;
  std::uint16_t Type;
};

// A modulator record: source, destination generator, amount, amount source.
struct TModRecord {
  std::uint16_t Source, Dest;
  std::int16_t Amount;
  std::uint16_t AmountSource;
  bool SameRoute(const TModRecord& o) const {
    return Source == o.Source && Dest == o.Dest && AmountSource == o.AmountSource;
  }
};

struct TZone {
  TGens Gens{};
  TSet Set{};
  std::vector<TModRecord> Mods;
};

struct TPresetHeader {
  std::string Name;
  int Program, Bank, FirstBag;
};

class TSoundFont {
public:
  bool Read(std::span<const std::uint8_t> bytes, std::string& error);
  void Convert(TDlsCollection& out, const TConvertOptions& options);

private:
  bool ReadHydra(TSpan pdta, std::string& error);
  std::vector<TZone> Zones(bool preset, int firstBag, int lastBag) const;
  int WaveFor(int sampleId, TDlsCollection& out);
  void AddRegions(const TZone& presetGlobal, const TZone& presetZone, TDlsInstrument& ins,
                  TDlsCollection& out);
  bool AddRegion(const TGens& g, const TSampleHeader& sample, int wave, TDlsInstrument& ins);

  TSpan FSamples; // 16-bit frames
  std::vector<TPresetHeader> FPresets;
  std::vector<int> FPresetBagGen, FInstBagGen, FPresetBagMod, FInstBagMod;
  std::vector<TGenRecord> FPresetGens, FInstGens;
  std::vector<TModRecord> FPresetMods, FInstMods;
  std::vector<std::pair<std::string, int>> FInstruments; // name, first bag
  std::vector<TSampleHeader> FSampleHeaders;
  std::map<int, int> FWaveOfSample;
};

std::string Name20(const std::uint8_t* p) {
  const auto* end = std::find(p, p + 20, std::uint8_t(0));
  return std::string(reinterpret_cast<const char*>(p), std::size_t(end - p));
}

// Records of a pdta sub-chunk; false when its size is no whole number of them.
bool Records(TSpan pdta, const char* id, std::size_t size, TSpan& out) {
  auto chunk = FindChunk(pdta, id, false);
  if (!chunk || chunk->Size % size != 0 || chunk->Size < size)
    return false;
  out = *chunk;
  return true;
}

bool TSoundFont::Read(std::span<const std::uint8_t> bytes, std::string& error) {
  if (RiffForm(bytes.data(), bytes.size()) != "sfbk" || U32(bytes.data() + 4) > bytes.size() - 8) {
    error = "not a SoundFont 2 file";
    return false;
  }
  const TSpan body{bytes.data() + 12, U32(bytes.data() + 4) - 4};
  auto sdta = FindChunk(body, "sdta", true);
  auto pdta = FindChunk(body, "pdta", true);
  auto smpl = sdta ? FindChunk(*sdta, "smpl", false) : std::nullopt;
  if (!sdta || !pdta || !smpl) {
    error = "missing sdta, pdta or smpl";
    return false;
  }
  FSamples = *smpl;
  return ReadHydra(*pdta, error);
}

bool TSoundFont::ReadHydra(TSpan pdta, std::string& error) {
  TSpan phdr, pbag, pmod, pgen, inst, ibag, imod, igen, shdr;
  if (!Records(pdta, "phdr", 38, phdr) || !Records(pdta, "pbag", 4, pbag) ||
      !Records(pdta, "pgen", 4, pgen) || !Records(pdta, "inst", 22, inst) ||
      !Records(pdta, "ibag", 4, ibag) || !Records(pdta, "igen", 4, igen) ||
      !Records(pdta, "shdr", 46, shdr) || !Records(pdta, "pmod", 10, pmod) ||
      !Records(pdta, "imod", 10, imod)) {
    error = "damaged preset data";
    return false;
  }
  for (std::size_t i = 0; i < phdr.Size / 38; ++i) {
    const std::uint8_t* p = phdr.Data + 38 * i;
    FPresets.push_back({Name20(p), U16(p + 20), U16(p + 22), U16(p + 24)});
  }
  for (std::size_t i = 0; i < inst.Size / 22; ++i)
    FInstruments.emplace_back(Name20(inst.Data + 22 * i), U16(inst.Data + 22 * i + 20));
  for (std::size_t i = 0; i < pbag.Size / 4; ++i) {
    FPresetBagGen.push_back(U16(pbag.Data + 4 * i));
    FPresetBagMod.push_back(U16(pbag.Data + 4 * i + 2));
  }
  for (std::size_t i = 0; i < ibag.Size / 4; ++i) {
    FInstBagGen.push_back(U16(ibag.Data + 4 * i));
    FInstBagMod.push_back(U16(ibag.Data + 4 * i + 2));
  }
  for (auto [span, mods] : {std::pair{pmod, &FPresetMods}, std::pair{imod, &FInstMods}}) {
    for (std::size_t i = 0; i < span.Size / 10; ++i) {
      const std::uint8_t* m = span.Data + 10 * i;
      mods->push_back({U16(m), U16(m + 2), std::int16_t(U16(m + 4)), U16(m + 6)});
    }
  }
  for (std::size_t i = 0; i < pgen.Size / 4; ++i)
    FPresetGens.push_back({U16(pgen.Data + 4 * i), U16(pgen.Data + 4 * i + 2)});
  for (std::size_t i = 0; i < igen.Size / 4; ++i)
    FInstGens.push_back({U16(igen.Data + 4 * i), U16(igen.Data + 4 * i + 2)});
  for (std::size_t i = 0; i < shdr.Size / 46; ++i) {
    const std::uint8_t* p = shdr.Data + 46 * i;
    FSampleHeaders.push_back({Name20(p), U32(p + 20), U32(p + 24), U32(p + 28), U32(p + 32),
                              U32(p + 36), p[40], std::int8_t(p[41]), U16(p + 44)});
  }
  return true;
}

// The zones of bags [firstBag, lastBag); generators out of range are dropped.
std::vector<TZone> TSoundFont::Zones(bool preset, int firstBag, int lastBag) const {
  const std::vector<int>& bagStart = preset ? FPresetBagGen : FInstBagGen;
  const std::vector<int>& modStart = preset ? FPresetBagMod : FInstBagMod;
  const std::vector<TGenRecord>& gens = preset ? FPresetGens : FInstGens;
  const std::vector<TModRecord>& mods = preset ? FPresetMods : FInstMods;
  std::vector<TZone> zones;
  for (int bag = firstBag; bag < lastBag && bag + 1 < int(bagStart.size()); ++bag) {
    TZone zone;
    const int lastMod = std::min<int>(modStart[bag + 1], int(mods.size()));
    for (int m = modStart[bag]; m < lastMod; ++m)
      zone.Mods.push_back(mods[m]);
    const int from = bagStart[bag], to = std::min<int>(bagStart[bag + 1], int(gens.size()));
    for (int g = from; g < to; ++g) {
      if (gens[g].Oper >= kGenCount)
        continue;
      const bool range = gens[g].Oper == kKeyRange || gens[g].Oper == kVelRange;
      zone.Gens[gens[g].Oper] = range ? int(gens[g].Amount) : int(std::int16_t(gens[g].Amount));
      zone.Set[gens[g].Oper] = true;
    }
    zones.push_back(zone);
  }
  return zones;
}

TGens Defaults() {
  TGens g{};
  g[kFilterFc] = 13500;
  for (int i : std::initializer_list<int>{kModLfoDelay, kVibLfoDelay, kModEnvDelay,
                                          kModEnvDelay + 1, kModEnvDelay + 2, kModEnvDelay + 3,
                                          kModEnvDelay + 5, kVolEnvDelay, kVolEnvDelay + 1,
                                          kVolEnvDelay + 2, kVolEnvDelay + 3, kVolEnvDelay + 5})
    g[i] = -12000;
  g[kKeyRange] = g[kVelRange] = 127 << 8;
  g[kScaleTuning] = 100;
  g[kRootKey] = -1;
  return g;
}

void Override(TGens& g, const TZone& z) {
  for (int i = 0; i < kGenCount; ++i) {
    if (z.Set[i])
      g[i] = z.Gens[i];
  }
}

bool Additive(int gen) {
  return gen != kInstrument && gen != kKeyRange && gen != kVelRange && gen != kSampleId &&
         gen != kSampleModes && gen != kExclusiveClass && gen != kRootKey && gen != 46 &&
         gen != 47 && gen > 4 && gen != 12 && gen != kStartLoopCoarse && gen != kEndLoopCoarse;
}

std::pair<int, int> Intersect(int a, int b) {
  return {std::max(a & 0xFF, b & 0xFF), std::min(a >> 8 & 0xFF, b >> 8 & 0xFF)};
}

int TSoundFont::WaveFor(int sampleId, TDlsCollection& out) {
  auto known = FWaveOfSample.find(sampleId);
  if (known != FWaveOfSample.end())
    return known->second;
  const TSampleHeader& s = FSampleHeaders[std::size_t(sampleId)];
  const std::size_t frames = FSamples.Size / 2;
  if (s.Start >= s.End || s.End > frames || s.Rate == 0 || (s.Type & 0x8010) != 0)
    return FWaveOfSample[sampleId] = -1;
  TDlsWave wave;
  wave.SampleRate = s.Rate;
  wave.Name = s.Name;
  wave.Channels.emplace_back(s.End - s.Start);
  for (std::uint32_t i = s.Start; i < s.End; ++i)
    wave.Channels[0][i - s.Start] = std::int16_t(U16(FSamples.Data + 2 * std::size_t(i)));
  wave.HasSampleInfo = true;
  wave.SampleInfo.UnityNote = s.Pitch <= 127 ? s.Pitch : 60;
  wave.SampleInfo.FineTune = s.Correction;
  const int index = int(out.Waves.size());
  out.Waves.push_back(std::move(wave));
  return FWaveOfSample[sampleId] = index;
}

// 16.16 fixed point; sums of preset and instrument values may leave the range.
std::int32_t Fixed(double value) {
  return std::int32_t(std::lround(std::clamp(value, -32768.0, 32767.0) * 65536));
}

TDlsConnection Constant(std::uint16_t dst, double value) {
  return {CONN_SRC_NONE, CONN_SRC_NONE, dst, CONN_TRN_NONE, Fixed(value)};
}

void AddEnvelope(const TGens& g, int first, std::uint16_t attackDst,
                 std::vector<TDlsConnection>& c) {
  // The SoundFont scales hold and decay per key around key 60, DLS over the
  // key range from key 0 (our voices turn it back).
  const int keyToHold = g[first + 6], keyToDecay = g[first + 7];
  // Sustain: cB (volume) or per mille (modulation) below full; FluidSynth
  // reads both as that many thousandths of its envelope's range.
  const double sustain = 1000 - std::clamp(g[first + 4], 0, 1000);
  c.push_back(Constant(attackDst + 5, g[first]));                         // delay
  c.push_back(Constant(attackDst, g[first + 1]));                         // attack
  c.push_back(Constant(attackDst + 6, g[first + 2] + 60.0 * keyToHold));  // hold
  c.push_back(Constant(attackDst + 1, g[first + 3] + 60.0 * keyToDecay)); // decay
  c.push_back(Constant(attackDst + 4, sustain));
  c.push_back(Constant(attackDst + 3, g[first + 5])); // release
  if (keyToHold != 0) {
    c.push_back({CONN_SRC_KEYNUMBER, CONN_SRC_NONE, std::uint16_t(attackDst + 6), CONN_TRN_NONE,
                 Fixed(-128.0 * keyToHold)});
  }
  if (keyToDecay != 0) {
    c.push_back({CONN_SRC_KEYNUMBER, CONN_SRC_NONE, std::uint16_t(attackDst + 1), CONN_TRN_NONE,
                 Fixed(-128.0 * keyToDecay)});
  }
}

std::vector<TDlsConnection> Articulation(const TGens& g) {
  std::vector<TDlsConnection> c;
  AddEnvelope(g, kVolEnvDelay, CONN_DST_EG1_ATTACKTIME, c);
  AddEnvelope(g, kModEnvDelay, CONN_DST_EG2_ATTACKTIME, c);
  c.push_back(Constant(CONN_DST_LFO_FREQUENCY, g[kModLfoFreq]));
  c.push_back(Constant(CONN_DST_LFO_STARTDELAY, g[kModLfoDelay]));
  c.push_back(Constant(CONN_DST_VIB_FREQUENCY, g[kVibLfoFreq]));
  c.push_back(Constant(CONN_DST_VIB_STARTDELAY, g[kVibLfoDelay]));
  c.push_back(Constant(CONN_DST_FILTER_CUTOFF, g[kFilterFc]));
  c.push_back(Constant(CONN_DST_FILTER_Q, g[kFilterQ]));
  c.push_back(Constant(CONN_DST_PAN, g[kPan]));
  if (g[kChorusSend] != 0)
    c.push_back(Constant(CONN_DST_CHORUS, g[kChorusSend]));
  if (g[kReverbSend] != 0)
    c.push_back(Constant(CONN_DST_REVERB, g[kReverbSend]));
  const std::pair<std::uint16_t, int> depths[] = {{CONN_DST_PITCH, kModLfoToPitch},
                                                  {CONN_DST_FILTER_CUTOFF, kModLfoToFilterFc},
                                                  {CONN_DST_ATTENUATION, kModLfoToVolume}};
  for (auto [dst, gen] : depths) {
    if (g[gen] != 0)
      c.push_back({CONN_SRC_LFO, CONN_SRC_NONE, dst, CONN_TRN_NONE, Fixed(g[gen])});
  }
  if (g[kVibLfoToPitch] != 0) {
    c.push_back(
        {CONN_SRC_VIBRATO, CONN_SRC_NONE, CONN_DST_PITCH, CONN_TRN_NONE, Fixed(g[kVibLfoToPitch])});
  }
  if (g[kModEnvToPitch] != 0) {
    c.push_back(
        {CONN_SRC_EG2, CONN_SRC_NONE, CONN_DST_PITCH, CONN_TRN_NONE, Fixed(g[kModEnvToPitch])});
  }
  if (g[kModEnvToFilterFc] != 0) {
    c.push_back({CONN_SRC_EG2, CONN_SRC_NONE, CONN_DST_FILTER_CUTOFF, CONN_TRN_NONE,
                 Fixed(g[kModEnvToFilterFc])});
  }
  if (g[kScaleTuning] != 100) {
    c.push_back({CONN_SRC_KEYNUMBER, CONN_SRC_NONE, CONN_DST_PITCH, CONN_TRN_NONE,
                 Fixed(128.0 * g[kScaleTuning])});
  }
  return c;
}

std::vector<TModRecord> MergeMods(const std::vector<TModRecord>& global,
                                  const std::vector<TModRecord>& local) {
  std::vector<TModRecord> mods = local;
  for (const TModRecord& g : global) {
    if (std::none_of(local.begin(), local.end(),
                     [&](const TModRecord& l) { return l.SameRoute(g); }))
      mods.push_back(g);
  }
  return mods;
}

// A SoundFont modulator source as a DLS source, with its curve, polarity and
// direction moved to the given bit positions of a Level 2 transform.
std::optional<std::uint16_t> ModSource(std::uint16_t src, int curveShift, int flagShift,
                                       std::uint16_t& transform) {
  const int index = src & 0x7F;
  std::uint16_t dls = CONN_SRC_NONE;
  if (src & 0x80) {
    dls = std::uint16_t(0x80 + index);
  } else if (index == 2) {
    dls = CONN_SRC_KEYONVELOCITY;
  } else if (index == 3) {
    dls = CONN_SRC_KEYNUMBER;
  } else if (index == 10) {
    dls = CONN_SRC_POLYPRESSURE;
  } else if (index == 13) {
    dls = CONN_SRC_CHANNELPRESSURE;
  } else if (index == 14) {
    dls = CONN_SRC_PITCHWHEEL;
  } else if (index == 16) {
    dls = CONN_SRC_RPN0;
  } else if (index != 0) {
    return std::nullopt;
  }
  transform |= std::uint16_t((src >> 10 & 0xF) << curveShift);
  transform |= std::uint16_t((src >> 9 & 1) << flagShift);       // bipolar
  transform |= std::uint16_t((src >> 8 & 1) << (flagShift + 1)); // inverted
  return dls;
}

// The DLS connection of a SoundFont modulator, when DLS has the route.
std::optional<TDlsConnection> ModConnection(const TModRecord& m) {
  std::uint16_t transform = 0;
  auto source = ModSource(m.Source, 10, 14, transform);
  auto control = ModSource(m.AmountSource, 4, 8, transform);
  if (!source || !control || *source == CONN_SRC_NONE)
    return std::nullopt;
  struct TRoute {
    int Gen;
    std::uint16_t Source, Dest;
  };
  // Generators reached through an internal source take the MIDI source as control.
  constexpr TRoute routes[] = {{kFilterFc, 0, CONN_DST_FILTER_CUTOFF},
                               {kFilterQ, 0, CONN_DST_FILTER_Q},
                               {kPan, 0, CONN_DST_PAN},
                               {kChorusSend, 0, CONN_DST_CHORUS},
                               {kReverbSend, 0, CONN_DST_REVERB},
                               {kAttenuation, 0, CONN_DST_ATTENUATION},
                               {kModLfoToPitch, CONN_SRC_LFO, CONN_DST_PITCH},
                               {kModLfoToFilterFc, CONN_SRC_LFO, CONN_DST_FILTER_CUTOFF},
                               {kModLfoToVolume, CONN_SRC_LFO, CONN_DST_ATTENUATION},
                               {kVibLfoToPitch, CONN_SRC_VIBRATO, CONN_DST_PITCH},
                               {kModEnvToPitch, CONN_SRC_EG2, CONN_DST_PITCH},
                               {kModEnvToFilterFc, CONN_SRC_EG2, CONN_DST_FILTER_CUTOFF},
                               {kVolEnvDelay + 1, 0, CONN_DST_EG1_ATTACKTIME},
                               {kVolEnvDelay + 3, 0, CONN_DST_EG1_DECAYTIME},
                               {kVolEnvDelay + 5, 0, CONN_DST_EG1_RELEASETIME}};
  for (const TRoute& r : routes) {
    if (r.Gen != m.Dest)
      continue;
    // Attenuation is a gain in DLS.
    const double amount = m.Dest == kAttenuation ? -m.Amount : m.Amount;
    TDlsConnection c{*source, *control, r.Dest, transform, Fixed(amount)};
    if (r.Source != 0) {
      if (*control != CONN_SRC_NONE)
        return std::nullopt; // two MIDI sources on an internal one: no DLS route
      c.Control = *source;
      c.Source = r.Source;
      c.Transform = std::uint16_t((transform >> 10 & 0xF) << 4 | (transform >> 14 & 3) << 8);
    }
    return c;
  }
  return std::nullopt;
}

bool TSoundFont::AddRegion(const TGens& g, const TSampleHeader& s, int wave, TDlsInstrument& ins) {
  const auto [keyLow, keyHigh] = std::pair{g[kKeyRange] & 0xFF, g[kKeyRange] >> 8 & 0xFF};
  const auto [velLow, velHigh] = std::pair{g[kVelRange] & 0xFF, g[kVelRange] >> 8 & 0xFF};
  if (keyLow > keyHigh || velLow > velHigh || keyHigh > 127 || velHigh > 127)
    return false;
  TDlsRegion r;
  r.KeyLow = std::uint16_t(keyLow);
  r.KeyHigh = std::uint16_t(keyHigh);
  r.VelocityLow = std::uint16_t(velLow);
  r.VelocityHigh = std::uint16_t(velHigh);
  r.KeyGroup = std::uint16_t(std::clamp(g[kExclusiveClass], 0, 127));
  r.WaveIndex = std::uint32_t(wave);
  r.Level2 = true;
  TDlsSampleInfo& info = r.SampleInfo;
  r.HasSampleInfo = true;
  info.UnityNote = std::uint16_t(g[kRootKey] >= 0 && g[kRootKey] <= 127 ? g[kRootKey]
                                 : s.Pitch <= 127                       ? s.Pitch
                                                                        : 60);
  info.FineTune =
      std::int16_t(std::clamp(s.Correction + g[kFineTune] + 100 * g[kCoarseTune], -12000, 12000));
  info.Attenuation = Fixed(-kEmuAttenuationFactor * std::clamp(g[kAttenuation], -1440, 1440));
  const int mode = g[kSampleModes] & 3;
  const long long frames = s.End - s.Start;
  const long long loopStart =
      (long long)s.LoopStart - s.Start + g[kStartLoopOffset] + 32768LL * g[kStartLoopCoarse];
  const long long loopEnd =
      (long long)s.LoopEnd - s.Start + g[kEndLoopOffset] + 32768LL * g[kEndLoopCoarse];
  if ((mode == 1 || mode == 3) && loopStart >= 0 && loopEnd <= frames && loopStart < loopEnd) {
    info.Looped = true;
    info.LoopType = mode == 3 ? WLOOP_TYPE_RELEASE : WLOOP_TYPE_FORWARD;
    info.LoopStart = std::uint32_t(loopStart);
    info.LoopLength = std::uint32_t(loopEnd - loopStart);
  }
  r.Connections = Articulation(g);
  ins.Regions.push_back(std::move(r));
  return true;
}

void TSoundFont::AddRegions(const TZone& presetGlobal, const TZone& presetZone, TDlsInstrument& ins,
                            TDlsCollection& out) {
  const int instIndex = presetZone.Gens[kInstrument];
  if (instIndex < 0 || instIndex + 1 >= int(FInstruments.size()))
    return;
  TGens presetGens{};
  Override(presetGens, presetGlobal);
  Override(presetGens, presetZone);
  const int presetKeys = presetZone.Set[kKeyRange]     ? presetZone.Gens[kKeyRange]
                         : presetGlobal.Set[kKeyRange] ? presetGlobal.Gens[kKeyRange]
                                                       : 127 << 8;
  const int presetVels = presetZone.Set[kVelRange]     ? presetZone.Gens[kVelRange]
                         : presetGlobal.Set[kVelRange] ? presetGlobal.Gens[kVelRange]
                                                       : 127 << 8;
  auto zones = Zones(false, FInstruments[instIndex].second, FInstruments[instIndex + 1].second);
  TZone instGlobal;
  if (!zones.empty() && !zones.front().Set[kSampleId]) {
    instGlobal = zones.front();
    zones.erase(zones.begin());
  }
  for (const TZone& zone : zones) {
    if (!zone.Set[kSampleId] || zone.Gens[kSampleId] < 0 ||
        zone.Gens[kSampleId] >= int(FSampleHeaders.size()))
      continue;
    TGens g = Defaults();
    Override(g, instGlobal);
    Override(g, zone);
    for (int i = 0; i < kGenCount; ++i) {
      if (Additive(i))
        g[i] += presetGens[i];
    }
    const auto keys = Intersect(g[kKeyRange], presetKeys);
    const auto vels = Intersect(g[kVelRange], presetVels);
    g[kKeyRange] = keys.first | keys.second << 8;
    g[kVelRange] = vels.first | vels.second << 8;
    const int wave = WaveFor(zone.Gens[kSampleId], out);
    if (wave < 0 || !AddRegion(g, FSampleHeaders[std::size_t(zone.Gens[kSampleId])], wave, ins))
      continue;
    // Local modulators replace global ones on the same route; the preset's add.
    std::vector<TModRecord> mods = MergeMods(instGlobal.Mods, zone.Mods);
    const auto presetMods = MergeMods(presetGlobal.Mods, presetZone.Mods);
    mods.insert(mods.end(), presetMods.begin(), presetMods.end());
    for (const TModRecord& m : mods) {
      if (auto c = ModConnection(m))
        ins.Regions.back().Connections.push_back(*c);
    }
  }
}

// FluidSynth's default velocity-to-cutoff modulator, stated for our voices:
// velocity inverted, switched on from velocity 64, -2400 cents.
TDlsConnection VelocityToCutoff() {
  return {CONN_SRC_KEYONVELOCITY, CONN_SRC_KEYONVELOCITY, CONN_DST_FILTER_CUTOFF,
          std::uint16_t(0x8000 | CONN_TRN_SWITCH << 4), -2400 * 65536};
}

void TSoundFont::Convert(TDlsCollection& out, const TConvertOptions& options) {
  // The last preset header only ends the list.
  std::vector<std::size_t> order;
  for (std::size_t i = 0; i + 1 < FPresets.size(); ++i) {
    if (FPresets[i].Bank < 128 ||
        (FPresets[i].Bank == 128 && (!options.StandardKitOnly || FPresets[i].Program == 0))) {
      if (FPresets[i].Program <= 127)
        order.push_back(i);
    }
  }
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return std::pair(FPresets[a].Bank, FPresets[a].Program) <
           std::pair(FPresets[b].Bank, FPresets[b].Program);
  });
  for (std::size_t i : order) {
    const TPresetHeader& p = FPresets[i];
    TDlsInstrument ins;
    ins.Name = p.Name;
    ins.Program = std::uint32_t(p.Program);
    ins.Bank = p.Bank == 128 ? DlsDrumFlag : std::uint32_t(p.Bank) << 8;
    ins.Level2 = true;
    ins.Connections = {VelocityToCutoff()};
    auto zones = Zones(true, p.FirstBag, FPresets[i + 1].FirstBag);
    TZone global;
    if (!zones.empty() && !zones.front().Set[kInstrument]) {
      global = zones.front();
      zones.erase(zones.begin());
    }
    for (const TZone& zone : zones) {
      if (zone.Set[kInstrument])
        AddRegions(global, zone, ins, out);
    }
    if (!ins.Regions.empty())
      out.Instruments.push_back(std::move(ins));
  }
}

} // namespace

bool ConvertSoundFontToDls(std::span<const std::uint8_t> sf2, TDlsCollection& out,
                           std::string& error, const TConvertOptions& options) {
  TSoundFont font;
  if (!font.Read(sf2, error))
    return false;
  out = {};
  font.Convert(out, options);
  if (out.Instruments.empty()) {
    error = "no playable presets";
    return false;
  }
  return true;
}

} // namespace melo
