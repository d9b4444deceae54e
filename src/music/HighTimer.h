#pragma once
// A periodic timer whose ticks always run on the UI thread (through the
// dispatcher of KoTimer.h); the recorder's player steps on it every 10 ms.
#include <cstdint>
#include <functional>
#include <memory>

namespace melo {

class TUiTicker;

class THighTimer {
public:
  using TNotifyEvent = std::function<void(THighTimer& sender)>;

  THighTimer();
  ~THighTimer();
  THighTimer(const THighTimer&) = delete;
  THighTimer& operator=(const THighTimer&) = delete;

  int MaxPeriod() const;
  int MinPeriod() const;

  std::uint32_t TimerRes() const { return FTimerRes; }
  // Raised to MinPeriod when smaller; restarts the timer when it changes.
  void SetTimerRes(std::uint32_t value);

  std::uint32_t Interval() const { return FInterval; }
  // Ignored when unchanged or below TimerRes; otherwise restarts the timer.
  void SetInterval(std::uint32_t value);

  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool value);

  const TNotifyEvent& OnTimer() const { return FOnTimer; }
  void SetOnTimer(TNotifyEvent value);

private:
  void Update();
  void StopTicker();

  std::uint32_t FTimerRes;
  std::uint32_t FInterval = 1000;
  bool FEnabled = false;
  TNotifyEvent FOnTimer;
  std::unique_ptr<TUiTicker> FTicker; // present while running
};

} // namespace melo
