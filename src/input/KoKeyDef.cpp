#include "input/KoKeyDef.h"

#include "music/MidiInterfaces.h"
#include "platform/FileBytes.h"
#include "platform/GbkText.h"
#include "platform/GlobalState.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <system_error>
#include <utility>
#include <vector>

namespace melo {

std::array<bool, KeyCount> PlayableKeys{};

namespace {

// Put back after each test (platform/GlobalState.h).
[[maybe_unused]] const bool StateRegistered = RegisterGlobalVariables(PlayableKeys);

} // namespace

namespace {

// "缺省的键定义。左键盘有4个半8度，右手有3个半8度。没有半音。" in GBK.
constexpr std::uint8_t DefaultRemark[] = {
    0xC8, 0xB1, 0xCA, 0xA1, 0xB5, 0xC4, 0xBC, 0xFC, 0xB6, 0xA8, 0xD2, 0xE5, 0xA1, 0xA3, 0xD7,
    0xF3, 0xBC, 0xFC, 0xC5, 0xCC, 0xD3, 0xD0, 0x34, 0xB8, 0xF6, 0xB0, 0xEB, 0x38, 0xB6, 0xC8,
    0xA3, 0xAC, 0xD3, 0xD2, 0xCA, 0xD6, 0xD3, 0xD0, 0x33, 0xB8, 0xF6, 0xB0, 0xEB, 0x38, 0xB6,
    0xC8, 0xA1, 0xA3, 0xC3, 0xBB, 0xD3, 0xD0, 0xB0, 0xEB, 0xD2, 0xF4, 0xA1, 0xA3};
static_assert(sizeof(DefaultRemark) == 58);

struct TDefaultNote {
  std::uint8_t Key;
  std::uint8_t Degree;
  std::uint8_t Octave;
  std::uint8_t Keyboard;
};

constexpr std::uint8_t L = 0;
constexpr std::uint8_t R = 1;

// The single natural note each playable key gets by default.
constexpr TDefaultNote DefaultNotes[] = {
    {14, 1, 5, L},  {15, 2, 5, L},  {16, 3, 5, L},  {17, 4, 5, L},  {18, 5, 5, L},  {19, 6, 5, L},
    {20, 7, 5, L},  {21, 1, 6, L},  {22, 2, 6, L},  {23, 3, 6, L},  {24, 4, 6, L},  {25, 5, 6, L},
    {26, 6, 6, L},  {29, 1, 4, L},  {30, 2, 4, L},  {31, 3, 4, L},  {32, 4, 4, L},  {33, 5, 4, L},
    {34, 6, 4, L},  {35, 7, 4, L},  {36, 1, 5, L},  {37, 2, 5, L},  {38, 3, 5, L},  {39, 4, 5, L},
    {40, 5, 5, L},  {43, 1, 3, L},  {44, 2, 3, L},  {45, 3, 3, L},  {46, 4, 3, L},  {47, 5, 3, L},
    {48, 6, 3, L},  {49, 7, 3, L},  {50, 1, 4, L},  {51, 2, 4, L},  {52, 3, 4, L},  {53, 4, 4, L},
    {55, 1, 2, L},  {56, 2, 2, L},  {57, 3, 2, L},  {58, 4, 2, L},  {59, 5, 2, L},  {60, 6, 2, L},
    {61, 7, 2, L},  {62, 1, 3, L},  {63, 2, 3, L},  {64, 3, 3, L},  {80, 4, 6, R},  {81, 5, 6, R},
    {82, 6, 6, R},  {83, 1, 6, R},  {84, 2, 6, R},  {85, 3, 6, R},  {86, 4, 3, R},  {87, 1, 3, R},
    {88, 2, 3, R},  {89, 3, 3, R},  {90, 4, 5, R},  {91, 5, 5, R},  {92, 6, 5, R},  {93, 7, 5, R},
    {94, 7, 4, R},  {95, 1, 5, R},  {96, 2, 5, R},  {97, 3, 5, R},  {98, 4, 4, R},  {99, 5, 4, R},
    {100, 6, 4, R}, {101, 1, 4, R}, {102, 2, 4, R}, {103, 3, 4, R}, {104, 7, 3, R}, {105, 5, 3, R},
    {106, 6, 3, R}};
static_assert(std::size(DefaultNotes) == 73);

constexpr std::uint8_t KdfMagic[] = {17,  'M', 'e', 'l', 'o', 't', 'a', 's', 't',
                                     'i', 'c', 'o', 'K', 'e', 'y', 'D', 'e', 'f'};

enum : std::uint8_t { Natural = 0, Sharp = 1, Flat = 2 };

bool ValidDegree(const TKeyNote& note) {
  return note.Degree >= 1 && note.Degree <= 7;
}

void SetSpelling(TKeyNote& note, int degree, std::uint8_t accidental, int octaveStep = 0) {
  note.Degree = static_cast<std::uint8_t>(degree);
  note.Accidental = accidental;
  note.Octave = static_cast<std::uint8_t>(note.Octave + octaveStep);
}

// C flat, E sharp, F flat and B sharp are left alone by both directions.
bool IsFixedSpelling(const TKeyNote& note) {
  return (note.Accidental == Flat && (note.Degree == 1 || note.Degree == 4)) ||
         (note.Accidental == Sharp && (note.Degree == 3 || note.Degree == 7));
}

// --- little-endian field access ---

void PutInt32(std::uint8_t* p, std::int32_t value) {
  const auto u = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) {
    p[i] = static_cast<std::uint8_t>(u >> (8 * i));
  }
}

std::int32_t GetInt32(const std::uint8_t* p) {
  std::uint32_t u = 0;
  for (int i = 0; i < 4; ++i) {
    u |= static_cast<std::uint32_t>(p[i]) << (8 * i);
  }
  return static_cast<std::int32_t>(u);
}

void PutKeyNote(std::uint8_t* p, const TKeyNote& note) {
  p[0] = note.Degree;
  p[1] = note.Accidental;
  p[2] = note.Octave;
  p[3] = note.Keyboard;
  PutInt32(p + 4, note.Velocity);
}

TKeyNote GetKeyNote(const std::uint8_t* p) {
  return {p[0], p[1], p[2], p[3], GetInt32(p + 4)};
}

void PutKeyDef(std::uint8_t* p, const TKeyDef& keyDef) {
  PutInt32(p, keyDef.NoteCount);
  for (int i = 0; i < MaxKeyNotes; ++i) {
    PutKeyNote(p + 4 + KeyNoteBytes * i, keyDef.Notes[i]);
  }
  std::memcpy(p + offsetof(TKeyDef, Caption), keyDef.Caption, sizeof keyDef.Caption);
  p[offsetof(TKeyDef, NoTranspose)] = keyDef.NoTranspose;
  std::memcpy(p + offsetof(TKeyDef, Padding), keyDef.Padding, sizeof keyDef.Padding);
}

TKeyDef GetKeyDef(const std::uint8_t* p) {
  TKeyDef keyDef{};
  keyDef.NoteCount = std::clamp(GetInt32(p), 0, MaxKeyNotes);
  for (int i = 0; i < MaxKeyNotes; ++i) {
    keyDef.Notes[i] = GetKeyNote(p + 4 + KeyNoteBytes * i);
  }
  std::memcpy(keyDef.Caption, p + offsetof(TKeyDef, Caption), sizeof keyDef.Caption);
  keyDef.NoTranspose = p[offsetof(TKeyDef, NoTranspose)];
  std::memcpy(keyDef.Padding, p + offsetof(TKeyDef, Padding), sizeof keyDef.Padding);
  return keyDef;
}

bool HasKdfExtension(const std::filesystem::path& fileName) {
  std::string ext = fileName.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext == ".kdf";
}

bool DirectoryOfExists(const std::filesystem::path& fileName) {
  std::error_code ec;
  const std::filesystem::path dir = fileName.parent_path();
  return dir.empty() || std::filesystem::is_directory(dir, ec);
}

} // namespace

void BuildPlayableKeys() {
  PlayableKeys.fill(false);
  for (const auto& [first, last] : {std::pair{14, 26}, std::pair{29, 40}, std::pair{43, 53},
                                    std::pair{55, 64}, std::pair{80, 106}}) {
    std::fill(PlayableKeys.begin() + first, PlayableKeys.begin() + last + 1, true);
  }
}

void FillDefaultKeyDefs(TKeyDefTable& table) {
  WriteShortString(
      table.Remarks, RemarksCapacity,
      std::string_view(reinterpret_cast<const char*>(DefaultRemark), sizeof DefaultRemark));
  std::fill(std::begin(table.Padding), std::end(table.Padding), 0);
  std::fill(std::begin(table.Keys), std::end(table.Keys), EmptyKeyDef);
  for (const TDefaultNote& d : DefaultNotes) {
    TKeyDef& keyDef = table.Keys[d.Key];
    keyDef.NoteCount = 1;
    keyDef.Notes[0] = {d.Degree, Natural, d.Octave, d.Keyboard, 0};
  }
}

void SetSmartSemitoneNotes(TKeyDefTable& table, bool on) {
  struct TSmartNote {
    std::uint8_t Degree, Accidental, Octave;
  };
  // "Insert" .. "PageDown": A sharp twice, F sharp, D sharp, C sharp, G sharp.
  static constexpr std::array<TSmartNote, 6> sharps = {
      {{6, 1, 4}, {6, 1, 4}, {4, 1, 4}, {2, 1, 4}, {1, 1, 4}, {5, 1, 4}}};
  // The six keys' notes in the default definition.
  static constexpr std::array<TSmartNote, 6> defaults = {
      {{4, 0, 6}, {5, 0, 6}, {6, 0, 6}, {1, 0, 6}, {2, 0, 6}, {3, 0, 6}}};
  for (int j = 0; j < 6; ++j) {
    const TSmartNote& smart = (on ? sharps : defaults)[static_cast<std::size_t>(j)];
    TKeyDef& def = table.Keys[FirstEditingKey + j];
    def.NoteCount = 1;
    def.Notes[0].Keyboard = RightHand;
    def.Notes[0].Degree = smart.Degree;
    def.Notes[0].Accidental = smart.Accidental;
    def.Notes[0].Octave = smart.Octave;
  }
}

void NoteFromMidi(int note, int base, TKeyNote& n) {
  static constexpr std::array<std::uint8_t, 12> degrees = {1, 1, 2, 2, 3, 4, 4, 5, 5, 6, 6, 7};
  static constexpr std::array<std::uint8_t, 12> sharps = {0, 1, 0, 1, 0, 0, 1, 0, 1, 0, 1, 0};
  n.Degree = 0;
  if (note < 0 || note > 127)
    return;
  const int relative = note - base;
  n.Octave = std::uint8_t(relative / 12 - 1);
  const int r = relative % 12;
  if (r < 0)
    return;
  n.Degree = degrees[r];
  n.Accidental = sharps[r];
}

int NoteToMidi(const TKeyNote& note, int leftOctave, int rightOctave, int transpose) {
  if (!ValidDegree(note)) {
    return -1;
  }
  int n = DegreeSemitones[note.Degree - 1] + 12 * (note.Octave - 4) + 60;
  if (note.Accidental == Sharp) {
    ++n;
  } else if (note.Accidental == Flat) {
    --n;
  }
  if (note.Keyboard == LeftHand) {
    n += 12 * leftOctave + transpose;
  } else if (note.Keyboard == RightHand) {
    n += 12 * rightOctave + transpose;
  }
  return n >= 0 && n <= 127 ? n : -1;
}

bool KeyDefHasNotes(const TKeyDef& keyDef) {
  return keyDef.NoteCount > 0;
}

int SoundingNoteCount(const TKeyDef& keyDef) {
  return std::clamp(keyDef.NoteCount, 0, MaxKeyNotes);
}

bool NoteIsSet(const TKeyNote& note) {
  return note.Degree != 0;
}

bool NoteIsLeft(const TKeyNote& note) {
  return note.Keyboard == LeftHand;
}

void NoteSemitoneUp(TKeyNote& note) {
  if (!ValidDegree(note) || IsFixedSpelling(note)) {
    return;
  }
  const int d = note.Degree;
  if (note.Accidental == Sharp) {
    SetSpelling(note, d + 1, Natural);
  } else if (note.Accidental == Flat) {
    SetSpelling(note, d, Natural);
  } else if (d == 3) {
    SetSpelling(note, 4, Natural);
  } else if (d == 7) {
    SetSpelling(note, 1, Natural, +1);
  } else {
    SetSpelling(note, d, Sharp);
  }
}

void NoteSemitoneDown(TKeyNote& note) {
  if (!ValidDegree(note) || IsFixedSpelling(note)) {
    return;
  }
  const int d = note.Degree;
  if (note.Accidental == Sharp) {
    SetSpelling(note, d, Natural);
  } else if (note.Accidental == Flat) {
    SetSpelling(note, d - 1, Natural);
  } else if (d == 4) {
    SetSpelling(note, 3, Natural);
  } else if (d == 1) {
    SetSpelling(note, 7, Natural, -1);
  } else {
    SetSpelling(note, d, Flat);
  }
}

void KeySemitoneUp(TKeyDef& keyDef) {
  for (TKeyNote& note : keyDef.Notes)
    NoteSemitoneUp(note);
}

void KeySemitoneDown(TKeyDef& keyDef) {
  for (TKeyNote& note : keyDef.Notes)
    NoteSemitoneDown(note);
}

bool NoteSortsAfter(const TKeyNote& a, const TKeyNote& b) {
  if (!NoteIsSet(a)) {
    return true;
  }
  if (!NoteIsSet(b)) {
    return false;
  }
  if (a.Octave != b.Octave) {
    return a.Octave > b.Octave;
  }
  return a.Degree > b.Degree;
}

bool NotesSamePlace(const TKeyNote& a, const TKeyNote& b) {
  return a.Degree == b.Degree && a.Octave == b.Octave;
}

bool NoteIsStepBelow(const TKeyNote& a, const TKeyNote& b) {
  return (b.Degree == a.Degree + 1 && b.Octave == a.Octave) ||
         (a.Degree == 7 && b.Degree == 1 && b.Octave == a.Octave + 1);
}

void SortKeyNotes(TKeyNote (&notes)[MaxKeyNotes]) {
  for (int i = 0; i < MaxKeyNotes - 1; ++i) {
    for (int j = i + 1; j < MaxKeyNotes; ++j) {
      if (NoteSortsAfter(notes[i], notes[j])) {
        std::swap(notes[i], notes[j]);
      }
    }
  }
}

std::string KeyCaption(const TKeyDef& keyDef) {
  return GbkToUtf8(ReadShortString(keyDef.Caption, CaptionCapacity));
}

void SetKeyCaption(TKeyDef& keyDef, std::string_view utf8) {
  WriteShortString(keyDef.Caption, CaptionCapacity, Utf8ToGbk(utf8, CaptionCapacity));
}

std::string TableRemarks(const TKeyDefTable& table) {
  return GbkToUtf8(ReadShortString(table.Remarks, RemarksCapacity));
}

void SetTableRemarks(TKeyDefTable& table, std::string_view utf8) {
  WriteShortString(table.Remarks, RemarksCapacity, Utf8ToGbk(utf8, RemarksCapacity));
}

void KeyDefTableToBytes(const TKeyDefTable& table, std::span<std::uint8_t, KeyDefTableBytes> out) {
  for (int i = 0; i < KeyCount; ++i) {
    PutKeyDef(out.data() + KeyDefBytes * i, table.Keys[i]);
  }
  std::memcpy(out.data() + offsetof(TKeyDefTable, Remarks), table.Remarks, sizeof table.Remarks);
  std::memcpy(out.data() + offsetof(TKeyDefTable, Padding), table.Padding, sizeof table.Padding);
}

TKeyDefTable KeyDefTableFromBytes(std::span<const std::uint8_t, KeyDefTableBytes> in) {
  TKeyDefTable table{};
  for (int i = 0; i < KeyCount; ++i) {
    table.Keys[i] = GetKeyDef(in.data() + KeyDefBytes * i);
  }
  std::memcpy(table.Remarks, in.data() + offsetof(TKeyDefTable, Remarks), sizeof table.Remarks);
  std::memcpy(table.Padding, in.data() + offsetof(TKeyDefTable, Padding), sizeof table.Padding);
  return table;
}

bool SaveKeyDefFile(const TKeyDefTable& table, const std::filesystem::path& fileName) {
  if (!DirectoryOfExists(fileName) || !HasKdfExtension(fileName)) {
    return false;
  }
  std::array<std::uint8_t, KdfFileBytes> buffer{};
  std::memcpy(buffer.data(), KdfMagic, sizeof KdfMagic);
  PutInt32(buffer.data() + offsetof(TKdfHeader, Version), 1);
  PutInt32(buffer.data() + offsetof(TKdfHeader, Reserved), 0);
  KeyDefTableToBytes(table, std::span(buffer).subspan<KdfHeaderBytes>());
  return WriteFileReplacing(fileName, buffer);
}

bool LoadKeyDefFile(const std::filesystem::path& fileName, TKeyDefTable& table) {
  std::vector<std::uint8_t> buffer;
  // A missing or unreadable file fails to read; one too short to hold the whole table is
  // refused rather than half read.
  if (!HasKdfExtension(fileName) || !ReadFileHead(fileName, buffer, KdfFileBytes) ||
      buffer.size() != KdfFileBytes || std::memcmp(buffer.data(), KdfMagic, sizeof KdfMagic) != 0) {
    return false;
  }
  table = KeyDefTableFromBytes(std::span<const std::uint8_t, KeyDefTableBytes>(
      buffer.data() + KdfHeaderBytes, KeyDefTableBytes));
  return true;
}

} // namespace melo
