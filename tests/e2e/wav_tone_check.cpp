// wav_tone_check FILE.wav FREQUENCY_HZ [TOLERANCE] [TAIL_SECONDS]
// Checks that a recording holds one note near FREQUENCY_HZ that stopped before its last
// TAIL_SECONDS. Prints what it measured; exit 0 when it passes, 1 when it does not, 2 when
// the file cannot be read or the arguments are wrong.
#include "WavToneCheck.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

bool ParseNumber(const char* text, double& value) {
  char* end = nullptr;
  value = std::strtod(text, &end);
  return end != text && *end == '\0' && value > 0.0;
}

} // namespace

int main(int argc, char** argv) {
  melo::TToneExpectation expect;
  const bool argsOk = argc >= 3 && argc <= 5 && ParseNumber(argv[2], expect.FrequencyHz) &&
                      (argc < 4 || ParseNumber(argv[3], expect.Tolerance)) &&
                      (argc < 5 || ParseNumber(argv[4], expect.TailSeconds));
  if (!argsOk) {
    std::fprintf(stderr,
                 "usage: wav_tone_check FILE.wav FREQUENCY_HZ [TOLERANCE] [TAIL_SECONDS]\n");
    return 2;
  }
  melo::TWavAudio audio;
  if (!melo::ReadWav(argv[1], audio)) {
    std::fprintf(stderr, "wav_tone_check: %s is not a readable WAV recording\n", argv[1]);
    return 2;
  }
  const melo::TToneReport report = melo::AnalyseTone(audio, expect.TailSeconds);
  std::printf("recording %.2f s at %d Hz; peak %.1f dB; pitch %.1f Hz; loud for %.2f s; last %.1f "
              "s at %.1f dB\n",
              report.TotalSeconds, audio.SampleRate, report.PeakLevelDb, report.FrequencyHz,
              report.LoudSeconds, expect.TailSeconds, report.TailLevelDb);
  const auto faults = melo::ToneFaults(report, expect);
  for (const std::string& fault : faults) {
    std::printf("FAIL: %s\n", fault.c_str());
  }
  if (faults.empty()) {
    std::printf("OK: a %.1f Hz tone sounded and stopped\n", expect.FrequencyHz);
  }
  return faults.empty() ? 0 : 1;
}
