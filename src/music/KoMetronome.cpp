#include "music/KoMetronome.h"

#include "platform/GlobalState.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <utility>

namespace melo {

TMetronome Metronome;

namespace {

// Put back: stopped or running as before, without the clients added since, at the old tempo.
[[maybe_unused]] const bool MetronomeRegistered = RegisterGlobalState([] {
  return TGlobalRestore([running = Metronome.Running(), tempo = Metronome.Tempo(),
                         clients = Metronome.ClientNames()] {
    if (Metronome.Running() && !running) {
      Metronome.SetRunning(false);
    }
    for (const std::string& name : Metronome.ClientNames()) {
      if (std::find(clients.begin(), clients.end(), name) == clients.end()) {
        Metronome.RemoveClient(name);
      }
    }
    if (Metronome.Tempo() != tempo) {
      Metronome.SetTempo(tempo);
    }
    if (running && !Metronome.Running()) {
      Metronome.SetRunning(true);
    }
  });
});

std::int64_t SteadyMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

TMetronome::TMetronome(TClock Clock) : FClock(std::move(Clock)) {
  FSteadyClock = !FClock;
  if (!FClock)
    FClock = SteadyMs;
  FClients.reserve(16);
  Timer.TimerRes = 1;
  Timer.SetInterval(5);
  Timer.Synchronize = false;
  Timer.SetUseThread(true);
  Timer.SetThreadPriority(TThreadPriority::tpHighest);
  Timer.OnTimer = [this](TKoHiTimer&) { Tick(); };
}

TMetronome::~TMetronome() {
  // The worker must be gone before the client list is.
  Timer.OnTimer = nullptr;
  Timer.SetEnabled(false);
}

void TMetronome::SetClock(TClock Clock) {
  std::lock_guard lock(FLock);
  FSteadyClock = !Clock;
  FClock = Clock ? std::move(Clock) : TClock(SteadyMs);
}

std::int64_t TMetronome::Now() const {
  return FClock();
}

bool TMetronome::Running() const {
  std::lock_guard lock(FLock);
  return FRunning;
}

double TMetronome::Tempo() const {
  std::lock_guard lock(FLock);
  return FTempo;
}

double TMetronome::ElapsedMs() const {
  std::lock_guard lock(FLock);
  return FElapsedMs;
}

std::int64_t TMetronome::ElapsedRealMs() const {
  std::lock_guard lock(FLock);
  return FElapsedRealMs;
}

double TMetronome::BarPosition() const {
  std::lock_guard lock(FLock);
  return FBarPosition;
}

double TMetronome::BarPositionAt(double Ms) const {
  return (Ms - FTempoChangeMs) * FTempo / (FBeatsPerBar * 60000.0) + FTempoChangeBars;
}

double TMetronome::MsAtBarPosition(double Position) const {
  return (Position - FTempoChangeBars) * FBeatsPerBar * 60000.0 / FTempo + FTempoChangeMs;
}

double TMetronome::SixteenthStartMs() const {
  std::lock_guard lock(FLock);
  if (FTempo <= 0)
    return static_cast<double>(FBaseTick) + FElapsedMs;
  const double sixteenthsPerBar = FBeatsPerBar * 4.0;
  // A position a hair below a boundary through rounding still counts as on it.
  const double start = std::floor(FBarPosition * sixteenthsPerBar + 1e-9) / sixteenthsPerBar;
  return static_cast<double>(FBaseTick) + std::max(MsAtBarPosition(start), FTempoChangeMs);
}

void TMetronome::Reset() {
  FElapsedRealMs = 0;
  FLastSecond = FLastBar = FLastBeat = FLastSixteenth = -1;
  FElapsedMs = FBarPosition = FTempoChangeBars = FTempoChangeMs = 0;
  FBaseTick = Now();
}

void TMetronome::SetTempo(double Value) {
  std::lock_guard lock(FLock);
  if (Value == FTempo)
    return;
  const double m = static_cast<double>(Now() - FBaseTick);
  FTempoChangeBars = BarPositionAt(m);
  FTempoChangeMs = m;
  FTempo = Value;
}

void TMetronome::SetRunning(bool Value) {
  Timer.SetEnabled(false); // joins the worker: no tick runs while the state is reset
  {
    std::lock_guard lock(FLock);
    FRunning = Value;
    Reset();
    FStartTick = FBaseTick;
    FFirstTickPending = Value;
  }
  if (Value) {
    if (OnStart)
      OnStart(*this);
    Timer.SetEnabled(true);
  } else if (OnStop) {
    OnStop(*this);
  }
}

bool TMetronome::AddClient(const std::string& Name, std::uint16_t Mask,
                           TMetronomeCallback Callback) {
  return AddClient(Name, Mask, std::move(Callback), 0);
}

bool TMetronome::AddClient(const std::string& Name, std::uint16_t Mask, TMetronomeCallback Callback,
                           int Param) {
  auto client = std::make_shared<TMetronomeNotify>();
  client->Name = Name;
  client->Mask = Mask;
  client->Callback = std::move(Callback);
  client->Param = Param;
  std::lock_guard lock(FLock);
  if (IndexOfClient(Name) >= 0)
    return false;
  FClients.push_back(std::move(client));
  return true;
}

bool TMetronome::RemoveClient(const std::string& Name) {
  std::lock_guard lock(FLock);
  const int slot = IndexOfClient(Name);
  if (slot < 0)
    return false;
  FClients[static_cast<std::size_t>(slot)].reset();
  return true;
}

int TMetronome::IndexOfClient(const std::string& Name) const {
  std::lock_guard lock(FLock);
  for (std::size_t i = 0; i < FClients.size(); ++i)
    if (FClients[i] && FClients[i]->Name == Name)
      return static_cast<int>(i);
  return -1;
}

std::vector<std::string> TMetronome::ClientNames() const {
  std::lock_guard lock(FLock);
  std::vector<std::string> names;
  for (const auto& client : FClients) {
    if (client) {
      names.push_back(client->Name);
    }
  }
  return names;
}

void TMetronome::ClearSlot(std::size_t Slot, const TMetronomeNotify* Client) {
  // The callback may already have removed itself, and another client taken
  // its name; only this record's own slot is cleared.
  if (FClients[Slot].get() == Client)
    FClients[Slot].reset();
}

void TMetronome::CallClient(std::size_t Slot, std::uint16_t Flags, int Beat) {
  // A local reference keeps the record alive if its callback removes it.
  const std::shared_ptr<TMetronomeNotify> client = FClients[Slot];
  if (!client || !client->Callback)
    return;
  bool stop = false;
  auto call = [&](std::uint16_t fired) {
    client->Callback(*this, fired, FElapsedMs, FBarPosition, FBeatsPerBar, 0, 0, stop);
  };
  if ((Flags & mfNewBeat) && (client->Mask & mfAtBeat)) {
    if (Beat == client->Param) {
      call(mfAtBeat);
      ClearSlot(Slot, client.get());
    }
    return;
  }
  if ((Flags & mfNewBar) && (client->Mask & mfAtBar)) {
    if (std::lround(FBarPosition) == client->Param) {
      call(mfAtBar);
      ClearSlot(Slot, client.get());
    }
    return;
  }
  std::uint16_t fired = 0;
  if (client->Mask & mfPeriodic) {
    if (std::llabs(FElapsedRealMs - client->LastFiredMs) < client->Param)
      return;
    fired = mfPeriodic;
    client->LastFiredMs = FElapsedRealMs;
  } else {
    fired = client->Mask & Flags;
    if (fired == 0)
      return;
  }
  call(fired);
  if (stop || !client->Repeating)
    ClearSlot(Slot, client.get());
}

void TMetronome::Tick() {
  std::lock_guard lock(FLock);
  const std::int64_t now = Now();
  if (FFirstTickPending) {
    FStartTick = now;
    FBaseTick = FStartTick;
    FFirstTickPending = false;
  }
  FElapsedRealMs = now - FStartTick;
  FElapsedMs = static_cast<double>(now - FBaseTick);
  FBarPosition = BarPositionAt(FElapsedMs);

  const double whole = std::trunc(FBarPosition);
  const double frac = FBarPosition - whole;
  const int second = static_cast<int>(FElapsedMs / 1000.0);
  const int bar = static_cast<int>(whole);
  const int beat = static_cast<int>(frac * FBeatsPerBar);
  const int sixteenth = static_cast<int>(frac * FBeatsPerBar * 4.0) % 4;

  std::uint16_t flags = mfTick;
  if (second != FLastSecond)
    flags |= mfNewSecond;
  if (bar != FLastBar)
    flags |= mfNewBar;
  if (beat != FLastBeat)
    flags |= mfNewBeat;
  if (sixteenth != FLastSixteenth)
    flags |= mfNewSixteenth;

  const std::size_t count = FClients.size(); // clients added by a callback wait for the next tick
  for (std::size_t slot = 0; slot < count; ++slot)
    CallClient(slot, flags, beat);

  FLastSecond = second;
  FLastBar = bar;
  FLastBeat = beat;
  FLastSixteenth = sixteenth;
  RequestBoundaryTick(now);
}

// The 5 ms ticks find a boundary up to 5 ms late; an extra tick on the
// millisecond the next sixteenth begins catches it on time.
void TMetronome::RequestBoundaryTick(std::int64_t Now) {
  if (!FSteadyClock || FTempo <= 0)
    return;
  const double sixteenthsPerBar = FBeatsPerBar * 4.0;
  const double nextBar = (std::floor(FBarPosition * sixteenthsPerBar) + 1) / sixteenthsPerBar;
  const double ms = MsAtBarPosition(nextBar);
  const std::int64_t due = FBaseTick + static_cast<std::int64_t>(std::ceil(ms - 1e-6));
  if (due > Now)
    Timer.RequestTick(std::chrono::steady_clock::time_point(std::chrono::milliseconds(due)));
}

} // namespace melo
