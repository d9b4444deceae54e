// Timing at the audio output, measured through a real audio path: the engine
// plays to ALSA's default device, which ALSA's jack plugin routes into a JACK
// server with the dummy back-end (no sound card needed); a JACK client of this
// benchmark captures the ports frame by frame.
// - key -> first audible sample, per response-time setting 10..100 (a key
//   goes out at once: a note-on sent to the engine, stamped on JACK's clock);
// - accompaniment drum onsets against the ideal sixteenth grid (median, p99,
//   max after fitting one constant delay) at settings 10, 40 and 100, with
//   the notes placed at their sample, against the baseline of handing them
//   over at once (as before); and the bass part's onsets, placed at their
//   sample, beside them.
// Then the same through the program's own JACK output ("--audio jack"), whose
// latency the server's period sets, whatever the setting.
// Starts its own JACK servers (jackd -n UNIQUE -d dummy -r 48000 -p 128 for
// the keys, -p 256 for the onsets) and points ALSA at them through an
// .asoundrc in a temporary HOME. Figures taken while the server missed a
// cycle are left out and counted as lost. Prints figures; never fails a
// build. Run it on a quiet machine when the figures matter.
// - key -> first audible sample after ten seconds of silence (the synthesizer
//   rests, the device's thread sleeps) against the same ten seconds while a
//   quiet note sounds, at settings 10 and 40.
//   bench_audio_output [--keys | --onsets | --rest] [msf4.s]
#include "ChannelMessages.h"
#include "music/AutoAccomp.h"
#include "music/KoMetronome.h"
#include "sound/KoDirectMusic.h"

#include <jack/jack.h>

#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

using namespace melo;

namespace {

constexpr int JackRate = 48000;
constexpr std::size_t CaptureSeconds = 480; // the keys' rows, then the rests'
constexpr float Audible = 0.003f;           // about -50 dBFS
constexpr float Uncaptured = -1.0f;         // a peak never is

// The captured peak of both ports per frame, indexed by JACK frame time.
class TCapture {
public:
  bool Open(const std::string& server) {
    jack_status_t status{};
    FClient = jack_client_open(ClientName().c_str(),
                               static_cast<jack_options_t>(JackNoStartServer | JackServerName),
                               &status, server.c_str());
    if (FClient == nullptr)
      return false;
    FIn[0] = jack_port_register(FClient, "in_1", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    FIn[1] = jack_port_register(FClient, "in_2", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    FPeaks.assign(CaptureSeconds * JackRate, Uncaptured);
    jack_set_process_callback(FClient, &Process, this);
    jack_set_xrun_callback(FClient, &XRun, this);
    return FIn[0] && FIn[1] && jack_activate(FClient) == 0;
  }
  ~TCapture() { Close(); }
  void Close() {
    if (FClient) {
      jack_deactivate(FClient);
      jack_client_close(FClient);
      FClient = nullptr;
    }
  }
  static std::string ClientName() { return "meloprobe" + std::to_string(getpid()); }

  // JACK's frame at a moment of its clock (microseconds, CLOCK_MONOTONIC).
  std::int64_t FrameAt(jack_time_t usecs) const { return jack_time_to_frames(FClient, usecs); }
  jack_time_t Now() const { return jack_get_time(); }
  // First frame at or after from (JACK frame time) whose peak is audible, -1 if none before to.
  std::int64_t FirstAudible(std::int64_t from, std::int64_t to) const {
    const std::int64_t first = FFirst.load();
    const std::int64_t last = first + FFilled.load();
    for (std::int64_t f = std::max(from, first); f < std::min(to, last); ++f) {
      if (FPeaks[std::size_t(f - first)] > Audible)
        return f;
    }
    return -1;
  }
  // Whether every frame from from to to (exclusive) was captured: a cycle
  // the server skipped for this client, or ran too late, leaves a hole, and
  // a figure taken across one would measure the hole.
  bool Whole(std::int64_t from, std::int64_t to) const {
    const std::int64_t first = FFirst.load();
    const std::int64_t last = first + FFilled.load();
    if (from < first || to > last)
      return false;
    for (std::int64_t f = from; f < to; ++f) {
      if (FPeaks[std::size_t(f - first)] < 0)
        return false;
    }
    return true;
  }
  // Attacks between from and to: a frame above threshold that is at least
  // four times louder than anything from 12 to 2 ms before it (a stroke's
  // own decay never is, the next stroke over the previous one's tail is; the
  // 2 ms leave room for the attack's rise), at least gap frames after the
  // previous attack.
  // Attacks whose look-back was not wholly captured, or that follow a missed
  // cycle of the server, are left out and counted in lost.
  std::vector<std::int64_t> Onsets(std::int64_t from, std::int64_t to, std::int64_t gap,
                                   float threshold, int& lost) const {
    std::vector<std::int64_t> onsets;
    const std::int64_t first = FFirst.load();
    const std::int64_t last = first + FFilled.load();
    const std::int64_t window = JackRate / 100, rise = JackRate / 500;
    std::int64_t previous = -1;
    for (std::int64_t f = std::max(from, first + window + rise); f < std::min(to, last); ++f) {
      const float peak = FPeaks[std::size_t(f - first)];
      if (peak <= threshold || (previous >= 0 && f - previous <= gap))
        continue;
      const auto before = FPeaks.begin() + std::ptrdiff_t(f - first - rise);
      if (!Whole(f - rise - window, f + 1) || Disturbed(f - rise - window, f)) {
        ++lost;
        previous = f;
      } else if (*std::max_element(before - window, before) * 4 < peak) {
        onsets.push_back(f);
        previous = f;
      }
    }
    return onsets;
  }
  // The smallest of the peaks of each whole second from from to to: whether
  // something sounded all through.
  float QuietestSecond(std::int64_t from, std::int64_t to) const {
    const std::int64_t first = FFirst.load();
    const std::int64_t last = std::min(to, first + FFilled.load());
    float quietest = Audible;
    for (std::int64_t f = std::max(from, first); f + JackRate <= last; f += JackRate) {
      const auto second = FPeaks.begin() + std::ptrdiff_t(f - first);
      quietest = std::min(quietest, *std::max_element(second, second + JackRate));
    }
    return quietest;
  }
  std::int64_t CapturedUpTo() const { return FFirst.load() + FFilled.load(); }
  // The server's missed cycles so far: figures taken across them are not the program's.
  int XRuns() const { return FXRuns.load(); }
  // Whether the server missed a cycle from a while before from up to to: the
  // output behind the plugin may have run dry and be refilling, so what is
  // heard then shows the server's stall, not the program's timing.
  bool Disturbed(std::int64_t from, std::int64_t to) const {
    const std::int64_t settle = JackRate / 4;
    const std::size_t n = std::min<std::size_t>(std::size_t(FXRuns.load()), FXRunFrames.size());
    for (std::size_t i = 0; i < n; ++i) {
      const std::int64_t x = FXRunFrames[i].load();
      if (x >= from - settle && x <= to)
        return true;
    }
    return false;
  }

  // Connects the first two audio outputs of a client to in_1 and in_2.
  bool ConnectFrom(const std::string& client) {
    const char** ports = jack_get_ports(FClient, ("^" + client + ":").c_str(),
                                        JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput);
    bool connected = ports != nullptr && ports[0] != nullptr && ports[1] != nullptr;
    for (int i = 0; connected && i < 2; ++i) {
      const int error = jack_connect(FClient, ports[i], jack_port_name(FIn[i]));
      connected = error == 0 || error == EEXIST;
    }
    jack_free(ports);
    return connected;
  }

private:
  static int XRun(void* arg) {
    auto* self = static_cast<TCapture*>(arg);
    const int n = self->FXRuns.load();
    if (std::size_t(n) < self->FXRunFrames.size())
      self->FXRunFrames[std::size_t(n)].store(jack_frame_time(self->FClient));
    self->FXRuns.store(n + 1);
    return 0;
  }
  static int Process(jack_nframes_t frames, void* arg) {
    auto* self = static_cast<TCapture*>(arg);
    const auto* a = static_cast<const float*>(jack_port_get_buffer(self->FIn[0], frames));
    const auto* b = static_cast<const float*>(jack_port_get_buffer(self->FIn[1], frames));
    const std::int64_t start = jack_last_frame_time(self->FClient);
    if (self->FFirst.load() < 0)
      self->FFirst.store(start);
    const std::int64_t at = start - self->FFirst.load();
    for (jack_nframes_t i = 0; i < frames; ++i) {
      if (std::size_t(at) + i < self->FPeaks.size())
        self->FPeaks[std::size_t(at) + i] = std::max(std::fabs(a[i]), std::fabs(b[i]));
    }
    self->FFilled.store(std::min<std::int64_t>(at + frames, std::int64_t(self->FPeaks.size())));
    return 0;
  }

  jack_client_t* FClient = nullptr;
  jack_port_t* FIn[2] = {nullptr, nullptr};
  std::vector<float> FPeaks;
  std::atomic<std::int64_t> FFirst{-1};
  std::atomic<std::int64_t> FFilled{0};
  std::atomic<int> FXRuns{0};
  std::array<std::atomic<std::int64_t>, 4096> FXRunFrames{};
};

// Not a number when nothing was measured: the row prints "nan", never a figure.
struct TStats {
  double Median = std::nan(""), P99 = std::nan(""), Max = std::nan("");
};

TStats StatsOf(std::vector<double> v) {
  TStats s;
  if (v.empty())
    return s;
  std::sort(v.begin(), v.end());
  s.Median = v[v.size() / 2];
  s.P99 = v[std::min(v.size() - 1, std::size_t(std::ceil(0.99 * double(v.size()))) - 1)];
  s.Max = v.back();
  return s;
}

void Sleep(double ms) {
  std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(ms));
}

void ApplyResponseTime(TKoDirectMusic& engine, int latency) {
  // As the program applies its settings.
  engine.SetResponseTime(latency);
}

// The engine on ALSA's default device (routed into JACK by the plugin), or
// on its own JACK output, whose ports the capture then takes.
std::unique_ptr<TKoDirectMusic> OpenEngine(const char* setPath, bool place, TCapture* jack) {
  TEngineOptions options;
  options.PlaceTimedMessages = place;
  auto engine = std::make_unique<TKoDirectMusic>(options);
  if (!engine->SelectPort(0) || !engine->LoadCollectionFromMappedFile(setPath))
    return nullptr;
  if (jack && (!engine->SelectAudioOutput("jack") || !jack->ConnectFrom("Melotastico")))
    return nullptr;
  engine->SetVolume(0);
  engine->SetReverbLevel(0); // a clean onset
  engine->SelectDrumKit();
  return engine;
}

// Key -> first audible sample: a short drum stroke sent at once, count times
// at uneven moments (or each after quietMs of silence). Milliseconds.
std::vector<double> KeyLatencies(TKoDirectMusic& engine, TCapture& capture, int& lost,
                                 int count = 10, double quietMs = 0) {
  std::vector<double> latencies;
  for (int k = 0; k < count; ++k) {
    Sleep(quietMs > 0 ? quietMs + 37 * (k % 5) : 150 + 37 * (k % 5));
    const jack_time_t pressed = capture.Now();
    test::NoteOn(engine, 9, 76, 127); // hi wood block
    Sleep(250);
    test::NoteOff(engine, 9, 76);
    Sleep(100);
    const std::int64_t from = capture.FrameAt(pressed);
    const std::int64_t heard = capture.FirstAudible(from, capture.CapturedUpTo());
    if (heard >= 0 && capture.Whole(from, heard + 1) && !capture.Disturbed(from, heard)) {
      latencies.push_back(double(heard - from) * 1000.0 / JackRate);
    } else {
      ++lost;
    }
  }
  return latencies;
}

// The parts whose onsets are measured.
enum class TOnsetPart { Drums, Bass };

// A melodic instrument as short as the drums' wood block (General MIDI
// "Woodblock", counting programs from 0).
constexpr std::uint8_t MelodicWoodBlock = 115;

// One bar of wood-block strokes on every sixteenth, on the drums' channel or
// as the bass part (the octave over the chord's root), the other parts silent.
TAccompStyle WoodBlockSixteenths(TOnsetPart part) {
  TAccompStyle style = PresetStyles[0];
  TAccompSection& main = style.MainSection;
  main.DrumBeats = 4;
  main.DrumTwoBars = 0;
  main.TwoBars = 0;
  main.PercussionLevel = part == TOnsetPart::Drums ? 9 : 0;
  for (TDrumTrack& track : main.DrumTracks)
    track.Active = 0;
  main.DrumTracks[0] = {1, 76, 9, {}, {}};
  main.DrumTracks[0].OnSteps.fill(1);
  main.ChordLevel = main.ArpeggioLevel = 0;
  main.BassLevel = part == TOnsetPart::Bass ? 9 : 0;
  main.BassPart = {4, 0, MelodicWoodBlock, {}};
  main.BassPart.Steps.fill(7);
  return style;
}

// Onsets of a part playing eight seconds of sixteenths at tempo 100 against
// the grid of the metronome's own clock, after removing the median delay.
// Milliseconds.
std::vector<double> OnsetErrors(TKoDirectMusic& engine, TCapture& capture,
                                std::int64_t steadyToJackUs, TOnsetPart part, int& lost) {
  TAutoAccomp accomp(Metronome);
  accomp.Engine = &engine;
  accomp.SetLibraryStyle(0, WoodBlockSixteenths(part));
  accomp.SetAccompStyleGroup(0);
  // Both strike at velocity 81: 9 x 81 x 9 div 81 and 9 x 81 div 9.
  accomp.SetAPercussVolume(81);
  accomp.SetABassVolume(81);
  accomp.SetStart(true);
  Metronome.SetRunning(true);
  Sleep(8000);
  // The clock of record: its first tick set the start of the grid.
  const double startMs =
      Metronome.SixteenthStartMs() -
      std::floor(Metronome.BarPosition() * 16 + 1e-9) * 60000.0 / (Metronome.Tempo() * 4);
  Metronome.SetRunning(false);
  accomp.SetStart(false);
  Sleep(500);
  const double sixteenthMs = 60000.0 / (Metronome.Tempo() * 4);
  auto frameOfMs = [&](double ms) {
    return capture.FrameAt(jack_time_t(std::llround(ms * 1000.0) + steadyToJackUs));
  };
  const std::int64_t from = frameOfMs(startMs);
  const auto onsets = capture.Onsets(from, capture.CapturedUpTo(), JackRate / 20, 0.05f, lost);
  // Offsets from the grid, taken around the first onset's: a delay near half
  // a sixteenth would otherwise split the onsets between two grid lines.
  const auto wrap = [&](double ms) {
    return ms - std::floor(ms / sixteenthMs + 0.5) * sixteenthMs;
  };
  const auto msOf = [&](std::int64_t frame) { return double(frame - from) * 1000.0 / JackRate; };
  std::vector<double> offsets;
  for (std::int64_t onset : onsets)
    offsets.push_back(wrap(msOf(onset) - msOf(onsets.front())));
  std::vector<double> sorted = offsets;
  std::sort(sorted.begin(), sorted.end());
  const double delay = sorted.empty() ? 0 : sorted[sorted.size() / 2];
  std::vector<double> errors;
  for (double o : offsets)
    errors.push_back(std::fabs(wrap(o - delay)));
  return errors;
}

// A private JACK server with the dummy back-end, and the capture on it.
class TServer {
public:
  TServer(const std::string& name, int period) {
    const std::string frames = std::to_string(period);
    const char* args[] = {"jackd", "-n",    name.c_str(), "-d",           "dummy",
                          "-r",    "48000", "-p",         frames.c_str(), nullptr};
    setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
    if (posix_spawnp(&FPid, "jackd", nullptr, nullptr, const_cast<char**>(args), environ) != 0) {
      FPid = 0;
      return;
    }
    for (int i = 0; i < 100 && !(FOpen = Capture.Open(name)); ++i)
      Sleep(100);
    const auto steadyUs = std::chrono::duration_cast<std::chrono::microseconds>(
                              std::chrono::steady_clock::now().time_since_epoch())
                              .count();
    SteadyToJackUs = FOpen ? std::int64_t(Capture.Now()) - steadyUs : 0;
  }
  ~TServer() {
    Capture.Close();
    if (FPid > 0) {
      kill(FPid, SIGTERM);
      waitpid(FPid, nullptr, 0);
    }
  }
  bool Open() const { return FOpen; }

  TCapture Capture;
  std::int64_t SteadyToJackUs = 0;

private:
  pid_t FPid = 0;
  bool FOpen = false;
};

// Key -> first audible sample per setting through ALSA, then through the
// program's own JACK output: that row is the path from any client of the
// server to the capture, which the ALSA rows also take.
int KeyRows(const char* setPath, TCapture& capture) {
  std::printf("key -> first audible sample (ms; goal: the setting plus at most %.1f ms)\n",
              64 * 1000.0 / TKoDirectMusic::SampleRate);
  std::printf("%8s %8s %8s %8s %6s %6s %14s %s\n", "setting", "median", "p99", "max", "xruns",
              "lost", "driver buffer", " median less the JACK row");
  struct TRow {
    int Setting;
    TStats Stats;
    int XRuns, Lost;
    TDriverBuffer Buffer;
  };
  std::vector<TRow> rows;
  int result = 0;
  if (auto engine = OpenEngine(setPath, true, nullptr)) {
    for (int latency = 10; latency <= 100; latency += 10) {
      ApplyResponseTime(*engine, latency);
      Sleep(300);
      const int xruns = capture.XRuns();
      int lost = 0;
      const TStats s = StatsOf(KeyLatencies(*engine, capture, lost));
      rows.push_back({latency, s, capture.XRuns() - xruns, lost, engine->DriverBuffer()});
    }
  } else {
    std::fprintf(stderr, "the engine cannot play through ALSA's default device\n");
    result = 1;
  }
  TStats jack;
  int jackXRuns = 0, jackLost = 0;
  if (auto engine = OpenEngine(setPath, true, &capture)) {
    Sleep(300);
    const int xruns = capture.XRuns();
    // More strokes: every row's last column leans on this median.
    jack = StatsOf(KeyLatencies(*engine, capture, jackLost, 30));
    jackXRuns = capture.XRuns() - xruns;
  } else {
    std::fprintf(stderr, "the engine cannot play through its JACK output\n");
    result = 1;
  }
  for (const TRow& r : rows) {
    std::printf("%8d %8.1f %8.1f %8.1f %6d %6d %5d x %d %4.1f %8.1f\n", r.Setting, r.Stats.Median,
                r.Stats.P99, r.Stats.Max, r.XRuns, r.Lost, r.Buffer.PeriodFrames,
                r.Buffer.PeriodCount, HeardLatencyMs(r.Buffer, TKoDirectMusic::SampleRate),
                r.Stats.Median - jack.Median);
  }
  std::printf("%8s %8.1f %8.1f %8.1f %6d %6d\n", "JACK", jack.Median, jack.P99, jack.Max, jackXRuns,
              jackLost);
  return result;
}

// A note that keeps the synthesizer busy far below what the capture counts
// as heard: a church organ (it sustains for ever) at a whisper.
constexpr std::uint8_t QuietChannel = 0;
constexpr std::uint8_t QuietNote = 48;
constexpr std::uint32_t ChurchOrgan = 19;
constexpr int RestStrokes = 8; // of each kind, at each setting

void SoundQuietNote(TKoDirectMusic& engine, bool on) {
  if (on) {
    test::SetPatch(engine, QuietChannel, ChurchOrgan);
    test::ControlChange(engine, QuietChannel, 7, 6); // channel volume
    test::NoteOn(engine, QuietChannel, QuietNote, 40);
  } else {
    test::NoteOff(engine, QuietChannel, QuietNote);
  }
}

// Key -> first audible sample after ten seconds with no key, once while a
// (quiet) note sounds and once in silence, when the synthesizer rests and a
// sound device's thread sleeps; the two alternate on one engine, so that
// whatever ten seconds of idleness do to the machine weigh on both alike.
// At settings 10 and 40.
int RestRows(const char* setPath, TCapture& capture) {
  std::printf("key -> first audible sample 10 s after the last key (ms; goal: in silence as "
              "while a note sounds, within one synthesizer block, %.1f ms)\n",
              64 * 1000.0 / TKoDirectMusic::SampleRate);
  std::printf("%8s %15s %15s %15s %15s %10s %6s %s\n", "setting", "sounding median", "sounding max",
              "silent median", "silent max", "difference", "lost",
              " quiet note's lowest peak (dBFS)");
  for (int latency : {10, 40}) {
    const auto engine = OpenEngine(setPath, true, nullptr);
    if (!engine) {
      std::fprintf(stderr, "the engine cannot play through ALSA's default device\n");
      return 1;
    }
    ApplyResponseTime(*engine, latency);
    Sleep(300);
    std::vector<double> latencies[2];
    int lost = 0;
    float quietest = Audible;
    for (int k = 0; k < RestStrokes; ++k) {
      for (bool sounding : {true, false}) {
        SoundQuietNote(*engine, sounding);
        const std::int64_t quietFrom = capture.FrameAt(capture.Now()) + JackRate;
        const auto one = KeyLatencies(*engine, capture, lost, 1, 10000 + 37 * (k % 5));
        if (sounding) {
          quietest =
              std::min(quietest, capture.QuietestSecond(quietFrom, quietFrom + 8 * JackRate));
        }
        auto& kind = latencies[sounding ? 0 : 1];
        kind.insert(kind.end(), one.begin(), one.end());
      }
    }
    const TStats sounding = StatsOf(latencies[0]), silent = StatsOf(latencies[1]);
    std::printf("%8d %15.1f %15.1f %15.1f %15.1f %10.1f %6d %8.1f\n", latency, sounding.Median,
                sounding.Max, silent.Median, silent.Max, silent.Median - sounding.Median, lost,
                20 * std::log10(quietest));
  }
  return 0;
}

void OnsetRow(const char* label, const char* handOver, TOnsetPart part, TKoDirectMusic& engine,
              TServer& server) {
  Sleep(300);
  const int xruns = server.Capture.XRuns();
  int lost = 0;
  const auto errors = OnsetErrors(engine, server.Capture, server.SteadyToJackUs, part, lost);
  const TStats s = StatsOf(errors);
  std::printf("%8s %-6s %-22s %8.2f %8.2f %8.2f %6zu %6d %6d\n", label,
              part == TOnsetPart::Drums ? "drums" : "bass", handOver, s.Median, s.P99, s.Max,
              errors.size(), server.Capture.XRuns() - xruns, lost);
}

// Drum onsets at settings 10, 40 and 100 and through the JACK output, each
// placed at their sample and, as the baseline, handed over at once; the bass
// part's onsets, placed at their sample, beside the drums' of the same setting.
void OnsetRows(const char* setPath, TServer& server) {
  std::printf("\naccompaniment onsets against the sixteenth grid (ms, |error| after the median "
              "delay; goal p99 <= 1.5, the bass's within the drums')\n");
  std::printf("%8s %-6s %-22s %8s %8s %8s %6s %6s %6s\n", "setting", "part", "hand-over", "median",
              "p99", "max", "notes", "xruns", "lost");
  const auto rows = [&](const char* label, bool place, TKoDirectMusic& engine) {
    const char* handOver = place ? "at their sample" : "at once (baseline)";
    OnsetRow(label, handOver, TOnsetPart::Drums, engine, server);
    if (place)
      OnsetRow(label, handOver, TOnsetPart::Bass, engine, server);
  };
  for (int latency : {10, 40, 100}) {
    for (bool place : {false, true}) {
      if (auto engine = OpenEngine(setPath, place, nullptr)) {
        ApplyResponseTime(*engine, latency);
        rows(std::to_string(latency).c_str(), place, *engine);
      }
    }
  }
  for (bool place : {false, true}) {
    if (auto engine = OpenEngine(setPath, place, &server.Capture))
      rows("JACK", place, *engine);
  }
}

} // namespace

int main(int argc, char** argv) {
  // --keys, --onsets or --rest: only those rows (a quick look while tuning the output).
  bool keys = true, onsets = true, rests = true;
  const char* setPath = MELO_SOUND_SET_PATH;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--keys" || arg == "--onsets" || arg == "--rest") {
      keys = arg == "--keys";
      onsets = arg == "--onsets";
      rests = arg == "--rest";
    } else {
      setPath = argv[i];
    }
  }
  const std::string server = "melobench" + std::to_string(getpid());

  // A HOME of our own whose .asoundrc sends ALSA's default device into JACK,
  // and no PulseAudio for ALSA's pulse hook to find.
  const auto home = std::filesystem::temp_directory_path() / ("melo-audio-" + server);
  std::filesystem::create_directories(home);
  std::ofstream(home / ".asoundrc")
      << "pcm.!default { type plug slave.pcm \"j\" }\n"
      << "pcm.j { type jack playback_ports { 0 " << TCapture::ClientName() << ":in_1 1 "
      << TCapture::ClientName() << ":in_2 } }\n";
  setenv("HOME", home.c_str(), 1);
  setenv("PULSE_SERVER", "unix:/nonexistent", 1);

  int result = 0;
  // Keys need the short period: the jack plugin grants only whole periods of
  // the server, and setting 10 must be reachable. Onsets are measured on a
  // 256-frame server: this machine's late wake-ups make the dummy back-end
  // miss several cycles a second at 128 frames, and each miss shifts what is
  // heard; the placing itself does not depend on the server's period.
  if (keys || rests) {
    TServer jack(server + "k", 128);
    if (!jack.Open()) {
      result = 1;
    } else {
      result |= keys ? KeyRows(setPath, jack.Capture) : 0;
      result |= rests ? RestRows(setPath, jack.Capture) : 0;
    }
  }
  if (onsets) {
    TServer jack(server + "o", 256);
    if (jack.Open()) {
      OnsetRows(setPath, jack);
    } else {
      result = 1;
    }
  }
  std::error_code error;
  std::filesystem::remove_all(home, error);
  return result;
}
