#include "music/KoTimer.h"

#include "platform/GlobalState.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>
#include <utility>

namespace melo {

// ---- UI-thread dispatcher ---------------------------------------------------

namespace {

std::mutex DispatcherLock;
TUiDispatcher& DispatcherSlot() {
  static TUiDispatcher dispatcher;
  return dispatcher;
}

[[maybe_unused]] const bool DispatcherRegistered = RegisterGlobalState(
    [] { return TGlobalRestore([saved = UiDispatcher()] { SetUiDispatcher(saved); }); });

} // namespace

void SetUiDispatcher(TUiDispatcher dispatcher) {
  std::lock_guard lock(DispatcherLock);
  DispatcherSlot() = std::move(dispatcher);
}

TUiDispatcher UiDispatcher() {
  std::lock_guard lock(DispatcherLock);
  return DispatcherSlot();
}

// ---- Threads ----------------------------------------------------------------

namespace {

struct TPriorityPlan {
  int FifoPriority; // 0: no real-time scheduling
  int Nice;
};

TPriorityPlan PlanFor(TThreadPriority priority) {
  switch (priority) {
  case TThreadPriority::tpIdle:
    return {0, 19};
  case TThreadPriority::tpLowest:
    return {0, 10};
  case TThreadPriority::tpLower:
    return {0, 5};
  case TThreadPriority::tpNormal:
    return {0, 0};
  case TThreadPriority::tpHigher:
    return {40, -5};
  case TThreadPriority::tpHighest:
    return {70, -10};
  case TThreadPriority::tpTimeCritical:
    return {80, -15};
  }
  return {0, 0};
}

bool TryRealTime(int fifoPriority) {
  sched_param param{};
  param.sched_priority = fifoPriority;
  return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
}

} // namespace

void ApplyThreadPriority(TThreadPriority priority) {
  const TPriorityPlan plan = PlanFor(priority);
  if (plan.FifoPriority > 0) {
    // Wake-ups of this thread should not be batched with others.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    if (TryRealTime(plan.FifoPriority))
      return;
  }
  if (plan.Nice != 0) {
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()),
                plan.Nice); // silently refused if not allowed
  }
}

struct TPeriodicWorker::TState {
  std::mutex Lock;
  std::condition_variable Wake;
  bool Started = false;
  bool StopRequested = false;
  std::chrono::steady_clock::time_point ExtraTick = std::chrono::steady_clock::time_point::max();
};

namespace {

template <typename WorkerState>
void RunPeriodic(const std::shared_ptr<WorkerState>& state, std::chrono::microseconds period,
                 TThreadPriority priority, const std::function<void()>& tick) {
  using Clock = std::chrono::steady_clock;
  ApplyThreadPriority(priority);
  std::unique_lock lock(state->Lock);
  // Created suspended: the owner resumes it once it holds the worker.
  state->Wake.wait(lock, [&] { return state->Started || state->StopRequested; });
  Clock::time_point deadline = Clock::now(); // of the next regular tick
  while (!state->StopRequested) {
    lock.unlock();
    try {
      tick();
    } catch (...) {
      // A failing handler must not take the process down; the next tick retries.
    }
    lock.lock();
    const Clock::time_point now = Clock::now();
    if (deadline <= now) { // that was a regular tick, not an extra one
      deadline += period;
      if (deadline < now)
        deadline = now; // late: one catch-up tick, then the grid goes on from here
    }
    const Clock::time_point wake = std::min(deadline, state->ExtraTick);
    state->ExtraTick = Clock::time_point::max();
    state->Wake.wait_until(lock, wake, [&] { return state->StopRequested; });
  }
}

} // namespace

TPeriodicWorker::TPeriodicWorker(std::chrono::microseconds period, TThreadPriority priority,
                                 std::function<void()> tick)
    : FState(std::make_shared<TState>()) {
  FThread = std::thread([state = FState, period, priority, tick = std::move(tick)] {
    RunPeriodic(state, period, priority, tick);
  });
}

TPeriodicWorker::~TPeriodicWorker() {
  Stop();
}

void TPeriodicWorker::Start() {
  // Notified under the lock: a first tick that stops and frees this worker
  // cannot begin before this call is done with it.
  std::lock_guard lock(FState->Lock);
  FState->Started = true;
  FState->Wake.notify_all();
}

void TPeriodicWorker::RequestTick(std::chrono::steady_clock::time_point at) {
  std::lock_guard lock(FState->Lock);
  FState->ExtraTick = std::min(FState->ExtraTick, at);
}

void TPeriodicWorker::Stop() {
  {
    std::lock_guard lock(FState->Lock);
    FState->StopRequested = true;
  }
  FState->Wake.notify_all();
  if (!FThread.joinable())
    return;
  if (FThread.get_id() == std::this_thread::get_id()) {
    FThread.detach(); // stopped from inside a tick: the loop ends when the tick returns
  } else {
    FThread.join();
  }
}

// ---- TUiTicker --------------------------------------------------------------

struct TUiTicker::TState {
  TUiDispatcher Dispatcher;
  std::function<void()> OnTick;
  std::atomic<bool> Queued{false};
  std::atomic<bool> Stopped{false};
  bool Busy = false; // UI thread only
};

namespace {

template <typename TickerState> void RunOnUiThread(const std::shared_ptr<TickerState>& state) {
  state->Queued = false;
  if (state->Stopped || state->Busy)
    return;
  state->Busy = true;
  try {
    state->OnTick(); // may stop or even destroy the owning timer
  } catch (...) {
    // Dropped: a throwing handler must not silence the timer for good.
  }
  state->Busy = false;
}

} // namespace

TUiTicker::TUiTicker(std::chrono::microseconds period, TUiDispatcher dispatcher,
                     std::function<void()> onTick)
    : FState(std::make_shared<TState>()) {
  FState->Dispatcher = std::move(dispatcher);
  FState->OnTick = std::move(onTick);
  FWorker = std::make_unique<TPeriodicWorker>(period, TThreadPriority::tpHigher, [state = FState] {
    if (state->Stopped || state->Queued.exchange(true))
      return;
    state->Dispatcher([state] { RunOnUiThread(state); });
  });
  FWorker->Start();
}

TUiTicker::~TUiTicker() {
  Stop();
}

void TUiTicker::Stop() {
  FState->Stopped = true;
  FWorker->Stop();
}

// ---- TKoHiTimer -------------------------------------------------------------

// Shared by a thread-mode run and the calls it hands to the UI thread, so that
// both outlive the timer if it is stopped or destroyed from inside a tick.
struct TKoHiTimer::TRun {
  TKoHiTimer* Owner = nullptr;
  TNotifyEvent Handler;         // copied at start: the worker never reads OnTimer
  std::function<void()> UiTick; // the handler dispatch, for synchronised calls
  TUiDispatcher Dispatcher;
  bool Synchronize = false;
  std::mutex Lock;
  std::condition_variable CallDone;
  bool Stopped = false;     // guarded by Lock
  bool CallPending = false; // guarded by Lock
};

TKoHiTimer::TKoHiTimer() = default;

TKoHiTimer::~TKoHiTimer() {
  OnTimer = nullptr;
  StopRunning();
  FEnabled = false;
}

void TKoHiTimer::SetEnabled(bool value) {
  FEnabled = value;
  Update();
}

void TKoHiTimer::SetInterval(std::uint16_t value) {
  if (value == FInterval)
    return;
  FInterval = (value < FMinPeriod || value > FMaxPeriod) ? 1000 : value;
  Update();
}

void TKoHiTimer::SetUseThread(bool value) {
  if (value == FUseThread)
    return;
  FUseThread = value;
  Update();
}

void TKoHiTimer::SetThreadPriority(TThreadPriority value) {
  if (value == FThreadPriority)
    return;
  FThreadPriority = value;
  if (FUseThread)
    Update();
}

void TKoHiTimer::RequestTick(std::chrono::steady_clock::time_point at) {
  if (FWorker)
    FWorker->RequestTick(at);
}

void TKoHiTimer::DoTimer() {
  if (OnTimer)
    OnTimer(*this);
}

void TKoHiTimer::StopRunning() {
  if (FRun) {
    {
      std::lock_guard lock(FRun->Lock);
      FRun->Stopped = true;
    }
    FRun->CallDone.notify_all(); // a worker waiting for the UI thread gives up
  }
  if (FWorker)
    FWorker->Stop();
  FWorker.reset();
  FRun.reset();
  if (FTicker)
    FTicker->Stop();
  FTicker.reset();
}

void TKoHiTimer::Update() {
  StopRunning();
  if (!FEnabled || !OnTimer)
    return;
  if (FUseThread) {
    StartThreadMode();
  } else if (FInterval != 0) {
    StartMessageMode();
  }
}

namespace {

// Runs the handler on the UI thread and waits until it has run, or until the
// timer is stopped (the queued call then does nothing).
template <typename Run> void CallSynchronised(const std::shared_ptr<Run>& run) {
  std::unique_lock lock(run->Lock);
  if (run->Stopped)
    return;
  run->CallPending = true;
  lock.unlock();
  run->Dispatcher([run] {
    bool stopped;
    {
      std::lock_guard guard(run->Lock);
      stopped = run->Stopped;
    }
    if (!stopped)
      run->UiTick();
    std::lock_guard guard(run->Lock);
    run->CallPending = false;
    run->CallDone.notify_all();
  });
  lock.lock();
  run->CallDone.wait(lock, [&] { return !run->CallPending || run->Stopped; });
}

} // namespace

void TKoHiTimer::StartThreadMode() {
  FRun = std::make_shared<TRun>();
  FRun->Owner = this;
  FRun->Handler = OnTimer;
  FRun->UiTick = [this] { DoTimer(); };
  FRun->Synchronize = Synchronize;
  FRun->Dispatcher = UiDispatcher();
  if (FRun->Synchronize && !FRun->Dispatcher)
    return; // nowhere to run the handler
  FWorker = std::make_unique<TPeriodicWorker>(std::chrono::milliseconds(FInterval), FThreadPriority,
                                              [run = FRun] {
                                                if (run->Synchronize) {
                                                  CallSynchronised(run);
                                                } else {
                                                  run->Handler(*run->Owner);
                                                }
                                              });
  FWorker->Start();
}

void TKoHiTimer::StartMessageMode() {
  TUiDispatcher dispatcher = UiDispatcher();
  if (!dispatcher)
    return; // no UI thread to deliver to
  FTicker = std::make_unique<TUiTicker>(std::chrono::milliseconds(FInterval), std::move(dispatcher),
                                        [this] { DoTimer(); });
}

} // namespace melo
