// How tight the accompaniment plays: runs the real metronome and accompaniment
// (preset 0) at tempos 100..180 and measures every drum note-on against its
// ideal sixteenth-note time. Prints figures; never fails.
//
//   bench_accomp_timing [seconds] [--load N]
//
// seconds (default 20) is split evenly over the tempos 100, 120, 140, 160 and
// 180; --load starts N busy processes (default 1) that compete for the CPUs.
#include "music/AutoAccomp.h"
#include "music/KoMetronome.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <pthread.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Stamps every drum note-on with the time it arrived.
class TStampingSink : public melo::TMidiMessageSink {
public:
  bool SendMidiMessage(std::uint8_t status, std::uint8_t, std::uint8_t) override {
    if (status == 0x99) {
      const Clock::time_point now = Clock::now();
      std::lock_guard lock(FLock);
      FStamps.push_back(now);
    }
    return true;
  }
  std::vector<Clock::time_point> Take() {
    std::lock_guard lock(FLock);
    std::vector<Clock::time_point> stamps;
    stamps.swap(FStamps);
    return stamps;
  }

private:
  std::mutex FLock;
  std::vector<Clock::time_point> FStamps;
};

// Errors (ms) of the note-ons of one run at one tempo. The first note falls on
// the first tick, which starts the musical clock: it defines time 0.
std::vector<double> ErrorsOf(const std::vector<Clock::time_point>& stamps, double tempo) {
  std::vector<double> errors;
  if (stamps.empty())
    return errors;
  const double sixteenthMs = 60000.0 / (tempo * 4);
  for (const Clock::time_point& stamp : stamps) {
    const double t = std::chrono::duration<double, std::milli>(stamp - stamps.front()).count();
    const double ideal = std::round(t / sixteenthMs) * sixteenthMs;
    errors.push_back(t - ideal);
  }
  return errors;
}

struct TSummary {
  double Median, P99, Max, MeanSigned;
};

TSummary Summarise(std::vector<double> errors) {
  double sum = 0;
  for (double e : errors)
    sum += e;
  for (double& e : errors)
    e = std::fabs(e);
  std::sort(errors.begin(), errors.end());
  auto at = [&](double q) {
    return errors[std::min(errors.size() - 1, static_cast<std::size_t>(q * errors.size()))];
  };
  return {at(0.5), at(0.99), errors.back(), sum / errors.size()};
}

double ThreadCpuMs(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

std::vector<pid_t> StartLoad(int processes) {
  std::vector<pid_t> children;
  for (int i = 0; i < processes; ++i) {
    const pid_t pid = fork();
    if (pid == 0) {
      // Arithmetic and memory traffic, forever.
      std::vector<unsigned> buffer(1 << 22);
      for (unsigned n = 0;; ++n)
        buffer[(n * 2654435761u) % buffer.size()] += n;
    }
    if (pid > 0)
      children.push_back(pid);
  }
  return children;
}

void StopLoad(const std::vector<pid_t>& children) {
  for (pid_t pid : children) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
}

std::string SchedulingOf(pthread_t thread) {
  int policy = 0;
  sched_param param{};
  pthread_getschedparam(thread, &policy, &param);
  if (policy == SCHED_FIFO)
    return "SCHED_FIFO priority " + std::to_string(param.sched_priority);
  return "normal (real-time scheduling not granted)";
}

} // namespace

int main(int argc, char** argv) {
  double seconds = 20;
  int loadProcesses = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--load") == 0) {
      loadProcesses = (i + 1 < argc && std::atoi(argv[i + 1]) > 0) ? std::atoi(argv[++i]) : 1;
    } else {
      seconds = std::max(1.0, std::atof(argv[i]));
    }
  }
  const std::vector<double> tempos = {100, 120, 140, 160, 180};
  const auto perTempo = std::chrono::duration<double>(seconds / tempos.size());

  melo::TMetronome& metro = melo::Metronome;
  TStampingSink sink;
  melo::TAutoAccomp accomp(metro);
  accomp.Engine = &sink;
  accomp.SetAccompStyleGroup(0); // preset 0

  // Learns which thread ticks, to read its scheduling and CPU clock.
  std::atomic<bool> haveWorker{false};
  pthread_t worker{};
  metro.AddClient("bench", melo::mfTick,
                  [&](melo::TMetronome&, std::uint16_t, double, double, int, std::int32_t,
                      std::int32_t, bool&) {
                    if (!haveWorker) {
                      worker = pthread_self();
                      haveWorker = true;
                    }
                  });

  const std::vector<pid_t> load = StartLoad(loadProcesses);
  timespec processStart{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &processStart);
  const Clock::time_point wallStart = Clock::now();

  std::vector<double> all;
  std::vector<TSummary> perTempoSummary;
  std::string scheduling = "unknown";
  double workerCpuMs = 0;
  for (double tempo : tempos) {
    metro.SetTempo(tempo);
    accomp.SetStart(true);
    metro.SetRunning(true);
    std::this_thread::sleep_for(perTempo);
    if (haveWorker) {
      clockid_t cpuClock{};
      if (pthread_getcpuclockid(worker, &cpuClock) == 0)
        workerCpuMs += ThreadCpuMs(cpuClock);
      scheduling = SchedulingOf(worker);
    }
    metro.SetRunning(false); // each tempo runs on a worker of its own
    accomp.SetStart(false);
    haveWorker = false;
    const std::vector<double> errors = ErrorsOf(sink.Take(), tempo);
    perTempoSummary.push_back(Summarise(errors));
    all.insert(all.end(), errors.begin(), errors.end());
  }

  const double wallMs = std::chrono::duration<double, std::milli>(Clock::now() - wallStart).count();
  timespec processEnd{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &processEnd);
  StopLoad(load);

  const double processCpuMs = (processEnd.tv_sec - processStart.tv_sec) * 1000.0 +
                              (processEnd.tv_nsec - processStart.tv_nsec) / 1e6;
  const TSummary total = Summarise(all);
  std::printf("accompaniment timing: preset 0, %.1f s, competing load: %d busy process(es), "
              "%u CPUs\n",
              seconds, loadProcesses, std::thread::hardware_concurrency());
  std::printf("metronome worker: %s\n", scheduling.c_str());
  for (std::size_t i = 0; i < tempos.size(); ++i) {
    std::printf("  tempo %3.0f: median %.3f ms, p99 %.3f ms, max %.3f ms, mean lateness %.3f ms\n",
                tempos[i], perTempoSummary[i].Median, perTempoSummary[i].P99,
                perTempoSummary[i].Max, perTempoSummary[i].MeanSigned);
  }
  std::printf("drum note-ons: %zu; error against the ideal sixteenth: median %.3f ms, "
              "99th percentile %.3f ms, maximum %.3f ms (mean lateness %.3f ms)\n",
              all.size(), total.Median, total.P99, total.Max, total.MeanSigned);
  std::printf("CPU: metronome worker %.1f ms (%.3f%% of %.1f s), whole process %.1f ms\n",
              workerCpuMs, 100.0 * workerCpuMs / wallMs, wallMs / 1000, processCpuMs);
  return 0;
}
