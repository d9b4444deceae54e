#pragma once
// The export benchmarks' song: a minute of two hands and drums.
#include "app/SimpleRecorder.h"

#include <cstdint>

namespace melo::bench {

inline constexpr std::uint32_t SongMs = 60000;

// Eight key presses a second, alternating hands over the default keys, a
// hi-hat on every beat and the pedal changed every two seconds.
inline TSimpleBuffer MinuteSong() {
  static constexpr std::int32_t keys[] = {0x10, 0x4F, 0x11, 0x50, 0x12, 0x51, 0x13, 0x4B};
  TSimpleBuffer events;
  int k = 0;
  for (std::uint32_t t = 0; t < SongMs; t += 125) {
    const std::int32_t scan = keys[k++ % 8];
    events.Add({t, 0, sekKeyDown, scan});
    events.Add({t + 110, 0, sekKeyUp, scan});
    if (t % 500 == 0)
      events.Add({t, 0, sekRawMidi, 0x99 << 16 | 42 << 8 | 80});
    if (t % 2000 == 0)
      events.Add({t, 0, sekLeftSustain, (t / 2000) % 2 == 0 ? -1 : 0});
  }
  events.Add({SongMs, 0, sekEnd, 0});
  return events;
}

// The start state of a fresh window.
inline TSongHeader BenchSongHeader() {
  TSongHeader header{};
  header.Info = MakeSongInfo("Bench", "", "");
  header.State.RightVelocity = 100;
  header.State.LeftVelocity = 70;
  FillDefaultKeyDefs(header.State.KeyDefs);
  return header;
}

} // namespace melo::bench
