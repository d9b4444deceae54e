// wav_phrase_check FILE.wav SPREAD_MS NOTE@SECONDS[+HELD]...
// Checks that a recording holds exactly the given MIDI notes in order, each struck SECONDS after
// the first key went down: every tapped note's delay from its key to its sound is within
// SPREAD_MS of the delay of each tapped neighbour struck at most MaxPairSeconds before or after
// it (the first note after a rest is thus measured against the next one), and a note given +HELD
// sounds for at least HELD seconds less a tenth (its attack may be slow, so its delay is not
// compared). Prints what it heard; exit 0 when it passes, 1 when not, 2 when the file cannot be
// read or the arguments are wrong.
//
// Only neighbours close in time are compared: a recording's clock and the keys' may run apart
// (recordings of PulseAudio's and PipeWire's null sinks gain 2 to 4 ms a second on the keys here,
// whoever plays into them), which across a rest of seconds would weigh as much as a late note.
#include "WavToneCheck.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

namespace {

constexpr double HeldAllowance = 0.1;
constexpr double MaxPairSeconds = 2.0;

struct TStroke {
  int Note = 0;
  double PressSeconds = 0.0;
  double HeldSeconds = 0.0; // 0: not checked
};

std::optional<TStroke> ParseStroke(const char* text) {
  TStroke stroke;
  char* end = nullptr;
  const long note = std::strtol(text, &end, 10);
  if (end == text || *end != '@' || note < 0 || note > 127)
    return std::nullopt;
  stroke.Note = static_cast<int>(note);
  const char* at = end + 1;
  stroke.PressSeconds = std::strtod(at, &end);
  if (end == at || stroke.PressSeconds < 0.0)
    return std::nullopt;
  if (*end == '+') {
    const char* held = end + 1;
    stroke.HeldSeconds = std::strtod(held, &end);
    if (end == held || stroke.HeldSeconds <= 0.0)
      return std::nullopt;
  }
  if (*end != '\0')
    return std::nullopt;
  return stroke;
}

// Every way the heard notes miss the strokes, printed; the number of faults.
int CountFaults(const std::vector<melo::THeardNote>& heard, const std::vector<TStroke>& strokes,
                double spreadMs) {
  if (heard.size() != strokes.size()) {
    std::printf("FAIL: %zu notes heard where %zu were played\n", heard.size(), strokes.size());
    return 1;
  }
  int faults = 0;
  const auto delayMs = [&](std::size_t i) {
    return 1000.0 * (heard[i].OnsetSeconds - heard[0].OnsetSeconds - strokes[i].PressSeconds);
  };
  const auto tapped = [&](std::size_t i) { return strokes[i].HeldSeconds == 0.0; };
  for (std::size_t i = 0; i < strokes.size(); ++i) {
    if (heard[i].Note != strokes[i].Note) {
      std::printf("FAIL: note %zu is %d, played %d\n", i + 1, heard[i].Note, strokes[i].Note);
      ++faults;
    }
    if (heard[i].Seconds < strokes[i].HeldSeconds - HeldAllowance) {
      std::printf("FAIL: note %zu sounded %.2f s of the %.2f s it was held\n", i + 1,
                  heard[i].Seconds, strokes[i].HeldSeconds);
      ++faults;
    }
    if (i == 0 || !tapped(i) || !tapped(i - 1) ||
        strokes[i].PressSeconds - strokes[i - 1].PressSeconds > MaxPairSeconds) {
      continue;
    }
    const double apartMs = delayMs(i) - delayMs(i - 1);
    if (std::fabs(apartMs) > spreadMs) {
      std::printf("FAIL: note %zu sounded %.1f ms %s after its key than note %zu\n", i + 1,
                  std::fabs(apartMs), apartMs > 0 ? "later" : "sooner", i);
      ++faults;
    }
  }
  return faults;
}

} // namespace

int main(int argc, char** argv) {
  char* end = nullptr;
  const double spreadMs = argc > 2 ? std::strtod(argv[2], &end) : 0.0;
  std::vector<TStroke> strokes;
  for (int i = 3; i < argc; ++i) {
    const std::optional<TStroke> stroke = ParseStroke(argv[i]);
    if (!stroke)
      break;
    strokes.push_back(*stroke);
  }
  if (argc < 4 || end == argv[2] || *end != '\0' || spreadMs <= 0.0 ||
      strokes.size() != static_cast<std::size_t>(argc - 3)) {
    std::fprintf(stderr, "usage: wav_phrase_check FILE.wav SPREAD_MS NOTE@SECONDS[+HELD]...\n");
    return 2;
  }
  melo::TWavAudio audio;
  if (!melo::ReadWav(argv[1], audio)) {
    std::fprintf(stderr, "wav_phrase_check: %s is not a readable WAV recording\n", argv[1]);
    return 2;
  }
  const std::vector<melo::THeardNote> heard = melo::HeardNotes(audio);
  std::printf("heard (note, onset s, length s):");
  for (const melo::THeardNote& note : heard)
    std::printf(" %d@%.3f+%.2f", note.Note, note.OnsetSeconds, note.Seconds);
  std::printf("\n");
  if (CountFaults(heard, strokes, spreadMs) > 0)
    return 1;
  std::printf("OK: every note sounded in order, on time and for as long as it was held\n");
  return 0;
}
