#include "sound/SoundFontCheck.h"

#include <array>
#include <cstddef>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

namespace melo {
namespace {

std::uint16_t U16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint32_t U32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

bool IdIs(const std::uint8_t* p, std::string_view id) {
  return std::memcmp(p, id.data(), 4) == 0;
}

struct TChunk {
  const std::uint8_t* Id = nullptr;
  const std::uint8_t* Data = nullptr;
  std::size_t Size = 0;
};

// The chunks of a list's bytes, or nothing when one does not lie inside. A
// list holds few chunks in any SoundFont; more than maxChunks is refused
// rather than gathered. Chunks follow one another without pad bytes, as the
// synthesizer's reader takes them: only odd-sized chunks could have one (the
// compressed samples of version 3, whose writers leave it out), and a pad
// byte that ends the list is allowed.
std::optional<std::vector<TChunk>> Chunks(const std::uint8_t* data, std::size_t size,
                                          std::size_t maxChunks) {
  std::vector<TChunk> chunks;
  for (std::size_t pos = 0; pos < size;) {
    const bool lastWasOdd = !chunks.empty() && chunks.back().Size % 2 != 0;
    if (lastWasOdd && size - pos == 1)
      break;
    if (size - pos < 8 || chunks.size() == maxChunks)
      return std::nullopt;
    const std::size_t chunkSize = U32(data + pos + 4);
    if (chunkSize > size - pos - 8)
      return std::nullopt;
    chunks.push_back({data + pos, data + pos + 8, chunkSize});
    pos += 8 + chunkSize;
  }
  return chunks;
}

// A LIST chunk of the given type: its body after the type.
std::optional<TChunk> ListBody(const TChunk& chunk, std::string_view type) {
  if (!IdIs(chunk.Id, "LIST") || chunk.Size < 4 || !IdIs(chunk.Data, type))
    return std::nullopt;
  return TChunk{chunk.Id, chunk.Data + 4, chunk.Size - 4};
}

// The major version named by INFO's one "ifil", or nothing when INFO is
// malformed (no version, two, a text too long).
std::optional<std::uint16_t> InfoVersion(const TChunk& info) {
  auto chunks = Chunks(info.Data, info.Size, 64);
  if (!chunks)
    return std::nullopt;
  std::optional<std::uint16_t> version;
  for (const TChunk& c : *chunks) {
    if (IdIs(c.Id, "ifil")) {
      if (c.Size != 4 || version)
        return std::nullopt;
      version = U16(c.Data);
    } else if (c.Size > (IdIs(c.Id, "ICMT") ? 65536u : 256u)) {
      return std::nullopt;
    }
  }
  return version;
}

using TBytes = std::span<const std::uint8_t>;

// The sample data, or nothing when sdta is malformed. Version 2 holds whole
// 16-bit samples only; version 3 may hold compressed ones too, so its byte
// count may be odd.
std::optional<TBytes> SampleData(const TChunk& sdta, std::uint16_t version) {
  auto chunks = Chunks(sdta.Data, sdta.Size, 2);
  if (!chunks)
    return std::nullopt;
  if (chunks->empty())
    return TBytes{};
  const TChunk& smpl = (*chunks)[0];
  if (!IdIs(smpl.Id, "smpl") || (version == 2 && smpl.Size % 2 != 0) ||
      (chunks->size() == 2 && !IdIs((*chunks)[1].Id, "sm24")))
    return std::nullopt;
  return TBytes(smpl.Data, smpl.Size);
}

// One of the nine record lists of pdta.
struct TRecords {
  const std::uint8_t* Data = nullptr;
  std::size_t Count = 0;
  std::size_t Bytes = 0; // per record
  const std::uint8_t* operator[](std::size_t i) const { return Data + i * Bytes; }
};

constexpr std::array<std::string_view, 9> RecordIds = {"phdr", "pbag", "pmod", "pgen", "inst",
                                                       "ibag", "imod", "igen", "shdr"};
constexpr std::array<std::size_t, 9> RecordBytes = {38, 4, 10, 4, 22, 4, 10, 4, 46};
enum { Phdr, Pbag, Pmod, Pgen, Inst, Ibag, Imod, Igen, Shdr };
using TRecordLists = std::array<TRecords, 9>;

constexpr std::uint16_t GenInstrument = 41;
constexpr std::uint16_t GenSampleId = 53;
constexpr std::uint16_t SampleMono = 1, SampleRight = 2, SampleLeft = 4, SampleLinked = 8,
                        SampleCompressed = 0x10, SampleRom = 0x8000;

// Each header's bag index (at offset) never decreases and stays within bags.
bool HeaderBagsSound(const TRecords& headers, std::size_t offset, const TRecords& bags) {
  std::uint16_t last = 0;
  for (std::size_t i = 0; i < headers.Count; ++i) {
    const std::uint16_t bag = U16(headers[i] + offset);
    if (bag < last || bag >= bags.Count)
      return false;
    last = bag;
  }
  return true;
}

// Each bag's generator and modulator indices never decrease and stay within.
bool BagsSound(const TRecords& bags, const TRecords& gens, const TRecords& mods) {
  std::uint16_t lastGen = 0, lastMod = 0;
  for (std::size_t i = 0; i < bags.Count; ++i) {
    const std::uint16_t gen = U16(bags[i]), mod = U16(bags[i] + 2);
    if (gen < lastGen || mod < lastMod || gen >= gens.Count || mod >= mods.Count)
      return false;
    lastGen = gen;
    lastMod = mod;
  }
  return true;
}

// Every generator `link` names a record below `count - 1` (the last one closes
// the list).
bool LinksSound(const TRecords& gens, std::uint16_t link, std::size_t count) {
  for (std::size_t i = 0; i < gens.Count; ++i) {
    if (U16(gens[i]) == link && U16(gens[i] + 2) + std::size_t{1} >= count)
      return false;
  }
  return true;
}

// A sample of 16-bit frames: its range and loop inside the data.
bool PlainSampleSound(const std::uint8_t* s, std::uint64_t dataBytes) {
  const std::uint64_t frames = dataBytes / 2;
  const std::uint64_t start = U32(s + 20), end = U32(s + 24);
  const std::uint64_t loopStart = U32(s + 28), loopEnd = U32(s + 32);
  return start <= end && end <= frames && loopStart <= frames && loopEnd <= frames;
}

// A compressed sample (Ogg Vorbis, version 3): start and end are byte offsets
// of its stream in the data, end past its last byte. Its loop counts frames of
// the decoded sound, which the synthesizer fits to the sound it decodes.
bool CompressedSampleSound(const std::uint8_t* s, std::uint64_t dataBytes) {
  const std::uint64_t start = U32(s + 20), end = U32(s + 24);
  return start < end && end <= dataBytes;
}

bool IsCompressed(const std::uint8_t* sample) {
  return (U16(sample + 44) & SampleCompressed) != 0;
}

bool SamplesSound(const TRecords& samples, std::uint64_t dataBytes, std::uint16_t version) {
  for (std::size_t i = 0; i + 1 < samples.Count; ++i) {
    const std::uint8_t* s = samples[i];
    const std::uint16_t link = U16(s + 42), type = U16(s + 44);
    const bool compressed = IsCompressed(s);
    const std::uint16_t kind = type & ~(SampleRom | SampleCompressed);
    if (compressed && version < 3)
      return false;
    if (!(compressed ? CompressedSampleSound(s, dataBytes) : PlainSampleSound(s, dataBytes)))
      return false;
    if (kind != SampleMono && kind != SampleRight && kind != SampleLeft && kind != SampleLinked)
      return false;
    if (kind != SampleMono && link + std::size_t{1} >= samples.Count)
      return false;
  }
  return true;
}

// The nine record lists, or nothing when one is missing, out of order, not a
// whole number of records or without its closing record.
std::optional<TRecordLists> RecordLists(const TChunk& pdta) {
  auto chunks = Chunks(pdta.Data, pdta.Size, RecordIds.size());
  if (!chunks || chunks->size() != RecordIds.size())
    return std::nullopt;
  TRecordLists r;
  for (std::size_t i = 0; i < RecordIds.size(); ++i) {
    const TChunk& c = (*chunks)[i];
    if (!IdIs(c.Id, RecordIds[i]) || c.Size % RecordBytes[i] != 0 || c.Size == 0)
      return std::nullopt;
    r[i] = {c.Data, c.Size / RecordBytes[i], RecordBytes[i]};
  }
  if (r[Phdr].Count < 2)
    return std::nullopt;
  return r;
}

// Every compressed sample's stream (in a font whose samples are sound) decodes.
bool StreamsSound(const TRecords& samples, TBytes data, const TStreamCheck& streamSound) {
  for (std::size_t i = 0; i + 1 < samples.Count; ++i) {
    const std::uint8_t* s = samples[i];
    if (IsCompressed(s) && !streamSound(data.subspan(U32(s + 20), U32(s + 24) - U32(s + 20))))
      return false;
  }
  return true;
}

TSoundFontCheck CheckPdta(const TChunk& pdta, TBytes data, std::uint16_t version,
                          const TStreamCheck& streamSound) {
  const std::optional<TRecordLists> lists = RecordLists(pdta);
  if (!lists)
    return TSoundFontCheck::Records;
  const TRecordLists& r = *lists;
  if (!HeaderBagsSound(r[Phdr], 24, r[Pbag]) || !BagsSound(r[Pbag], r[Pgen], r[Pmod]) ||
      !HeaderBagsSound(r[Inst], 20, r[Ibag]) || !BagsSound(r[Ibag], r[Igen], r[Imod]))
    return TSoundFontCheck::Indices;
  if (!LinksSound(r[Pgen], GenInstrument, r[Inst].Count) ||
      !LinksSound(r[Igen], GenSampleId, r[Shdr].Count))
    return TSoundFontCheck::References;
  if (!SamplesSound(r[Shdr], data.size(), version))
    return TSoundFontCheck::Samples;
  if (streamSound && !StreamsSound(r[Shdr], data, streamSound))
    return TSoundFontCheck::Streams;
  return TSoundFontCheck::Sound;
}

} // namespace

TSoundFontCheck CheckSoundFont(std::span<const std::uint8_t> bytes,
                               const TStreamCheck& streamSound) {
  if (bytes.size() < 12 || !IdIs(bytes.data(), "RIFF") || !IdIs(bytes.data() + 8, "sfbk"))
    return TSoundFontCheck::NotSoundFont;
  const std::size_t riffSize = U32(bytes.data() + 4);
  if (riffSize < 4 || riffSize > bytes.size() - 8)
    return TSoundFontCheck::Chunks;
  auto top = Chunks(bytes.data() + 12, riffSize - 4, 3);
  if (!top || top->size() != 3)
    return TSoundFontCheck::Chunks;
  auto info = ListBody((*top)[0], "INFO");
  auto sdta = ListBody((*top)[1], "sdta");
  auto pdta = ListBody((*top)[2], "pdta");
  if (!info || !sdta || !pdta)
    return TSoundFontCheck::Chunks;
  const std::optional<std::uint16_t> version = InfoVersion(*info);
  if (!version)
    return TSoundFontCheck::Info;
  if (*version != 2 && *version != 3)
    return TSoundFontCheck::Version;
  const std::optional<TBytes> data = SampleData(*sdta, *version);
  if (!data)
    return TSoundFontCheck::SampleData;
  return CheckPdta(*pdta, *data, *version, streamSound);
}

} // namespace melo
