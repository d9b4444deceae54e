// libFuzzer entry for key-definition files (run by scripts/fuzz keydef): any
// bytes are loaded or refused without a crash or undefined behaviour, what is
// loaded can be played and shown, and it saves to a file that loads back to
// the same table. Built with MELO_FUZZ_SEEDS it writes the seed corpus.
#include "input/KoKeyDef.h"

#include "../../platform/fuzz/FuzzFiles.h"

#include <cstring>
#include <vector>

using namespace melo;

namespace {

std::vector<std::uint8_t> TableBytes(const TKeyDefTable& table) {
  std::vector<std::uint8_t> bytes(KeyDefTableBytes);
  KeyDefTableToBytes(table, std::span<std::uint8_t, KeyDefTableBytes>(bytes.data(), bytes.size()));
  return bytes;
}

} // namespace

#ifndef MELO_FUZZ_SEEDS

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TKeyDefTable table{};
  if (!LoadKeyDefFile(fuzz::ScratchFile("in.kdf", data, size), table))
    return 0;
  // Everything the key path, the staff and the editor do with a definition.
  (void)TableRemarks(table).size();
  for (const TKeyDef& key : table.Keys) {
    (void)KeyCaption(key).size();
    const int count = SoundingNoteCount(key);
    if (count < 0 || count > MaxKeyNotes)
      fuzz::Fail("note count out of range");
    TKeyNote notes[MaxKeyNotes];
    std::memcpy(notes, key.Notes, sizeof notes);
    for (TKeyNote& note : notes) {
      for (int shifts : {0, 1}) {
        const int midi = NoteToMidi(note, shifts, shifts, 7 * shifts);
        if (midi < -1 || midi > 127)
          fuzz::Fail("note off the MIDI range");
      }
      TKeyNote up = note, down = note;
      NoteSemitoneUp(up);
      NoteSemitoneDown(down);
      (void)NoteToMidi(up);
      (void)NoteToMidi(down);
    }
    SortKeyNotes(notes);
  }
  // Semitone edits of every key, as a performance makes them.
  TKeyDefTable edited = table;
  for (TKeyDef& key : edited.Keys) {
    (void)KeyDefHasNotes(key);
    KeySemitoneUp(key);
    KeySemitoneDown(key);
  }

  const std::filesystem::path saved = fuzz::ScratchFolder() / "out.kdf";
  if (!SaveKeyDefFile(table, saved))
    fuzz::Fail("a loaded table does not save");
  TKeyDefTable again{};
  if (!LoadKeyDefFile(saved, again) || TableBytes(again) != TableBytes(table))
    fuzz::Fail("a saved table does not load back the same");
  return 0;
}

#else

int main(int argc, char** argv) {
  if (argc != 2)
    return 2;
  const std::filesystem::path folder = argv[1];
  TKeyDefTable defaults{};
  FillDefaultKeyDefs(defaults);
  bool ok = SaveKeyDefFile(defaults, folder / "default.kdf");
  TKeyDefTable changed = defaults;
  changed.Keys[14].NoteCount = 8;
  for (int i = 0; i < MaxKeyNotes; ++i)
    changed.Keys[14].Notes[i] = {static_cast<std::uint8_t>(1 + i % 7), 2, 7, 1, -2 - i};
  SetKeyCaption(changed.Keys[14], "Do");
  changed.Keys[14].NoTranspose = 1;
  SetTableRemarks(changed, "测试");
  ok = SaveKeyDefFile(changed, folder / "changed.kdf") && ok;
  return ok ? 0 : 1;
}

#endif
