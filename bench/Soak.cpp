// Soak: the piano left playing for a long time, to catch growth, stalls and
// notes left hanging. One performance drives the real synthesizer (offline
// port, its output rendered by a thread of its own paced like a sound card's
// periods) with the real metronome, accompaniment and recorder. It plays in
// rounds: the accompaniment runs while a random stream of key presses and
// releases is recorded, then the recording plays in a loop (with the pause
// the window leaves between loops) while the random keys go on arriving, and
// Esc ends the playback. Every key, command and Esc goes through the key path
// as the window delivers it; the player ticks and the 3 s period-pedal
// renewal run on this "UI" thread through the program's own dispatcher.
//
//   bench_soak [--minutes N] [--seed S] [sound set]
//
// The offline port renders under the engine's lock, where a sound card's
// driver does not: a key or message may wait for the period being rendered,
// so the worst times here are an upper bound of the program's.
//
// Reports resident memory at the start, after the first round and at the
// end, the voices still sounding after the final Esc (must be 0: the exit
// status says whether it was), and the worst time a key, a player tick, an
// accompaniment message and a render period took.
#include "app/KoPerformance.h"
#include "app/SimpleRecorder.h"
#include "music/AutoAccomp.h"
#include "music/KoMetronome.h"
#include "music/KoTimer.h"
#include "sound/KoDirectMusic.h"

#include <fluidsynth.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <initializer_list>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace melo;

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto FreePlay = std::chrono::seconds(30);
constexpr auto LoopPlay = std::chrono::seconds(40);
constexpr auto LoopPause = std::chrono::milliseconds(500); // as the window waits between loops
constexpr auto PedalRenewal = std::chrono::seconds(3);
constexpr int PeriodFrames = 256;
constexpr int MaxHeldKeys = 6;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Resident memory in KiB: all of it, and the part not backed by files. The
// built-in sound set is mapped, so its waves count as file pages once played.
struct TResident {
  long Total = -1;
  long Anonymous = -1;
};

TResident Resident() {
  std::ifstream status("/proc/self/status");
  std::string line;
  TResident resident;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) {
      resident.Total = std::atol(line.c_str() + 6);
    } else if (line.rfind("RssAnon:", 0) == 0) {
      resident.Anonymous = std::atol(line.c_str() + 8);
    }
  }
  return resident;
}

// The "UI thread": calls posted by the timers, run by the main loop.
class TUiQueue {
public:
  void Post(TUiCall call) {
    {
      std::lock_guard lock(FLock);
      FCalls.push_back(std::move(call));
    }
    FWake.notify_one();
  }
  // Waits until a call is posted or until, then takes what is there.
  std::deque<TUiCall> Take(Clock::time_point until) {
    std::unique_lock lock(FLock);
    FWake.wait_until(lock, until, [this] { return !FCalls.empty(); });
    std::deque<TUiCall> calls;
    calls.swap(FCalls);
    return calls;
  }

private:
  std::mutex FLock;
  std::condition_variable FWake;
  std::deque<TUiCall> FCalls;
};

// The accompaniment's way to the engine, timing each message it sends from
// the metronome's worker.
class TTimedSink final : public TMidiMessageSink {
public:
  explicit TTimedSink(TMidiMessageSink& target) : FTarget(target) {}
  bool SendMidiMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) override {
    const Clock::time_point start = Clock::now();
    const bool sent = FTarget.SendMidiMessage(status, data1, data2);
    const double ms = MsSince(start);
    double worst = Worst.load();
    while (ms > worst && !Worst.compare_exchange_weak(worst, ms)) {
    }
    ++Count;
    return sent;
  }
  std::atomic<double> Worst{0};
  std::atomic<long> Count{0};

private:
  TMidiMessageSink& FTarget;
};

// Durations: the worst, and a fixed histogram (0.01 ms steps up to 100 ms)
// for percentiles, so that counting never allocates while the soak runs.
struct TTimes {
  static constexpr int Buckets = 10000;
  double Ms = 0;
  long Count = 0;
  std::vector<long> Histogram = std::vector<long>(Buckets + 1);
  void Add(double ms) {
    Ms = std::max(Ms, ms);
    ++Count;
    ++Histogram[static_cast<std::size_t>(std::clamp(ms * 100, 0.0, double{Buckets}))];
  }
  double Percentile(double share) const {
    long seen = 0;
    for (int i = 0; i <= Buckets; ++i) {
      seen += Histogram[static_cast<std::size_t>(i)];
      if (static_cast<double>(seen) >= share * static_cast<double>(Count))
        return (i + 1) / 100.0;
    }
    return Ms;
  }
};

// The sound card: renders one period of the engine at each period's deadline.
class TPacedRenderer {
public:
  explicit TPacedRenderer(TKoDirectMusic& engine) : FEngine(engine) {
    FThread = std::thread([this] { Run(); });
  }
  ~TPacedRenderer() { Stop(); }
  void Stop() {
    FStop = true;
    if (FThread.joinable())
      FThread.join();
  }
  // Renders n periods now (the thread is stopped).
  void RenderNow(int periods) {
    for (int i = 0; i < periods; ++i)
      FEngine.Render(FLeft, FRight);
  }
  TTimes Times;
  long Late = 0; // periods that took longer than a period

private:
  void Run() {
    const auto period =
        std::chrono::nanoseconds(1'000'000'000LL * PeriodFrames / TKoDirectMusic::SampleRate);
    const double periodMs = std::chrono::duration<double, std::milli>(period).count();
    Clock::time_point deadline = Clock::now();
    while (!FStop) {
      const Clock::time_point start = Clock::now();
      FEngine.Render(FLeft, FRight);
      const double ms = MsSince(start);
      Times.Add(ms);
      Late += ms > periodMs ? 1 : 0;
      deadline += period;
      // A stall longer than the buffer is an underrun: start afresh.
      if (Clock::now() > deadline + 4 * period)
        deadline = Clock::now();
      std::this_thread::sleep_until(deadline);
    }
  }
  TKoDirectMusic& FEngine;
  std::vector<float> FLeft = std::vector<float>(PeriodFrames);
  std::vector<float> FRight = std::vector<float>(PeriodFrames);
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

} // namespace

int main(int argc, char** argv) {
  double minutes = 10;
  unsigned seed = 16;
  std::string soundSet = MELO_SOUND_SET_PATH;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--minutes") == 0 && i + 1 < argc) {
      minutes = std::max(0.1, std::atof(argv[++i]));
    } else if (std::strcmp(argv[i], "--seed") == 0 && i + 1 < argc) {
      seed = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
    } else {
      soundSet = argv[i];
    }
  }

  TUiQueue ui;
  SetUiDispatcher([&ui](TUiCall call) { ui.Post(std::move(call)); });

  // The engine as the window starts it, with the offline port for the sound card.
  TKoDirectMusic engine(TEngineMode::Offline);
  if (!engine.SelectPort(0) || !engine.LoadCollectionFromMappedFile(soundSet)) {
    std::fprintf(stderr, "cannot load %s\n", soundSet.c_str());
    return 2;
  }
  engine.SetReverbLevel(2);
  engine.SetVolume(0);
  TInstrumentListVoices voices;
  TTimedSink accompSink(engine);
  TSimpleRecorder recorder;
  TAutoAccomp accomp;
  accomp.Engine = &accompSink;
  accomp.Recorder = &recorder;
  accomp.SetAccompStyleGroup(0);

  TKoPerformance performance;
  performance.SetSink(&engine);
  performance.SetVoices(&voices);
  performance.SetRecorder(&recorder);
  performance.SetAccomp(&accomp);
  performance.SetRightVoice(0);
  performance.SetLeftVoice(0);
  engine.SelectDrumKit();

  // The window's bindings: the song's state at each start, its events through
  // the key path, and at its end a new loop after a pause (the main loop
  // waits instead of sleeping).
  Clock::time_point restartAt = Clock::time_point::max();
  long loops = 0;
  recorder.OnPlayStart = [&](TSimpleRecorder& r) {
    performance.SetSongRawDrums(SongHasRawDrumStrikes(r.Events()));
    performance.ApplySongState(r.Header.State);
  };
  recorder.OnPlayEvent = [&](TSimpleRecorder&, std::uint8_t kind, std::int32_t data,
                             const TKeyDefTable* keyDefs) {
    performance.PlayEvent(kind, data, keyDefs);
  };
  recorder.OnPlayEnd = [&](TSimpleRecorder&) {
    performance.SetPlaying(false);
    ++loops;
    if (performance.LoopPlay())
      restartAt = Clock::now() + LoopPause;
  };

  // Keys the random stream plays: every key with notes (the drum keys among
  // them), and now and then one that changes a value.
  std::vector<int> noteKeys;
  for (int key = 0; key < KeyCount; ++key) {
    const int scan = KeyScanCodes[static_cast<std::size_t>(key)];
    if (KeyDefHasNotes(performance.KeyDefTable().Keys[key]))
      noteKeys.push_back(scan);
  }
  for (int scan : {26, 27, 40, 43}) { // the drum keys
    if (std::find(noteKeys.begin(), noteKeys.end(), scan) == noteKeys.end())
      noteKeys.push_back(scan);
  }
  const std::vector<int> valueKeys = {scGrave, scTab, scSpace};
  std::mt19937 rng(seed);

  TTimes keyTimes, tickTimes;
  std::vector<int> held;
  auto keyDown = [&](int scan) {
    const Clock::time_point start = Clock::now();
    performance.WMDIKeyDown(scan, KeyIndexOfScanCode(scan));
    keyTimes.Add(MsSince(start));
  };
  auto keyUp = [&](int scan) {
    const Clock::time_point start = Clock::now();
    performance.WMDIKeyUp(scan, KeyIndexOfScanCode(scan));
    keyTimes.Add(MsSince(start));
  };
  auto releaseHeld = [&] {
    for (int scan : held)
      keyUp(scan);
    held.clear();
  };
  // A command with modifiers, pressed and released as a player would.
  auto command = [&](std::initializer_list<int> modifiers, int scan) {
    for (int m : modifiers)
      keyDown(m);
    keyDown(scan);
    keyUp(scan);
    for (int m : modifiers)
      keyUp(m);
  };
  // One step of the random stream: press a key not held, or release one.
  auto randomKey = [&] {
    const bool press = held.empty() || (held.size() < MaxHeldKeys && rng() % 2 == 0);
    if (!press) {
      const std::size_t i = rng() % held.size();
      const int scan = held[i];
      held.erase(held.begin() + static_cast<std::ptrdiff_t>(i));
      keyUp(scan);
      return;
    }
    if (rng() % 40 == 0) {
      // Transpose with Ctrl+Home or Ctrl+End.
      command({scLControl}, rng() % 2 == 0 ? scHome : scEnd);
      return;
    }
    const int scan =
        rng() % 12 == 0 ? valueKeys[rng() % valueKeys.size()] : noteKeys[rng() % noteKeys.size()];
    if (std::find(held.begin(), held.end(), scan) != held.end())
      return;
    keyDown(scan);
    held.push_back(scan);
  };

  const TResident rssStart = Resident();
  TResident rssAfterRound;
  TPacedRenderer renderer(engine);
  const Clock::time_point begin = Clock::now();
  const Clock::time_point end =
      begin + std::chrono::milliseconds(static_cast<long long>(minutes * 60000));
  Clock::time_point nextKey = begin;
  Clock::time_point nextRenewal = begin + PedalRenewal;
  Clock::time_point phaseEnd = begin;
  bool inLoop = true; // the first phase change starts free play
  long rounds = 0;

  while (Clock::now() < end) {
    const Clock::time_point now = Clock::now();
    if (now >= phaseEnd) {
      if (inLoop) {
        // Esc ends the playback (or the pause between loops), then the
        // accompaniment starts (Enter) and recording (Ctrl+R).
        if (performance.Playing())
          command({}, scEsc);
        performance.SetLoopPlay(false);
        restartAt = Clock::time_point::max();
        if (rounds == 1)
          rssAfterRound = Resident();
        ++rounds;
        command({}, scEnter);
        command({scLControl}, scR);
        phaseEnd = now + FreePlay;
      } else {
        // Recording stops (Ctrl+R, which also ends the accompaniment's part
        // of it) and the song plays in a loop (Ctrl+Shift+P); the keys still
        // held are released meanwhile, ignored by the playing window.
        command({scLControl}, scR);
        command({scLControl, scLShift}, scP);
        releaseHeld();
        phaseEnd = now + LoopPlay;
      }
      inLoop = !inLoop;
    }
    if (now >= restartAt) {
      restartAt = Clock::time_point::max();
      if (performance.LoopPlay() && !performance.Playing())
        command({scLControl, scLShift}, scP);
    }
    if (now >= nextKey) {
      randomKey();
      nextKey = now + std::chrono::milliseconds(20 + rng() % 230);
    }
    if (now >= nextRenewal) {
      performance.RenewPeriodPedal();
      nextRenewal += PedalRenewal;
    }
    const Clock::time_point wake = std::min({nextKey, nextRenewal, phaseEnd, restartAt, end});
    for (TUiCall& call : ui.Take(wake)) {
      const Clock::time_point start = Clock::now();
      call();
      tickTimes.Add(MsSince(start));
    }
  }

  // The final Esc, with whatever keys are held at that moment still down.
  const long keysBeforeEsc = keyTimes.Count;
  command({}, scEsc);
  releaseHeld();
  renderer.Stop();
  // The accompaniment may still be between two of its ticks: let its worker
  // run out before counting.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  renderer.RenderNow(1);
  const int voicesAtEsc = fluid_synth_get_active_voice_count(engine.Synth());
  // What rings on (a cymbal, the reverb's voices released) dies away in a few
  // seconds; a note left hanging does not.
  renderer.RenderNow(5 * TKoDirectMusic::SampleRate / PeriodFrames);
  const int voicesAfter = fluid_synth_get_active_voice_count(engine.Synth());
  const TResident rssEnd = Resident();
  SetUiDispatcher({});

  const double elapsed = std::chrono::duration<double>(Clock::now() - begin).count();
  std::printf("soak: %.1f minutes, seed %u, %ld rounds, %ld song loops\n", elapsed / 60, seed,
              rounds, loops);
  std::printf("resident memory: start %ld KiB, after the first round %ld KiB, end %ld KiB "
              "(end / first round %.3f)\n",
              rssStart.Total, rssAfterRound.Total, rssEnd.Total,
              rssAfterRound.Total > 0 ? static_cast<double>(rssEnd.Total) / rssAfterRound.Total
                                      : 0.0);
  std::printf(
      "  of it not file-backed: start %ld KiB, after the first round %ld KiB, end %ld KiB\n",
      rssStart.Anonymous, rssAfterRound.Anonymous, rssEnd.Anonymous);
  std::printf("keys: %ld press/release calls, worst %.3f ms, 99th percentile %.2f ms, "
              "99.9th %.2f ms\n",
              keysBeforeEsc, keyTimes.Ms, keyTimes.Percentile(0.99), keyTimes.Percentile(0.999));
  std::printf("player ticks: %ld, worst %.3f ms, 99.9th percentile %.2f ms (the period is 10 ms)\n",
              tickTimes.Count, tickTimes.Ms, tickTimes.Percentile(0.999));
  std::printf("accompaniment messages: %ld, worst send %.3f ms\n", accompSink.Count.load(),
              accompSink.Worst.load());
  const double periodMs = 1000.0 * PeriodFrames / TKoDirectMusic::SampleRate;
  std::printf("render periods: %ld of %d frames (%.2f ms), worst %.3f ms, 99.9th percentile "
              "%.2f ms, %ld late\n",
              renderer.Times.Count, PeriodFrames, periodMs, renderer.Times.Ms,
              renderer.Times.Percentile(0.999), renderer.Late);
  std::printf("voices after the final Esc: %d at once, %d five seconds later (must be 0)\n",
              voicesAtEsc, voicesAfter);
  return voicesAfter == 0 ? 0 : 1;
}
