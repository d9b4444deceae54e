// wav_notes_check FILE.wav NOTE...
// Checks that a recording holds exactly the given MIDI notes one after another. Prints the
// notes heard; exit 0 when they are the expected ones, 1 when not, 2 when the file cannot be
// read or the arguments are wrong.
#include "WavToneCheck.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  std::vector<int> expected;
  for (int i = 2; i < argc; ++i) {
    char* end = nullptr;
    const long note = std::strtol(argv[i], &end, 10);
    if (end == argv[i] || *end != '\0' || note < 0 || note > 127) {
      expected.clear();
      break;
    }
    expected.push_back(static_cast<int>(note));
  }
  if (argc < 3 || expected.size() != static_cast<std::size_t>(argc - 2)) {
    std::fprintf(stderr, "usage: wav_notes_check FILE.wav NOTE...\n");
    return 2;
  }
  melo::TWavAudio audio;
  if (!melo::ReadWav(argv[1], audio)) {
    std::fprintf(stderr, "wav_notes_check: %s is not a readable WAV recording\n", argv[1]);
    return 2;
  }
  const std::vector<int> heard = melo::NoteSequence(audio);
  std::printf("heard:");
  for (int note : heard) {
    std::printf(" %d", note);
  }
  std::printf("\n");
  if (heard != expected) {
    std::printf("FAIL: expected");
    for (int note : expected) {
      std::printf(" %d", note);
    }
    std::printf("\n");
    return 1;
  }
  std::printf("OK: the notes sounded in order\n");
  return 0;
}
