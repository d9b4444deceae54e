#include "music/MidiFileReader.h"

#include "platform/FileBytes.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <string_view>
#include <utility>

namespace melo {
namespace {

constexpr std::uint8_t MetaText = 0x01;
constexpr std::uint8_t MetaCopyright = 0x02;
constexpr std::uint8_t MetaTrackName = 0x03;
constexpr std::uint8_t MetaEndOfTrack = 0x2F;
constexpr std::uint8_t MetaTempo = 0x51;
constexpr std::uint8_t SysExStatus = 0xF0;
constexpr std::uint8_t SysExContinuation = 0xF7;
constexpr std::uint8_t MetaStatus = 0xFF;
constexpr std::uint32_t DefaultTempo = 500000; // microseconds per quarter note
// A track whose ticks add up beyond this is refused; it keeps the tempo
// arithmetic (ticks times microseconds per tick) within 64 bits.
constexpr std::uint64_t MaxTrackTicks = 0xFFFFFFFFu;

// Thrown inside this unit only: the reason a file is refused.
struct TRefusal {
  std::string Reason;
};

[[noreturn]] void Refuse(std::string reason) {
  throw TRefusal{std::move(reason)};
}

// The bytes of one chunk (or the file), read front to back; reading past
// the end refuses the file with what was being read.
class TByteReader {
public:
  TByteReader(std::span<const std::uint8_t> bytes, std::string where)
      : FBytes(bytes), FWhere(std::move(where)) {}
  std::size_t Left() const { return FBytes.size() - FAt; }
  std::size_t Position() const { return FAt; }
  const std::string& Where() const { return FWhere; }

  std::uint8_t Byte(const char* what) {
    NeedLeft(1, what);
    return FBytes[FAt++];
  }
  std::uint8_t PeekByte(const char* what) {
    NeedLeft(1, what);
    return FBytes[FAt];
  }
  std::uint32_t BigEndian(int count, const char* what) {
    std::uint32_t value = 0;
    for (int i = 0; i < count; ++i)
      value = value << 8 | Byte(what);
    return value;
  }
  // A number of up to four 7-bit groups, the last without its top bit.
  std::uint32_t VariableLength(const char* what) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
      const std::uint8_t byte = Byte(what);
      value = value << 7 | (byte & 0x7F);
      if ((byte & 0x80) == 0)
        return value;
    }
    Refuse(FWhere + ": a variable-length number (" + what + ") runs over four bytes at byte " +
           std::to_string(FAt - 4));
  }
  std::span<const std::uint8_t> Take(std::size_t count, const char* what) {
    if (count > Left()) {
      Refuse(FWhere + ": " + what + " of " + std::to_string(count) + " bytes runs past the end (" +
             std::to_string(Left()) + " bytes left)");
    }
    const auto bytes = FBytes.subspan(FAt, count);
    FAt += count;
    return bytes;
  }

private:
  void NeedLeft(std::size_t count, const char* what) {
    if (count > Left())
      Refuse(FWhere + ": cut off inside " + what);
  }
  std::span<const std::uint8_t> FBytes;
  std::size_t FAt = 0;
  std::string FWhere;
};

// How ticks become time: microseconds per tick as a fraction whose
// numerator the tempo sets (unless the division counts SMPTE frames).
struct TDivision {
  std::uint64_t Denominator = 1;
  std::uint64_t FixedNumerator = 0; // SMPTE: microseconds per tick times Denominator
  bool Smpte() const { return FixedNumerator != 0; }
};

TDivision DivisionOf(std::uint16_t division) {
  if ((division & 0x8000) == 0) {
    if (division == 0)
      Refuse("the header gives 0 ticks per quarter note");
    return {division, 0};
  }
  const int framesPerSecond = -static_cast<std::int8_t>(division >> 8);
  const int ticksPerFrame = division & 0xFF;
  if (ticksPerFrame == 0)
    Refuse("the header gives 0 ticks per SMPTE frame");
  switch (framesPerSecond) {
  case 24:
  case 25:
  case 30:
    return {static_cast<std::uint64_t>(framesPerSecond * ticksPerFrame), 1000000};
  case 29: // 30 drop-frame: 29.97 frames a second
    return {static_cast<std::uint64_t>(30 * ticksPerFrame), 1001000};
  default:
    Refuse("the header gives " + std::to_string(framesPerSecond) +
           " SMPTE frames per second (24, 25, 29 or 30 are possible)");
  }
}

// bytes as UTF-8: kept when they are UTF-8, else read as Latin-1; cut to
// MaxMidiTextBytes without splitting a character.
std::string TextOf(std::span<const std::uint8_t> bytes) {
  std::string text(bytes.begin(), bytes.end());
  std::size_t i = 0;
  bool utf8 = true;
  while (utf8 && i < text.size()) {
    const auto lead = static_cast<std::uint8_t>(text[i]);
    const std::size_t length = lead < 0x80       ? 1
                               : lead >> 5 == 6  ? 2
                               : lead >> 4 == 14 ? 3
                               : lead >> 3 == 30 ? 4
                                                 : 0;
    utf8 = length != 0 && i + length <= text.size();
    for (std::size_t k = 1; utf8 && k < length; ++k)
      utf8 = (static_cast<std::uint8_t>(text[i + k]) & 0xC0) == 0x80;
    i += length;
  }
  if (!utf8) {
    text.clear();
    for (const std::uint8_t byte : bytes) {
      if (byte < 0x80) {
        text.push_back(static_cast<char>(byte));
      } else {
        text.push_back(static_cast<char>(0xC0 | byte >> 6));
        text.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
      }
    }
  }
  std::size_t cut = std::min(text.size(), MaxMidiTextBytes);
  while (cut < text.size() && (static_cast<std::uint8_t>(text[cut]) & 0xC0) == 0x80)
    --cut;
  text.resize(cut);
  return text;
}

struct TTickedMessage {
  std::uint64_t Tick = 0;
  TTimedMidiMessage Message;
};

struct TTempoChange {
  std::uint64_t Tick = 0;
  std::uint32_t MicrosecondsPerQuarter = DefaultTempo;
};

// What the tracks hold, in ticks.
struct TTickedContent {
  std::vector<TTickedMessage> Messages;
  std::vector<TTempoChange> Tempos;
  std::uint64_t EndTick = 0;
};

// The data bytes a channel message of this status carries.
int DataByteCount(std::uint8_t status) {
  const std::uint8_t kind = status & 0xF0;
  return kind == 0xC0 || kind == 0xD0 ? 1 : 2;
}

TTimedMidiMessage ChannelMessage(TByteReader& track, std::uint8_t status) {
  TTimedMidiMessage message{0, status, 0, 0};
  for (int i = 0; i < DataByteCount(status); ++i) {
    const std::uint8_t data = track.Byte("a channel message");
    if (data >= 0x80) {
      Refuse(track.Where() + ": a channel message is cut short by the status byte " +
             std::to_string(data) + " at byte " + std::to_string(track.Position() - 1));
    }
    (i == 0 ? message.Data1 : message.Data2) = data;
  }
  if ((status & 0xF0) == NoteOnStatus && message.Data2 == 0)
    message.Status = ChannelStatus(NoteOffStatus, status & 0x0F);
  return message;
}

// A meta event after its status byte: the texts and tempo it may carry.
// False at the end of the track.
bool MetaEvent(TByteReader& track, std::size_t trackIndex, std::uint64_t tick,
               TTickedContent& ticked, TMidiFileContent& content) {
  const std::uint8_t type = track.Byte("a meta event");
  const std::uint32_t length = track.VariableLength("a meta event's length");
  const auto data = track.Take(length, "a meta event");
  switch (type) {
  case MetaEndOfTrack:
    return false;
  case MetaTempo:
    if (length != 3) {
      Refuse(track.Where() + ": a tempo event of " + std::to_string(length) +
             " bytes (3 are needed)");
    }
    ticked.Tempos.push_back(
        {tick, static_cast<std::uint32_t>(data[0] << 16 | data[1] << 8 | data[2])});
    break;
  case MetaTrackName:
    if (content.TrackNames[trackIndex].empty())
      content.TrackNames[trackIndex] = TextOf(data);
    break;
  case MetaCopyright:
    if (content.Copyright.empty())
      content.Copyright = TextOf(data);
    break;
  case MetaText:
    if (trackIndex == 0 && !data.empty() && data[0] != '@')
      content.Texts.push_back(TextOf(data));
    break;
  default:
    break;
  }
  return true;
}

// One track's events. Running status holds across meta and system-exclusive
// events, as many writers expect, but needs a channel message before it.
void ReadTrack(TByteReader track, std::size_t trackIndex, TTickedContent& ticked,
               TMidiFileContent& content) {
  std::uint64_t tick = 0;
  std::uint8_t runningStatus = 0;
  while (track.Left() > 0) {
    tick += track.VariableLength("an event's delta time");
    if (tick > MaxTrackTicks)
      Refuse(track.Where() + ": the track runs beyond " + std::to_string(MaxTrackTicks) + " ticks");
    std::uint8_t status = track.PeekByte("an event");
    if (status < 0x80) {
      if (runningStatus == 0) {
        Refuse(track.Where() + ": a data byte without a status before it at byte " +
               std::to_string(track.Position()));
      }
      status = runningStatus;
    } else {
      track.Byte("an event");
    }
    if (IsChannelMessage(status)) {
      runningStatus = status;
      ticked.Messages.push_back({tick, ChannelMessage(track, status)});
    } else if (status == SysExStatus || status == SysExContinuation) {
      track.Take(track.VariableLength("a system-exclusive length"), "a system-exclusive event");
    } else if (status == MetaStatus) {
      if (!MetaEvent(track, trackIndex, tick, ticked, content))
        break;
    } else {
      Refuse(track.Where() + ": the status byte " + std::to_string(status) + " at byte " +
             std::to_string(track.Position() - 1) + " has no place in a file");
    }
  }
  ticked.EndTick = std::max(ticked.EndTick, tick);
}

// Milliseconds of ticks asked in rising order, through the tempo changes.
class TTempoMap {
public:
  TTempoMap(const TDivision& division, std::vector<TTempoChange> tempos)
      : FDivision(division), FTempos(std::move(tempos)) {
    std::stable_sort(FTempos.begin(), FTempos.end(),
                     [](const auto& a, const auto& b) { return a.Tick < b.Tick; });
    FNumerator = division.Smpte() ? division.FixedNumerator : DefaultTempo;
  }

  std::uint32_t Milliseconds(std::uint64_t tick) {
    while (!FDivision.Smpte() && FNext < FTempos.size() && FTempos[FNext].Tick <= tick) {
      Advance(FTempos[FNext].Tick);
      FNumerator = FTempos[FNext++].MicrosecondsPerQuarter;
    }
    Advance(tick);
    const std::uint64_t perMs = FDivision.Denominator * 1000;
    const std::uint64_t ms = (FScaled + perMs / 2) / perMs;
    if (ms > MaxMidiFileMs) {
      Refuse("the music lasts beyond " + std::to_string(MaxMidiFileMs / 3600000) +
             " hours, longer than a song can be");
    }
    return static_cast<std::uint32_t>(ms);
  }

private:
  void Advance(std::uint64_t tick) {
    FScaled += (tick - FTick) * FNumerator;
    FTick = tick;
  }
  TDivision FDivision;
  std::vector<TTempoChange> FTempos;
  std::size_t FNext = 0;
  std::uint64_t FNumerator = DefaultTempo;
  std::uint64_t FTick = 0;
  std::uint64_t FScaled = 0; // microseconds up to FTick, times the denominator
};

void ReadFile(std::span<const std::uint8_t> file, TMidiFileContent& content) {
  TByteReader reader(file, "the file");
  const auto magic = reader.Take(std::min<std::size_t>(4, reader.Left()), "the header");
  if (!std::ranges::equal(magic, std::string_view("MThd")))
    Refuse("not a Standard MIDI File: it does not begin with MThd");
  const std::uint32_t headerLength = reader.BigEndian(4, "the header");
  if (headerLength < 6)
    Refuse("the header is " + std::to_string(headerLength) + " bytes long (6 are needed)");
  TByteReader header(reader.Take(headerLength, "the header"), "the header");
  const std::uint16_t format = static_cast<std::uint16_t>(header.BigEndian(2, "the header"));
  const std::uint16_t trackCount = static_cast<std::uint16_t>(header.BigEndian(2, "the header"));
  const TDivision division =
      DivisionOf(static_cast<std::uint16_t>(header.BigEndian(2, "the header")));
  if (format == 2)
    Refuse("format 2 (independent songs, one per track) is not read; save it as format 0 or 1");
  if (format > 2)
    Refuse("format " + std::to_string(format) + " is unknown");
  if (format == 0 && trackCount != 1)
    Refuse("format 0 holds one track, the header says " + std::to_string(trackCount));

  TTickedContent ticked;
  content.TrackNames.assign(trackCount, {});
  std::size_t tracksRead = 0;
  while (tracksRead < trackCount) {
    if (reader.Left() == 0) {
      Refuse("the header promises " + std::to_string(trackCount) + " tracks, the file holds " +
             std::to_string(tracksRead));
    }
    const auto type = reader.Take(std::min<std::size_t>(4, reader.Left()), "a chunk's type");
    const std::uint32_t length = reader.BigEndian(4, "a chunk's length");
    const std::string where = "track " + std::to_string(tracksRead + 1);
    const auto chunk = reader.Take(length, (where + "'s chunk").c_str());
    // Chunks of other types are passed over, as the format asks.
    if (std::ranges::equal(type, std::string_view("MTrk")))
      ReadTrack(TByteReader(chunk, where), tracksRead++, ticked, content);
  }

  std::stable_sort(ticked.Messages.begin(), ticked.Messages.end(),
                   [](const auto& a, const auto& b) { return a.Tick < b.Tick; });
  TTempoMap tempoMap(division, std::move(ticked.Tempos));
  content.Messages.reserve(ticked.Messages.size());
  for (TTickedMessage& message : ticked.Messages) {
    message.Message.Time = tempoMap.Milliseconds(message.Tick);
    content.Messages.push_back(message.Message);
  }
  content.EndTime = tempoMap.Milliseconds(std::max(
      ticked.EndTick, ticked.Messages.empty() ? std::uint64_t{0} : ticked.Messages.back().Tick));
}

} // namespace

bool ParseMidiFile(std::span<const std::uint8_t> file, TMidiFileContent& content,
                   std::string& reason) {
  content = {};
  try {
    ReadFile(file, content);
    return true;
  } catch (const TRefusal& refusal) {
    content = {};
    reason = refusal.Reason;
    return false;
  }
}

bool ReadMidiFile(const std::filesystem::path& fileName, TMidiFileContent& content,
                  std::string& reason) {
  std::vector<std::uint8_t> bytes;
  if (!ReadFileBytes(fileName, bytes, MaxMidiFileBytes)) {
    content = {};
    reason = "cannot be read: missing, not a regular file or larger than " +
             std::to_string(MaxMidiFileBytes >> 20) + " MB";
    return false;
  }
  return ParseMidiFile(bytes, content, reason);
}

bool IsMidiFileName(const std::filesystem::path& fileName) {
  std::string suffix = fileName.extension().string();
  std::ranges::transform(suffix, suffix.begin(),
                         [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return suffix == ".mid" || suffix == ".midi" || suffix == ".kar";
}

} // namespace melo
