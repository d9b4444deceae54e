#include "music/HighTimer.h"

#include "music/KoTimer.h"

#include <chrono>
#include <utility>

namespace melo {

THighTimer::THighTimer() : FTimerRes(TimerMinPeriod) {}

THighTimer::~THighTimer() {
  FEnabled = false;
  StopTicker();
}

int THighTimer::MaxPeriod() const {
  return static_cast<int>(TimerMaxPeriod);
}
int THighTimer::MinPeriod() const {
  return static_cast<int>(TimerMinPeriod);
}

void THighTimer::SetTimerRes(std::uint32_t value) {
  if (value < TimerMinPeriod)
    value = TimerMinPeriod;
  if (value == FTimerRes)
    return;
  FTimerRes = value;
  Update();
}

void THighTimer::SetInterval(std::uint32_t value) {
  if (value == FInterval || value < FTimerRes)
    return;
  FInterval = value;
  Update();
}

void THighTimer::SetEnabled(bool value) {
  if (value == FEnabled)
    return;
  FEnabled = value;
  Update();
}

void THighTimer::SetOnTimer(TNotifyEvent value) {
  FOnTimer = std::move(value);
  Update();
}

void THighTimer::StopTicker() {
  if (FTicker)
    FTicker->Stop();
  FTicker.reset();
}

void THighTimer::Update() {
  StopTicker();
  if (FInterval == 0 || !FEnabled || !FOnTimer)
    return;
  TUiDispatcher dispatcher = UiDispatcher();
  if (!dispatcher)
    return; // like a timer the system refused: silently idle
  FTicker = std::make_unique<TUiTicker>(std::chrono::milliseconds(FInterval), std::move(dispatcher),
                                        [this] {
                                          if (FOnTimer)
                                            FOnTimer(*this);
                                        });
}

} // namespace melo
