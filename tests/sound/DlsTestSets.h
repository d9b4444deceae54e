#pragma once
// Small DLS collections built in memory for the tests, and a walker that
// finds chunks in the written bytes so tests can damage them on purpose.
#include "sound/DlsCollection.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

namespace melo::test {

inline std::vector<std::int16_t> Sine(double frequency, int rate, int frames, double amplitude) {
  std::vector<std::int16_t> out(frames);
  for (int i = 0; i < frames; ++i) {
    out[i] = std::int16_t(
        std::lround(amplitude * 32767.0 * std::sin(2 * std::numbers::pi * frequency * i / rate)));
  }
  return out;
}

// A mono wave holding a whole number of periods of frequency, looped over
// its full length when looped is set (so the loop joins without a step).
inline TDlsWave LoopedSine(double frequency, int rate, int periods, std::uint16_t unityNote,
                           bool looped = true, std::uint16_t bits = 16) {
  const int frames = int(std::lround(periods * rate / frequency));
  TDlsWave wave;
  wave.SampleRate = std::uint32_t(rate);
  wave.BitsPerSample = bits;
  wave.Channels.push_back(Sine(rate / double(frames) * periods, rate, frames, 0.5));
  if (bits == 8) {
    for (auto& s : wave.Channels[0])
      s = std::int16_t(s & ~0xFF);
  }
  wave.HasSampleInfo = true;
  wave.SampleInfo.UnityNote = unityNote;
  wave.SampleInfo.Looped = looped;
  wave.SampleInfo.LoopStart = 0;
  wave.SampleInfo.LoopLength = looped ? std::uint32_t(frames) : 0;
  return wave;
}

inline TDlsRegion Region(std::uint32_t wave, std::uint16_t keyLow = 0, std::uint16_t keyHigh = 127,
                         std::uint16_t velLow = 0, std::uint16_t velHigh = 127) {
  TDlsRegion r;
  r.KeyLow = keyLow;
  r.KeyHigh = keyHigh;
  r.VelocityLow = velLow;
  r.VelocityHigh = velHigh;
  r.WaveIndex = wave;
  return r;
}

inline TDlsInstrument Instrument(std::uint32_t bank, std::uint32_t program, std::string name,
                                 std::vector<TDlsRegion> regions, bool level2) {
  TDlsInstrument ins;
  ins.Bank = bank;
  ins.Program = program;
  ins.Name = std::move(name);
  ins.Regions = std::move(regions);
  ins.Level2 = level2;
  for (auto& r : ins.Regions)
    r.Level2 = level2;
  return ins;
}

inline TDlsConnection Conn(std::uint16_t dst, std::int32_t scale, std::uint16_t src = CONN_SRC_NONE,
                           std::uint16_t control = CONN_SRC_NONE,
                           std::uint16_t transform = CONN_TRN_NONE) {
  return {src, control, dst, transform, scale};
}

// Level 1: two melodic instruments (one split at middle C, one 8-bit), a
// variation in bank MSB 8 LSB 1, and a drum kit; waves 0..3.
inline TDlsCollection Level1Set() {
  TDlsCollection c;
  c.Waves.push_back(LoopedSine(440.0, 22050, 20, 69));
  c.Waves.push_back(LoopedSine(220.0, 22050, 10, 57));
  c.Waves.push_back(LoopedSine(330.0, 11025, 10, 64, true, 8));
  c.Waves.push_back(LoopedSine(1000.0, 22050, 50, 60, false));
  c.Instruments.push_back(Instrument(0, 0, "Piano", {Region(1, 0, 59), Region(0, 60, 127)}, false));
  c.Instruments.push_back(Instrument(0, 24, "Guitar", {Region(2)}, false));
  c.Instruments.push_back(Instrument(0x0801, 5, "Variation", {Region(0)}, false));
  c.Instruments.push_back(Instrument(DlsDrumFlag, 0, "Standard Kit", {Region(3, 35, 81)}, false));
  c.Instruments[0].Connections = {Conn(CONN_DST_EG1_RELEASETIME, -1200 * 65536)};
  return c;
}

// Level 2: velocity layers, a stereo pair of mono waves, a stereo wave, an
// exclusive class in the drum kit and Level 2 articulation.
inline TDlsCollection Level2Set() {
  TDlsCollection c;
  c.Waves.push_back(LoopedSine(440.0, 44100, 40, 69));
  c.Waves.push_back(LoopedSine(880.0, 44100, 80, 81));
  c.Waves.push_back(LoopedSine(440.0, 44100, 40, 69));
  TDlsWave stereo = LoopedSine(440.0, 44100, 40, 69);
  stereo.Channels.push_back(stereo.Channels[0]);
  c.Waves.push_back(stereo);
  c.Waves.push_back(LoopedSine(2000.0, 44100, 100, 60, false));

  TDlsRegion soft = Region(0, 0, 127, 0, 63), loud = Region(1, 0, 127, 64, 127);
  loud.Layer = 1;
  TDlsRegion left = Region(0), right = Region(2);
  left.LinkOptions = right.LinkOptions = F_WAVELINK_MULTICHANNEL;
  left.Channel = WAVELINK_CHANNEL_LEFT;
  right.Channel = WAVELINK_CHANNEL_RIGHT;
  TDlsRegion hat = Region(4, 42, 42), openHat = Region(4, 46, 46);
  hat.KeyGroup = openHat.KeyGroup = 1;
  c.Instruments.push_back(Instrument(0, 0, "Layered", {soft, loud}, true));
  c.Instruments.push_back(Instrument(0, 48, "Stereo Pair", {left, right}, true));
  c.Instruments.push_back(Instrument(0, 49, "Stereo Wave", {Region(3)}, true));
  c.Instruments.push_back(Instrument(DlsDrumFlag | 0x0100, 16, "Power Kit", {hat, openHat}, true));
  c.Instruments[0].Regions[1].Connections = {Conn(CONN_DST_FILTER_CUTOFF, 8000 * 65536),
                                             Conn(CONN_DST_FILTER_Q, 60 * 65536)};
  return c;
}

// Every chunk of a written file: where its header starts and its data ends.
struct TChunkSpan {
  std::string Id; // for lists: "LIST/type"
  std::size_t Header = 0;
  std::size_t Data = 0; // first byte after the size field
  std::size_t End = 0;
};

inline std::uint32_t Get32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 | std::uint32_t(b[at + 2]) << 16 |
         std::uint32_t(b[at + 3]) << 24;
}

inline void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[at + i] = std::uint8_t(v >> (8 * i));
}

inline void WalkChunks(const std::vector<std::uint8_t>& b, std::size_t from, std::size_t to,
                       std::vector<TChunkSpan>& out) {
  while (from + 8 <= to) {
    TChunkSpan s;
    s.Id = std::string(reinterpret_cast<const char*>(&b[from]), 4);
    s.Header = from;
    s.Data = from + 8;
    s.End = s.Data + Get32(b, from + 4);
    const bool list = s.Id == "RIFF" || s.Id == "LIST";
    if (list)
      s.Id += "/" + std::string(reinterpret_cast<const char*>(&b[s.Data]), 4);
    out.push_back(s);
    if (list)
      WalkChunks(b, s.Data + 4, s.End, out);
    from = s.End + (s.End & 1);
  }
}

inline std::vector<TChunkSpan> Chunks(const std::vector<std::uint8_t>& bytes) {
  std::vector<TChunkSpan> out;
  WalkChunks(bytes, 0, bytes.size(), out);
  return out;
}

// The nth chunk with this id; its Data is where its fields begin.
inline TChunkSpan Find(const std::vector<std::uint8_t>& bytes, const std::string& id, int nth = 0) {
  for (const auto& s : Chunks(bytes)) {
    if (s.Id == id && nth-- == 0)
      return s;
  }
  return {};
}

} // namespace melo::test
