#include "input/KoKeyDef.h"

#include "platform/GbkText.h"

#include "../platform/NamedPipe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sys/resource.h>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace melo;
using Bytes = std::vector<std::uint8_t>;

namespace {

TKeyNote Note(int degree, int accidental, int octave, int keyboard = 0) {
  return {static_cast<std::uint8_t>(degree), static_cast<std::uint8_t>(accidental),
          static_cast<std::uint8_t>(octave), static_cast<std::uint8_t>(keyboard), 0};
}

template <class T> bool SameBytes(const T& a, const T& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

Bytes TableBytes(const TKeyDefTable& table) {
  Bytes bytes(KeyDefTableBytes);
  KeyDefTableToBytes(table, std::span<std::uint8_t, KeyDefTableBytes>(bytes));
  return bytes;
}

Bytes ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const fs::path& p, const Bytes& bytes) {
  std::ofstream(p, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

long FilesIn(const fs::path& dir) {
  return std::distance(fs::directory_iterator(dir), fs::directory_iterator());
}

// The default key definition and a scratch folder for each test.
class KoKeyDefTest : public ::testing::Test {
protected:
  void SetUp() override {
    FillDefaultKeyDefs(KeyDefs);
    dir = fs::temp_directory_path() /
          ("kdf-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  // A table that differs from the default in every kind of field.
  TKeyDefTable SampleTable() const {
    TKeyDefTable t = KeyDefs;
    t.Keys[14].NoteCount = 8;
    for (int i = 0; i < MaxKeyNotes; ++i) {
      t.Keys[14].Notes[i] = {static_cast<std::uint8_t>(i), 2, 7, 1, -2 - i};
    }
    SetKeyCaption(t.Keys[14], "Do");
    t.Keys[14].NoTranspose = 1;
    SetTableRemarks(t, "测试");
    return t;
  }
  TKeyDefTable KeyDefs{};
  fs::path dir;
};

} // namespace

TEST_F(KoKeyDefTest, KeyTableAndPlayableKeys) {
  EXPECT_EQ(KeyIndexOfScanCode(0), -1);
  EXPECT_EQ(KeyIndexOfScanCode(0xFF), -1);
  for (int i = 0; i < KeyCount; ++i) {
    EXPECT_EQ(KeyIndexOfScanCode(KeyScanCodes[i]), i) << KeyNames[i];
  }
  EXPECT_EQ(KeyNames[26], "\\");
  BuildPlayableKeys();
  EXPECT_EQ(std::count(PlayableKeys.begin(), PlayableKeys.end(), true), 73);
  for (int i : {13, 27, 28, 41, 42, 54, 65, 79}) {
    EXPECT_FALSE(PlayableKeys[i]) << i;
  }
}

TEST_F(KoKeyDefTest, DefaultDefinition) {
  BuildPlayableKeys();
  EXPECT_EQ(NoteToMidi(KeyDefs.Keys[29].Notes[0]), 60);  // Q
  EXPECT_EQ(NoteToMidi(KeyDefs.Keys[101].Notes[0]), 60); // Num-1
  EXPECT_EQ(NoteToMidi(KeyDefs.Keys[104].Notes[0]), 59); // Num-Enter
  // The four letter and number rows run up the white keys from C, left hand.
  for (auto [first, last, midi] :
       {std::tuple{14, 26, 72}, {29, 40, 60}, {43, 53, 48}, {55, 64, 36}}) {
    for (int i = first; i <= last; ++i) {
      const TKeyNote& n = KeyDefs.Keys[i].Notes[0];
      EXPECT_TRUE(NoteIsLeft(n) && n.Degree == (i - first) % 7 + 1) << KeyNames[i];
      EXPECT_EQ(NoteToMidi(n) - midi, 12 * ((i - first) / 7) + DegreeSemitones[(i - first) % 7])
          << KeyNames[i];
    }
  }
  for (int i = 0; i < KeyCount; ++i) {
    EXPECT_EQ(KeyDefHasNotes(KeyDefs.Keys[i]), PlayableKeys[i]) << KeyNames[i];
    TKeyDef expected = EmptyKeyDef;
    if (PlayableKeys[i]) {
      expected.NoteCount = 1;
      expected.Notes[0] = KeyDefs.Keys[i].Notes[0];
      EXPECT_EQ(expected.Notes[0].Accidental, 0);
      EXPECT_EQ(NoteIsLeft(expected.Notes[0]), i < 80) << KeyNames[i];
    }
    EXPECT_TRUE(SameBytes(KeyDefs.Keys[i], expected)) << KeyNames[i];
  }
}

TEST_F(KoKeyDefTest, DefaultRemarkIsGbkOfTheText) {
  constexpr std::string_view text = "缺省的键定义。左键盘有4个半8度，右手有3个半8度。没有半音。";
  SetTableRemarks(KeyDefs, std::string(300, 'x'));
  KeyDefs.Padding[1] = 7;
  FillDefaultKeyDefs(KeyDefs);
  ASSERT_EQ(KeyDefs.Remarks[0], 58);
  const std::string stored(reinterpret_cast<const char*>(KeyDefs.Remarks + 1), 58);
  EXPECT_EQ(GbkToUtf8(stored), text);
  EXPECT_EQ(Utf8ToGbk(text), stored);
  EXPECT_TRUE(std::all_of(KeyDefs.Remarks + 59, std::end(KeyDefs.Padding),
                          [](std::uint8_t b) { return b == 0; }));
}

TEST_F(KoKeyDefTest, NoteToMidiShiftsAndRangeEdges) {
  EXPECT_EQ(NoteToMidi(KeyDefs.Keys[14].Notes[0], 1, 0, -2), 82);
  EXPECT_EQ(NoteToMidi(KeyDefs.Keys[14].Notes[0]), 72);
  EXPECT_EQ(NoteToMidi(KeyDefs.Keys[83].Notes[0], 1, 4, 0), -1); // 132 is off the range
  EXPECT_EQ(NoteToMidi(Note(1, 2, 4)), 59);                      // C flat
  EXPECT_EQ(NoteToMidi(Note(6, 3, 4)), 69);                      // natural sign
  EXPECT_EQ(NoteToMidi(Note(0, 0, 4)), -1);
  EXPECT_EQ(NoteToMidi(Note(8, 0, 4)), -1);
  EXPECT_EQ(NoteToMidi(Note(5, 0, 9)), 127);
  EXPECT_EQ(NoteToMidi(Note(5, 1, 9)), -1);
  EXPECT_EQ(NoteToMidi(Note(1, 0, 255)), -1);
  EXPECT_EQ(NoteToMidi(Note(1, 0, 0, 0), -1, 4, 0), 0);
  EXPECT_EQ(NoteToMidi(Note(1, 2, 0, 0), -1, 4, 0), -1);
  EXPECT_EQ(NoteToMidi(Note(1, 2, 0, 2), -1, 4, 0), 11); // neither keyboard: no shift
}

TEST_F(KoKeyDefTest, RespellingTable) {
  // degree, accidental -> up (degree, accidental, octave), down (...); from octave 4.
  const int rows[][8] = {
      {1, 0, 1, 1, 4, 7, 0, 3}, {1, 1, 2, 0, 4, 1, 0, 4}, {1, 2, 1, 2, 4, 1, 2, 4},
      {2, 0, 2, 1, 4, 2, 2, 4}, {2, 1, 3, 0, 4, 2, 0, 4}, {2, 2, 2, 0, 4, 1, 0, 4},
      {3, 0, 4, 0, 4, 3, 2, 4}, {3, 1, 3, 1, 4, 3, 1, 4}, {3, 2, 3, 0, 4, 2, 0, 4},
      {4, 0, 4, 1, 4, 3, 0, 4}, {4, 1, 5, 0, 4, 4, 0, 4}, {4, 2, 4, 2, 4, 4, 2, 4},
      {5, 0, 5, 1, 4, 5, 2, 4}, {5, 1, 6, 0, 4, 5, 0, 4}, {5, 2, 5, 0, 4, 4, 0, 4},
      {6, 0, 6, 1, 4, 6, 2, 4}, {6, 1, 7, 0, 4, 6, 0, 4}, {6, 2, 6, 0, 4, 5, 0, 4},
      {7, 0, 1, 0, 5, 7, 2, 4}, {7, 1, 7, 1, 4, 7, 1, 4}, {7, 2, 7, 0, 4, 6, 0, 4}};
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::Message() << r[0] << "/" << r[1]);
    TKeyNote up = Note(r[0], r[1], 4, 1), down = up;
    up.Velocity = 99;
    const int midi = NoteToMidi(up);
    const bool fixed = r[2] == r[0] && r[3] == r[1]; // C flat, E sharp, F flat, B sharp
    NoteSemitoneUp(up);
    NoteSemitoneDown(down);
    EXPECT_EQ(std::tuple(up.Degree + 0, up.Accidental + 0, up.Octave + 0),
              std::tuple(r[2], r[3], r[4]));
    EXPECT_EQ(std::tuple(down.Degree + 0, down.Accidental + 0, down.Octave + 0),
              std::tuple(r[5], r[6], r[7]));
    EXPECT_EQ(NoteToMidi(up), fixed ? midi : midi + 1);
    EXPECT_EQ(NoteToMidi(down), fixed ? midi : midi - 1);
    EXPECT_TRUE(up.Keyboard == 1 && up.Velocity == 99 && down.Keyboard == 1);
  }
}

TEST_F(KoKeyDefTest, RespellingEdgesAndWholeKeys) {
  TKeyNote c0 = Note(1, 0, 0), d = Note(2, 3, 4), empty = Note(0, 0, 4);
  NoteSemitoneDown(c0);
  NoteSemitoneUp(d); // the natural sign counts as natural
  NoteSemitoneUp(empty);
  EXPECT_EQ(c0.Octave, 255);
  EXPECT_EQ(d.Accidental, 1);
  EXPECT_TRUE(SameBytes(empty, Note(0, 0, 4)));
  // Every slot of the key changes, sounding or not; empty slots stay as they are.
  KeyDefs.Keys[29].Notes[5] = Note(7, 0, 4);
  KeySemitoneUp(KeyDefs.Keys[29]);
  EXPECT_EQ(NoteToMidi(KeyDefs.Keys[29].Notes[0]), 61);
  EXPECT_EQ(NoteToMidi(KeyDefs.Keys[29].Notes[5]), 72);
  EXPECT_EQ(KeyDefs.Keys[29].Notes[1].Degree, 0);
  KeySemitoneDown(KeyDefs.Keys[29]);
  KeySemitoneDown(KeyDefs.Keys[29]);
  EXPECT_EQ(NoteToMidi(KeyDefs.Keys[29].Notes[0]), 59);
}

TEST_F(KoKeyDefTest, SmartSemitoneNamesTheEditingKeysAsSharpsAndBack) {
  constexpr int keyInsert = FirstEditingKey;
  KeyDefs.Keys[keyInsert].Notes[1] = TKeyNote{3, 0, 4, 1, 90};
  KeyDefs.Keys[keyInsert].Notes[0].Velocity = 77;
  SetSmartSemitoneNotes(KeyDefs, true);
  const TKeyNote& on = KeyDefs.Keys[keyInsert].Notes[0];
  EXPECT_EQ(KeyDefs.Keys[keyInsert].NoteCount, 1);
  EXPECT_EQ(on.Degree, 6);
  EXPECT_EQ(on.Accidental, 1);
  EXPECT_EQ(on.Octave, 4);
  EXPECT_EQ(on.Keyboard, 1);
  EXPECT_EQ(on.Velocity, 77);
  EXPECT_EQ(KeyDefs.Keys[keyInsert].Notes[1].Velocity, 90);
  SetSmartSemitoneNotes(KeyDefs, false);
  EXPECT_EQ(KeyDefs.Keys[keyInsert].Notes[0].Accidental, 0);
}

TEST_F(KoKeyDefTest, StaffOrdering) {
  TKeyNote notes[MaxKeyNotes] = {Note(0, 0, 4), Note(3, 0, 4), Note(1, 0, 5), Note(1, 1, 4),
                                 Note(0, 0, 4), Note(0, 0, 4), Note(0, 0, 4), Note(0, 0, 4)};
  SortKeyNotes(notes);
  EXPECT_EQ(std::tuple(NoteToMidi(notes[0]), NoteToMidi(notes[1]), NoteToMidi(notes[2]),
                       NoteIsSet(notes[3]), NoteIsSet(notes[7])),
            std::tuple(61, 64, 72, false, false));
  EXPECT_TRUE(NotesSamePlace(Note(4, 1, 3), Note(4, 2, 3)));
  EXPECT_FALSE(NotesSamePlace(Note(4, 0, 3), Note(4, 0, 4)));
  EXPECT_TRUE(NoteIsStepBelow(Note(2, 0, 4), Note(3, 2, 4)));
  EXPECT_TRUE(NoteIsStepBelow(Note(7, 0, 4), Note(1, 0, 5)));
  EXPECT_FALSE(NoteIsStepBelow(Note(7, 0, 4), Note(1, 0, 4)));
}

TEST_F(KoKeyDefTest, TableBlockLayout) {
  const TKeyDefTable t = SampleTable();
  const Bytes bytes = TableBytes(t);
  const auto at = [&](std::size_t offset, std::size_t n) {
    return Bytes(bytes.begin() + offset, bytes.begin() + offset + n);
  };
  EXPECT_EQ(at(76 * 14, 4), (Bytes{8, 0, 0, 0}));
  EXPECT_EQ(at(76 * 14 + 12, 8), (Bytes{1, 2, 7, 1, 0xFD, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(at(76 * 14 + 68, 6), (Bytes{2, 'D', 'o', 0, 0, 1}));
  EXPECT_EQ(at(8132, 5), (Bytes{4, 0xB2, 0xE2, 0xCA, 0xD4}));
  TKeyDefTable back = KeyDefTableFromBytes(std::span<const std::uint8_t, KeyDefTableBytes>(bytes));
  EXPECT_TRUE(SameBytes(back, t));
  EXPECT_EQ(KeyCaption(back.Keys[14]), "Do");
  EXPECT_EQ(TableRemarks(back), "测试");
  // Note counts beyond what a key can hold are bounded on reading.
  Bytes bad = bytes;
  bad[76 * 14] = 9;
  std::fill_n(bad.begin() + 76 * 15, 4, 0xFF); // -1
  back = KeyDefTableFromBytes(std::span<const std::uint8_t, KeyDefTableBytes>(bad));
  EXPECT_EQ(back.Keys[14].NoteCount, MaxKeyNotes);
  EXPECT_EQ(back.Keys[15].NoteCount, 0);
}

TEST_F(KoKeyDefTest, FileRoundTrip) {
  const TKeyDefTable t = SampleTable();
  const fs::path file = dir / "mine.kdf";
  ASSERT_TRUE(SaveKeyDefFile(t, file));
  const Bytes bytes = ReadAll(file);
  ASSERT_EQ(bytes.size(), 8412u);
  const Bytes header = {17,  'M', 'e', 'l', 'o', 't', 'a', 's', 't', 'i', 'c', 'o',
                        'K', 'e', 'y', 'D', 'e', 'f', 0,   0,   0,   0,   0,   0,
                        0,   0,   0,   0,   1,   0,   0,   0,   0,   0,   0,   0};
  EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 36), header);
  EXPECT_EQ(Bytes(bytes.begin() + 36, bytes.end()), TableBytes(t));
  TKeyDefTable back{};
  ASSERT_TRUE(LoadKeyDefFile(file, back));
  EXPECT_TRUE(SameBytes(back, t));
  // Saving again replaces the file and leaves nothing else behind; any case of the extension.
  ASSERT_TRUE(SaveKeyDefFile(KeyDefs, file.string()));
  EXPECT_EQ(FilesIn(dir), 1);
  ASSERT_TRUE(LoadKeyDefFile(file.string(), back));
  EXPECT_TRUE(SameBytes(back, KeyDefs));
  EXPECT_TRUE(SaveKeyDefFile(t, dir / "UP.KDF") && LoadKeyDefFile(dir / "UP.KDF", back));
  EXPECT_TRUE(SameBytes(back, t));
  // Version is not checked; a longer file is read from its start.
  Bytes other = ReadAll(file);
  other[28] = 7;
  other.push_back(0x55);
  WriteAll(file, other);
  EXPECT_TRUE(LoadKeyDefFile(file, back));
}

TEST_F(KoKeyDefTest, SaveRefusalsAndFailures) {
  for (const char* name : {"a.txt", "a.kdf.bak", "kdf", "nodir/a.kdf"}) {
    EXPECT_FALSE(SaveKeyDefFile(KeyDefs, dir / name)) << name;
  }
  EXPECT_EQ(FilesIn(dir), 0);
  const fs::path file = dir / "keep.kdf";
  ASSERT_TRUE(SaveKeyDefFile(KeyDefs, file));
  const Bytes before = ReadAll(file);
  // A file-size limit makes the write fail halfway, as a full disk would.
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 100;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool saved = SaveKeyDefFile(SampleTable(), file);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(saved);
  EXPECT_EQ(ReadAll(file), before);
  EXPECT_EQ(FilesIn(dir), 1);
}

TEST_F(KoKeyDefTest, LoadRefusalsLeaveTableUntouched) {
  ASSERT_TRUE(SaveKeyDefFile(KeyDefs, dir / "good.kdf"));
  const Bytes bytes = ReadAll(dir / "good.kdf");
  auto variant = [&](const char* name, auto change) {
    Bytes b = bytes;
    change(b);
    WriteAll(dir / name, b);
    return dir / name;
  };
  fs::create_directory(dir / "folder.kdf");
  const fs::path refused[] = {
      dir / "missing.kdf",
      dir / "folder.kdf",
      variant("letter.kdf", [](Bytes& b) { b[12] = 'k'; }),
      variant("length.kdf", [](Bytes& b) { b[0] = 16; }),
      variant("short.kdf", [](Bytes& b) { b.pop_back(); }),
      variant("tiny.kdf", [](Bytes& b) { b.resize(18); }),
      variant("other.txt", [](Bytes&) {}),
      variant("twice.kdf.bak", [](Bytes&) {}),
  };
  const TKeyDefTable sample = SampleTable();
  for (const fs::path& p : refused) {
    TKeyDefTable t = sample;
    EXPECT_FALSE(LoadKeyDefFile(p, t)) << p;
    EXPECT_TRUE(SameBytes(t, sample)) << p;
  }
  // A named pipe is refused at once, not waited on.
  test::TNamedPipe pipe(dir / "pipe.kdf");
  ASSERT_TRUE(pipe.Created());
  TKeyDefTable t = sample;
  auto outcome = pipe.Run([&] { return LoadKeyDefFile(pipe.Path(), t); });
  EXPECT_FALSE(outcome.Result);
  EXPECT_FALSE(outcome.Waited) << "the read blocked on the pipe";
  EXPECT_TRUE(SameBytes(t, sample));
}
