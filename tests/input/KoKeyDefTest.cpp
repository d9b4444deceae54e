#include "input/KoKeyDef.h"

#include "platform/GbkText.h"

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

namespace {

constexpr std::string_view DefaultRemarkUtf8 =
    "缺省的键定义。左键盘有4个半8度，右手有3个半8度。没有半音。";

TKeyNote Note(int degree, int accidental, int octave, int keyboard = 0) {
  return {static_cast<std::uint8_t>(degree), static_cast<std::uint8_t>(accidental),
          static_cast<std::uint8_t>(octave), static_cast<std::uint8_t>(keyboard), 0};
}

bool SameBytes(const TKeyDef& a, const TKeyDef& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

std::vector<std::uint8_t> TableBytes(const TKeyDefTable& table) {
  std::vector<std::uint8_t> bytes(KeyDefTableBytes);
  KeyDefTableToBytes(table, std::span<std::uint8_t, KeyDefTableBytes>(bytes));
  return bytes;
}

std::vector<std::uint8_t> FileBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const fs::path& p, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(p, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// Resets the unit's globals around each test and gives it a scratch folder.
class KoKeyDefTest : public ::testing::Test {
protected:
  void SetUp() override {
    Transpose = LeftOctave = RightOctave = LeftVelocity = RightVelocity = 0;
    SetDefaultKeyDefs();
    dir = fs::temp_directory_path() /
          ("kdf-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override {
    Transpose = LeftOctave = RightOctave = 0;
    fs::remove_all(dir);
  }
  // A table that differs from the default in every kind of field.
  static TKeyDefTable SampleTable() {
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
  EXPECT_EQ(KeyNames[104], "Num-Enter");
  EXPECT_EQ(KeyIndexOfScanCode(0x9C), 104);
  BuildPlayableKeys();
  EXPECT_EQ(std::count(PlayableKeys.begin(), PlayableKeys.end(), true), 73);
  for (int i : {13, 27, 28, 41, 42, 54, 65, 79}) {
    EXPECT_FALSE(PlayableKeys[i]) << i;
  }
  for (int i : {14, 26, 29, 40, 43, 53, 55, 64, 80, 106}) {
    EXPECT_TRUE(PlayableKeys[i]) << i;
  }
}

TEST_F(KoKeyDefTest, DefaultDefinition) {
  BuildPlayableKeys();
  EXPECT_EQ(NoteToMidi(KeyDefs.Keys[29].Notes[0], true), 60);  // Q
  EXPECT_EQ(NoteToMidi(KeyDefs.Keys[55].Notes[0], true), 36);  // Z
  EXPECT_EQ(NoteToMidi(KeyDefs.Keys[101].Notes[0], true), 60); // Num-1
  EXPECT_EQ(NoteToMidi(KeyDefs.Keys[26].Notes[0], true), 93);  // backslash
  EXPECT_EQ(NoteToMidi(KeyDefs.Keys[104].Notes[0], true), 59); // Num-Enter
  // The four letter and number rows run up the white keys from C, left hand.
  for (auto [first, last, midi] :
       {std::tuple{14, 26, 72}, {29, 40, 60}, {43, 53, 48}, {55, 64, 36}}) {
    for (int i = first; i <= last; ++i) {
      const TKeyNote& n = KeyDefs.Keys[i].Notes[0];
      EXPECT_TRUE(NoteIsLeft(n)) << KeyNames[i];
      EXPECT_EQ(n.Degree, (i - first) % 7 + 1) << KeyNames[i];
      EXPECT_EQ(NoteToMidi(n, false) - midi, 12 * ((i - first) / 7) + DegreeSemitones[n.Degree - 1])
          << KeyNames[i];
    }
  }
  for (int i = 80; i < KeyCount; ++i) {
    EXPECT_FALSE(NoteIsLeft(KeyDefs.Keys[i].Notes[0])) << KeyNames[i];
  }
  EXPECT_FALSE(KeyHasNotes(-1));
  for (int i = 0; i < KeyCount; ++i) {
    const TKeyDef& k = KeyDefs.Keys[i];
    EXPECT_EQ(KeyHasNotes(i), PlayableKeys[i]) << KeyNames[i];
    if (!PlayableKeys[i]) {
      EXPECT_TRUE(SameBytes(k, EmptyKeyDef)) << KeyNames[i];
      continue;
    }
    TKeyDef expected = EmptyKeyDef;
    expected.NoteCount = 1;
    expected.Notes[0] = k.Notes[0];
    EXPECT_TRUE(SameBytes(k, expected)) << KeyNames[i];
    EXPECT_EQ(k.Notes[0].Accidental, 0);
  }
}

TEST_F(KoKeyDefTest, DefaultRemarkIsGbkOfTheText) {
  ASSERT_EQ(KeyDefs.Remarks[0], 58);
  const std::string stored(reinterpret_cast<const char*>(KeyDefs.Remarks + 1), 58);
  EXPECT_EQ(GbkToUtf8(stored), DefaultRemarkUtf8);
  EXPECT_EQ(Utf8ToGbk(DefaultRemarkUtf8), stored);
  EXPECT_EQ(TableRemarks(KeyDefs), DefaultRemarkUtf8);
  EXPECT_TRUE(std::all_of(KeyDefs.Remarks + 59, std::end(KeyDefs.Padding),
                          [](std::uint8_t b) { return b == 0; }));
}

TEST_F(KoKeyDefTest, NoteToMidiShiftsAndRangeEdges) {
  LeftOctave = 1;
  Transpose = -2;
  EXPECT_EQ(NoteToMidi(KeyDefs.Keys[14].Notes[0], true), 82);
  EXPECT_EQ(NoteToMidi(KeyDefs.Keys[14].Notes[0], false), 72);
  RightOctave = 4;
  Transpose = 0;
  EXPECT_EQ(NoteToMidi(KeyDefs.Keys[83].Notes[0], true), -1); // 132 is off the range
  EXPECT_EQ(NoteToMidi(Note(1, 2, 4), false), 59);            // C flat
  EXPECT_EQ(NoteToMidi(Note(1, 3, 4), false), 60);            // natural sign
  EXPECT_EQ(NoteToMidi(Note(6, 9, 4), false), 69);            // unknown accidental
  EXPECT_EQ(NoteToMidi(Note(0, 0, 4), false), -1);
  EXPECT_EQ(NoteToMidi(Note(8, 0, 4), false), -1);
  EXPECT_EQ(NoteToMidi(Note(5, 0, 9), false), 127);
  EXPECT_EQ(NoteToMidi(Note(5, 1, 9), false), -1);
  EXPECT_EQ(NoteToMidi(Note(1, 0, 255), false), -1);
  LeftOctave = -1;
  EXPECT_EQ(NoteToMidi(Note(1, 0, 0, 0), true), 0);
  EXPECT_EQ(NoteToMidi(Note(1, 2, 0, 0), true), -1);
  EXPECT_EQ(NoteToMidi(Note(1, 2, 0, 2), true), 11); // neither keyboard: no shift
}

TEST_F(KoKeyDefTest, RespellingTable) {
  struct Row {
    int degree, accidental, upDegree, upAccidental, upOctave, downDegree, downAccidental,
        downOctave;
  };
  // Octaves relative to 4; a row equal to its input is one of the four fixed spellings.
  const Row rows[] = {{1, 0, 1, 1, 4, 7, 0, 3}, {1, 1, 2, 0, 4, 1, 0, 4}, {1, 2, 1, 2, 4, 1, 2, 4},
                      {2, 0, 2, 1, 4, 2, 2, 4}, {2, 1, 3, 0, 4, 2, 0, 4}, {2, 2, 2, 0, 4, 1, 0, 4},
                      {3, 0, 4, 0, 4, 3, 2, 4}, {3, 1, 3, 1, 4, 3, 1, 4}, {3, 2, 3, 0, 4, 2, 0, 4},
                      {4, 0, 4, 1, 4, 3, 0, 4}, {4, 1, 5, 0, 4, 4, 0, 4}, {4, 2, 4, 2, 4, 4, 2, 4},
                      {5, 0, 5, 1, 4, 5, 2, 4}, {5, 1, 6, 0, 4, 5, 0, 4}, {5, 2, 5, 0, 4, 4, 0, 4},
                      {6, 0, 6, 1, 4, 6, 2, 4}, {6, 1, 7, 0, 4, 6, 0, 4}, {6, 2, 6, 0, 4, 5, 0, 4},
                      {7, 0, 1, 0, 5, 7, 2, 4}, {7, 1, 7, 1, 4, 7, 1, 4}, {7, 2, 7, 0, 4, 6, 0, 4}};
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.degree << "/" << r.accidental);
    TKeyNote up = {static_cast<std::uint8_t>(r.degree), static_cast<std::uint8_t>(r.accidental), 4,
                   1, 99};
    TKeyNote down = up;
    const int midi = NoteToMidi(up, false);
    const bool fixed = r.upDegree == r.degree && r.upAccidental == r.accidental;
    NoteSemitoneUp(up);
    NoteSemitoneDown(down);
    EXPECT_EQ(up.Degree, r.upDegree);
    EXPECT_EQ(up.Accidental, r.upAccidental);
    EXPECT_EQ(up.Octave, r.upOctave);
    EXPECT_EQ(down.Degree, r.downDegree);
    EXPECT_EQ(down.Accidental, r.downAccidental);
    EXPECT_EQ(down.Octave, r.downOctave);
    EXPECT_EQ(NoteToMidi(up, false), fixed ? midi : midi + 1);
    EXPECT_EQ(NoteToMidi(down, false), fixed ? midi : midi - 1);
    EXPECT_EQ(up.Keyboard, 1);
    EXPECT_EQ(down.Velocity, 99);
  }
}

TEST_F(KoKeyDefTest, RespellingEdges) {
  TKeyNote c0 = Note(1, 0, 0);
  NoteSemitoneDown(c0);
  EXPECT_EQ(c0.Octave, 255);
  TKeyNote d = Note(2, 3, 4); // natural sign counts as natural
  NoteSemitoneUp(d);
  EXPECT_EQ(d.Accidental, 1);
  TKeyNote empty = Note(0, 0, 4), high = Note(8, 0, 4);
  NoteSemitoneUp(empty);
  NoteSemitoneDown(high);
  EXPECT_EQ(empty.Degree, 0);
  EXPECT_EQ(high.Degree, 8);
  EXPECT_EQ(high.Octave, 4);

  // Every slot of the key changes, sounding or not; empty slots stay as they are.
  KeyDefs.Keys[29].Notes[5] = Note(7, 0, 4);
  KeySemitoneUp(29);
  EXPECT_EQ(NoteToMidi(KeyDefs.Keys[29].Notes[0], false), 61);
  EXPECT_EQ(NoteToMidi(KeyDefs.Keys[29].Notes[5], false), 72);
  EXPECT_EQ(KeyDefs.Keys[29].Notes[1].Degree, 0);
  KeySemitoneDown(29);
  KeySemitoneDown(29);
  EXPECT_EQ(NoteToMidi(KeyDefs.Keys[29].Notes[0], false), 59);
  KeySemitoneUp(-1);
  KeySemitoneDown(KeyCount);
}

TEST_F(KoKeyDefTest, StaffOrdering) {
  TKeyNote notes[MaxKeyNotes] = {Note(0, 0, 4), Note(3, 0, 4), Note(1, 0, 5), Note(1, 1, 4),
                                 Note(0, 0, 4), Note(0, 0, 4), Note(0, 0, 4), Note(0, 0, 4)};
  SortKeyNotes(notes);
  EXPECT_EQ(NoteToMidi(notes[0], false), 61);
  EXPECT_EQ(NoteToMidi(notes[1], false), 64);
  EXPECT_EQ(NoteToMidi(notes[2], false), 72);
  for (int i = 3; i < MaxKeyNotes; ++i) {
    EXPECT_FALSE(NoteIsSet(notes[i]));
  }
  EXPECT_TRUE(NotesSamePlace(Note(4, 1, 3), Note(4, 2, 3)));
  EXPECT_FALSE(NotesSamePlace(Note(4, 0, 3), Note(4, 0, 4)));
  EXPECT_TRUE(NoteIsStepBelow(Note(2, 0, 4), Note(3, 2, 4)));
  EXPECT_TRUE(NoteIsStepBelow(Note(7, 0, 4), Note(1, 0, 5)));
  EXPECT_FALSE(NoteIsStepBelow(Note(7, 0, 4), Note(1, 0, 4)));
  EXPECT_FALSE(NoteIsStepBelow(Note(3, 0, 4), Note(2, 0, 4)));
}

TEST_F(KoKeyDefTest, TableBlockLayout) {
  const TKeyDefTable t = SampleTable();
  const std::vector<std::uint8_t> bytes = TableBytes(t);
  const std::uint8_t* key14 = bytes.data() + 76 * 14;
  EXPECT_EQ(std::vector<std::uint8_t>(key14, key14 + 4), (std::vector<std::uint8_t>{8, 0, 0, 0}));
  EXPECT_EQ(std::vector<std::uint8_t>(key14 + 12, key14 + 20),
            (std::vector<std::uint8_t>{1, 2, 7, 1, 0xFD, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(std::vector<std::uint8_t>(key14 + 68, key14 + 74),
            (std::vector<std::uint8_t>{2, 'D', 'o', 0, 0, 1}));
  EXPECT_EQ(bytes[8132], 4);
  EXPECT_EQ(bytes[8133], 0xB2); // first GBK byte of the remark

  TKeyDefTable back = KeyDefTableFromBytes(std::span<const std::uint8_t, KeyDefTableBytes>(bytes));
  EXPECT_EQ(std::memcmp(&back, &t, sizeof t), 0);
  EXPECT_EQ(KeyCaption(back.Keys[14]), "Do");
  EXPECT_EQ(TableRemarks(back), "测试");

  std::vector<std::uint8_t> bad = bytes;
  bad[76 * 14] = 9;
  bad[76 * 15] = 0xFF; // NoteCount -1 in the next key
  bad[76 * 15 + 1] = bad[76 * 15 + 2] = bad[76 * 15 + 3] = 0xFF;
  back = KeyDefTableFromBytes(std::span<const std::uint8_t, KeyDefTableBytes>(bad));
  EXPECT_EQ(back.Keys[14].NoteCount, MaxKeyNotes);
  EXPECT_EQ(back.Keys[15].NoteCount, 0);
}

TEST_F(KoKeyDefTest, FileRoundTrip) {
  const TKeyDefTable t = SampleTable();
  const fs::path file = dir / "mine.kdf";
  ASSERT_TRUE(SaveKeyDefFile(t, file));
  const std::vector<std::uint8_t> bytes = FileBytes(file);
  ASSERT_EQ(bytes.size(), 8412u);
  EXPECT_EQ(bytes[0], 17);
  EXPECT_EQ(std::string(bytes.begin() + 1, bytes.begin() + 18), "MelotasticoKeyDef");
  EXPECT_TRUE(std::all_of(bytes.begin() + 18, bytes.begin() + 28, [](auto b) { return b == 0; }));
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 28, bytes.begin() + 36),
            (std::vector<std::uint8_t>{1, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 36, bytes.end()), TableBytes(t));

  TKeyDefTable back{};
  ASSERT_TRUE(LoadKeyDefFile(file, back));
  EXPECT_EQ(std::memcmp(&back, &t, sizeof t), 0);

  // Saving again replaces the file and leaves nothing else behind.
  ASSERT_TRUE(SaveKeyDefFile(KeyDefs, file.string()));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
  ASSERT_TRUE(LoadKeyDefFile(file.string(), back));
  EXPECT_EQ(std::memcmp(&back, &KeyDefs, sizeof back), 0);

  // Version and Reserved are not checked; a longer file is read from its start.
  std::vector<std::uint8_t> other = FileBytes(file);
  other[28] = 7;
  other.push_back(0x55);
  WriteBytes(file, other);
  EXPECT_TRUE(LoadKeyDefFile(file, back));
}

TEST_F(KoKeyDefTest, CapitalisedExtensionAccepted) {
  TKeyDefTable back{};
  EXPECT_TRUE(SaveKeyDefFile(KeyDefs, dir / "UP.KDF"));
  EXPECT_TRUE(LoadKeyDefFile(dir / "UP.KDF", back));
  EXPECT_TRUE(SaveKeyDefFile(KeyDefs, dir / "mixed.Kdf"));
  EXPECT_TRUE(LoadKeyDefFile(dir / "mixed.Kdf", back));
}

TEST_F(KoKeyDefTest, SaveRefusals) {
  for (const char* name : {"a.txt", "a.kdf.bak", "a.kdf.txt", "kdf", "nodir/a.kdf"}) {
    EXPECT_FALSE(SaveKeyDefFile(KeyDefs, dir / name)) << name;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 0);
  fs::create_directory(dir / "taken.kdf");
  fs::create_directory(dir / "taken.kdf" / "inside");
  EXPECT_FALSE(SaveKeyDefFile(KeyDefs, dir / "taken.kdf"));
  EXPECT_TRUE(fs::is_directory(dir / "taken.kdf" / "inside"));
}

TEST_F(KoKeyDefTest, FailedSaveKeepsOldFile) {
  const fs::path file = dir / "keep.kdf";
  ASSERT_TRUE(SaveKeyDefFile(KeyDefs, file));
  const std::vector<std::uint8_t> before = FileBytes(file);
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
  EXPECT_EQ(FileBytes(file), before);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(KoKeyDefTest, LoadRefusalsLeaveTableUntouched) {
  const fs::path good = dir / "good.kdf";
  ASSERT_TRUE(SaveKeyDefFile(KeyDefs, good));
  const std::vector<std::uint8_t> bytes = FileBytes(good);
  auto variant = [&](const char* name, auto change) {
    std::vector<std::uint8_t> b = bytes;
    change(b);
    WriteBytes(dir / name, b);
    return dir / name;
  };
  std::vector<fs::path> refused = {
      dir / "missing.kdf",
      variant("letter.kdf", [](auto& b) { b[12] = 'k'; }),
      variant("length.kdf", [](auto& b) { b[0] = 16; }),
      variant("short.kdf", [](auto& b) { b.pop_back(); }),
      variant("tiny.kdf", [](auto& b) { b.resize(18); }),
      variant("empty.kdf", [](auto& b) { b.clear(); }),
      variant("other.txt", [](auto&) {}),
      variant("twice.kdf.bak", [](auto&) {}),
  };
  fs::create_directory(dir / "folder.kdf");
  refused.push_back(dir / "folder.kdf");
  const TKeyDefTable sample = SampleTable();
  for (const fs::path& p : refused) {
    TKeyDefTable t = sample;
    EXPECT_FALSE(LoadKeyDefFile(p, t)) << p;
    EXPECT_EQ(std::memcmp(&t, &sample, sizeof t), 0) << p;
  }
}
