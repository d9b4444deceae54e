#include "sound/DlsCollection.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <optional>
#include <unordered_map>
#include <utility>

namespace melo {

namespace {

constexpr std::uint32_t FourCC(const char (&s)[5]) {
  return std::uint32_t(std::uint8_t(s[0])) | std::uint32_t(std::uint8_t(s[1])) << 8 |
         std::uint32_t(std::uint8_t(s[2])) << 16 | std::uint32_t(std::uint8_t(s[3])) << 24;
}

constexpr std::uint32_t kRiff = FourCC("RIFF");
constexpr std::uint32_t kList = FourCC("LIST");

constexpr std::uint16_t kWaveFormatPcm = 1;
constexpr std::uint32_t kMaxSampleRate = 1'000'000;
constexpr std::uint32_t kBankMask = DlsDrumFlag | 0x7F7F;

std::uint16_t U16(const std::uint8_t* p) {
  return std::uint16_t(p[0] | p[1] << 8);
}
std::uint32_t U32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}

// A chunk inside its parent; for LIST chunks Data starts after the list type.
struct TChunk {
  std::uint32_t Id = 0;
  std::uint32_t ListType = 0;
  const std::uint8_t* Data = nullptr;
  std::size_t Size = 0;
  std::size_t Offset = 0; // of the chunk header within the parent's data
  std::size_t Next = 0;   // of the following chunk (after the pad byte)
  bool IsList(std::uint32_t type) const { return Id == kList && ListType == type; }
  bool Is(std::uint32_t id) const { return Id == id; }
};

// The chunk at pos of a list's bytes, or nothing when it does not lie inside
// the list (only the pad byte of the very last chunk may be missing).
std::optional<TChunk> ChunkAt(const std::uint8_t* data, std::size_t size, std::size_t pos) {
  if (size - pos < 8)
    return std::nullopt;
  TChunk chunk;
  chunk.Id = U32(data + pos);
  const std::size_t chunkSize = U32(data + pos + 4);
  if (chunkSize > size - pos - 8)
    return std::nullopt;
  chunk.Offset = pos;
  chunk.Next = pos + 8 + chunkSize + (chunkSize & 1);
  chunk.Data = data + pos + 8;
  chunk.Size = chunkSize;
  if (chunk.Id == kList || chunk.Id == kRiff) {
    if (chunkSize < 4)
      return std::nullopt;
    chunk.ListType = U32(chunk.Data);
    chunk.Data += 4;
    chunk.Size -= 4;
  }
  return chunk;
}

// The chunks of a list, walked in place each time they are visited. An index
// of them would cost several times the bytes of a file made of empty chunks;
// a walk costs nothing but time, and lists are visited a few times at most.
class TChunkList {
public:
  class iterator {
  public:
    iterator(const std::uint8_t* data, std::size_t size, std::size_t pos)
        : data_(data), size_(size), pos_(pos) {
      Load();
    }
    const TChunk& operator*() const { return chunk_; }
    const TChunk* operator->() const { return &chunk_; }
    iterator& operator++() {
      pos_ = std::min(chunk_.Next, size_);
      Load();
      return *this;
    }
    bool operator==(const iterator& other) const { return pos_ == other.pos_; }

  private:
    void Load() {
      if (pos_ < size_)
        chunk_ = *ChunkAt(data_, size_, pos_); // the list was checked whole
    }
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_;
    TChunk chunk_;
  };

  iterator begin() const { return {data_, size_, 0}; }
  iterator end() const { return {data_, size_, size_}; }

  // Checks that every chunk lies inside the list.
  static std::optional<TChunkList> Of(const std::uint8_t* data, std::size_t size) {
    for (std::size_t pos = 0; pos < size;) {
      auto chunk = ChunkAt(data, size, pos);
      if (!chunk)
        return std::nullopt;
      pos = chunk->Next;
    }
    return TChunkList(data, size);
  }

private:
  TChunkList(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  const std::uint8_t* data_;
  std::size_t size_;
};

std::optional<TChunkList> SplitChunks(const std::uint8_t* data, std::size_t size) {
  return TChunkList::Of(data, size);
}

std::optional<TChunkList> SplitChunks(const TChunk& list) {
  return TChunkList::Of(list.Data, list.Size);
}

// The one chunk with this id (and list type): an empty inner optional when
// absent, and std::nullopt when it appears more than once.
using TFound = std::optional<std::optional<TChunk>>;
TFound FindUnique(const TChunkList& chunks, std::uint32_t id, std::uint32_t listType = 0) {
  std::optional<TChunk> found;
  for (const TChunk& c : chunks) {
    if (c.Id != id || (id == kList && c.ListType != listType))
      continue;
    if (found)
      return std::nullopt;
    found = c;
  }
  return found;
}

std::string ReadZString(const TChunk& chunk) {
  const auto* end = std::find(chunk.Data, chunk.Data + chunk.Size, std::uint8_t(0));
  return std::string(reinterpret_cast<const char*>(chunk.Data), std::size_t(end - chunk.Data));
}

// INFO/INAM of a chunk list, empty when absent.
bool ReadInfoName(const TChunkList& chunks, std::string& name) {
  for (const TChunk& c : chunks) {
    if (!c.IsList(FourCC("INFO")))
      continue;
    auto info = SplitChunks(c);
    if (!info)
      return false;
    for (const TChunk& item : *info) {
      if (item.Is(FourCC("INAM")))
        name = ReadZString(item);
    }
  }
  return true;
}

bool ReadSampleInfo(const TChunk& chunk, TDlsSampleInfo& info) {
  if (chunk.Size < 20)
    return false;
  const std::uint32_t headerSize = U32(chunk.Data);
  if (headerSize < 20 || headerSize > chunk.Size)
    return false;
  info.UnityNote = U16(chunk.Data + 4);
  info.FineTune = std::int16_t(U16(chunk.Data + 6));
  info.Attenuation = std::int32_t(U32(chunk.Data + 8));
  info.Options = U32(chunk.Data + 12);
  const std::uint32_t loops = U32(chunk.Data + 16);
  if (info.UnityNote > 127 || loops > 1)
    return false;
  info.Looped = loops == 1;
  if (!info.Looped)
    return true;
  if (chunk.Size - headerSize < 16)
    return false;
  const std::uint8_t* loop = chunk.Data + headerSize;
  const std::uint32_t loopSize = U32(loop);
  if (loopSize < 16 || loopSize > chunk.Size - headerSize)
    return false;
  info.LoopType = U32(loop + 4);
  info.LoopStart = U32(loop + 8);
  info.LoopLength = U32(loop + 12);
  return info.LoopLength > 0;
}

bool LoopFits(const TDlsSampleInfo& info, std::size_t frames) {
  return !info.Looped || (std::uint64_t(info.LoopStart) + info.LoopLength <= frames);
}

bool ReadArticulation(const TChunk& chunk, std::vector<TDlsConnection>& connections) {
  if (chunk.Size < 8)
    return false;
  const std::uint32_t headerSize = U32(chunk.Data);
  const std::uint64_t count = U32(chunk.Data + 4);
  if (headerSize < 8 || headerSize > chunk.Size || count * 12 > chunk.Size - headerSize)
    return false;
  const std::uint8_t* p = chunk.Data + headerSize;
  for (std::uint64_t i = 0; i < count; ++i, p += 12)
    connections.push_back({U16(p), U16(p + 2), U16(p + 4), U16(p + 6), std::int32_t(U32(p + 8))});
  return true;
}

// Reads every art1/art2 of the lart/lar2 lists among chunks; level2 is set
// when any of them is Level 2.
bool ReadArticulations(const TChunkList& chunks, std::vector<TDlsConnection>& connections,
                       bool& level2) {
  for (const TChunk& c : chunks) {
    if (!c.IsList(FourCC("lart")) && !c.IsList(FourCC("lar2")))
      continue;
    auto arts = SplitChunks(c);
    if (!arts)
      return false;
    for (const TChunk& art : *arts) {
      if (!art.Is(FourCC("art1")) && !art.Is(FourCC("art2")))
        continue;
      level2 = level2 || art.Is(FourCC("art2"));
      if (!ReadArticulation(art, connections))
        return false;
    }
  }
  return true;
}

bool ReadWaveFormat(const TChunk& fmt, TDlsWave& wave, std::uint16_t& blockAlign) {
  if (fmt.Size < 16)
    return false;
  const std::uint16_t format = U16(fmt.Data);
  const std::uint16_t channels = U16(fmt.Data + 2);
  wave.SampleRate = U32(fmt.Data + 4);
  blockAlign = U16(fmt.Data + 12);
  wave.BitsPerSample = U16(fmt.Data + 14);
  if (format != kWaveFormatPcm || (channels != 1 && channels != 2) ||
      (wave.BitsPerSample != 8 && wave.BitsPerSample != 16) || wave.SampleRate == 0 ||
      wave.SampleRate > kMaxSampleRate || blockAlign != channels * wave.BitsPerSample / 8)
    return false;
  wave.Channels.assign(channels, {});
  return true;
}

bool ReadWaveData(const TChunk& data, std::uint16_t blockAlign, bool borrow, TDlsWave& wave) {
  if (data.Size == 0 || data.Size % blockAlign != 0)
    return false;
  const std::size_t frames = data.Size / blockAlign;
  const std::size_t bytes = wave.BitsPerSample / 8;
  const bool framesAsStored =
      bytes == 2 && wave.Channels.size() == 1 && std::endian::native == std::endian::little;
  if (framesAsStored && borrow &&
      reinterpret_cast<std::uintptr_t>(data.Data) % alignof(std::int16_t) == 0) {
    wave.Borrowed = {reinterpret_cast<const std::int16_t*>(data.Data), frames};
    wave.Channels.clear();
    return true;
  }
  if (framesAsStored) {
    // The common case: the bytes already are the frames.
    wave.Channels[0].resize(frames);
    std::memcpy(wave.Channels[0].data(), data.Data, data.Size);
    return true;
  }
  for (std::size_t ch = 0; ch < wave.Channels.size(); ++ch) {
    auto& out = wave.Channels[ch];
    out.resize(frames);
    const std::uint8_t* p = data.Data + ch * bytes;
    for (std::size_t i = 0; i < frames; ++i, p += blockAlign)
      out[i] = bytes == 1 ? std::int16_t((int(p[0]) - 128) * 256) : std::int16_t(U16(p));
  }
  return true;
}

bool ReadWave(const TChunk& list, bool borrow, TDlsWave& wave) {
  auto chunks = SplitChunks(list);
  if (!chunks)
    return false;
  auto fmt = FindUnique(*chunks, FourCC("fmt "));
  auto data = FindUnique(*chunks, FourCC("data"));
  auto wsmp = FindUnique(*chunks, FourCC("wsmp"));
  if (!fmt || !*fmt || !data || !*data || !wsmp)
    return false;
  std::uint16_t blockAlign = 0;
  if (!ReadWaveFormat(**fmt, wave, blockAlign) || !ReadWaveData(**data, blockAlign, borrow, wave))
    return false;
  wave.HasSampleInfo = wsmp->has_value();
  if (wave.HasSampleInfo &&
      (!ReadSampleInfo(**wsmp, wave.SampleInfo) || !LoopFits(wave.SampleInfo, wave.FrameCount())))
    return false;
  return ReadInfoName(*chunks, wave.Name);
}

// The pool table: offsets of the waves relative to the wvpl list's data, read
// in place.
struct TPoolTable {
  const std::uint8_t* Cues = nullptr;
  std::size_t Count = 0;
  std::uint32_t Offset(std::size_t cue) const { return U32(Cues + 4 * cue); }
};

std::optional<TPoolTable> ReadPoolTable(const TChunk& ptbl) {
  if (ptbl.Size < 8)
    return std::nullopt;
  const std::uint32_t headerSize = U32(ptbl.Data);
  const std::uint64_t cues = U32(ptbl.Data + 4);
  if (headerSize < 8 || headerSize > ptbl.Size || cues * 4 > ptbl.Size - headerSize)
    return std::nullopt;
  return TPoolTable{ptbl.Data + headerSize, static_cast<std::size_t>(cues)};
}

bool ReadRegionHeader(const TChunk& rgnh, TDlsRegion& region) {
  if (rgnh.Size < 12)
    return false;
  region.KeyLow = U16(rgnh.Data);
  region.KeyHigh = U16(rgnh.Data + 2);
  region.VelocityLow = U16(rgnh.Data + 4);
  region.VelocityHigh = U16(rgnh.Data + 6);
  region.Options = U16(rgnh.Data + 8);
  region.KeyGroup = U16(rgnh.Data + 10);
  region.Layer = rgnh.Size >= 14 ? U16(rgnh.Data + 12) : 0;
  // Level 1 has no velocity ranges; its writers often leave them zero.
  if (region.VelocityLow == 0 && region.VelocityHigh == 0)
    region.VelocityHigh = 127;
  return region.KeyLow <= region.KeyHigh && region.KeyHigh <= 127 &&
         region.VelocityLow <= region.VelocityHigh && region.VelocityHigh <= 127;
}

bool ReadWaveLink(const TChunk& wlnk, TDlsRegion& region) {
  if (wlnk.Size < 12)
    return false;
  region.LinkOptions = U16(wlnk.Data);
  region.PhaseGroup = U16(wlnk.Data + 2);
  region.Channel = U32(wlnk.Data + 4);
  region.WaveIndex = U32(wlnk.Data + 8);
  return true;
}

// insh and the INFO name: bank, program, name and the number of regions.
bool ReadInstrumentHeader(const TChunkList& chunks, TDlsInstrument& instrument,
                          std::uint32_t& regionCount) {
  auto insh = FindUnique(chunks, FourCC("insh"));
  if (!insh || !*insh || (*insh)->Size < 12)
    return false;
  regionCount = U32((*insh)->Data);
  instrument.Bank = U32((*insh)->Data + 4);
  instrument.Program = U32((*insh)->Data + 8);
  return (instrument.Bank & ~kBankMask) == 0 && instrument.Program <= 127 &&
         ReadInfoName(chunks, instrument.Name);
}

// The collection's top-level chunks, after its RIFF header.
std::optional<TChunkList> TopChunks(const std::uint8_t* data, std::size_t size) {
  if (RiffForm(data, size) != "DLS ")
    return std::nullopt;
  const std::size_t riffSize = U32(data + 4);
  if (riffSize < 4 || riffSize > size - 8)
    return std::nullopt;
  return SplitChunks(data + 12, riffSize - 4);
}

class TReader {
public:
  explicit TReader(bool borrowWaves) : FBorrowWaves(borrowWaves) {}
  bool Read(const std::uint8_t* data, std::size_t size, TDlsCollection& out);

private:
  bool ReadWavePool(const TChunkList& top);
  bool ReadInstrument(const TChunk& list, TDlsInstrument& instrument);
  bool ReadRegion(const TChunk& list, TDlsRegion& region);
  // The index in FResult.Waves of the wave a cue names (cue < FPool.Count).
  std::uint32_t CueToWave(std::size_t cue) const;

  const bool FBorrowWaves;
  TDlsCollection FResult;
  TPoolTable FPool;
  // Where the pool's wave lists start: one bit per two bytes of the pool
  // (chunks start at even offsets), a sixteenth of its size whatever it holds.
  std::vector<bool> FWaveListAt;
  // The index in FResult.Waves of each wave read, by its offset in the pool.
  std::unordered_map<std::uint32_t, std::uint32_t> FWaveAt;
};

bool TReader::Read(const std::uint8_t* data, std::size_t size, TDlsCollection& out) {
  auto top = TopChunks(data, size);
  if (!top)
    return false;
  auto colh = FindUnique(*top, FourCC("colh"));
  auto lins = FindUnique(*top, kList, FourCC("lins"));
  if (!colh || !*colh || (*colh)->Size < 4 || !lins || !*lins || !ReadWavePool(*top))
    return false;
  auto instruments = SplitChunks(**lins);
  if (!instruments)
    return false;
  for (const TChunk& c : *instruments) {
    if (!c.IsList(FourCC("ins ")))
      continue;
    TDlsInstrument instrument;
    if (!ReadInstrument(c, instrument))
      return false;
    FResult.Instruments.push_back(std::move(instrument));
  }
  if (FResult.Instruments.size() != U32((*colh)->Data))
    return false;
  out = std::move(FResult);
  return true;
}

bool TReader::ReadWavePool(const TChunkList& top) {
  auto ptbl = FindUnique(top, FourCC("ptbl"));
  auto wvpl = FindUnique(top, kList, FourCC("wvpl"));
  if (!ptbl || !*ptbl || !wvpl || !*wvpl)
    return false;
  auto pool = ReadPoolTable(**ptbl);
  auto waves = SplitChunks(**wvpl);
  if (!pool || !waves)
    return false;
  FPool = *pool;
  const TChunk& list = **wvpl;
  FWaveListAt.assign(list.Size / 2 + 1, false);
  for (const TChunk& c : *waves) {
    if (c.IsList(FourCC("wave")))
      FWaveListAt[c.Offset / 2] = true;
  }
  // Several cues may name one wave: it is read and stored once.
  for (std::size_t cue = 0; cue < FPool.Count; ++cue) {
    const std::uint32_t offset = FPool.Offset(cue);
    if (FWaveAt.contains(offset))
      continue;
    if (offset % 2 != 0 || offset / 2 >= FWaveListAt.size() || !FWaveListAt[offset / 2])
      return false;
    TDlsWave wave;
    if (!ReadWave(*ChunkAt(list.Data, list.Size, offset), FBorrowWaves, wave))
      return false;
    FWaveAt.emplace(offset, std::uint32_t(FResult.Waves.size()));
    FResult.Waves.push_back(std::move(wave));
  }
  return true;
}

std::uint32_t TReader::CueToWave(std::size_t cue) const {
  // Every cue was read before any region asks.
  return FWaveAt.find(FPool.Offset(cue))->second;
}

bool TReader::ReadInstrument(const TChunk& list, TDlsInstrument& instrument) {
  auto chunks = SplitChunks(list);
  if (!chunks)
    return false;
  auto lrgn = FindUnique(*chunks, kList, FourCC("lrgn"));
  std::uint32_t regionCount = 0;
  if (!ReadInstrumentHeader(*chunks, instrument, regionCount) || !lrgn)
    return false;
  if (*lrgn) {
    auto regions = SplitChunks(**lrgn);
    if (!regions)
      return false;
    for (const TChunk& c : *regions) {
      if (!c.IsList(FourCC("rgn ")) && !c.IsList(FourCC("rgn2")))
        continue;
      TDlsRegion region;
      region.Level2 = c.IsList(FourCC("rgn2"));
      if (!ReadRegion(c, region))
        return false;
      instrument.Level2 = instrument.Level2 || region.Level2;
      instrument.Regions.push_back(std::move(region));
    }
  }
  if (instrument.Regions.size() != regionCount)
    return false;
  return ReadArticulations(*chunks, instrument.Connections, instrument.Level2);
}

bool TReader::ReadRegion(const TChunk& list, TDlsRegion& region) {
  auto chunks = SplitChunks(list);
  if (!chunks)
    return false;
  auto rgnh = FindUnique(*chunks, FourCC("rgnh"));
  auto wlnk = FindUnique(*chunks, FourCC("wlnk"));
  auto wsmp = FindUnique(*chunks, FourCC("wsmp"));
  if (!rgnh || !*rgnh || !wlnk || !*wlnk || !wsmp)
    return false;
  if (!ReadRegionHeader(**rgnh, region) || !ReadWaveLink(**wlnk, region) ||
      region.WaveIndex >= FPool.Count)
    return false;
  region.WaveIndex = CueToWave(region.WaveIndex);
  const TDlsWave& wave = FResult.Waves[region.WaveIndex];
  region.HasSampleInfo = wsmp->has_value();
  if (region.HasSampleInfo && (!ReadSampleInfo(**wsmp, region.SampleInfo) ||
                               !LoopFits(region.SampleInfo, wave.FrameCount())))
    return false;
  return ReadArticulations(*chunks, region.Connections, region.Level2);
}

} // namespace

std::uint32_t DlsPatch(std::uint32_t bank, std::uint32_t program) {
  return (bank & DlsDrumFlag) | (bank & 0x7F7F) << 8 | (program & 0x7F);
}

std::uint32_t TDlsInstrument::Patch() const {
  return DlsPatch(Bank, Program);
}

std::string RiffForm(const std::uint8_t* data, std::size_t size) {
  if (data == nullptr || size < 12 || U32(data) != kRiff)
    return {};
  return std::string(reinterpret_cast<const char*>(data + 8), 4);
}

bool ListDlsInstruments(const std::uint8_t* data, std::size_t size,
                        std::vector<TDlsInstrument>& out) {
  auto top = TopChunks(data, size);
  if (!top)
    return false;
  auto lins = FindUnique(*top, kList, FourCC("lins"));
  if (!lins || !*lins)
    return false;
  auto list = SplitChunks(**lins);
  if (!list)
    return false;
  std::vector<TDlsInstrument> instruments;
  for (const TChunk& c : *list) {
    if (!c.IsList(FourCC("ins ")))
      continue;
    auto chunks = SplitChunks(c);
    std::uint32_t regionCount = 0;
    if (!chunks || !ReadInstrumentHeader(*chunks, instruments.emplace_back(), regionCount))
      return false;
  }
  out = std::move(instruments);
  return true;
}

bool TDlsCollection::LoadFromMemory(const std::uint8_t* data, std::size_t size, bool borrowWaves) {
  return TReader(borrowWaves).Read(data, size, *this);
}

} // namespace melo
