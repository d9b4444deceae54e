#include "app/SimpleRecorder.h"

#include "music/KoTimer.h"

#include "../platform/NamedPipe.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <deque>
#include <fstream>
#include <thread>
#include <unistd.h>

namespace melo {
namespace {

namespace fs = std::filesystem;

struct PlayedEvent {
  std::uint8_t Kind;
  std::int32_t Data;
  bool operator==(const PlayedEvent&) const = default;
};

std::vector<std::uint8_t> TableBytes(const TKeyDefTable& table) {
  std::vector<std::uint8_t> bytes(KeyDefTableBytes);
  KeyDefTableToBytes(table, std::span<std::uint8_t, KeyDefTableBytes>(bytes.data(), bytes.size()));
  return bytes;
}

// A table that differs from the default and from zero everywhere it matters.
TKeyDefTable MarkedTable(std::uint8_t mark) {
  TKeyDefTable table{};
  for (int k = 0; k < KeyCount; ++k) {
    table.Keys[k].NoteCount = k % 9;
    table.Keys[k].Notes[k % 8] = {static_cast<std::uint8_t>(1 + k % 7), 1, mark, 1, -k};
  }
  SetTableRemarks(table, "remark " + std::to_string(mark));
  return table;
}

// A recorder on a hand-driven clock, collecting what the player hands out.
class RecorderTest : public ::testing::Test {
protected:
  RecorderTest() : recorder_([this] { return now_; }) {
    recorder_.OnPlayStart = [this](TSimpleRecorder&) { ++starts_; };
    recorder_.OnPlayEvent = [this](TSimpleRecorder&, std::uint8_t kind, std::int32_t data,
                                   const TKeyDefTable* keyDefs) {
      played_.push_back({kind, data});
      EXPECT_EQ(keyDefs != nullptr, kind == sekKeyDefs);
    };
    recorder_.OnPlayEnd = [this](TSimpleRecorder&) { ++ends_; };
  }

  // Records events at the given times (ms after the start); key-downs with
  // the index as scan code unless a kind is given.
  void RecordAt(std::initializer_list<std::uint32_t> times) {
    now_ = 5000;
    recorder_.StartRecord();
    std::uint8_t scan = 0;
    for (std::uint32_t t : times) {
      now_ = 5000 + t;
      recorder_.RecordKeyDown(++scan);
    }
    recorder_.StopRecord();
  }

  // A song with every kind, a key definition change and some texts.
  void RecordRichSong() {
    recorder_.Header.State = {
        -3, 100,           90, 1, -1, 0x00010203, static_cast<std::int32_t>(0x80000010), {1, 0, 2},
        -1, MarkedTable(7)};
    now_ = 100;
    recorder_.StartRecord();
    now_ = 150;
    recorder_.RecordKeyDown(0x10);
    recorder_.RecordRightOctave(1);
    recorder_.RecordLeftOctave(-1);
    recorder_.RecordTranspose(-4);
    now_ = 170;
    recorder_.RecordRightVoice(0x000A0B0C);
    recorder_.RecordLeftVoice(static_cast<std::int32_t>(0x80000000));
    recorder_.RecordRightVelocity(127);
    recorder_.RecordLeftVelocity(0);
    recorder_.RecordRightSustain(true);
    recorder_.RecordLeftSustain(false);
    recorder_.RecordKeyDefs(MarkedTable(9));
    recorder_.RecordSmartSemitone(true);
    recorder_.RecordRawMidi(0x99, 36, 100);
    recorder_.RecordKeyDefs(MarkedTable(11));
    now_ = 900;
    recorder_.RecordKeyUp(0x10);
    recorder_.RecordEnd();
    recorder_.StopRecord();
  }

  std::vector<std::uint8_t> Save(const TSongInfo& info) {
    std::vector<std::uint8_t> image;
    recorder_.SaveToStream(image, info);
    return image;
  }

  std::uint32_t now_ = 0;
  TSimpleRecorder recorder_;
  int starts_ = 0;
  int ends_ = 0;
  std::vector<PlayedEvent> played_;
};

// ---- Recording ------------------------------------------------------------------

TEST_F(RecorderTest, RecordsOnlyWhileRecordingWithTimesFromTheStart) {
  recorder_.RecordKeyDown(30);
  EXPECT_TRUE(recorder_.IsEmpty());
  now_ = 0xFFFFFF00u; // the tick count wraps during the recording
  recorder_.StartRecord();
  now_ = 0x10;
  recorder_.RecordRawMidi(0x89, 40, 64);
  recorder_.RecordLeftSustain(true);
  recorder_.StopRecord();
  recorder_.RecordKeyDown(30);
  ASSERT_EQ(recorder_.Events().Count(), 2u);
  TSongEvent e = recorder_.Events()[0];
  EXPECT_EQ(+e.Time, 0x110u);
  EXPECT_EQ(+e.Skip, 0u);
  EXPECT_EQ(+e.Kind, sekRawMidi);
  EXPECT_EQ(+e.Data, 0x89 * 65536 + 40 * 256 + 64);
  EXPECT_EQ(+recorder_.Events()[1].Data, -1);

  // A new recording replaces the old one.
  recorder_.StartRecord();
  EXPECT_TRUE(recorder_.IsEmpty());
}

TEST_F(RecorderTest, KeyDefinitionEventOwnsACopy) {
  TKeyDefTable table = MarkedTable(3);
  recorder_.StartRecord();
  recorder_.RecordKeyDefs(table);
  table.Keys[0].NoteCount = 5;
  recorder_.StopRecord();
  ASSERT_NE(recorder_.Events().KeyDefs(0), nullptr);
  EXPECT_EQ(TableBytes(*recorder_.Events().KeyDefs(0)), TableBytes(MarkedTable(3)));
}

TEST(RecorderThreads, AppendsFromTwoThreadsStayWholeAndInTimeOrder) {
  TSimpleRecorder recorder;
  recorder.StartRecord();
  constexpr int perThread = 20000;
  std::thread worker([&] {
    for (int i = 0; i < perThread; ++i)
      recorder.RecordRawMidi(0x99, static_cast<std::uint8_t>(i % 128), 1);
  });
  for (int i = 0; i < perThread; ++i)
    recorder.RecordKeyDown(static_cast<std::uint8_t>(i % 128));
  worker.join();
  recorder.StopRecord();

  const TSimpleBuffer& events = recorder.Events();
  ASSERT_EQ(events.Count(), 2u * perThread);
  int raw = 0, keys = 0;
  for (std::size_t i = 0; i < events.Count(); ++i) {
    TSongEvent e = events[i];
    if (i > 0) {
      EXPECT_GE(+e.Time, +events[i - 1].Time) << i;
    }
    if (e.Kind == sekRawMidi) {
      EXPECT_EQ(+e.Data, 0x990001 + (raw++ % 128) * 256) << i;
    } else {
      EXPECT_EQ(+e.Data, keys++ % 128) << i;
    }
  }
  EXPECT_EQ(raw, perThread);
}

// ---- Player -----------------------------------------------------------------------

TEST_F(RecorderTest, StepPlaysDueEventsInListOrderAndPassesOverSkippedOnes) {
  RecordAt({0, 10, 10, 25, 40});
  // Mark the event at 25 as skipped by way of a file round trip.
  std::vector<std::uint8_t> image = Save({});
  image[SongHeaderBytes + 3 * SongEventBytes + 4] = 1;
  TSongInfo info;
  ASSERT_TRUE(recorder_.LoadFromStream(image, info));

  now_ = 1000;
  recorder_.StartPlay();
  EXPECT_EQ(starts_, 1);
  EXPECT_TRUE(recorder_.Playing());
  now_ = 1009;
  recorder_.PlayerStep();
  EXPECT_EQ(played_, (std::vector<PlayedEvent>{{sekKeyDown, 1}}));
  now_ = 1010;
  recorder_.PlayerStep();
  EXPECT_EQ(played_.size(), 3u);
  EXPECT_EQ(played_[2], (PlayedEvent{sekKeyDown, 3}));
  // The skipped event is passed over before its time; the next waits for its own.
  now_ = 1020;
  recorder_.PlayerStep();
  EXPECT_EQ(recorder_.PlayCursor(), 4u);
  EXPECT_EQ(played_.size(), 3u);
  EXPECT_EQ(ends_, 0);
  now_ = 1040;
  recorder_.PlayerStep();
  EXPECT_EQ(played_.back(), (PlayedEvent{sekKeyDown, 5}));
  EXPECT_EQ(played_.size(), 4u);
  EXPECT_EQ(ends_, 1);
  // The end keeps firing until playback is stopped.
  recorder_.PlayerStep();
  EXPECT_EQ(ends_, 2);
  recorder_.StopPlay();
  recorder_.PlayerStep();
  EXPECT_EQ(ends_, 2);
  EXPECT_FALSE(recorder_.Playing());
}

TEST_F(RecorderTest, StartAndStopRefusals) {
  recorder_.StartPlay(); // nothing to play
  EXPECT_FALSE(recorder_.Playing());
  EXPECT_EQ(starts_, 0);

  recorder_.StartRecord();
  recorder_.RecordEnd();
  recorder_.StartPlay(); // while recording
  EXPECT_FALSE(recorder_.Playing());
  recorder_.StopRecord();

  recorder_.StartPlay();
  recorder_.StartPlay(); // already playing
  EXPECT_EQ(starts_, 1);
  recorder_.StartRecord(); // while playing
  EXPECT_FALSE(recorder_.Recording());
  EXPECT_EQ(recorder_.Events().Count(), 1u);

  // Only the end event: it plays and playback ends on the first tick.
  recorder_.PlayerStep();
  EXPECT_EQ(played_, (std::vector<PlayedEvent>{{sekEnd, 0}}));
  EXPECT_EQ(ends_, 1);
  recorder_.StopPlay();
  recorder_.StopPlay();
  EXPECT_FALSE(recorder_.Playing());
}

TEST_F(RecorderTest, EndHandlerMayStopAndRestartFromWithinTheStep) {
  RecordAt({0, 0});
  int loops = 0;
  recorder_.OnPlayEnd = [&](TSimpleRecorder& r) {
    r.StopPlay();
    if (++loops < 3)
      r.StartPlay();
  };
  recorder_.StartPlay();
  for (int tick = 0; tick < 5; ++tick)
    recorder_.PlayerStep();
  EXPECT_EQ(loops, 3);
  EXPECT_EQ(starts_, 3);
  EXPECT_EQ(played_.size(), 6u);
  EXPECT_FALSE(recorder_.Playing());
}

TEST_F(RecorderTest, EventHandlerStoppingPlaybackEndsTheStep) {
  RecordAt({0, 0, 0});
  recorder_.OnPlayEvent = [&](TSimpleRecorder& r, std::uint8_t kind, std::int32_t data,
                              const TKeyDefTable*) {
    played_.push_back({kind, data});
    r.StopPlay();
  };
  recorder_.StartPlay();
  recorder_.PlayerStep();
  EXPECT_EQ(played_.size(), 1u);
  EXPECT_EQ(ends_, 0);
}

TEST(RecorderTimer, PlaybackTicksArriveThroughTheUiDispatcher) {
  std::mutex lock;
  std::deque<TUiCall> queue;
  SetUiDispatcher([&](TUiCall call) {
    std::lock_guard guard(lock);
    queue.push_back(std::move(call));
  });
  TSimpleRecorder recorder;
  recorder.StartRecord();
  recorder.RecordKeyDown(16);
  recorder.StopRecord();
  int played = 0, ends = 0;
  recorder.OnPlayEvent = [&](TSimpleRecorder&, std::uint8_t, std::int32_t, const TKeyDefTable*) {
    ++played;
  };
  recorder.OnPlayEnd = [&](TSimpleRecorder& r) {
    ++ends;
    r.StopPlay(); // from within the tick, as the window does
  };
  recorder.StartPlay();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (recorder.Playing() && std::chrono::steady_clock::now() < deadline) {
    std::deque<TUiCall> due;
    {
      std::lock_guard guard(lock);
      due.swap(queue);
    }
    for (TUiCall& call : due)
      call();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_EQ(played, 1);
  EXPECT_EQ(ends, 1);
  EXPECT_FALSE(recorder.Playing());
}

// ---- Song files ---------------------------------------------------------------------

TEST_F(RecorderTest, SaveWritesHeaderEventsAndTablesAtTheirPlaces) {
  RecordRichSong();
  std::size_t n = recorder_.Events().Count();
  ASSERT_EQ(n, 16u);
  std::vector<std::uint8_t> image = Save(MakeSongInfo("Title", "Me", "Remark"));
  ASSERT_EQ(image.size(), 8760 + 13 * n + 2 * 8376);

  EXPECT_EQ(std::memcmp(image.data(), "MelotasticoSong\0", 16), 0);
  EXPECT_EQ(image[16], 4);
  EXPECT_EQ(image[20], 5); // Title's length byte
  EXPECT_EQ(std::memcmp(&image[21], "Title", 5), 0);
  EXPECT_EQ(image[60], 2); // Player
  EXPECT_EQ(image[80], 6); // Remark
  const std::uint8_t state[] = {0xFD, 0xFF, 0xFF, 0xFF, 100, 0, 0, 0};
  EXPECT_EQ(std::memcmp(&image[336], state, sizeof state), 0);
  EXPECT_EQ(image[336 + 40], 0xFF); // SmartSemitone -1
  EXPECT_EQ(std::vector<std::uint8_t>(image.begin() + 380, image.begin() + 380 + 8376),
            TableBytes(MarkedTable(7)));
  EXPECT_EQ(image[8756], n);
  // First event: time 50, not skipped, key-down of scan code 0x10.
  const std::uint8_t first[] = {50, 0, 0, 0, 0, 0, 0, 0, 1, 0x10, 0, 0, 0};
  EXPECT_EQ(std::memcmp(&image[8760], first, 13), 0);
  // The 11th event is the first key-definition change, its table right after it.
  std::size_t table = 8760 + 11 * 13;
  EXPECT_EQ(image[table - 13 + 8], 16);
  EXPECT_EQ(std::vector<std::uint8_t>(image.begin() + table, image.begin() + table + 8376),
            TableBytes(MarkedTable(9)));
  EXPECT_EQ(recorder_.Header.EventCount, n);
}

TEST_F(RecorderTest, SaveAndLoadRoundTripEveryFieldAndTable) {
  RecordRichSong();
  TSongInfo info = MakeSongInfo("\xE6\xAD\x8C Song", "Tavrin", "\xE6\xB3\xA8\xE9\x87\x8A");
  std::vector<std::uint8_t> image = Save(info);

  TSimpleRecorder other;
  TSongInfo loaded{};
  ASSERT_TRUE(other.LoadFromStream(image, loaded));
  EXPECT_EQ(SongTitle(loaded), "\xE6\xAD\x8C Song");
  EXPECT_EQ(SongPlayer(loaded), "Tavrin");
  EXPECT_EQ(SongRemark(loaded), "\xE6\xB3\xA8\xE9\x87\x8A");
  EXPECT_EQ(other.Header.Version, 4);
  EXPECT_EQ(other.Header.State.LeftPatch, static_cast<std::int32_t>(0x80000010));
  EXPECT_EQ(other.Header.State.Transpose, -3);
  EXPECT_EQ(TableBytes(other.Header.State.KeyDefs), TableBytes(MarkedTable(7)));
  ASSERT_EQ(other.Events().Count(), recorder_.Events().Count());
  for (std::size_t i = 0; i < other.Events().Count(); ++i) {
    EXPECT_EQ(std::memcmp(&other.Events()[i], &recorder_.Events()[i], 13), 0) << i;
    ASSERT_EQ(other.Events().KeyDefs(i) != nullptr, recorder_.Events().KeyDefs(i) != nullptr);
    if (other.Events().KeyDefs(i)) {
      EXPECT_EQ(TableBytes(*other.Events().KeyDefs(i)), TableBytes(*recorder_.Events().KeyDefs(i)));
    }
  }
  std::vector<std::uint8_t> again;
  other.SaveToStream(again, loaded);
  EXPECT_EQ(again, image);
}

TEST_F(RecorderTest, FilesReplaceTheTargetAndFailedSavesKeepIt) {
  fs::path dir = fs::temp_directory_path() / ("melo-song-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::path file = dir / "song.lyt";
  RecordAt({0, 10});
  ASSERT_TRUE(recorder_.SaveToFile(file, MakeSongInfo("A", "", "")));
  EXPECT_EQ(fs::file_size(file), 8760u + 2 * 13);
  RecordAt({0});
  ASSERT_TRUE(recorder_.SaveToFile(file, {}));
  EXPECT_EQ(fs::file_size(file), 8760u + 13);
  EXPECT_FALSE(recorder_.SaveToFile(dir / "missing" / "song.lyt", {}));
  EXPECT_FALSE(recorder_.SaveToFile(dir, {})); // a folder cannot be replaced
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);

  TSimpleRecorder other;
  TSongInfo info{};
  ASSERT_TRUE(other.LoadFromFile(file, info));
  EXPECT_EQ(other.Events().Count(), 1u);
  EXPECT_FALSE(other.LoadFromFile(dir / "none.lyt", info));

  // A named pipe chosen as a song is refused at once and the song kept.
  test::TNamedPipe pipe(dir / "pipe.lyt");
  ASSERT_TRUE(pipe.Created());
  auto outcome = pipe.Run([&] { return other.LoadFromFile(pipe.Path(), info); });
  EXPECT_FALSE(outcome.Result);
  EXPECT_FALSE(outcome.Waited) << "the read blocked on the pipe";
  EXPECT_EQ(other.Events().Count(), 1u);
  EXPECT_FALSE(other.LoadFromFile("/dev/zero", info));
  fs::remove_all(dir);
}

TEST_F(RecorderTest, OlderVersionsLoadAndUnknownOnesAreRefused) {
  RecordAt({0, 10});
  std::vector<std::uint8_t> image = Save({});
  for (std::int32_t version : {2, 3, 5, 0, -1, 1000}) {
    std::vector<std::uint8_t> copy = image;
    for (int b = 0; b < 4; ++b)
      copy[16 + b] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(version) >> (8 * b));
    TSimpleRecorder other;
    TSongInfo info;
    bool known = version == 2 || version == 3;
    EXPECT_EQ(other.LoadFromStream(copy, info), known) << version;
    EXPECT_EQ(other.Events().Count(), known ? 2u : 0u) << version;
    if (known) {
      EXPECT_EQ(other.Header.Version, version);
    }
  }
}

// An old file: 376-byte head, then 8-byte key events.
struct OldEvent {
  std::uint32_t Time;
  std::uint8_t Skip, ScanCode, Down;
};

std::vector<std::uint8_t> OldSong(const std::vector<OldEvent>& events, std::uint32_t count) {
  std::vector<std::uint8_t> file(376, 0xEE); // unused bytes hold junk
  std::memcpy(file.data(), "MelotasticoSong\0", 16);
  const std::uint8_t version[] = {1, 0, 0, 0};
  std::memcpy(&file[16], version, 4);
  TSongInfo info = MakeSongInfo("Old", "Player", "");
  std::memcpy(&file[20], &info, sizeof info);
  const std::int32_t values[] = {5, 80, 70, -1, 1}; // unaligned at 337..
  for (int i = 0; i < 5; ++i) {
    for (int b = 0; b < 4; ++b) {
      file[337 + 4 * i + b] =
          static_cast<std::uint8_t>(static_cast<std::uint32_t>(values[i]) >> (8 * b));
    }
  }
  for (int b = 0; b < 4; ++b)
    file[372 + b] = static_cast<std::uint8_t>(count >> (8 * b));
  for (const OldEvent& e : events) {
    const std::uint8_t bytes[] = {static_cast<std::uint8_t>(e.Time),
                                  static_cast<std::uint8_t>(e.Time >> 8),
                                  0,
                                  0,
                                  e.Skip,
                                  e.ScanCode,
                                  e.Down,
                                  0xEE};
    file.insert(file.end(), bytes, bytes + 8);
  }
  return file;
}

TEST_F(RecorderTest, VersionOneFilesAreConverted) {
  std::vector<OldEvent> old = {{0, 0, 16, 1}, {300, 0, 63, 1}, {310, 1, 17, 1}, {400, 0, 16, 0}};
  TSongInfo info{};
  ASSERT_TRUE(recorder_.LoadFromStream(OldSong(old, 4), info));

  EXPECT_EQ(recorder_.Header.Version, 1);
  EXPECT_EQ(SongTitle(info), "Old");
  EXPECT_EQ(SongPlayer(recorder_.Header.Info), "Player");
  const TSongState& s = recorder_.Header.State;
  EXPECT_EQ((std::vector<std::int32_t>{s.Transpose, s.RightVelocity, s.LeftVelocity, s.RightOctave,
                                       s.LeftOctave, s.RightPatch, s.LeftPatch, s.Reserved[0],
                                       s.Reserved[1], s.Reserved[2], s.SmartSemitone}),
            (std::vector<std::int32_t>{5, 80, 70, -1, 1, 0, 0, 1, 0, 2, 0}));
  // The state carries the default key definition.
  TKeyDefTable defaults{};
  FillDefaultKeyDefs(defaults);
  EXPECT_EQ(TableBytes(s.KeyDefs), TableBytes(defaults));

  ASSERT_EQ(recorder_.Events().Count(), 4u);
  const std::uint32_t skip[] = {0, 0xFFFFFFFF, 0xFFFFFFFF, 0};
  const std::uint8_t kind[] = {1, 1, 1, 2};
  for (std::size_t i = 0; i < 4; ++i) {
    TSongEvent e = recorder_.Events()[i];
    EXPECT_EQ(+e.Time, old[i].Time);
    EXPECT_EQ(+e.Skip, skip[i]) << i;
    EXPECT_EQ(+e.Kind, kind[i]) << i;
    EXPECT_EQ(+e.Data, old[i].ScanCode);
  }
  // Saved again it is a version-4 file of the converted song.
  std::vector<std::uint8_t> image = Save(info);
  EXPECT_EQ(image.size(), 8760u + 4 * 13);
  EXPECT_EQ(image[16], 4);

  // Fewer events than the count: refused, the converted song kept.
  std::vector<std::uint8_t> kept = Save(info);
  EXPECT_FALSE(recorder_.LoadFromStream(OldSong(old, 5), info));
  EXPECT_FALSE(recorder_.LoadFromStream(OldSong(old, 0xFFFFFFFF), info));
  std::vector<std::uint8_t> shortHead = OldSong({}, 0);
  shortHead.resize(375);
  EXPECT_FALSE(recorder_.LoadFromStream(shortHead, info));
  EXPECT_EQ(Save(info), kept);

  // Old events beyond the count are passed over and counted in old bytes.
  EXPECT_EQ(recorder_.IgnoredBytes(), 0u);
  ASSERT_TRUE(recorder_.LoadFromStream(OldSong(old, 3), info));
  EXPECT_EQ(recorder_.Events().Count(), 3u);
  EXPECT_EQ(recorder_.IgnoredBytes(), 8u);
  std::vector<std::uint8_t> oddTail = OldSong(old, 0);
  oddTail.push_back(0);
  ASSERT_TRUE(recorder_.LoadFromStream(oddTail, info));
  EXPECT_EQ(recorder_.IgnoredBytes(), 4u * 8 + 1);
}

TEST_F(RecorderTest, DamagedFilesAreRefusedAndTheSongInMemoryKept) {
  RecordRichSong();
  std::vector<std::uint8_t> good = Save(MakeSongInfo("Kept", "", ""));
  RecordAt({0, 10, 20});
  std::vector<std::uint8_t> before = Save(MakeSongInfo("Before", "", ""));
  TSongInfo info = MakeSongInfo("untouched", "", "");

  auto expectRefusedAndKept = [&](const std::vector<std::uint8_t>& bytes, const std::string& what) {
    EXPECT_FALSE(recorder_.LoadFromStream(bytes, info)) << what;
    EXPECT_EQ(SongTitle(info), "untouched") << what;
    std::vector<std::uint8_t> now;
    TSongInfo same = recorder_.Header.Info;
    recorder_.SaveToStream(now, same);
    EXPECT_EQ(now, before) << what;
  };

  // Every cut of the file, including inside the header, an event and a table.
  for (std::size_t size = 0; size < good.size(); size += (size < 8800 ? 1 : 97))
    expectRefusedAndKept({good.begin(), good.begin() + size}, "cut at " + std::to_string(size));

  std::vector<std::uint8_t> bad = good;
  bad[3] = 'x';
  expectRefusedAndKept(bad, "magic");
  for (std::uint32_t count : {17u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    bad = good;
    for (int b = 0; b < 4; ++b)
      bad[8756 + b] = static_cast<std::uint8_t>(count >> (8 * b));
    expectRefusedAndKept(bad, "count " + std::to_string(count));
  }
  // A key-up turned into a key-definition event: its table would run past the end.
  bad = good;
  bad[bad.size() - 2 * 13 + 8] = sekKeyDefs;
  expectRefusedAndKept(bad, "kind 16 at the end");

  // Bytes after the last event are tolerated.
  std::vector<std::uint8_t> longer = good;
  longer.push_back(0);
  EXPECT_TRUE(recorder_.LoadFromStream(longer, info));
}

// A song whose event count was damaged to a smaller number still loads, but
// the recorder tells how much of the file it passed over.
TEST_F(RecorderTest, BytesAfterTheCountedEventsAreLoadedAndCounted) {
  RecordAt({0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120, 130});
  std::vector<std::uint8_t> whole = Save(MakeSongInfo("Fourteen", "", ""));
  ASSERT_EQ(whole.size(), 8760u + 14 * 13);

  TSimpleRecorder other;
  TSongInfo info{};
  ASSERT_TRUE(other.LoadFromStream(whole, info));
  EXPECT_EQ(other.IgnoredBytes(), 0u);

  std::vector<std::uint8_t> undercounted = whole;
  const std::uint8_t one[] = {1, 0, 0, 0};
  std::memcpy(&undercounted[8756], one, 4);
  ASSERT_TRUE(other.LoadFromStream(undercounted, info));
  EXPECT_EQ(other.Events().Count(), 1u);
  EXPECT_EQ(other.IgnoredBytes(), 169u);

  // A refused file leaves the count of the song still in memory.
  std::vector<std::uint8_t> refused = whole;
  refused[0] = 'x';
  EXPECT_FALSE(other.LoadFromStream(refused, info));
  EXPECT_EQ(other.IgnoredBytes(), 169u);

  // A count of zero with the events still there, and bytes after a table.
  RecordRichSong();
  std::vector<std::uint8_t> rich = Save({});
  rich.insert(rich.end(), {1, 2, 3});
  ASSERT_TRUE(other.LoadFromStream(rich, info));
  EXPECT_EQ(other.IgnoredBytes(), 3u);
  std::memset(&whole[8756], 0, 4);
  ASSERT_TRUE(other.LoadFromStream(whole, info));
  EXPECT_EQ(other.Events().Count(), 0u);
  EXPECT_EQ(other.IgnoredBytes(), 14u * 13);

  // A new recording is whole again.
  other.StartRecord();
  other.StopRecord();
  EXPECT_EQ(other.IgnoredBytes(), 0u);
}

TEST(SongInfo, TextsAreCutToTheirFieldsOnCharacterBoundaries) {
  std::string title(50, 't');
  std::string remark;
  for (int i = 0; i < 200; ++i)
    remark += "\xE6\xB3\xA8"; // one GBK double-byte character each
  TSongInfo info = MakeSongInfo(title, "player name that is too long", remark);
  EXPECT_EQ(SongTitle(info), std::string(39, 't'));
  EXPECT_EQ(SongPlayer(info), "player name that is");
  EXPECT_EQ(info.Remark[0], 254); // 127 characters; the 128th would not fit whole
}

} // namespace
} // namespace melo
