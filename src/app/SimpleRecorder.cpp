#include "app/SimpleRecorder.h"

#include "music/HighTimer.h"
#include "platform/FileBytes.h"
#include "platform/GbkText.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <utility>

namespace melo {
namespace {

constexpr std::size_t OldHeadBytes = 376;
constexpr std::size_t OldEventBytes = 8;
constexpr std::uint8_t F5ScanCode = 63;
// The player steps every 10 ms on the UI thread: an event is handed over up
// to a step and a little more after its time.
constexpr double PlayerSlackMs = 12.0;
constexpr std::int32_t ReservedStateValues[3] = {1, 0, 2};

void PutU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void PutI32(std::uint8_t* p, std::int32_t v) {
  PutU32(p, static_cast<std::uint32_t>(v));
}

std::uint32_t GetU32(const std::uint8_t* p) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i)
    v |= std::uint32_t{p[i]} << (8 * i);
  return v;
}

std::int32_t GetI32(const std::uint8_t* p) {
  return static_cast<std::int32_t>(GetU32(p));
}

void PutEvent(std::uint8_t* p, const TSongEvent& e) {
  PutU32(p, e.Time);
  PutU32(p + 4, e.Skip);
  p[8] = e.Kind;
  PutI32(p + 9, e.Data);
}

TSongEvent GetEvent(const std::uint8_t* p) {
  return {GetU32(p), GetU32(p + 4), p[8], GetI32(p + 9)};
}

std::string InfoText(const std::uint8_t* field, std::size_t capacity) {
  return GbkToUtf8(ReadShortString(field, capacity));
}

void SetInfoText(std::uint8_t* field, std::size_t capacity, std::string_view utf8) {
  WriteShortString(field, capacity, Utf8ToGbk(utf8, capacity));
}

void PutState(std::uint8_t* p, const TSongState& s) {
  const std::int32_t values[] = {s.Transpose,   s.RightVelocity, s.LeftVelocity, s.RightOctave,
                                 s.LeftOctave,  s.RightPatch,    s.LeftPatch,    s.Reserved[0],
                                 s.Reserved[1], s.Reserved[2],   s.SmartSemitone};
  for (std::int32_t v : values) {
    PutI32(p, v);
    p += 4;
  }
  KeyDefTableToBytes(s.KeyDefs, std::span<std::uint8_t, KeyDefTableBytes>(p, KeyDefTableBytes));
}

TSongState GetState(const std::uint8_t* p) {
  TSongState s{};
  std::int32_t* values[] = {&s.Transpose,   &s.RightVelocity, &s.LeftVelocity, &s.RightOctave,
                            &s.LeftOctave,  &s.RightPatch,    &s.LeftPatch,    &s.Reserved[0],
                            &s.Reserved[1], &s.Reserved[2],   &s.SmartSemitone};
  for (std::int32_t* v : values) {
    *v = GetI32(p);
    p += 4;
  }
  s.KeyDefs =
      KeyDefTableFromBytes(std::span<const std::uint8_t, KeyDefTableBytes>(p, KeyDefTableBytes));
  return s;
}

bool HasSongMagic(std::span<const std::uint8_t> stream) {
  return stream.size() >= SongMagic.size() &&
         std::memcmp(stream.data(), SongMagic.data(), SongMagic.size()) == 0;
}

// Bytes after the counted events of a version-1 song (0 when it is complete
// or short; a short one is refused anyway).
std::size_t OldSongTrailingBytes(std::span<const std::uint8_t> old) {
  if (old.size() < OldHeadBytes)
    return 0;
  const std::uint64_t end = OldHeadBytes + std::uint64_t{GetU32(old.data() + 372)} * OldEventBytes;
  return old.size() > end ? static_cast<std::size_t>(old.size() - end) : 0;
}

std::uint32_t SteadyMilliseconds() {
  auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

} // namespace

// ---- Song information and header --------------------------------------------

std::string SongTitle(const TSongInfo& info) {
  return InfoText(info.Title, 39);
}
std::string SongPlayer(const TSongInfo& info) {
  return InfoText(info.Player, 19);
}
std::string SongRemark(const TSongInfo& info) {
  return InfoText(info.Remark, 255);
}

TSongState DefaultSongState() {
  TSongState state{};
  state.LeftVelocity = StartLeftVelocity;
  state.RightVelocity = StartRightVelocity;
  std::copy(std::begin(ReservedStateValues), std::end(ReservedStateValues), state.Reserved);
  FillDefaultKeyDefs(state.KeyDefs);
  return state;
}

TSongInfo MakeSongInfo(std::string_view title, std::string_view player, std::string_view remark) {
  TSongInfo info{};
  SetInfoText(info.Title, 39, title);
  SetInfoText(info.Player, 19, player);
  SetInfoText(info.Remark, 255, remark);
  return info;
}

void SongHeaderToBytes(const TSongHeader& h, std::span<std::uint8_t, SongHeaderBytes> out) {
  std::uint8_t* p = out.data();
  std::memcpy(p, h.Magic, sizeof h.Magic);
  PutI32(p + 16, h.Version);
  std::memcpy(p + 20, &h.Info, sizeof h.Info); // bytes only
  PutState(p + 336, h.State);
  PutU32(p + 8756, h.EventCount);
}

TSongHeader SongHeaderFromBytes(std::span<const std::uint8_t, SongHeaderBytes> in) {
  const std::uint8_t* p = in.data();
  TSongHeader h{};
  std::memcpy(h.Magic, p, sizeof h.Magic);
  h.Version = GetI32(p + 16);
  std::memcpy(&h.Info, p + 20, sizeof h.Info);
  h.State = GetState(p + 336);
  h.EventCount = GetU32(p + 8756);
  return h;
}

bool ConvertVersion1(std::span<const std::uint8_t> old, std::vector<std::uint8_t>& image) {
  if (old.size() < OldHeadBytes)
    return false;
  const std::uint8_t* head = old.data();
  TSongHeader h{};
  std::memcpy(h.Magic, head, sizeof h.Magic);
  h.Version = SongVersion;
  std::memcpy(&h.Info, head + 20, sizeof h.Info);
  h.State.Transpose = GetI32(head + 337);
  h.State.RightVelocity = GetI32(head + 341);
  h.State.LeftVelocity = GetI32(head + 345);
  h.State.RightOctave = GetI32(head + 349);
  h.State.LeftOctave = GetI32(head + 353);
  std::copy(std::begin(ReservedStateValues), std::end(ReservedStateValues), h.State.Reserved);
  FillDefaultKeyDefs(h.State.KeyDefs);
  h.EventCount = GetU32(head + 372);

  // Only the events present are converted; a short file then loads fewer
  // events than its count and is refused by the reader.
  std::size_t present = (old.size() - OldHeadBytes) / OldEventBytes;
  std::size_t n = std::min<std::size_t>(h.EventCount, present);
  image.assign(SongHeaderBytes + n * SongEventBytes, 0);
  SongHeaderToBytes(h, std::span<std::uint8_t, SongHeaderBytes>(image.data(), SongHeaderBytes));
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t* e = head + OldHeadBytes + i * OldEventBytes;
    std::uint8_t skip = e[4], scanCode = e[5], down = e[6];
    TSongEvent event{GetU32(e), skip != 0 || scanCode == F5ScanCode ? 0xFFFFFFFFu : 0u,
                     down != 0 ? sekKeyDown : sekKeyUp, scanCode};
    PutEvent(image.data() + SongHeaderBytes + i * SongEventBytes, event);
  }
  return true;
}

// ---- Event list ---------------------------------------------------------------

void TSimpleBuffer::Add(const TSongEvent& event, const TKeyDefTable* keyDefs) {
  TItem item{event, nullptr};
  if (event.Kind == sekKeyDefs) {
    item.KeyDefs =
        keyDefs ? std::make_unique<TKeyDefTable>(*keyDefs) : std::make_unique<TKeyDefTable>();
    item.Event.Data = 0; // the table is found through the list, not through Data
  }
  FItems.push_back(std::move(item));
}

std::size_t TSimpleBuffer::LoadFromStream(std::span<const std::uint8_t> stream,
                                          std::size_t position, std::uint32_t n, std::size_t* end) {
  Clear();
  if (end)
    *end = position;
  if (position > stream.size())
    return 0;
  // Never reserve more than the stream could hold, whatever n claims.
  FItems.reserve(std::min<std::size_t>(n, (stream.size() - position) / SongEventBytes));
  std::size_t at = position;
  for (std::uint32_t i = 0; i < n && stream.size() - at >= SongEventBytes; ++i) {
    TSongEvent event = GetEvent(stream.data() + at);
    at += SongEventBytes;
    if (event.Kind != sekKeyDefs) {
      Add(event);
      continue;
    }
    if (stream.size() - at < KeyDefTableBytes)
      break;
    TKeyDefTable table = KeyDefTableFromBytes(
        std::span<const std::uint8_t, KeyDefTableBytes>(stream.data() + at, KeyDefTableBytes));
    at += KeyDefTableBytes;
    Add(event, &table);
  }
  if (end)
    *end = at;
  return FItems.size();
}

std::size_t TSimpleBuffer::SaveToStream(std::vector<std::uint8_t>& stream, std::size_t position,
                                        std::size_t first) const {
  const auto items = std::span(FItems).subspan(std::min(first, FItems.size()));
  std::size_t size = items.size() * SongEventBytes;
  for (const TItem& item : items)
    size += item.KeyDefs ? KeyDefTableBytes : 0;
  if (stream.size() < position + size)
    stream.resize(position + size);
  std::uint8_t* p = stream.data() + position;
  for (const TItem& item : items) {
    PutEvent(p, item.Event);
    p += SongEventBytes;
    if (item.KeyDefs) {
      KeyDefTableToBytes(*item.KeyDefs,
                         std::span<std::uint8_t, KeyDefTableBytes>(p, KeyDefTableBytes));
      p += KeyDefTableBytes;
    }
  }
  return position + size;
}

// ---- Recorder ------------------------------------------------------------------

TSimpleRecorder::TSimpleRecorder(TTickClock clock)
    : FClock(clock ? std::move(clock) : TTickClock(SteadyMilliseconds)) {}

TSimpleRecorder::~TSimpleRecorder() = default;

void TSimpleRecorder::SongChanged(TSongChange change) {
  if (OnSongChange)
    OnSongChange(*this, change);
}

// Only the UI thread starts and stops: the state cannot change between the
// check and the lock below.
void TSimpleRecorder::StartRecord() {
  if (FPlaying || Recording())
    return;
  SongChanged(TSongChange::RecordStart);
  std::lock_guard lock(FLock);
  FEvents.Clear();
  FIgnoredBytes = 0;
  FRecordStart = FClock();
  FRecording = true;
}

void TSimpleRecorder::StopRecord() {
  {
    std::lock_guard lock(FLock);
    if (!std::exchange(FRecording, false))
      return;
  }
  SongChanged(TSongChange::RecordStop);
}

bool TSimpleRecorder::Recording() const {
  std::lock_guard lock(FLock);
  return FRecording;
}

// The time stamp is taken under the lock, so the list stays in time order
// whichever thread appends.
void TSimpleRecorder::Append(std::uint8_t kind, std::int32_t data, const TKeyDefTable* keyDefs) {
  std::lock_guard lock(FLock);
  if (!FRecording)
    return;
  FEvents.Add({FClock() - FRecordStart, 0, kind, data}, keyDefs);
}

void TSimpleRecorder::RecordKeyDown(std::uint8_t scanCode) {
  Append(sekKeyDown, scanCode);
}
void TSimpleRecorder::RecordKeyUp(std::uint8_t scanCode) {
  Append(sekKeyUp, scanCode);
}
void TSimpleRecorder::RecordRightOctave(std::int32_t octave) {
  Append(sekRightOctave, octave);
}
void TSimpleRecorder::RecordLeftOctave(std::int32_t octave) {
  Append(sekLeftOctave, octave);
}
void TSimpleRecorder::RecordTranspose(std::int32_t transpose) {
  Append(sekTranspose, transpose);
}
void TSimpleRecorder::RecordRightVoice(std::int32_t patch) {
  Append(sekRightVoice, patch);
}
void TSimpleRecorder::RecordLeftVoice(std::int32_t patch) {
  Append(sekLeftVoice, patch);
}
void TSimpleRecorder::RecordRightVelocity(std::int32_t velocity) {
  Append(sekRightVelocity, velocity);
}
void TSimpleRecorder::RecordLeftVelocity(std::int32_t velocity) {
  Append(sekLeftVelocity, velocity);
}
void TSimpleRecorder::RecordRightSustain(bool down) {
  Append(sekRightSustain, down ? -1 : 0);
}
void TSimpleRecorder::RecordLeftSustain(bool down) {
  Append(sekLeftSustain, down ? -1 : 0);
}
void TSimpleRecorder::RecordKeyDefs(const TKeyDefTable& keyDefs) {
  Append(sekKeyDefs, 0, &keyDefs);
}
void TSimpleRecorder::RecordSmartSemitone(bool on) {
  Append(sekSmartSemitone, on ? 1 : 0);
}
void TSimpleRecorder::RecordRawMidi(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) {
  Append(sekRawMidi, status << 16 | data1 << 8 | data2);
}
void TSimpleRecorder::RecordEnd() {
  Append(sekEnd, 0);
}

std::size_t TSimpleRecorder::EventImageFrom(std::size_t first,
                                            std::vector<std::uint8_t>& bytes) const {
  std::lock_guard lock(FLock);
  FEvents.SaveToStream(bytes, bytes.size(), first);
  return FEvents.Count();
}

bool TSimpleRecorder::IsEmpty() const {
  std::lock_guard lock(FLock);
  return FEvents.Count() == 0;
}

void TSimpleRecorder::StartPlay() {
  if (FPlaying || Recording() || IsEmpty())
    return;
  FPlayStart = FClock();
  FCursor = 0;
  ++FPlayRun;
  if (OnPlayStart)
    OnPlayStart(*this);
  FPlayTimer = std::make_unique<THighTimer>();
  FPlayTimer->SetTimerRes(1);
  FPlayTimer->SetInterval(10);
  FPlayTimer->SetOnTimer([this](THighTimer&) { PlayerStep(); });
  FPlayTimer->SetEnabled(true);
  FPlaying = true;
}

void TSimpleRecorder::StopPlay() {
  if (!FPlaying)
    return;
  if (FPlayTimer)
    FPlayTimer->SetEnabled(false);
  // Inside a tick the timer is still running its handler: release it after.
  if (FInStep)
    FRetiredTimers.push_back(std::move(FPlayTimer));
  FPlayTimer.reset();
  FPlaying = false;
}

void TSimpleRecorder::PlayerStep() {
  if (!FPlaying || FInStep)
    return;
  FInStep = true;
  const std::uint64_t run = FPlayRun;
  const std::uint32_t elapsed = FClock() - FPlayStart;
  // A handler may stop or restart playback; the step ends there.
  auto stillThisRun = [&] { return FPlaying && FPlayRun == run; };
  while (FCursor < FEvents.Count()) {
    const TSongEvent event = FEvents[FCursor];
    if (event.Skip == 0 && event.Time > elapsed)
      break;
    const TKeyDefTable* keyDefs = FEvents.KeyDefs(FCursor);
    ++FCursor;
    if (event.Skip != 0 || !OnPlayEvent)
      continue;
    {
      // The event belongs to its recorded time, however late this step runs.
      const auto lateMs = static_cast<std::int32_t>(elapsed - event.Time);
      const TIntendedTimeScope when(SteadyClockMs() - std::max(lateMs, 0), PlayerSlackMs);
      OnPlayEvent(*this, event.Kind, event.Data, keyDefs);
    }
    if (!stillThisRun())
      break;
  }
  if (stillThisRun() && FCursor >= FEvents.Count() && OnPlayEnd)
    OnPlayEnd(*this);
  FInStep = false;
  FRetiredTimers.clear();
}

void StampSongHeader(TSongHeader& header, const TSimpleBuffer& events) {
  std::memcpy(header.Magic, SongMagic.data(), SongMagic.size());
  header.Version = SongVersion;
  header.EventCount = static_cast<std::uint32_t>(events.Count());
}

std::vector<std::uint8_t> SongImage(TSongHeader header, const TSimpleBuffer& events) {
  StampSongHeader(header, events);
  std::vector<std::uint8_t> image(SongHeaderBytes, 0);
  SongHeaderToBytes(header,
                    std::span<std::uint8_t, SongHeaderBytes>(image.data(), SongHeaderBytes));
  events.SaveToStream(image, SongHeaderBytes);
  return image;
}

void TSimpleRecorder::SaveToStream(std::vector<std::uint8_t>& stream, const TSongInfo& info) {
  std::lock_guard lock(FLock);
  Header.Info = info;
  StampSongHeader(Header, FEvents);
  stream = SongImage(Header, FEvents);
}

bool TSimpleRecorder::SaveToFile(const std::filesystem::path& fileName, const TSongInfo& info,
                                 std::error_code* error) {
  std::vector<std::uint8_t> image;
  SaveToStream(image, info);
  if (!WriteFileReplacing(fileName, image, error))
    return false;
  SongChanged(TSongChange::Saved);
  return true;
}

bool TSimpleRecorder::LoadFromStream(std::span<const std::uint8_t> stream, TSongInfo& info) {
  if (FPlaying || Recording() || !HasSongMagic(stream) || stream.size() < 20)
    return false;
  const std::int32_t version = GetI32(stream.data() + 16);
  const std::span<const std::uint8_t> original = stream;
  std::vector<std::uint8_t> converted;
  if (version == 1) {
    if (!ConvertVersion1(stream, converted))
      return false;
    stream = converted;
  } else if (version < 2 || version > SongVersion || stream.size() < SongHeaderBytes) {
    return false;
  }
  TSongHeader header = SongHeaderFromBytes(
      std::span<const std::uint8_t, SongHeaderBytes>(stream.data(), SongHeaderBytes));
  TSimpleBuffer events;
  std::size_t end = 0;
  if (events.LoadFromStream(stream, SongHeaderBytes, header.EventCount, &end) != header.EventCount)
    return false;
  // An old song's events were converted one for one, so what follows them in
  // the file is what follows its counted 8-byte events.
  std::size_t ignored = stream.size() - end;
  if (version == 1) {
    header.Version = 1; // the caller warns about old files
    ignored = OldSongTrailingBytes(original);
  }
  SongChanged(TSongChange::Load);
  std::lock_guard lock(FLock);
  Header = header;
  FEvents = std::move(events);
  FIgnoredBytes = ignored;
  info = Header.Info;
  return true;
}

bool TSimpleRecorder::LoadFromFile(const std::filesystem::path& fileName, TSongInfo& info) {
  std::vector<std::uint8_t> bytes;
  return ReadFileBytes(fileName, bytes, MaxSongFileBytes) && LoadFromStream(bytes, info);
}

} // namespace melo
