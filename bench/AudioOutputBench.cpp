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
//   rests, its output is fed zeros) against the same ten seconds while a
//   quiet note sounds, at settings 10 and 40: through JACK as above, then
//   through ALSA's pulse plugin and through the program's own PulseAudio
//   output into a PulseAudio daemon of its own, whose null sink a recorder
//   holds at the long latency a recorder gets when it asks for none (2 s,
//   as parecord's without --latency-msec): a stream that starts there, or
//   runs dry and starts again, is heard only that long after. The recorder
//   is this benchmark's, on the sink's monitor: the null sink plays its
//   frames on the system clock, and the server tells which of them plays
//   when a key goes out, so the figures hold to a few frames. (PulseAudio's
//   jack sink would put the sink on JACK's clock, but its latency is fixed:
//   no recorder holds it long, so it never shows what a long one does.)
//   Beside them, a key struck as the output opened.
// - processor time of the process in silence after a note (twice ten
//   seconds, at settings 10 and 40) per output that runs here: ALSA's
//   default device through the jack and the pulse plugin, the JACK and
//   PulseAudio outputs, ALSA's "null"; against FluidSynth's own driver on a
//   plain synthesizer on the same output with the same buffer, which renders
//   on through silence. Also the output's threads alone, and the sound
//   server's time, which either keeps busy.
//   bench_audio_output [--keys | --onsets | --rest | --idle] [msf4.s]
#include "ChannelMessages.h"
#include "PrivatePulseServer.h"
#include "music/AutoAccomp.h"
#include "music/KoMetronome.h"
#include "sound/KoDirectMusic.h"

#include <alsa/asoundlib.h>
#include <fluidsynth.h>
#include <jack/jack.h>
#include <pulse/pulseaudio.h>

#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
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
constexpr std::size_t CaptureSeconds = 480;      // the keys' rows, then the rests'
constexpr std::size_t PulseCaptureSeconds = 240; // one row of rests
constexpr float Audible = 0.003f;                // about -50 dBFS
constexpr float Uncaptured = -1.0f;              // a peak never is

void Sleep(double ms) {
  std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(ms));
}

// The captured peak of both channels per frame, indexed by the frame of the
// capture's clock: JACK's frame time, or the frame of a PulseAudio recording.
class TPeaks {
public:
  TPeaks(int rate, std::size_t seconds)
      : Rate(rate), FPeaks(seconds * std::size_t(rate), Uncaptured) {}
  virtual ~TPeaks() = default;

  // The frame heard at this moment.
  virtual std::int64_t FrameNow() = 0;
  // Missed cycles or overflows so far: figures taken across them are not the program's.
  virtual int XRuns() const = 0;
  // Whether one may have shifted what is heard from a while before from up to to.
  virtual bool Disturbed(std::int64_t from, std::int64_t to) const = 0;
  // Streams started on the sound server so far, where the capture sees them; -1 where not.
  virtual int StreamStarts() const { return -1; }

  // First frame at or after from whose peak is audible, -1 if none before to.
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
  // The smallest of the peaks of each whole second from from to to: whether
  // something sounded all through.
  float QuietestSecond(std::int64_t from, std::int64_t to) const {
    const std::int64_t first = FFirst.load();
    const std::int64_t last = std::min(to, first + FFilled.load());
    float quietest = Audible;
    for (std::int64_t f = std::max(from, first); f + Rate <= last; f += Rate) {
      const auto second = FPeaks.begin() + std::ptrdiff_t(f - first);
      quietest = std::min(quietest, *std::max_element(second, second + Rate));
    }
    return quietest;
  }
  std::int64_t CapturedUpTo() const { return FFirst.load() + FFilled.load(); }
  // A recorder hands its frames over some time after they played.
  bool WaitUntilCaptured(std::int64_t frame, double timeoutMs) const {
    for (double waited = 0; CapturedUpTo() < frame && waited < timeoutMs; waited += 20)
      Sleep(20);
    return CapturedUpTo() >= frame;
  }

  const int Rate;

protected:
  // Frames from start on (the clock's frame): peakOf(i) is frame start + i's.
  template <typename TPeakOf> void Store(std::int64_t start, std::int64_t frames, TPeakOf peakOf) {
    if (FFirst.load() < 0)
      FFirst.store(start);
    const std::int64_t at = start - FFirst.load();
    for (std::int64_t i = 0; i < frames; ++i) {
      if (std::size_t(at + i) < FPeaks.size())
        FPeaks[std::size_t(at + i)] = peakOf(i);
    }
    FFilled.store(std::min<std::int64_t>(at + frames, std::int64_t(FPeaks.size())));
  }

  std::vector<float> FPeaks;
  std::atomic<std::int64_t> FFirst{-1};
  std::atomic<std::int64_t> FFilled{0};
};

// The peaks of a JACK client's two input ports, on JACK's frame time.
class TCapture : public TPeaks {
public:
  TCapture() : TPeaks(JackRate, CaptureSeconds) {}
  bool Open(const std::string& server) {
    jack_status_t status{};
    FClient = jack_client_open(ClientName().c_str(),
                               static_cast<jack_options_t>(JackNoStartServer | JackServerName),
                               &status, server.c_str());
    if (FClient == nullptr)
      return false;
    FIn[0] = jack_port_register(FClient, "in_1", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    FIn[1] = jack_port_register(FClient, "in_2", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(FClient, &Process, this);
    jack_set_xrun_callback(FClient, &XRun, this);
    return FIn[0] && FIn[1] && jack_activate(FClient) == 0;
  }
  ~TCapture() override { Close(); }
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
  std::int64_t FrameNow() override { return FrameAt(Now()); }
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
  // The server's missed cycles so far.
  int XRuns() const override { return FXRuns.load(); }
  // Whether the server missed a cycle from a while before from up to to: the
  // output behind the plugin may have run dry and be refilling, so what is
  // heard then shows the server's stall, not the program's timing.
  bool Disturbed(std::int64_t from, std::int64_t to) const override {
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
    self->Store(jack_last_frame_time(self->FClient), frames,
                [&](std::int64_t i) { return std::max(std::fabs(a[i]), std::fabs(b[i])); });
    return 0;
  }

  jack_client_t* FClient = nullptr;
  jack_port_t* FIn[2] = {nullptr, nullptr};
  std::atomic<int> FXRuns{0};
  std::array<std::atomic<std::int64_t>, 4096> FXRunFrames{};
};

// The threaded main loop of libpulse held for the calls made from this thread.
class TPulseLock {
public:
  explicit TPulseLock(pa_threaded_mainloop* loop) : FLoop(loop) {
    pa_threaded_mainloop_lock(FLoop);
  }
  ~TPulseLock() { pa_threaded_mainloop_unlock(FLoop); }
  TPulseLock(const TPulseLock&) = delete;
  TPulseLock& operator=(const TPulseLock&) = delete;

private:
  pa_threaded_mainloop* FLoop;
};

// A recorder of a PulseAudio source (a sink's monitor) that asks for no
// latency, as parecord without --latency-msec: the server then hands it 2 s
// at a time and holds the sink at that latency while nothing asks for less.
// Frames are counted from the recording's first; the null sink plays them on
// the system clock, and the server tells which one is playing now.
class TPulseCapture : public TPeaks {
public:
  TPulseCapture() : TPeaks(TKoDirectMusic::SampleRate, PulseCaptureSeconds) {}
  ~TPulseCapture() override { Close(); }
  TPulseCapture(const TPulseCapture&) = delete;
  TPulseCapture& operator=(const TPulseCapture&) = delete;

  // Records source on the server PULSE_SERVER names, until its frames play on time.
  bool Open(const std::string& source) {
    FLoop = pa_threaded_mainloop_new();
    FContext = pa_context_new(pa_threaded_mainloop_get_api(FLoop), "melobench recorder");
    pa_context_set_state_callback(FContext, &SignalContext, FLoop);
    if (pa_context_connect(FContext, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0 ||
        pa_threaded_mainloop_start(FLoop) < 0 || !Connect(source))
      return false;
    // Until the first fragment comes, the server cannot say which frame plays.
    for (int i = 0; i < 100 && FrameNow() <= 0; ++i)
      Sleep(100);
    return FrameNow() > 0;
  }
  void Close() {
    if (FLoop == nullptr)
      return;
    {
      TPulseLock lock(FLoop);
      if (FStream != nullptr) {
        pa_stream_disconnect(FStream);
        pa_stream_unref(FStream);
        FStream = nullptr;
      }
      pa_context_disconnect(FContext);
      pa_context_unref(FContext);
      FContext = nullptr;
    }
    pa_threaded_mainloop_stop(FLoop);
    pa_threaded_mainloop_free(FLoop);
    FLoop = nullptr;
  }

  // The frame of the recording that plays now: the server's figures fresh
  // from it, carried on to this moment (a round trip, well under a millisecond).
  std::int64_t FrameNow() override {
    TPulseLock lock(FLoop);
    if (!Wait(pa_stream_update_timing_info(FStream, &SignalDone, FLoop)))
      return -1;
    pa_usec_t usecs = 0;
    if (pa_stream_get_time(FStream, &usecs) < 0)
      return -1;
    return std::int64_t(usecs) * Rate / 1000000;
  }
  // Frames the server dropped before this recorder read them: every later frame is off.
  int XRuns() const override { return FOverflows.load(); }
  bool Disturbed(std::int64_t, std::int64_t) const override { return FOverflows.load() > 0; }
  // An output that ran dry starts a new stream when it plays again (ALSA's pulse plugin).
  int StreamStarts() const override { return FStreamStarts.load(); }

  // The latency the sink runs at now, as the clients' wishes set it (ms).
  double SinkLatencyMs(const std::string& sink) {
    TPulseLock lock(FLoop);
    FSinkLatencyUs = -1;
    Wait(pa_context_get_sink_info_by_name(FContext, sink.c_str(), &TakeSinkLatency, this));
    return FSinkLatencyUs < 0 ? std::nan("") : FSinkLatencyUs / 1000.0;
  }

private:
  bool Connect(const std::string& source) {
    TPulseLock lock(FLoop);
    while (pa_context_get_state(FContext) != PA_CONTEXT_READY) {
      if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(FContext)))
        return false;
      pa_threaded_mainloop_wait(FLoop);
    }
    pa_context_set_subscribe_callback(FContext, &CountStreamStart, this);
    if (pa_operation* subscribed =
            pa_context_subscribe(FContext, PA_SUBSCRIPTION_MASK_SINK_INPUT, nullptr, nullptr))
      pa_operation_unref(subscribed);
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, std::uint32_t(Rate), 2};
    FStream = pa_stream_new(FContext, "recorder", &spec, nullptr);
    pa_stream_set_state_callback(FStream, &SignalStream, FLoop);
    pa_stream_set_read_callback(FStream, &Read, this);
    pa_stream_set_overflow_callback(FStream, &Overflow, this);
    // No buffer attributes: the server's own fragment, as a recorder's at its default.
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE);
    if (pa_stream_connect_record(FStream, source.c_str(), nullptr, flags) < 0)
      return false;
    while (pa_stream_get_state(FStream) != PA_STREAM_READY) {
      if (!PA_STREAM_IS_GOOD(pa_stream_get_state(FStream)))
        return false;
      pa_threaded_mainloop_wait(FLoop);
    }
    return true;
  }
  // Waits for an operation, the loop held; false when there was none.
  bool Wait(pa_operation* operation) {
    if (operation == nullptr)
      return false;
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING)
      pa_threaded_mainloop_wait(FLoop);
    pa_operation_unref(operation);
    return true;
  }
  static void SignalContext(pa_context*, void* loop) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
  }
  static void SignalStream(pa_stream*, void* loop) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
  }
  static void SignalDone(pa_stream*, int, void* loop) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
  }
  static void TakeSinkLatency(pa_context*, const pa_sink_info* info, int, void* arg) {
    auto* self = static_cast<TPulseCapture*>(arg);
    if (info != nullptr)
      self->FSinkLatencyUs = double(info->configured_latency);
    pa_threaded_mainloop_signal(self->FLoop, 0);
  }
  static void Overflow(pa_stream*, void* arg) { ++static_cast<TPulseCapture*>(arg)->FOverflows; }
  static void CountStreamStart(pa_context*, pa_subscription_event_type_t event, std::uint32_t,
                               void* arg) {
    if ((event & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_NEW)
      ++static_cast<TPulseCapture*>(arg)->FStreamStarts;
  }
  static void Read(pa_stream* stream, std::size_t, void* arg) {
    auto* self = static_cast<TPulseCapture*>(arg);
    const void* data = nullptr;
    std::size_t bytes = 0;
    while (pa_stream_peek(stream, &data, &bytes) == 0 && bytes > 0) {
      const auto* samples = static_cast<const float*>(data); // none in a hole
      const auto frames = std::int64_t(bytes / (2 * sizeof(float)));
      self->Store(self->FRead, frames, [&](std::int64_t i) {
        return samples ? std::max(std::fabs(samples[2 * i]), std::fabs(samples[2 * i + 1]))
                       : Uncaptured;
      });
      self->FRead += frames;
      pa_stream_drop(stream);
    }
  }

  pa_threaded_mainloop* FLoop = nullptr;
  pa_context* FContext = nullptr;
  pa_stream* FStream = nullptr;
  std::int64_t FRead = 0; // frames, on the loop's thread
  std::atomic<int> FOverflows{0};
  std::atomic<int> FStreamStarts{0};
  double FSinkLatencyUs = -1;
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

void ApplyResponseTime(TKoDirectMusic& engine, int latency) {
  // As the program applies its settings.
  engine.SetResponseTime(latency);
}

// The engine's synthesizer with the sound set, on ALSA's default device
// (routed into JACK or PulseAudio by a plugin), or on another output of the
// program ("pulse", "jack", an ALSA device's name).
bool PlaySet(TKoDirectMusic& engine, const char* setPath, const std::string& output = {}) {
  if (!engine.SelectPort(0) || !engine.LoadCollectionFromMappedFile(setPath))
    return false;
  if (!output.empty() && !engine.SelectAudioOutput(output))
    return false;
  engine.SetVolume(0);
  engine.SetReverbLevel(0); // a clean onset
  engine.SelectDrumKit();
  return true;
}

std::unique_ptr<TKoDirectMusic> NewEngine(bool place) {
  TEngineOptions options;
  options.PlaceTimedMessages = place;
  return std::make_unique<TKoDirectMusic>(options);
}

std::unique_ptr<TKoDirectMusic> OpenEngine(const char* setPath, bool place,
                                           const std::string& output = {}) {
  auto engine = NewEngine(place);
  return PlaySet(*engine, setPath, output) ? std::move(engine) : nullptr;
}

// The engine on its own JACK output, whose ports the capture then takes.
std::unique_ptr<TKoDirectMusic> OpenEngineOnJack(const char* setPath, bool place,
                                                 TCapture& capture) {
  auto engine = OpenEngine(setPath, place, "jack");
  return engine && capture.ConnectFrom("Melotastico") ? std::move(engine) : nullptr;
}

// A key: a short drum stroke sent at once. The frame heard as it went out.
std::int64_t StrikeKey(TKoDirectMusic& engine, TPeaks& capture) {
  const std::int64_t pressed = capture.FrameNow();
  test::NoteOn(engine, 9, 76, 127); // hi wood block
  Sleep(250);
  test::NoteOff(engine, 9, 76);
  Sleep(100);
  return pressed;
}

// How long the capture waits for the stroke: longer than it sounds, so that
// one sounding late shows as late, not as lost.
constexpr double StrokeWindowMs = 350;
constexpr double LateStrokeWindowMs = 5000;

// Key -> first audible sample of a key pressed at frame from, heard within
// windowMs (ms), once the capture holds those frames; counted in lost when
// it was not heard, or not wholly captured, or across a missed cycle.
void AddKeyLatency(TPeaks& capture, std::int64_t from, double windowMs,
                   std::vector<double>& latencies, int& lost) {
  const std::int64_t to = from + std::int64_t(windowMs * capture.Rate / 1000);
  capture.WaitUntilCaptured(to, windowMs + 10000);
  const std::int64_t heard = capture.FirstAudible(from, to);
  if (from >= 0 && heard >= 0 && capture.Whole(from, heard + 1) &&
      !capture.Disturbed(from, heard)) {
    latencies.push_back(double(heard - from) * 1000.0 / capture.Rate);
  } else {
    ++lost;
  }
}

// Key -> first audible sample, count times at uneven moments. Milliseconds.
std::vector<double> KeyLatencies(TKoDirectMusic& engine, TPeaks& capture, int& lost,
                                 int count = 10) {
  std::vector<double> latencies;
  for (int k = 0; k < count; ++k) {
    Sleep(150 + 37 * (k % 5));
    AddKeyLatency(capture, StrikeKey(engine, capture), StrokeWindowMs, latencies, lost);
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
  pid_t Pid() const { return FPid; }

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
  if (auto engine = OpenEngine(setPath, true)) {
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
  if (auto engine = OpenEngineOnJack(setPath, true, capture)) {
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

// What one row of rests measured.
struct TRestFigures {
  double Opened = std::nan("");
  TStats Sounding, Silent;
  int XRuns = 0, Lost = 0, StreamStarts = -1;
  float Quietest = Audible;
};

// Key -> first audible sample of a key struck as soon as the output opened:
// a stream that starts on a sink a recorder holds long is heard only that
// long after. Waits for the stream to settle.
double OpenedKeyMs(TKoDirectMusic& engine, TPeaks& capture) {
  std::vector<double> latencies;
  int lost = 0;
  AddKeyLatency(capture, StrikeKey(engine, capture), LateStrokeWindowMs, latencies, lost);
  return latencies.empty() ? std::nan("") : latencies.front();
}

// Key -> first audible sample after ten seconds with no key, once while a
// (quiet) note sounds and once in silence, when the synthesizer rests and its
// output is fed zeros; the two alternate on one engine, so that whatever ten
// seconds of idleness do to the machine weigh on both alike. The keys are
// judged once all have been struck: a recorder hands its frames over late.
TRestFigures RestFigures(TKoDirectMusic& engine, TPeaks& capture) {
  TRestFigures figures;
  figures.Opened = OpenedKeyMs(engine, capture);
  const int xruns = capture.XRuns(), starts = capture.StreamStarts();
  std::vector<std::int64_t> pressed[2], quietFrom;
  for (int k = 0; k < RestStrokes; ++k) {
    for (bool sounding : {true, false}) {
      SoundQuietNote(engine, sounding);
      if (sounding)
        quietFrom.push_back(capture.FrameNow() + capture.Rate);
      Sleep(10000 + 37 * (k % 5));
      pressed[sounding ? 0 : 1].push_back(StrikeKey(engine, capture));
    }
  }
  std::vector<double> latencies[2];
  for (int kind : {0, 1}) {
    for (std::int64_t from : pressed[kind])
      AddKeyLatency(capture, from, LateStrokeWindowMs, latencies[kind], figures.Lost);
  }
  for (std::int64_t from : quietFrom) {
    figures.Quietest =
        std::min(figures.Quietest, capture.QuietestSecond(from, from + 8 * capture.Rate));
  }
  figures.Sounding = StatsOf(latencies[0]);
  figures.Silent = StatsOf(latencies[1]);
  figures.XRuns = capture.XRuns() - xruns;
  if (starts >= 0)
    figures.StreamStarts = capture.StreamStarts() - starts;
  return figures;
}

void PrintRestHeader() {
  std::printf("\nkey -> first audible sample 10 s after the last key (ms; goal: in silence as "
              "while a note sounds, within one synthesizer block, %.1f ms, and nothing lost)\n",
              64 * 1000.0 / TKoDirectMusic::SampleRate);
  std::printf("(opened: the first key, as the output opened; restarts: streams the output started "
              "again on the server; sink: the PulseAudio sink's latency as the engine plays)\n");
  std::printf("%-22s %7s %8s %15s %12s %13s %10s %10s %6s %6s %8s %9s %s\n", "path", "setting",
              "opened", "sounding median", "sounding max", "silent median", "silent max",
              "difference", "xruns", "lost", "restarts", "sink (ms)",
              " quiet note's lowest peak (dBFS)");
}

// sinkMs: not a number on JACK, where restarts are not seen either.
void PrintRestRow(const char* path, int setting, const TRestFigures& f, double sinkMs) {
  const std::string restarts = f.StreamStarts < 0 ? "-" : std::to_string(f.StreamStarts);
  std::printf("%-22s %7d %8.1f %15.1f %12.1f %13.1f %10.1f %10.1f %6d %6d %8s %9.1f %8.1f\n", path,
              setting, f.Opened, f.Sounding.Median, f.Sounding.Max, f.Silent.Median, f.Silent.Max,
              f.Silent.Median - f.Sounding.Median, f.XRuns, f.Lost, restarts.c_str(), sinkMs,
              20 * std::log10(f.Quietest));
}

// Through ALSA's default device into JACK, at settings 10 and 40.
int RestRows(const char* setPath, TCapture& capture) {
  PrintRestHeader();
  for (int latency : {10, 40}) {
    const auto engine = OpenEngine(setPath, true);
    if (!engine) {
      std::fprintf(stderr, "the engine cannot play through ALSA's default device\n");
      return 1;
    }
    ApplyResponseTime(*engine, latency);
    Sleep(300);
    PrintRestRow("ALSA -> jack plugin", latency, RestFigures(*engine, capture), std::nan(""));
  }
  return 0;
}

// What ALSA's default device is: its configuration is read once a process,
// so it is told to forget it, and reads the new one at the next open.
void PointAlsaAt(const std::filesystem::path& home, const std::string& asoundrc) {
  std::ofstream(home / ".asoundrc") << asoundrc;
  snd_config_update_free_global();
}

// ALSA's default device into two JACK ports through the jack plugin.
std::string JackAsoundrc(const std::string& left, const std::string& right) {
  return "pcm.!default { type plug slave.pcm \"j\" }\n"
         "pcm.j { type jack playback_ports { 0 " +
         left + " 1 " + right + " } }\n";
}

constexpr const char* PulseAsoundrc = "pcm.!default { type pulse }\nctl.!default { type pulse }\n";
constexpr const char* NoPulseServer = "unix:/nonexistent";
// The private daemon's default sink, a null sink, and its monitor.
constexpr const char* PulseSink = "nul";
constexpr const char* PulseMonitor = "nul.monitor";

// No PulseAudio for the engine, nor for ALSA's pulse hook, to find.
void ForgetPulse() {
  setenv("PULSE_SERVER", NoPulseServer, 1);
  snd_config_update_free_global();
}

// One row of rests into PulseAudio, with a recorder of its own.
bool PulseRestRow(const char* setPath, const char* path, const std::string& output, int setting) {
  TPulseCapture capture;
  if (!capture.Open(PulseMonitor)) {
    std::fprintf(stderr, "cannot record %s\n", PulseMonitor);
    return false;
  }
  const auto engine = OpenEngine(setPath, true, output);
  if (!engine) {
    std::fprintf(stderr, "the engine cannot play through %s\n", path);
    return false;
  }
  ApplyResponseTime(*engine, setting);
  Sleep(300);
  const TRestFigures figures = RestFigures(*engine, capture);
  PrintRestRow(path, setting, figures, capture.SinkLatencyMs(PulseSink));
  return true;
}

// The same through ALSA's default device and the pulse plugin, and through
// the program's own PulseAudio output, into a PulseAudio daemon of our own
// whose null sink a recorder at its default latency holds long.
int PulseRestRows(const char* setPath, const std::filesystem::path& home) {
  int result = 0;
  {
    test::TPrivatePulseServer pulse;
    if (!pulse.Running()) {
      std::fprintf(stderr, "no PulseAudio daemon of our own:\n%s", pulse.Log().c_str());
      result = 1;
    } else {
      PointAlsaAt(home, PulseAsoundrc);
      TPulseCapture alone;
      if (alone.Open(PulseMonitor)) {
        std::printf("%-22s (the null sink at %.0f ms with its recorder alone)\n", "",
                    alone.SinkLatencyMs(PulseSink));
      }
      alone.Close();
      for (int latency : {10, 40}) {
        if (!PulseRestRow(setPath, "ALSA -> pulse plugin", "", latency) ||
            !PulseRestRow(setPath, "PulseAudio output", "pulse", latency))
          result = 1;
      }
    }
  }
  ForgetPulse();
  return result;
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
      if (auto engine = OpenEngine(setPath, place)) {
        ApplyResponseTime(*engine, latency);
        rows(std::to_string(latency).c_str(), place, *engine);
      }
    }
  }
  for (bool place : {false, true}) {
    if (auto engine = OpenEngineOnJack(setPath, place, server.Capture))
      rows("JACK", place, *engine);
  }
}

// Processor time in silence, at settings 10 (the shortest periods, the most
// wake-ups) and 40: rounds of ten seconds, the engine's and FluidSynth's
// taking turns to go first, so that whatever the machine does meanwhile
// weighs on both alike.
constexpr int IdleSettings[] = {10, 40};
constexpr int IdleRounds = 2;
constexpr double IdleMs = 10000;

std::int64_t OwnCpuNs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return std::int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Every thread of another process (a sound server), nanoseconds; 0 for none.
std::int64_t CpuNsOf(pid_t pid) {
  std::int64_t ns = 0;
  if (pid <= 0)
    return ns;
  std::error_code error;
  const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
  for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
    std::int64_t taskNs = 0;
    if (std::ifstream(task.path() / "schedstat") >> taskNs)
      ns += taskNs;
  }
  return ns;
}

// The process behind a local socket (the PulseAudio daemon's), 0 if none answers.
pid_t PeerOf(const std::string& server) {
  const std::string path = server.substr(server.find(':') + 1);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  const int connection = socket(AF_UNIX, SOCK_STREAM, 0);
  ucred peer{};
  socklen_t size = sizeof peer;
  const bool known =
      connection >= 0 &&
      connect(connection, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0;
  if (connection >= 0)
    close(connection);
  return known ? peer.pid : 0;
}

// This process's threads.
std::vector<pid_t> OwnThreads() {
  std::vector<pid_t> threads;
  std::error_code error;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error))
    threads.push_back(pid_t(std::stol(task.path().filename().string())));
  return threads;
}

struct TThreadTime {
  pid_t Thread;
  std::int64_t Ns;
};

// Processor time of each thread of this process but others.
std::vector<TThreadTime> ThreadTimesBut(const std::vector<pid_t>& others) {
  std::vector<TThreadTime> times;
  for (pid_t thread : OwnThreads()) {
    std::int64_t ns = 0;
    if (std::find(others.begin(), others.end(), thread) == others.end() &&
        std::ifstream("/proc/self/task/" + std::to_string(thread) + "/schedstat") >> ns)
      times.push_back({thread, ns});
  }
  return times;
}

// What the threads that ran all through took from first to last.
std::int64_t NsBetween(const std::vector<TThreadTime>& first,
                       const std::vector<TThreadTime>& last) {
  std::int64_t ns = 0;
  for (const TThreadTime& before : first) {
    const auto after = std::find_if(last.begin(), last.end(), [&](const TThreadTime& time) {
      return time.Thread == before.Thread;
    });
    if (after != last.end())
      ns += after->Ns - before.Ns;
  }
  return ns;
}

// Processor time over a wall time, nanoseconds: this process's; its output's
// threads' (those started as the output opened, not the engine's MIDI
// ports'); the sound server's.
struct TIdleTime {
  double Wall = 0, Own = 0, Output = 0, Server = 0;
  TIdleTime& operator+=(const TIdleTime& time) {
    Wall += time.Wall;
    Own += time.Own;
    Output += time.Output;
    Server += time.Server;
    return *this;
  }
  // Percent of one core; not a number when nothing was measured.
  double Percent(double ns) const { return Wall > 0 ? ns * 100 / Wall : std::nan(""); }
};

TIdleTime IdleOver(pid_t server, const std::vector<pid_t>& notOutput) {
  const auto start = std::chrono::steady_clock::now();
  const std::int64_t own = OwnCpuNs(), served = CpuNsOf(server);
  const auto output = ThreadTimesBut(notOutput);
  Sleep(IdleMs);
  TIdleTime time;
  time.Output = double(NsBetween(output, ThreadTimesBut(notOutput)));
  time.Own = double(OwnCpuNs() - own);
  time.Server = double(CpuNsOf(server) - served);
  time.Wall = double(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start)
          .count());
  return time;
}

// An output of the program, and how FluidSynth's own driver reaches it.
struct TIdleOutput {
  const char* Label;
  const char* Output; // the engine's name for it; empty: ALSA's default device
  const char* Driver; // FluidSynth's
  const char* AlsaDevice;
};

constexpr TIdleOutput AlsaToPulse{"ALSA -> pulse plugin", "", "alsa", "default"};
constexpr TIdleOutput PulseOutput{"PulseAudio output", "pulse", "pulseaudio", "default"};
constexpr TIdleOutput AlsaToJack{"ALSA -> jack plugin", "", "alsa", "default"};
constexpr TIdleOutput JackOutput{"JACK output", "jack", "jack", "default"};
constexpr TIdleOutput AlsaNull{"ALSA null", "null", "alsa", "null"};

// The engine on an output, one note, then its rest. resting: whether it
// rested before and after the measure.
TIdleTime EngineIdle(const char* setPath, const TIdleOutput& output, int setting, pid_t server,
                     TDriverBuffer& buffer, bool& resting) {
  const auto engine = NewEngine(true);
  const std::vector<pid_t> notOutput = OwnThreads();
  if (!PlaySet(*engine, setPath, output.Output)) {
    resting = false;
    return {};
  }
  ApplyResponseTime(*engine, setting);
  buffer = engine->DriverBuffer();
  test::NoteOn(*engine, 9, 76, 127);
  Sleep(250);
  test::NoteOff(*engine, 9, 76);
  for (int i = 0; i < 200 && !engine->Resting(); ++i)
    Sleep(50);
  Sleep(1000);
  resting = resting && engine->Resting();
  const TIdleTime time = IdleOver(server, notOutput);
  resting = resting && engine->Resting();
  return time;
}

// FluidSynth's own driver on a plain synthesizer (its reverb and chorus on,
// as it starts), on the same output with the engine's buffer: it renders on
// through silence, as the engine did before it rested.
TIdleTime FluidSynthIdle(const TIdleOutput& output, TDriverBuffer buffer, pid_t server) {
  fluid_settings_t* settings = new_fluid_settings();
  fluid_settings_setnum(settings, "synth.sample-rate", TKoDirectMusic::SampleRate);
  fluid_settings_setstr(settings, "audio.driver", output.Driver);
  fluid_settings_setstr(settings, "audio.alsa.device", output.AlsaDevice);
  fluid_settings_setint(settings, "audio.jack.autoconnect", 1);
  fluid_settings_setint(settings, "audio.period-size", buffer.PeriodFrames);
  fluid_settings_setint(settings, "audio.periods", buffer.PeriodCount);
  fluid_synth_t* synth = new_fluid_synth(settings);
  const std::vector<pid_t> notOutput = OwnThreads();
  fluid_audio_driver_t* driver = synth ? new_fluid_audio_driver(settings, synth) : nullptr;
  TIdleTime time;
  if (driver) {
    Sleep(1000);
    time = IdleOver(server, notOutput);
    delete_fluid_audio_driver(driver);
  }
  if (synth)
    delete_fluid_synth(synth);
  delete_fluid_settings(settings);
  return time;
}

void IdleRow(const char* setPath, const TIdleOutput& output, int setting, pid_t server) {
  TDriverBuffer buffer;
  bool resting = true;
  TIdleTime engine, fluid;
  for (int round = 0; round < IdleRounds; ++round) {
    // FluidSynth's takes the engine's buffer: the engine goes first the first time.
    if (round % 2 == 1)
      fluid += FluidSynthIdle(output, buffer, server);
    engine += EngineIdle(setPath, output, setting, server, buffer, resting);
    if (round % 2 == 0)
      fluid += FluidSynthIdle(output, buffer, server);
  }
  const double own[] = {engine.Percent(engine.Own), fluid.Percent(fluid.Own)};
  const double threads[] = {engine.Percent(engine.Output), fluid.Percent(fluid.Output)};
  const double nan = std::nan("");
  const double served[] = {server > 0 ? engine.Percent(engine.Server) : nan,
                           server > 0 ? fluid.Percent(fluid.Server) : nan};
  std::printf("%-22s %7d %8.2f %10.2f %6.2f %8.2f %10.2f %6.2f %8.2f %10.2f %8s %5d x %d\n",
              output.Label, setting, own[0], own[1], own[0] / own[1], threads[0], threads[1],
              threads[0] / threads[1], served[0], served[1], resting ? "yes" : "no",
              buffer.PeriodFrames, buffer.PeriodCount);
}

// At each setting.
void IdleRows(const char* setPath, const TIdleOutput& output, pid_t server) {
  for (int setting : IdleSettings)
    IdleRow(setPath, output, setting, server);
}

bool AlsaDeviceOpens(const char* name) {
  snd_pcm_t* pcm = nullptr;
  if (snd_pcm_open(&pcm, name, SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0)
    return false;
  snd_pcm_close(pcm);
  return true;
}

// Processor time of the process in silence on each output that runs here,
// against FluidSynth's own driver: into a JACK server of our own (no client
// of the benchmark on it), into a PulseAudio daemon of our own (its null
// sink, no recorder), and to ALSA's "null", which takes periods as fast as
// they come, so that whatever feeds it runs flat out.
int IdleTable(const char* setPath, const std::string& server, const std::filesystem::path& home) {
  std::printf("\nprocessor time in silence after a note, %d x %.0f s (%% of one core; goal: the "
              "engine below FluidSynth's own driver, its output never paused)\n",
              IdleRounds, IdleMs / 1000);
  std::printf("%-30s %26s %26s %19s\n", "", "process", "output's threads", "sound server");
  std::printf("%-22s %7s %8s %10s %6s %8s %10s %6s %8s %10s %8s %s\n", "output", "setting",
              "engine", "FluidSynth", "ratio", "engine", "FluidSynth", "ratio", "engine",
              "FluidSynth", "resting", "driver buffer");
  int result = 0;
  {
    TServer jack(server + "i", 128);
    jack.Capture.Close();
    if (jack.Open()) {
      PointAlsaAt(home, JackAsoundrc("system:playback_1", "system:playback_2"));
      IdleRows(setPath, AlsaToJack, jack.Pid());
      IdleRows(setPath, JackOutput, jack.Pid());
    } else {
      result = 1;
    }
  }
  {
    test::TPrivatePulseServer pulse;
    if (pulse.Running()) {
      PointAlsaAt(home, PulseAsoundrc);
      const pid_t daemon = PeerOf(pulse.Server());
      IdleRows(setPath, AlsaToPulse, daemon);
      IdleRows(setPath, PulseOutput, daemon);
    } else {
      result = 1;
    }
  }
  ForgetPulse();
  // The engine opens ALSA's default device before the one it is given.
  PointAlsaAt(home, "pcm.!default { type null }\n");
  if (AlsaDeviceOpens(AlsaNull.AlsaDevice))
    IdleRows(setPath, AlsaNull, 0);
  return result;
}

} // namespace

int main(int argc, char** argv) {
  // --keys, --onsets, --rest or --idle: only those rows (a quick look while tuning the output).
  bool keys = true, onsets = true, rests = true, idle = true;
  const char* setPath = MELO_SOUND_SET_PATH;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--keys" || arg == "--onsets" || arg == "--rest" || arg == "--idle") {
      keys = arg == "--keys";
      onsets = arg == "--onsets";
      rests = arg == "--rest";
      idle = arg == "--idle";
    } else {
      setPath = argv[i];
    }
  }
  const std::string server = "melobench" + std::to_string(getpid());

  // A HOME of our own whose .asoundrc sends ALSA's default device into JACK,
  // and no PulseAudio for ALSA's pulse hook to find.
  const auto home = std::filesystem::temp_directory_path() / ("melo-audio-" + server);
  std::filesystem::create_directories(home);
  const std::string toCapture =
      JackAsoundrc(TCapture::ClientName() + ":in_1", TCapture::ClientName() + ":in_2");
  PointAlsaAt(home, toCapture);
  setenv("HOME", home.c_str(), 1);
  ForgetPulse();

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
  if (rests) {
    result |= PulseRestRows(setPath, home);
    PointAlsaAt(home, toCapture);
  }
  if (onsets) {
    TServer jack(server + "o", 256);
    if (jack.Open()) {
      OnsetRows(setPath, jack);
    } else {
      result = 1;
    }
  }
  if (idle)
    result |= IdleTable(setPath, server, home);
  std::error_code error;
  std::filesystem::remove_all(home, error);
  return result;
}
