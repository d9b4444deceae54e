#pragma once
// The settings of our own that the four-line Melotastico4.cfg has no room
// for. They live in Melotastico.ini in the data folder, an INI file that is
// read and written here alone; a missing file or key gives the default. The
// Audio and MIDI page saves its own group apart from the rest, so neither
// undoes what the other stored.
#include <filesystem>
#include <map>
#include <string>
#include <string_view>

namespace melo {

// The practice window's choices as last started; a value off its range
// reads as the default.
struct TPracticeChoices {
  int Part = 0;    // 0 right hand, 1 left hand, 2 both
  int Channel = 0; // 0 every channel but the drums, 1..16 that channel alone
  int Split = 60;  // 0..127: the left hand plays the notes below it
  int Mode = 0;    // 0 wait, 1 play along
  int Tempo = 100; // percent, 25..150

  bool operator==(const TPracticeChoices&) const = default;
};

struct TProgramSettings {
  bool AccompDrumsOnly = false; // the accompaniment plays its drums alone
  bool FingeredChords = false;  // the held left-hand notes name the chord
  // The best practice score (percent of notes right) by song file name.
  std::map<std::string, int> BestScores{};
  TPracticeChoices Practice{};

  bool operator==(const TProgramSettings&) const = default;
};

inline constexpr std::string_view ProgramSettingsFileName = "Melotastico.ini";

// True when the file was there and read.
bool LoadProgramSettings(TProgramSettings& settings);
bool LoadProgramSettingsFrom(const std::filesystem::path& fileName, TProgramSettings& settings);

// False when the file could not be written.
bool SaveProgramSettings(const TProgramSettings& settings);
bool SaveProgramSettingsTo(const std::filesystem::path& fileName, const TProgramSettings& settings);

// The audio output and the MIDI input chosen on the Audio and MIDI page.
struct TAudioMidiChoices {
  // An output's name as TKoDirectSound lists it ("default", "pulse", "jack",
  // an ALSA device); empty: the default output.
  std::string AudioOutput;
  // A MIDI source as TMidiInPorts::Connect takes it; empty: none.
  std::string MidiIn;

  bool operator==(const TAudioMidiChoices&) const = default;
};

// True when the file was there and read; no choice at all otherwise.
bool LoadAudioMidiFrom(const std::filesystem::path& fileName, TAudioMidiChoices& choices);
TAudioMidiChoices LoadAudioMidi();

bool SaveAudioMidiTo(const std::filesystem::path& fileName, const TAudioMidiChoices& choices);
// The file written (or that could not be) goes to written, empty when no
// folder can be written.
bool SaveAudioMidi(const TAudioMidiChoices& choices, std::filesystem::path& written);

} // namespace melo
