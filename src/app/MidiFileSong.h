#pragma once
// A Standard MIDI File as the song in memory: every channel message becomes a
// raw MIDI event at its millisecond, the file's texts the song's information
// (title from the first track's name), and the start state is the default one.
// Saved, it is an ordinary song file.
#include "app/SimpleRecorder.h"
#include "music/MidiFileReader.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace melo {

// The song's information: the first track's name as the title, a text
// "Player: NAME" (as the program's own MIDI files carry it) as the player,
// and as the remark the copyright, the other texts and the other tracks'
// names, one a line; each cut to what its field holds.
TSongInfo MidiFileSongInfo(const TMidiFileContent& content);

// The song file image of content: the raw MIDI events and an end event at
// the file's end.
std::vector<std::uint8_t> MidiFileSongImage(const TMidiFileContent& content);

// Reads the MIDI file into recorder as its song. False, with the song in
// memory as it was, when the file is refused (reason says why) or the
// recorder is busy. UI thread only.
bool LoadMidiFileSong(const std::filesystem::path& fileName, TSimpleRecorder& recorder,
                      TSongInfo& info, std::string& reason);

} // namespace melo
