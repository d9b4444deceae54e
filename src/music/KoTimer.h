#pragma once
// Millisecond timers on standard threads and the monotonic clock. A timer
// either calls its handler on a worker thread of its own (thread mode) or
// delivers its ticks on the UI thread through the dispatcher the application
// installs (message mode).
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

namespace melo {

// ---- UI-thread dispatcher ---------------------------------------------------

// A call to be run on the UI thread.
using TUiCall = std::function<void()>;
// Queues a call to the UI thread and returns at once; must be safe to call
// from any thread. The program installs one that posts into the Qt event loop,
// tests one that appends to a queue they drain themselves.
using TUiDispatcher = std::function<void(TUiCall)>;

// Installs (or, with an empty function, removes) the dispatcher. Timers take a
// copy when they start, so install it before enabling message-mode timers.
void SetUiDispatcher(TUiDispatcher dispatcher);
TUiDispatcher UiDispatcher();

// ---- Threads ----------------------------------------------------------------

enum class TThreadPriority {
  tpIdle,
  tpLowest,
  tpLower,
  tpNormal,
  tpHigher,
  tpHighest,
  tpTimeCritical
};

// Raises or lowers the calling thread as far as the system allows: real-time
// scheduling for the higher levels where permitted, a nice value otherwise.
// Failures are silent.
void ApplyThreadPriority(TThreadPriority priority);

// The shortest and longest period a timer accepts, in ms.
inline constexpr unsigned TimerMinPeriod = 1;
inline constexpr unsigned TimerMaxPeriod = 1000000;

// A thread that calls Tick at absolute deadlines, one period apart, from the
// moment Start is called. A tick that runs late is followed by at most one
// catch-up tick, so a stall never causes a burst.
class TPeriodicWorker {
public:
  TPeriodicWorker(std::chrono::microseconds period, TThreadPriority priority,
                  std::function<void()> tick);
  ~TPeriodicWorker();
  TPeriodicWorker(const TPeriodicWorker&) = delete;
  TPeriodicWorker& operator=(const TPeriodicWorker&) = delete;

  // Lets the first tick run (at once).
  void Start();
  // Asks for one extra tick at `at` (the regular ones go on as before); called
  // from a tick, it takes effect for the next wait.
  void RequestTick(std::chrono::steady_clock::time_point at);
  // No tick begins after this returns. Joins the thread, or lets it end by
  // itself when called from inside a tick.
  void Stop();

private:
  struct TState;
  std::shared_ptr<TState> FState;
  std::thread FThread;
};

// Delivers ticks on the UI thread: a worker posts one call per period through
// the dispatcher, never more than one waiting at a time (a busy UI thread makes
// ticks merge instead of pile up). A tick that arrives while the previous one
// still runs (a nested event loop) is dropped. Stop and destruction belong on
// the UI thread; no tick runs after Stop returns.
class TUiTicker {
public:
  TUiTicker(std::chrono::microseconds period, TUiDispatcher dispatcher,
            std::function<void()> onTick);
  ~TUiTicker();
  TUiTicker(const TUiTicker&) = delete;
  TUiTicker& operator=(const TUiTicker&) = delete;

  void Stop();

private:
  struct TState;
  std::shared_ptr<TState> FState;
  std::unique_ptr<TPeriodicWorker> FWorker;
};

// ---- TKoHiTimer -------------------------------------------------------------

class TKoHiTimer {
public:
  using TNotifyEvent = std::function<void(TKoHiTimer& sender)>;

  TKoHiTimer();
  ~TKoHiTimer();
  TKoHiTimer(const TKoHiTimer&) = delete;
  TKoHiTimer& operator=(const TKoHiTimer&) = delete;

  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool value); // always restarts (or stops) the timer

  std::uint16_t Interval() const { return FInterval; }
  // A period outside MinPeriod..MaxPeriod becomes 1000 ms.
  void SetInterval(std::uint16_t value);

  bool UseThread() const { return FUseThread; }
  void SetUseThread(bool value);

  TThreadPriority ThreadPriority() const { return FThreadPriority; }
  void SetThreadPriority(TThreadPriority value);

  unsigned MinPeriod() const { return FMinPeriod; }
  unsigned MaxPeriod() const { return FMaxPeriod; }

  // Thread mode, from inside the handler: one extra tick at `at`, between the
  // regular ones (a clock that knows when its next event falls due need not
  // wait for the next period).
  void RequestTick(std::chrono::steady_clock::time_point at);

  // Stored only; they take effect when the timer next (re)starts.
  TNotifyEvent OnTimer;
  std::uint16_t TimerRes = 0; // kept for callers; every period is exact to the ms here
  bool Synchronize = true;    // thread mode: run the handler on the UI thread and wait for it

private:
  struct TRun;
  void Update();
  void StopRunning();
  void StartThreadMode();
  void StartMessageMode();
  void DoTimer();

  bool FEnabled = false;
  std::uint16_t FInterval = 1000;
  bool FUseThread = true;
  TThreadPriority FThreadPriority = TThreadPriority::tpNormal;
  unsigned FMinPeriod = TimerMinPeriod;
  unsigned FMaxPeriod = TimerMaxPeriod;
  std::shared_ptr<TRun> FRun; // thread mode
  std::unique_ptr<TPeriodicWorker> FWorker;
  std::unique_ptr<TUiTicker> FTicker; // message mode
};

} // namespace melo
