// The synthesizer's speed and response, for the record: real-time factor with
// 64 and 256 sounding voices (against an idle synthesizer measured in the same
// run), the time from NoteOn to the first audible sample, and the cost of one
// send. Usage: bench_synth [soundfont.sf2]
#include "ChannelMessages.h"
#include "sound/KoDirectMusic.h"

#include <fluidsynth.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

using namespace melo;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int BlockFrames = 512;
constexpr double RenderSeconds = 4.0;
constexpr float AudibleLevel = 1e-4f; // -80 dB of full scale
constexpr std::uint32_t ChurchOrgan = 19;

std::vector<std::uint8_t> SoundFontBytes;

std::unique_ptr<TKoDirectMusic> MakeEngine() {
  auto engine = std::make_unique<TKoDirectMusic>(TEngineMode::Offline);
  engine->SelectPort(0);
  engine->LoadCollectionFromStream(SoundFontBytes);
  engine->SetReverbLevel(2);
  fluid_synth_set_polyphony(engine->Synth(), 1024);
  return engine;
}

// Holds organ notes (they do not decay) across the melodic channels until the
// synthesizer plays at least the wanted number of voices.
int StartVoices(TKoDirectMusic& engine, int wanted) {
  for (std::uint8_t channel = 0; channel < 16; ++channel) {
    test::SetPatch(engine, channel, ChurchOrgan);
  }
  for (std::uint8_t channel = 0; channel < 16 && wanted > 0; ++channel) {
    if (channel == DrumChannel) {
      continue;
    }
    for (std::uint8_t note = 36; note < 96; ++note) {
      if (fluid_synth_get_active_voice_count(engine.Synth()) >= wanted) {
        return fluid_synth_get_active_voice_count(engine.Synth());
      }
      test::NoteOn(engine, channel, note, 90);
    }
  }
  return fluid_synth_get_active_voice_count(engine.Synth());
}

struct TRenderRun {
  int Voices = 0;
  double RealTimeFactor = 0.0;
};

TRenderRun MeasureRender(int wantedVoices) {
  auto engine = MakeEngine();
  TRenderRun run;
  StartVoices(*engine, wantedVoices);
  std::vector<float> left(BlockFrames);
  std::vector<float> right(BlockFrames);
  engine->Render(left, right); // voices settle into the mix
  run.Voices = fluid_synth_get_active_voice_count(engine->Synth());
  const int blocks = static_cast<int>(RenderSeconds * TKoDirectMusic::SampleRate / BlockFrames);
  const auto start = Clock::now();
  for (int i = 0; i < blocks; ++i) {
    engine->Render(left, right);
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  run.RealTimeFactor =
      (blocks * static_cast<double>(BlockFrames) / TKoDirectMusic::SampleRate) / seconds;
  return run;
}

// Frames from a NoteOn at the start of a buffer to the first audible sample.
long FramesToSound(std::uint8_t channel, std::uint32_t patch, std::uint8_t note) {
  auto engine = MakeEngine();
  if (channel == DrumChannel) {
    engine->SelectDrumKit();
  } else {
    test::SetPatch(*engine, channel, patch);
  }
  std::vector<float> left(64);
  std::vector<float> right(64);
  engine->Render(left, right);
  test::NoteOn(*engine, channel, note, 100);
  for (long frame = 0; frame < TKoDirectMusic::SampleRate; frame += 64) {
    engine->Render(left, right);
    for (long i = 0; i < 64; ++i) {
      if (std::fabs(left[static_cast<std::size_t>(i)]) > AudibleLevel ||
          std::fabs(right[static_cast<std::size_t>(i)]) > AudibleLevel) {
        return frame + i;
      }
    }
  }
  return -1;
}

double NanosecondsPerSend(TEngineMode mode) {
  constexpr int messages = 200000;
  TKoDirectMusic engine(mode, messages * 3);
  engine.SelectPort(0);
  const auto start = Clock::now();
  for (int i = 0; i < messages; ++i) {
    engine.SendMidiMessage(0xB0, 1, static_cast<std::uint8_t>(i & 0x7F)); // modulation wheel
  }
  return std::chrono::duration<double, std::nano>(Clock::now() - start).count() / messages;
}

void PrintLatency(const char* what, long frames) {
  std::printf("  %-28s %5ld frames  %6.2f ms\n", what, frames,
              frames * 1000.0 / TKoDirectMusic::SampleRate);
}

} // namespace

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : "/usr/share/sounds/sf2/TimGM6mb.sf2";
  std::ifstream file(path, std::ios::binary);
  SoundFontBytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  if (SoundFontBytes.empty()) {
    std::fprintf(stderr, "cannot read %s\n", path);
    return 1;
  }
  int instruments = 0;
  {
    const auto probe = MakeEngine();
    instruments = InstrumentList.Count;
  }
  std::printf(
      "Sound set: %s, %d instruments; %d Hz, blocks of %d frames, %.0f s rendered per run\n", path,
      instruments, TKoDirectMusic::SampleRate, BlockFrames, RenderSeconds);

  const TRenderRun idle = MeasureRender(0);
  std::printf("Real-time factor (audio time / render time):\n");
  std::printf("  idle (baseline)   %4d voices  %8.1f x real time\n", idle.Voices,
              idle.RealTimeFactor);
  for (int wanted : {64, 256}) {
    const TRenderRun run = MeasureRender(wanted);
    std::printf("  %3d voices wanted %4d voices  %8.1f x real time  (render cost %.1f x the idle "
                "baseline)\n",
                wanted, run.Voices, run.RealTimeFactor, idle.RealTimeFactor / run.RealTimeFactor);
  }

  std::printf("NoteOn to first sample above -80 dBFS in the rendered buffer:\n");
  PrintLatency("piano, note 60", FramesToSound(0, 0, 60));
  PrintLatency("organ, note 60", FramesToSound(0, ChurchOrgan, 60));
  PrintLatency("drum kit, note 38 (snare)", FramesToSound(DrumChannel, 0, 38));
  std::printf(
      "  (live playing adds the audio driver's buffer: 128 x 2 frames = 5.8 ms by default)\n");

  const double capture = NanosecondsPerSend(TEngineMode::Capture);
  const double synth = NanosecondsPerSend(TEngineMode::Offline);
  std::printf("One SendMidiMessage, uncontended: capture port %.0f ns (baseline), synthesizer %.0f "
              "ns (%.1f x)\n",
              capture, synth, synth / capture);
  return 0;
}
