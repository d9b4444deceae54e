#pragma once
// The key definition: which notes each PC key plays and on which piano keyboard, the shifts
// that turn a defined note into a MIDI note, the fixed key table, and the *.kdf files.
#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace melo {

inline constexpr int KeyCount = 107;
inline constexpr int MaxKeyNotes = 8;
// The six editing keys, "Insert" .. "PageDown": smart semitone plays them as sharps.
inline constexpr int FirstEditingKey = 80;
inline constexpr int LastEditingKey = 85;
inline constexpr std::size_t CaptionCapacity = 4;
inline constexpr std::size_t RemarksCapacity = 240;

// One note in numbered notation. Stored in files byte for byte.
struct TKeyNote {
  std::uint8_t Degree;     // 0 = no note; 1..7 = C D E F G A B
  std::uint8_t Accidental; // 0 natural, 1 sharp, 2 flat, 3 natural sign; others sound natural
  std::uint8_t Octave;     // 4 = the octave starting at middle C
  std::uint8_t Keyboard;   // 0 left, 1 right, anything else neither
  std::int32_t Velocity;   // 0 = the keyboard's default velocity
};

// One key's notes. Slots at and beyond NoteCount stay stored but do not sound.
struct TKeyDef {
  std::int32_t NoteCount;
  TKeyNote Notes[MaxKeyNotes];
  std::uint8_t Caption[1 + CaptionCapacity]; // length-prefixed GBK text
  std::uint8_t NoTranspose;                  // Boolean byte, kept as stored
  std::uint8_t Padding[2];
};

// The whole definition; copied whole between a performance, the editor, kdf and song files.
struct TKeyDefTable {
  TKeyDef Keys[KeyCount];
  std::uint8_t Remarks[1 + RemarksCapacity]; // length-prefixed GBK text
  std::uint8_t Padding[3];
};

// The first 36 bytes of a *.kdf file.
struct TKdfHeader {
  std::uint8_t Magic[28]; // length-prefixed "MelotasticoKeyDef", zero-filled
  std::int32_t Version;
  std::int32_t Reserved;
};

inline constexpr std::size_t KeyNoteBytes = 8;
inline constexpr std::size_t KeyDefBytes = 76;
inline constexpr std::size_t KeyDefTableBytes = 8376;
inline constexpr std::size_t KdfHeaderBytes = 36;
inline constexpr std::size_t KdfFileBytes = KdfHeaderBytes + KeyDefTableBytes;

static_assert(sizeof(TKeyNote) == KeyNoteBytes);
static_assert(offsetof(TKeyNote, Velocity) == 4);
static_assert(sizeof(TKeyDef) == KeyDefBytes);
static_assert(offsetof(TKeyDef, Notes) == 4);
static_assert(offsetof(TKeyDef, Caption) == 68);
static_assert(offsetof(TKeyDef, NoTranspose) == 73);
static_assert(offsetof(TKeyDef, Padding) == 74);
static_assert(sizeof(TKeyDefTable) == KeyDefTableBytes);
static_assert(offsetof(TKeyDefTable, Remarks) == 8132);
static_assert(offsetof(TKeyDefTable, Padding) == 8373);
static_assert(sizeof(TKdfHeader) == KdfHeaderBytes);
static_assert(offsetof(TKdfHeader, Version) == 28);
static_assert(offsetof(TKdfHeader, Reserved) == 32);
static_assert(KdfFileBytes == 8412);

// DirectInput scan codes, named after their keys (extended keys have bit 0x80 set).
enum TScanCode : int {
  scEsc = 0x01,
  sc1 = 0x02,
  sc2 = 0x03,
  sc3 = 0x04,
  sc4 = 0x05,
  sc5 = 0x06,
  sc6 = 0x07,
  sc7 = 0x08,
  sc8 = 0x09,
  sc9 = 0x0A,
  sc0 = 0x0B,
  scMinus = 0x0C,
  scEquals = 0x0D,
  scBackspace = 0x0E,
  scTab = 0x0F,
  scQ = 0x10,
  scW = 0x11,
  scE = 0x12,
  scR = 0x13,
  scT = 0x14,
  scY = 0x15,
  scU = 0x16,
  scI = 0x17,
  scO = 0x18,
  scP = 0x19,
  scLeftBracket = 0x1A,
  scRightBracket = 0x1B,
  scEnter = 0x1C,
  scLControl = 0x1D,
  scA = 0x1E,
  scS = 0x1F,
  scD = 0x20,
  scF = 0x21,
  scG = 0x22,
  scH = 0x23,
  scJ = 0x24,
  scK = 0x25,
  scL = 0x26,
  scSemicolon = 0x27,
  scApostrophe = 0x28,
  scGrave = 0x29,
  scLShift = 0x2A,
  scBackslash = 0x2B,
  scZ = 0x2C,
  scX = 0x2D,
  scC = 0x2E,
  scV = 0x2F,
  scB = 0x30,
  scN = 0x31,
  scM = 0x32,
  scComma = 0x33,
  scPeriod = 0x34,
  scSlash = 0x35,
  scRShift = 0x36,
  scNumStar = 0x37,
  scLAlt = 0x38,
  scSpace = 0x39,
  scCapslock = 0x3A,
  scF1 = 0x3B,
  scF2 = 0x3C,
  scF3 = 0x3D,
  scF4 = 0x3E,
  scF5 = 0x3F,
  scF6 = 0x40,
  scF7 = 0x41,
  scF8 = 0x42,
  scF9 = 0x43,
  scF10 = 0x44,
  scNumLock = 0x45,
  scScrollLock = 0x46,
  scNum7 = 0x47,
  scNum8 = 0x48,
  scNum9 = 0x49,
  scNumMinus = 0x4A,
  scNum4 = 0x4B,
  scNum5 = 0x4C,
  scNum6 = 0x4D,
  scNumPlus = 0x4E,
  scNum1 = 0x4F,
  scNum2 = 0x50,
  scNum3 = 0x51,
  scNum0 = 0x52,
  scNumPeriod = 0x53,
  scF11 = 0x57,
  scF12 = 0x58,
  scNumEnter = 0x9C,
  scRControl = 0x9D,
  scNumSlash = 0xB5,
  scPrintScreen = 0xB7,
  scRAlt = 0xB8,
  scPause = 0xC5,
  scHome = 0xC7,
  scUp = 0xC8,
  scPageUp = 0xC9,
  scLeft = 0xCB,
  scRight = 0xCD,
  scEnd = 0xCF,
  scDown = 0xD0,
  scPageDown = 0xD1,
  scInsert = 0xD2,
  scDelete = 0xD3,
  scLWin = 0xDB,
  scRWin = 0xDC,
  scMenu = 0xDD,
  scPower = 0xDE,
  scSleep = 0xDF,
  scWakeUp = 0xE3,
};

// The scan code of each key index.
// clang-format off
inline constexpr std::array<std::uint8_t, KeyCount> KeyScanCodes = {
    scEsc, scF1, scF2, scF3, scF4, scF5, scF6, scF7, scF8, scF9, scF10, scF11, scF12,
    scGrave, sc1, sc2, sc3, sc4, sc5, sc6, sc7, sc8, sc9, sc0, scMinus, scEquals, scBackslash,
    scBackspace,
    scTab, scQ, scW, scE, scR, scT, scY, scU, scI, scO, scP, scLeftBracket, scRightBracket, scEnter,
    scCapslock, scA, scS, scD, scF, scG, scH, scJ, scK, scL, scSemicolon, scApostrophe,
    scLShift, scZ, scX, scC, scV, scB, scN, scM, scComma, scPeriod, scSlash, scRShift,
    scLControl, scLWin, scLAlt, scSpace, scRAlt, scRWin, scMenu, scRControl,
    scWakeUp, scSleep, scPower,
    scPrintScreen, scScrollLock, scPause,
    scInsert, scHome, scPageUp, scDelete, scEnd, scPageDown,
    scUp, scLeft, scDown, scRight,
    scNumLock, scNumSlash, scNumStar, scNumMinus, scNum7, scNum8, scNum9, scNumPlus,
    scNum4, scNum5, scNum6, scNum1, scNum2, scNum3, scNumEnter, scNum0, scNumPeriod};
// clang-format on

// The key index of a scan code, or -1.
constexpr int KeyIndexOfScanCode(int scanCode) {
  for (std::size_t i = 0; i < KeyScanCodes.size(); ++i) {
    if (KeyScanCodes[i] == scanCode)
      return static_cast<int>(i);
  }
  return -1;
}

// Display names by key index (ASCII).
inline constexpr std::array<std::string_view, KeyCount> KeyNames = {
    "Esc",         "F1",         "F2",     "F3",       "F4",     "F5",     "F6",
    "F7",          "F8",         "F9",     "F10",      "F11",    "F12",    "`",
    "1",           "2",          "3",      "4",        "5",      "6",      "7",
    "8",           "9",          "0",      "-",        "=",      "\\",     "Backspace",
    "Tab",         "Q",          "W",      "E",        "R",      "T",      "Y",
    "U",           "I",          "O",      "P",        "[",      "]",      "Enter",
    "Capslock",    "A",          "S",      "D",        "F",      "G",      "H",
    "J",           "K",          "L",      ";",        "'",      "LShift", "Z",
    "X",           "C",          "V",      "B",        "N",      "M",      ",",
    ".",           "/",          "RShift", "LControl", "LWin",   "LAlt",   "Space",
    "RAlt",        "RWin",       "Menu",   "RControl", "WakeUp", "Sleep",  "Power",
    "PrintScreen", "ScrollLock", "Pause",  "Insert",   "Home",   "PageUp", "Delete",
    "End",         "PageDown",   "Up",     "Left",     "Down",   "Right",  "Num-NumLock",
    "Num-/",       "Num-*",      "Num--",  "Num-7",    "Num-8",  "Num-9",  "Num-+",
    "Num-4",       "Num-5",      "Num-6",  "Num-1",    "Num-2",  "Num-3",  "Num-Enter",
    "Num-0",       "Num-."};

// Semitones above C for degrees 1..7.
inline constexpr std::array<int, 7> DegreeSemitones = {0, 2, 4, 5, 7, 9, 11};

// The record every cleared key gets.
inline constexpr TKeyDef EmptyKeyDef = {0,
                                        {{0, 0, 4, 0, 0},
                                         {0, 0, 4, 0, 0},
                                         {0, 0, 4, 0, 0},
                                         {0, 0, 4, 0, 0},
                                         {0, 0, 4, 0, 0},
                                         {0, 0, 4, 0, 0},
                                         {0, 0, 4, 0, 0},
                                         {0, 0, 4, 0, 0}},
                                        {0, 0, 0, 0, 0},
                                        0,
                                        {0, 0}};

// The values a performance plays with: the key definition in use and the shifts and default
// velocities that turn its notes into MIDI notes. Each performance (app/KoPerformance) owns
// one and changes it through its setters; the window, the PC-keyboard picture and the editor
// read it through a const reference.
struct TPerformanceValues {
  TKeyDefTable KeyDefs{};
  std::int32_t Transpose = 0;
  std::int32_t LeftOctave = 0;
  std::int32_t RightOctave = 0;
  std::int32_t LeftVelocity = 70;
  std::int32_t RightVelocity = 100;
  // 0 note keys play, 1 a note key raises its definition by a semitone, 2 lowers it.
  std::uint8_t QuickEditMode = 0;
};

// Unit-level state, UI thread only. All false until built.
extern std::array<bool, KeyCount> PlayableKeys;

void BuildPlayableKeys();

// Fills a table with the default key definition.
void FillDefaultKeyDefs(TKeyDefTable& table);
// The six editing keys' notes as the PC keyboard names them: the sharps smart semitone plays
// (on) or the default definition's notes (off). Velocities and further notes stay.
void SetSmartSemitoneNotes(TKeyDefTable& table, bool on);

// MIDI note 0..127 of a note shifted by the hand's octave and the transposition, or -1 for no
// note or a note off the MIDI range.
int NoteToMidi(const TKeyNote& note, int leftOctave = 0, int rightOctave = 0, int transpose = 0);
// Names a MIDI note relative to base as degree, accidental (black keys as sharps) and octave.
void NoteFromMidi(int note, int base, TKeyNote& n);

bool KeyDefHasNotes(const TKeyDef& keyDef);
// NoteCount bounded to 0..MaxKeyNotes: the number of notes a key may sound.
int SoundingNoteCount(const TKeyDef& keyDef);
bool NoteIsSet(const TKeyNote& note);
bool NoteIsLeft(const TKeyNote& note);

void NoteSemitoneUp(TKeyNote& note);
void NoteSemitoneDown(TKeyNote& note);
// Every note of a key a semitone up or down.
void KeySemitoneUp(TKeyDef& keyDef);
void KeySemitoneDown(TKeyDef& keyDef);

// Staff ordering.
bool NoteSortsAfter(const TKeyNote& a, const TKeyNote& b);
bool NotesSamePlace(const TKeyNote& a, const TKeyNote& b);
bool NoteIsStepBelow(const TKeyNote& a, const TKeyNote& b);
void SortKeyNotes(TKeyNote (&notes)[MaxKeyNotes]);

// Text fields, converted between their GBK bytes and UTF-8.
std::string KeyCaption(const TKeyDef& keyDef);
void SetKeyCaption(TKeyDef& keyDef, std::string_view utf8);
std::string TableRemarks(const TKeyDefTable& table);
void SetTableRemarks(TKeyDefTable& table, std::string_view utf8);

// The 8376-byte little-endian block stored in kdf and song files. Reading bounds NoteCount to
// 0..MaxKeyNotes; everything else is kept byte for byte.
void KeyDefTableToBytes(const TKeyDefTable& table, std::span<std::uint8_t, KeyDefTableBytes> out);
TKeyDefTable KeyDefTableFromBytes(std::span<const std::uint8_t, KeyDefTableBytes> in);

// Both refuse (false) a name whose extension is not ".kdf" in any case. Saving replaces the
// file only once the new one is complete; loading leaves the table untouched on false.
bool SaveKeyDefFile(const TKeyDefTable& table, const std::filesystem::path& fileName);
bool LoadKeyDefFile(const std::filesystem::path& fileName, TKeyDefTable& table);

} // namespace melo
