#include "sound/DlsWriter.h"

#include "platform/FileBytes.h"

namespace melo {

namespace {

class TChunkWriter {
public:
  void Put16(std::uint32_t v) {
    FBytes.push_back(std::uint8_t(v));
    FBytes.push_back(std::uint8_t(v >> 8));
  }
  void Put32(std::uint32_t v) {
    Put16(v & 0xFFFF);
    Put16(v >> 16);
  }
  void PutId(const char (&id)[5]) { FBytes.insert(FBytes.end(), id, id + 4); }

  // Chunks nest: Begin writes the header, End patches the size and pads.
  void Begin(const char (&id)[5]) {
    PutId(id);
    FOpen.push_back(FBytes.size());
    Put32(0);
  }
  void BeginList(const char (&kind)[5], const char (&type)[5]) {
    Begin(kind);
    PutId(type);
  }
  void End() {
    const std::size_t at = FOpen.back();
    FOpen.pop_back();
    const std::uint32_t size = std::uint32_t(FBytes.size() - at - 4);
    for (int i = 0; i < 4; ++i)
      FBytes[at + i] = std::uint8_t(size >> (8 * i));
    if (size & 1)
      FBytes.push_back(0);
  }
  std::vector<std::uint8_t>& Bytes() { return FBytes; }
  std::size_t Size() const { return FBytes.size(); }

private:
  std::vector<std::uint8_t> FBytes;
  std::vector<std::size_t> FOpen;
};

void WriteName(TChunkWriter& w, const std::string& name) {
  if (name.empty())
    return;
  w.BeginList("LIST", "INFO");
  w.Begin("INAM");
  w.Bytes().insert(w.Bytes().end(), name.begin(), name.end());
  w.Bytes().push_back(0);
  w.End();
  w.End();
}

void WriteSampleInfo(TChunkWriter& w, const TDlsSampleInfo& info) {
  w.Begin("wsmp");
  w.Put32(20);
  w.Put16(info.UnityNote);
  w.Put16(std::uint16_t(info.FineTune));
  w.Put32(std::uint32_t(info.Attenuation));
  w.Put32(info.Options);
  w.Put32(info.Looped ? 1 : 0);
  if (info.Looped) {
    w.Put32(16);
    w.Put32(info.LoopType);
    w.Put32(info.LoopStart);
    w.Put32(info.LoopLength);
  }
  w.End();
}

void WriteArticulation(TChunkWriter& w, const std::vector<TDlsConnection>& connections,
                       bool level2) {
  if (connections.empty())
    return;
  if (level2) {
    w.BeginList("LIST", "lar2");
  } else {
    w.BeginList("LIST", "lart");
  }
  if (level2) {
    w.Begin("art2");
  } else {
    w.Begin("art1");
  }
  w.Put32(8);
  w.Put32(std::uint32_t(connections.size()));
  for (const TDlsConnection& c : connections) {
    w.Put16(c.Source);
    w.Put16(c.Control);
    w.Put16(c.Destination);
    w.Put16(c.Transform);
    w.Put32(std::uint32_t(c.Scale));
  }
  w.End();
  w.End();
}

void WriteRegion(TChunkWriter& w, const TDlsRegion& r, bool level2) {
  if (level2) {
    w.BeginList("LIST", "rgn2");
  } else {
    w.BeginList("LIST", "rgn ");
  }
  w.Begin("rgnh");
  w.Put16(r.KeyLow);
  w.Put16(r.KeyHigh);
  w.Put16(r.VelocityLow);
  w.Put16(r.VelocityHigh);
  w.Put16(r.Options);
  w.Put16(r.KeyGroup);
  if (level2)
    w.Put16(r.Layer);
  w.End();
  if (r.HasSampleInfo)
    WriteSampleInfo(w, r.SampleInfo);
  w.Begin("wlnk");
  w.Put16(r.LinkOptions);
  w.Put16(r.PhaseGroup);
  w.Put32(r.Channel);
  w.Put32(r.WaveIndex);
  w.End();
  WriteArticulation(w, r.Connections, level2);
  w.End();
}

void WriteInstrument(TChunkWriter& w, const TDlsInstrument& ins) {
  w.BeginList("LIST", "ins ");
  w.Begin("insh");
  w.Put32(std::uint32_t(ins.Regions.size()));
  w.Put32(ins.Bank);
  w.Put32(ins.Program);
  w.End();
  w.BeginList("LIST", "lrgn");
  for (const TDlsRegion& r : ins.Regions)
    WriteRegion(w, r, ins.Level2);
  w.End();
  WriteArticulation(w, ins.Connections, ins.Level2);
  WriteName(w, ins.Name);
  w.End();
}

void WriteWaveData(TChunkWriter& w, const TDlsWave& wave) {
  w.Begin("data");
  auto& out = w.Bytes();
  for (std::size_t i = 0; i < wave.FrameCount(); ++i) {
    for (std::size_t channel = 0; channel < wave.ChannelCount(); ++channel) {
      const std::int16_t frame = wave.Frame(channel, i);
      if (wave.BitsPerSample == 8) {
        out.push_back(std::uint8_t((frame >> 8) + 128));
      } else {
        w.Put16(std::uint16_t(frame));
      }
    }
  }
  w.End();
}

void WriteWave(TChunkWriter& w, const TDlsWave& wave) {
  const std::uint16_t channels = std::uint16_t(wave.ChannelCount());
  const std::uint16_t blockAlign = std::uint16_t(channels * wave.BitsPerSample / 8);
  w.BeginList("LIST", "wave");
  w.Begin("fmt ");
  w.Put16(1);
  w.Put16(channels);
  w.Put32(wave.SampleRate);
  w.Put32(wave.SampleRate * blockAlign);
  w.Put16(blockAlign);
  w.Put16(wave.BitsPerSample);
  w.End();
  if (wave.HasSampleInfo)
    WriteSampleInfo(w, wave.SampleInfo);
  WriteWaveData(w, wave);
  WriteName(w, wave.Name);
  w.End();
}

} // namespace

std::vector<std::uint8_t> WriteDls(const TDlsCollection& collection) {
  TChunkWriter w;
  w.BeginList("RIFF", "DLS ");
  w.Begin("colh");
  w.Put32(std::uint32_t(collection.Instruments.size()));
  w.End();
  w.Begin("vers");
  w.Put32(0x00010000);
  w.Put32(0);
  w.End();
  w.BeginList("LIST", "lins");
  for (const TDlsInstrument& ins : collection.Instruments)
    WriteInstrument(w, ins);
  w.End();
  // The pool table's offsets are known once the pool is written: reserve it.
  w.Begin("ptbl");
  w.Put32(8);
  w.Put32(std::uint32_t(collection.Waves.size()));
  const std::size_t cueAt = w.Size();
  for (std::size_t i = 0; i < collection.Waves.size(); ++i)
    w.Put32(0);
  w.End();
  w.BeginList("LIST", "wvpl");
  const std::size_t poolAt = w.Size();
  for (std::size_t i = 0; i < collection.Waves.size(); ++i) {
    const std::uint32_t offset = std::uint32_t(w.Size() - poolAt);
    for (int b = 0; b < 4; ++b)
      w.Bytes()[cueAt + 4 * i + b] = std::uint8_t(offset >> (8 * b));
    WriteWave(w, collection.Waves[i]);
  }
  w.End();
  w.End();
  return std::move(w.Bytes());
}

bool SaveDlsFile(const TDlsCollection& collection, const std::string& path) {
  return WriteFileReplacing(path, WriteDls(collection));
}

} // namespace melo
