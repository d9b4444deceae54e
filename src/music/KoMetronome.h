#pragma once
// The musical clock: turns elapsed time and a tempo into a position in bars and
// calls named clients when a new second, bar, beat or sixteenth note begins.
// It ticks every 5 ms on a worker thread of the highest priority granted, plus
// once on the millisecond each sixteenth note begins, so every client callback
// runs on that thread.
#include "music/KoTimer.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace melo {

class TMetronome;

// Event bits of a client's Mask and of the flags passed to its callback.
inline constexpr std::uint16_t mfTick = 0x0001;
inline constexpr std::uint16_t mfNewBar = 0x0002;
inline constexpr std::uint16_t mfNewBeat = 0x0004;
inline constexpr std::uint16_t mfNewSixteenth = 0x0008;
inline constexpr std::uint16_t mfNewSecond = 0x0010;
inline constexpr std::uint16_t mfPeriodic = 0x0040; // every Param ms of ElapsedRealMs
inline constexpr std::uint16_t mfAtBar = 0x0080;    // once, when bar Param begins
inline constexpr std::uint16_t mfAtBeat = 0x0100;   // once, when beat Param of a bar begins

// Set Stop to be removed after this call. The two reserved values are always 0.
using TMetronomeCallback = std::function<void(
    TMetronome& sender, std::uint16_t flags, double elapsedMs, double barPosition, int beatsPerBar,
    std::int32_t reserved1, std::int32_t reserved2, bool& stop)>;

struct TMetronomeNotify {
  std::string Name; // unique, compared case-sensitively
  bool Repeating = true;
  std::uint16_t Mask = 0;
  TMetronomeCallback Callback;
  int Param = 0; // target bar, target beat or period in ms of the special modes
  std::int64_t LastFiredMs = 0;
};

class TMetronome {
public:
  // A monotonic millisecond count.
  using TClock = std::function<std::int64_t()>;
  using TNotifyEvent = std::function<void(TMetronome& sender)>;

  // Without a clock the steady clock is used. Tests pass their own and drive
  // Tick by hand after clearing Timer.OnTimer.
  explicit TMetronome(TClock clock = {});
  ~TMetronome();
  TMetronome(const TMetronome&) = delete;
  TMetronome& operator=(const TMetronome&) = delete;

  void SetRunning(bool value);
  // Changes the tempo without a jump in BarPosition.
  void SetTempo(double value);

  // False, leaving the existing client untouched, if the name is taken.
  bool AddClient(const std::string& name, std::uint16_t mask, TMetronomeCallback callback);
  // The same, setting Param for the modes mfPeriodic, mfAtBar and mfAtBeat.
  bool AddClient(const std::string& name, std::uint16_t mask, TMetronomeCallback callback,
                 int param);
  bool RemoveClient(const std::string& name);
  // Slot of the client, -1 if none. Slots of removed clients stay empty, so
  // indices never move.
  int IndexOfClient(const std::string& name) const;
  // The names of the clients, in slot order.
  std::vector<std::string> ClientNames() const;

  // The handler of Timer; public so that tests can drive the clock.
  void Tick();
  void SetClock(TClock clock);

  bool Running() const;
  double Tempo() const;
  int BeatsPerBar() const { return FBeatsPerBar; }
  double ElapsedMs() const;
  std::int64_t ElapsedRealMs() const;
  double BarPosition() const;
  // The clock's time (ms, fractional) at which the sixteenth note of the last
  // tick began: the intended time of what a client plays for it.
  double SixteenthStartMs() const;

  TNotifyEvent OnStart;
  TNotifyEvent OnStop;
  TKoHiTimer Timer; // 5 ms, worker thread, highest priority

private:
  std::int64_t Now() const;
  void Reset();
  double BarPositionAt(double ms) const;
  double MsAtBarPosition(double position) const;
  void ClearSlot(std::size_t slot, const TMetronomeNotify* client);
  void CallClient(std::size_t slot, std::uint16_t flags, int beat);
  void RequestBoundaryTick(std::int64_t now);

  // Guards everything below; held through a whole tick, so that no callback
  // of a client runs after RemoveClient has returned. Recursive: callbacks may
  // add and remove clients and change the tempo.
  mutable std::recursive_mutex FLock;
  TClock FClock;
  bool FSteadyClock = true; // the clock is SteadyMs, whose counts map onto timer deadlines
  double FTempo = 100.0;
  const int FBeatsPerBar = 4;
  bool FRunning = false;
  bool FFirstTickPending = false;
  std::int64_t FStartTick = 0;
  std::int64_t FBaseTick = 0;
  double FElapsedMs = 0;
  std::int64_t FElapsedRealMs = 0;
  double FBarPosition = 0;
  double FTempoChangeMs = 0;
  double FTempoChangeBars = 0;
  int FLastSecond = 0;
  int FLastBar = 0;
  int FLastBeat = 0;
  int FLastSixteenth = 0;
  std::vector<std::shared_ptr<TMetronomeNotify>> FClients; // null = empty slot
};

// The one shared clock of the program.
extern TMetronome Metronome;

} // namespace melo
