#include "sound/KoSoundSet.h"

#include "sound/DlsSoundFont.h"

#include <fluidsynth.h>
#include <sndfile.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <utility>

namespace melo {
namespace {

constexpr std::uint32_t DrumKitFlag = 0x80000000u;
constexpr int DrumBank = 128;

// The synthesizer's SoundFont reader opens its input by name, and opens it
// again to read the sample data. A memory sound set is therefore named
// "melo-memory:<serial>:<address>:<size>" (hexadecimal); the serial keeps the
// reader's sample cache from mistaking one buffer for an earlier one.
constexpr std::string_view MemoryPrefix = "melo-memory:";

struct TMemoryReader {
  const std::uint8_t* Data = nullptr;
  fluid_long_long_t Size = 0;
  fluid_long_long_t Position = 0;
};

bool ParseHexField(std::string_view& text, std::uintptr_t& value) {
  const char* end = text.data() + text.size();
  auto [next, error] = std::from_chars(text.data(), end, value, 16);
  if (error != std::errc{}) {
    return false;
  }
  text.remove_prefix(static_cast<std::size_t>(next - text.data()));
  if (!text.empty() && text.front() == ':') {
    text.remove_prefix(1);
  }
  return true;
}

void* MemoryOpen(const char* filename) {
  std::string_view name(filename);
  if (!name.starts_with(MemoryPrefix)) {
    return nullptr;
  }
  name.remove_prefix(MemoryPrefix.size());
  std::uintptr_t serial = 0;
  std::uintptr_t address = 0;
  std::uintptr_t size = 0;
  if (!ParseHexField(name, serial) || !ParseHexField(name, address) || !ParseHexField(name, size)) {
    return nullptr;
  }
  auto* reader = new TMemoryReader;
  reader->Data = reinterpret_cast<const std::uint8_t*>(address);
  reader->Size = static_cast<fluid_long_long_t>(size);
  return reader;
}

int MemoryRead(void* buffer, fluid_long_long_t count, void* handle) {
  auto* reader = static_cast<TMemoryReader*>(handle);
  if (count < 0 || count > reader->Size - reader->Position) {
    return FLUID_FAILED;
  }
  std::memcpy(buffer, reader->Data + reader->Position, static_cast<std::size_t>(count));
  reader->Position += count;
  return FLUID_OK;
}

int MemorySeek(void* handle, fluid_long_long_t offset, int origin) {
  auto* reader = static_cast<TMemoryReader*>(handle);
  fluid_long_long_t base = 0;
  switch (origin) {
  case SEEK_SET:
    base = 0;
    break;
  case SEEK_CUR:
    base = reader->Position;
    break;
  case SEEK_END:
    base = reader->Size;
    break;
  default:
    return FLUID_FAILED;
  }
  if (offset < -base || offset > reader->Size - base) {
    return FLUID_FAILED;
  }
  reader->Position = base + offset;
  return FLUID_OK;
}

fluid_long_long_t MemoryTell(void* handle) {
  return static_cast<TMemoryReader*>(handle)->Position;
}

int MemoryClose(void* handle) {
  delete static_cast<TMemoryReader*>(handle);
  return FLUID_OK;
}

std::string MemoryName(std::span<const std::uint8_t> bytes) {
  static std::atomic<unsigned long long> serial{0};
  char name[96];
  std::snprintf(name, sizeof name, "%.*s%llx:%llx:%llx", static_cast<int>(MemoryPrefix.size()),
                MemoryPrefix.data(), serial.fetch_add(1),
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(bytes.data())),
                static_cast<unsigned long long>(bytes.size()));
  return name;
}

std::uint32_t PatchOfPreset(int bank, int program) {
  const auto prog = static_cast<std::uint32_t>(program & 0x7F);
  if (bank == DrumBank) {
    return DrumKitFlag | prog;
  }
  // The synthesizer selects banks by MSB * 128 + LSB (as DirectMusic does by
  // the whole patch), so a preset's bank number splits into the two bytes.
  const auto msb = static_cast<std::uint32_t>((bank >> 7) & 0x7F);
  const auto lsb = static_cast<std::uint32_t>(bank & 0x7F);
  return msb << 16 | lsb << 8 | prog;
}

// The longest sound a compressed sample may decode to: ten minutes at 192 kHz.
// A damaged stream can claim any length, and the synthesizer would ask for
// that much memory at once.
constexpr sf_count_t MaxStreamFrames = sf_count_t{10} * 60 * 192000;

struct TStreamReader {
  std::span<const std::uint8_t> Bytes;
  sf_count_t Position = 0;
};

sf_count_t StreamLength(void* reader) {
  return static_cast<sf_count_t>(static_cast<TStreamReader*>(reader)->Bytes.size());
}

// Moves to offset from whence; false, without moving, beyond either end.
bool SeekStream(TStreamReader& reader, sf_count_t offset, int whence) {
  const sf_count_t base = whence == SEEK_CUR   ? reader.Position
                          : whence == SEEK_END ? StreamLength(&reader)
                                               : 0;
  if (offset < -base || offset > StreamLength(&reader) - base) {
    return false;
  }
  reader.Position = base + offset;
  return true;
}

sf_count_t StreamSeek(sf_count_t offset, int whence, void* handle) {
  auto* reader = static_cast<TStreamReader*>(handle);
  // A seek beyond either end stays where it was; libsndfile goes by the position told.
  static_cast<void>(SeekStream(*reader, offset, whence));
  return reader->Position;
}

sf_count_t StreamRead(void* out, sf_count_t count, void* handle) {
  auto* reader = static_cast<TStreamReader*>(handle);
  const sf_count_t n = std::clamp<sf_count_t>(StreamLength(reader) - reader->Position, 0, count);
  std::memcpy(out, reader->Bytes.data() + reader->Position, static_cast<std::size_t>(n));
  reader->Position += n;
  return n;
}

sf_count_t StreamTell(void* handle) {
  return static_cast<TStreamReader*>(handle)->Position;
}

std::size_t VorbisRead(void* out, std::size_t size, std::size_t count, void* handle) {
  return static_cast<std::size_t>(StreamRead(out, static_cast<sf_count_t>(size * count), handle));
}

int VorbisSeek(void* handle, ogg_int64_t offset, int whence) {
  return SeekStream(*static_cast<TStreamReader*>(handle), offset, whence) ? 0 : -1;
}

long VorbisTell(void* handle) {
  return static_cast<long>(StreamTell(handle));
}

// The stream's Ogg Vorbis headers read. libsndfile, which the synthesizer
// decodes with, drops memory for every stream whose headers it refuses, so
// those are refused here first.
bool VorbisHeadersRead(std::span<const std::uint8_t> stream) {
  TStreamReader reader{stream};
  OggVorbis_File file;
  if (ov_test_callbacks(&reader, &file, nullptr, 0,
                        ov_callbacks{VorbisRead, VorbisSeek, nullptr, VorbisTell}) != 0) {
    return false; // vorbisfile has cleared the file itself
  }
  ov_clear(&file);
  return true;
}

// A compressed sample's stream opens as one channel of a length the
// synthesizer can hold (its headers are read; the sound is decoded later).
bool StreamDecodes(std::span<const std::uint8_t> stream) {
  if (!VorbisHeadersRead(stream)) {
    return false;
  }
  TStreamReader reader{stream};
  SF_VIRTUAL_IO io{StreamLength, StreamSeek, StreamRead, nullptr, StreamTell};
  SF_INFO info{};
  SNDFILE* file = sf_open_virtual(&io, SFM_READ, &info, &reader);
  if (file == nullptr) {
    return false;
  }
  sf_close(file);
  return info.channels == 1 && info.frames >= 0 && info.frames <= MaxStreamFrames;
}

// The DLS reader tells only whether the collection read.
TSoundSetResult DlsResult(bool loaded) {
  return loaded ? TSoundSetResult{} : TSoundSetResult{TSoundSetFault::Damaged};
}

} // namespace

void AddMemoryLoader(fluid_synth_t* synth) {
  fluid_sfloader_t* loader = new_fluid_defsfloader(fluid_synth_get_settings(synth));
  if (loader == nullptr) {
    return;
  }
  fluid_sfloader_set_callbacks(loader, MemoryOpen, MemoryRead, MemorySeek, MemoryTell, MemoryClose);
  fluid_synth_add_sfloader(synth, loader);
}

bool IsRiffForm(std::span<const std::uint8_t> bytes, std::string_view form) {
  return bytes.size() >= 12 && form.size() == 4 && std::memcmp(bytes.data(), "RIFF", 4) == 0 &&
         std::memcmp(bytes.data() + 8, form.data(), 4) == 0;
}

std::string SoundSetFaultText(const TSoundSetResult& result) {
  switch (result.Fault) {
  case TSoundSetFault::None:
    return "loaded";
  case TSoundSetFault::Missing:
    return "not found";
  case TSoundSetFault::Unreadable:
    return "cannot be read";
  case TSoundSetFault::NotASoundSet:
    return "not a sound set (neither DLS nor SoundFont)";
  case TSoundSetFault::Version:
    return "a SoundFont version the program does not read (it reads 2 and 3)";
  case TSoundSetFault::Refused:
    return "damaged: the synthesizer could not read its samples";
  case TSoundSetFault::Damaged:
    break;
  }
  switch (result.Check) {
  case TSoundFontCheck::Chunks:
    return "damaged: its chunks do not fit inside one another";
  case TSoundFontCheck::Info:
    return "damaged: its information has no single version or too long a text";
  case TSoundFontCheck::SampleData:
    return "damaged: its sample data is malformed";
  case TSoundFontCheck::Records:
    return "damaged: a list of presets, instruments or samples is missing or cut short";
  case TSoundFontCheck::Indices:
    return "damaged: a zone index goes back or beyond its list";
  case TSoundFontCheck::References:
    return "damaged: a preset or instrument names one that does not exist";
  case TSoundFontCheck::Samples:
    return "damaged: a sample lies outside the sample data or is of an unknown type";
  case TSoundFontCheck::Streams:
    return "damaged: a compressed sample does not decode";
  default:
    return "damaged: its DLS structure does not read";
  }
}

TSoundSetResult LoadSoundSet(fluid_synth_t* synth, std::span<const std::uint8_t> bytes,
                             TLoadedSoundSet& loaded) {
  if (synth == nullptr) {
    return {TSoundSetFault::Refused};
  }
  if (IsRiffForm(bytes, "sfbk")) {
    return LoadSoundFontBytes(synth, bytes, loaded);
  }
  if (IsRiffForm(bytes, "DLS ")) {
    return DlsResult(LoadDlsBytes(synth, bytes, loaded));
  }
  return {TSoundSetFault::NotASoundSet};
}

TSoundSetResult LoadSoundSetInPlace(fluid_synth_t* synth, std::span<const std::uint8_t> bytes,
                                    std::shared_ptr<const void> owner, TLoadedSoundSet& loaded) {
  if (synth != nullptr && owner != nullptr && IsRiffForm(bytes, "DLS ")) {
    return DlsResult(LoadDlsBytes(synth, bytes, loaded, std::move(owner)));
  }
  return LoadSoundSet(synth, bytes, loaded);
}

TSoundSetResult LoadSoundFontBytes(fluid_synth_t* synth, std::span<const std::uint8_t> bytes,
                                   TLoadedSoundSet& loaded) {
  // The synthesizer's reader trusts the file's sizes and indices.
  switch (const TSoundFontCheck check = CheckSoundFont(bytes, StreamDecodes)) {
  case TSoundFontCheck::Sound:
    break;
  case TSoundFontCheck::NotSoundFont:
    return {TSoundSetFault::NotASoundSet};
  case TSoundFontCheck::Version:
    return {TSoundSetFault::Version};
  default:
    return {TSoundSetFault::Damaged, check};
  }
  const int fontId = fluid_synth_sfload(synth, MemoryName(bytes).c_str(), 1);
  if (fontId == FLUID_FAILED) {
    return {TSoundSetFault::Refused};
  }
  loaded.FontId = fontId;
  loaded.Instruments = ListFontInstruments(synth, fontId);
  return {};
}

std::vector<TSoundSetInstrument> ListFontInstruments(fluid_synth_t* synth, int fontId) {
  std::vector<TSoundSetInstrument> instruments;
  fluid_sfont_t* font = fluid_synth_get_sfont_by_id(synth, fontId);
  if (font == nullptr) {
    return instruments;
  }
  fluid_sfont_iteration_start(font);
  while (fluid_preset_t* preset = fluid_sfont_iteration_next(font)) {
    const char* name = fluid_preset_get_name(preset);
    instruments.push_back(
        {PatchOfPreset(fluid_preset_get_banknum(preset), fluid_preset_get_num(preset)),
         name != nullptr ? name : ""});
  }
  return instruments;
}

} // namespace melo
