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

TMetronome::TMetronome(TClock clock) : FClock(std::move(clock)) {
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

void TMetronome::SetClock(TClock clock) {
  std::lock_guard lock(FLock);
  FSteadyClock = !clock;
  FClock = clock ? std::move(clock) : TClock(SteadyMs);
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

double TMetronome::BarPositionAt(double ms) const {
  return (ms - FTempoChangeMs) * FTempo / (FBeatsPerBar * 60000.0) + FTempoChangeBars;
}

double TMetronome::MsAtBarPosition(double position) const {
  return (position - FTempoChangeBars) * FBeatsPerBar * 60000.0 / FTempo + FTempoChangeMs;
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

void TMetronome::SetTempo(double value) {
  std::lock_guard lock(FLock);
  if (value == FTempo)
    return;
  const double m = static_cast<double>(Now() - FBaseTick);
  FTempoChangeBars = BarPositionAt(m);
  FTempoChangeMs = m;
  FTempo = value;
}

void TMetronome::SetRunning(bool value) {
  Timer.SetEnabled(false); // joins the worker: no tick runs while the state is reset
  {
    std::lock_guard lock(FLock);
    FRunning = value;
    Reset();
    FStartTick = FBaseTick;
    FFirstTickPending = value;
  }
  if (value) {
    if (OnStart)
      OnStart(*this);
    Timer.SetEnabled(true);
  } else if (OnStop) {
    OnStop(*this);
  }
}

bool TMetronome::AddClient(const std::string& name, std::uint16_t mask,
                           TMetronomeCallback callback) {
  return AddClient(name, mask, std::move(callback), 0);
}

bool TMetronome::AddClient(const std::string& name, std::uint16_t mask, TMetronomeCallback callback,
                           int param) {
  auto client = std::make_shared<TMetronomeNotify>();
  client->Name = name;
  client->Mask = mask;
  client->Callback = std::move(callback);
  client->Param = param;
  std::lock_guard lock(FLock);
  if (IndexOfClient(name) >= 0)
    return false;
  FClients.push_back(std::move(client));
  return true;
}

bool TMetronome::RemoveClient(const std::string& name) {
  std::lock_guard lock(FLock);
  const int slot = IndexOfClient(name);
  if (slot < 0)
    return false;
  FClients[static_cast<std::size_t>(slot)].reset();
  return true;
}

int TMetronome::IndexOfClient(const std::string& name) const {
  std::lock_guard lock(FLock);
  for (std::size_t i = 0; i < FClients.size(); ++i) {
    if (FClients[i] && FClients[i]->Name == name)
      return static_cast<int>(i);
  }
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

void TMetronome::ClearSlot(std::size_t slot, const TMetronomeNotify* client) {
  // The callback may already have removed itself, and another client taken
  // its name; only this record's own slot is cleared.
  if (FClients[slot].get() == client)
    FClients[slot].reset();
}

void TMetronome::CallClient(std::size_t slot, std::uint16_t flags, int beat) {
  // A local reference keeps the record alive if its callback removes it.
  const std::shared_ptr<TMetronomeNotify> client = FClients[slot];
  if (!client || !client->Callback)
    return;
  bool stop = false;
  auto call = [&](std::uint16_t fired) {
    client->Callback(*this, fired, FElapsedMs, FBarPosition, FBeatsPerBar, 0, 0, stop);
  };
  if ((flags & mfNewBeat) && (client->Mask & mfAtBeat)) {
    if (beat == client->Param) {
      call(mfAtBeat);
      ClearSlot(slot, client.get());
    }
    return;
  }
  if ((flags & mfNewBar) && (client->Mask & mfAtBar)) {
    if (std::lround(FBarPosition) == client->Param) {
      call(mfAtBar);
      ClearSlot(slot, client.get());
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
    fired = client->Mask & flags;
    if (fired == 0)
      return;
  }
  call(fired);
  if (stop || !client->Repeating)
    ClearSlot(slot, client.get());
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
void TMetronome::RequestBoundaryTick(std::int64_t now) {
  if (!FSteadyClock || FTempo <= 0)
    return;
  const double sixteenthsPerBar = FBeatsPerBar * 4.0;
  const double nextBar = (std::floor(FBarPosition * sixteenthsPerBar) + 1) / sixteenthsPerBar;
  const double ms = MsAtBarPosition(nextBar);
  const std::int64_t due = FBaseTick + static_cast<std::int64_t>(std::ceil(ms - 1e-6));
  if (due > now)
    Timer.RequestTick(std::chrono::steady_clock::time_point(std::chrono::milliseconds(due)));
}

} // namespace melo
