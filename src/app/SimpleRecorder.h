#pragma once
// The performance recorder: a list of timed events (key presses, value
// changes, raw MIDI), the song's start state and texts, song files (*.lyt),
// and the player that hands the events back on a 10 ms tick on the UI thread.
#include "input/KoKeyDef.h"
#include "music/MidiInterfaces.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace melo {

class THighTimer;

// Event kinds as stored in song files. Other values (0, 6, 7, 14, 15) are
// never written; when read they are kept and passed over by the player's user.
enum TSongEventKind : std::uint8_t {
  sekKeyDown = 1,        // scan code
  sekKeyUp = 2,          // scan code
  sekRightOctave = 3,    // new RightOctave
  sekLeftOctave = 4,     // new LeftOctave
  sekTranspose = 5,      // new Transpose
  sekRightVoice = 8,     // patch
  sekLeftVoice = 9,      // patch
  sekRightVelocity = 10, // new RightVelocity
  sekLeftVelocity = 11,  // new LeftVelocity
  sekRightSustain = 12,  // -1 down, 0 up
  sekLeftSustain = 13,   // -1 down, 0 up
  sekKeyDefs = 16,       // the event owns a key-definition table
  sekSmartSemitone = 17, // 1 on, 0 off
  sekRawMidi = 18,       // status * 65536 + data1 * 256 + data2
  sekEnd = 19,           // end of recording, 0
};

#pragma pack(push, 1)
struct TSongEvent {
  std::uint32_t Time; // ms from the start of recording
  std::uint32_t Skip; // non-zero: the player passes over the event
  std::uint8_t Kind;
  std::int32_t Data;
};
#pragma pack(pop)
static_assert(sizeof(TSongEvent) == 13);
static_assert(offsetof(TSongEvent, Skip) == 4);
static_assert(offsetof(TSongEvent, Kind) == 8);
static_assert(offsetof(TSongEvent, Data) == 9);

// Title, player and remark: length-prefixed GBK fields.
struct TSongInfo {
  std::uint8_t Title[1 + 39];
  std::uint8_t Player[1 + 19];
  std::uint8_t Remark[1 + 255];
};
static_assert(sizeof(TSongInfo) == 316);
static_assert(offsetof(TSongInfo, Player) == 40);
static_assert(offsetof(TSongInfo, Remark) == 60);

// The performance values, voices and key definition in force when the
// recording began; applied again whenever playback starts.
struct TSongState {
  std::int32_t Transpose;
  std::int32_t RightVelocity;
  std::int32_t LeftVelocity;
  std::int32_t RightOctave;
  std::int32_t LeftOctave;
  std::int32_t RightPatch;    // patch last set on channel 1
  std::int32_t LeftPatch;     // patch last set on channel 0
  std::int32_t Reserved[3];   // written 1, 0, 2; not read
  std::int32_t SmartSemitone; // -1 on, 0 off
  TKeyDefTable KeyDefs;
};
static_assert(sizeof(TSongState) == 8420);
static_assert(offsetof(TSongState, RightPatch) == 20);
static_assert(offsetof(TSongState, Reserved) == 28);
static_assert(offsetof(TSongState, SmartSemitone) == 40);
static_assert(offsetof(TSongState, KeyDefs) == 44);

// The velocities the window starts with.
inline constexpr std::int32_t StartLeftVelocity = 70;
inline constexpr std::int32_t StartRightVelocity = 100;

// The start state of a song that brings none of its own (one read from a
// MIDI file): no shifts, the start velocities, patch 0 (the piano) on both
// hands, smart semitone off, the default key definition. UI thread only
// (borrows KeyDefs briefly).
TSongState DefaultSongState();

struct TSongHeader {
  std::uint8_t Magic[16]; // "MelotasticoSong" and a zero byte
  std::int32_t Version;
  TSongInfo Info;
  TSongState State;
  std::uint32_t EventCount;
};
static_assert(sizeof(TSongHeader) == 8760);
static_assert(offsetof(TSongHeader, Version) == 16);
static_assert(offsetof(TSongHeader, Info) == 20);
static_assert(offsetof(TSongHeader, State) == 336);
static_assert(offsetof(TSongHeader, EventCount) == 8756);

inline constexpr std::size_t SongEventBytes = sizeof(TSongEvent);
inline constexpr std::size_t SongHeaderBytes = sizeof(TSongHeader);
inline constexpr std::string_view SongMagic{"MelotasticoSong\0", 16};
inline constexpr std::int32_t SongVersion = 4;
// Song files are refused beyond this size (days of dense playing); it bounds
// what a damaged or hostile file can make the reader allocate.
inline constexpr std::size_t MaxSongFileBytes = 64u << 20;

// The texts of a song's information in UTF-8; setting cuts them to 39, 19
// and 255 GBK bytes on a character boundary.
std::string SongTitle(const TSongInfo& info);
std::string SongPlayer(const TSongInfo& info);
std::string SongRemark(const TSongInfo& info);
TSongInfo MakeSongInfo(std::string_view title, std::string_view player, std::string_view remark);

// The header's little-endian file image and its inverse.
void SongHeaderToBytes(const TSongHeader& header, std::span<std::uint8_t, SongHeaderBytes> out);
TSongHeader SongHeaderFromBytes(std::span<const std::uint8_t, SongHeaderBytes> in);

class TSimpleBuffer;
// Stamps a header for its events: magic, the current version, the events' count.
void StampSongHeader(TSongHeader& header, const TSimpleBuffer& events);
// The whole song file: the header, stamped, then the events.
std::vector<std::uint8_t> SongImage(TSongHeader header, const TSimpleBuffer& events);

// Turns an old (version 1) song file into a version-4 image: its key events
// become key-down/key-up events (skipped when marked so or for F5), the start
// state gets bank 0 program 0 voices and the default key definition. False
// when the old head is incomplete.
bool ConvertVersion1(std::span<const std::uint8_t> old, std::vector<std::uint8_t>& image);

// The ordered event list; each key-definition event owns a copy of its table.
class TSimpleBuffer {
public:
  // A key-definition event copies keyDefs (an all-zero table when none is
  // given); other kinds ignore it.
  void Add(const TSongEvent& event, const TKeyDefTable* keyDefs = nullptr);
  std::size_t Count() const { return FItems.size(); }
  const TSongEvent& operator[](std::size_t index) const { return FItems[index].Event; }
  // The table of a key-definition event, nullptr for other kinds.
  const TKeyDefTable* KeyDefs(std::size_t index) const { return FItems[index].KeyDefs.get(); }
  void Clear() { FItems.clear(); }

  // Clears, then reads up to n events from position, stopping at the first
  // event (or table) that does not fit in the stream. Returns the number read;
  // end (when given) receives the position after the last event read.
  std::size_t LoadFromStream(std::span<const std::uint8_t> stream, std::size_t position,
                             std::uint32_t n, std::size_t* end = nullptr);
  // Writes every event from index first on (and each table after its event)
  // at position, growing the stream as needed. Returns the end position.
  std::size_t SaveToStream(std::vector<std::uint8_t>& stream, std::size_t position,
                           std::size_t first = 0) const;

private:
  struct TItem {
    TSongEvent Event;
    std::unique_ptr<TKeyDefTable> KeyDefs;
  };
  std::vector<TItem> FItems;
};

// What happens to the song in memory, as told to TSimpleRecorder::OnSongChange.
enum class TSongChange {
  RecordStart, // a recording starts; the song before it is still in memory (its events, while
               // Header already holds the new recording's start state)
  RecordStop,  // the recording stopped
  Load,        // a song was read and is about to replace the one in memory
  Saved,       // the song in memory was written to a song file
};

class TSimpleRecorder final : public TRawMidiRecorder {
public:
  // Milliseconds of a monotonic clock; wrapping is harmless.
  using TTickClock = std::function<std::uint32_t()>;
  using TNotifyEvent = std::function<void(TSimpleRecorder& sender)>;
  // KeyDefs is the event's table for key-definition events, else nullptr.
  using TPlayEvent = std::function<void(TSimpleRecorder& sender, std::uint8_t kind,
                                        std::int32_t data, const TKeyDefTable* keyDefs)>;
  using TSongChangeEvent = std::function<void(TSimpleRecorder& sender, TSongChange change)>;

  // Without a clock the system's steady clock is used.
  explicit TSimpleRecorder(TTickClock clock = {});
  ~TSimpleRecorder() override;
  TSimpleRecorder(const TSimpleRecorder&) = delete;
  TSimpleRecorder& operator=(const TSimpleRecorder&) = delete;

  // The song in memory. The window sets Info and State before recording;
  // saving and loading fill the rest. UI thread only.
  TSongHeader Header{};
  TNotifyEvent OnPlayStart;
  TPlayEvent OnPlayEvent;
  TNotifyEvent OnPlayEnd;
  // Fired on the UI thread, outside the lock: by StartRecord, StopRecord,
  // LoadFromStream (only for a song that loads) and SaveToFile (only when
  // written).
  TSongChangeEvent OnSongChange;

  // Nothing while playing or when already in the asked state. Starting
  // clears the events.
  void StartRecord();
  void StopRecord();
  bool Recording() const;

  // Record operations: each appends an event stamped with the time since
  // StartRecord, and does nothing unless recording. Safe from any thread.
  void RecordKeyDown(std::uint8_t scanCode);
  void RecordKeyUp(std::uint8_t scanCode);
  void RecordRightOctave(std::int32_t octave);
  void RecordLeftOctave(std::int32_t octave);
  void RecordTranspose(std::int32_t transpose);
  void RecordRightVoice(std::int32_t patch);
  void RecordLeftVoice(std::int32_t patch);
  void RecordRightVelocity(std::int32_t velocity);
  void RecordLeftVelocity(std::int32_t velocity);
  void RecordRightSustain(bool down);
  void RecordLeftSustain(bool down);
  void RecordKeyDefs(const TKeyDefTable& keyDefs); // copies the table
  void RecordSmartSemitone(bool on);
  void RecordRawMidi(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) override;
  void RecordEnd();

  // Nothing when there are no events, while recording, or when already in
  // the asked state. Starting fires OnPlayStart and runs PlayerStep every
  // 10 ms on the UI thread (through THighTimer) until StopPlay.
  void StartPlay();
  void StopPlay();
  bool Playing() const { return FPlaying; }
  // One tick of the player: plays every due event from the cursor on (in
  // list order, passing over skipped ones) and fires OnPlayEnd once all are
  // played. The timer calls it; it can also be driven directly.
  void PlayerStep();
  std::size_t PlayCursor() const { return FCursor; }

  bool IsEmpty() const;
  // The events; read them on the UI thread while not recording.
  const TSimpleBuffer& Events() const { return FEvents; }
  // Appends the file image of the events from index first on to bytes and
  // returns the number of events. Safe while recording: the lock is held
  // while the events are copied, so a recording thread waits that long.
  std::size_t EventImageFrom(std::size_t first, std::vector<std::uint8_t>& bytes) const;

  // Stamps Header (magic, version 4, info, event count) and writes the whole
  // song image.
  void SaveToStream(std::vector<std::uint8_t>& stream, const TSongInfo& info);
  // Saves through a temporary file renamed over fileName; false (old file
  // kept) when any step fails, with the system's reason in error when given.
  bool SaveToFile(const std::filesystem::path& fileName, const TSongInfo& info,
                  std::error_code* error = nullptr);
  // Reads a song of version 1..4 (Header.Version then tells which). On
  // failure (bad magic or version, truncated events or tables, while
  // recording or playing) returns false and keeps the song in memory as it
  // was; info is set only on success.
  bool LoadFromStream(std::span<const std::uint8_t> stream, TSongInfo& info);
  bool LoadFromFile(const std::filesystem::path& fileName, TSongInfo& info);
  // Bytes after the counted events of the song last loaded (0 for a song
  // recorded here). A written song never has any: they mean the file was
  // damaged (an event count made smaller, say) and part of it may be lost.
  std::size_t IgnoredBytes() const { return FIgnoredBytes; }

private:
  void Append(std::uint8_t kind, std::int32_t data, const TKeyDefTable* keyDefs = nullptr);
  void SongChanged(TSongChange change);

  TTickClock FClock;
  mutable std::mutex FLock; // guards FRecording, FRecordStart and FEvents while recording
  TSimpleBuffer FEvents;
  bool FRecording = false;
  std::uint32_t FRecordStart = 0;
  std::size_t FIgnoredBytes = 0;

  bool FPlaying = false;
  std::uint32_t FPlayStart = 0;
  std::size_t FCursor = 0;
  std::uint64_t FPlayRun = 0; // counts StartPlay calls, so a step notices a restart
  bool FInStep = false;
  std::unique_ptr<THighTimer> FPlayTimer;
  // Timers stopped inside a tick (the one running it among them), released after it.
  std::vector<std::unique_ptr<THighTimer>> FRetiredTimers;
};

} // namespace melo
