#include "sound/DlsCollection.h"
#include "sound/DlsWriter.h"

#include "platform/FileBytes.h"

#include "DlsTestSets.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <unistd.h>

namespace melo {
namespace {

using namespace melo::test;

bool Load(TDlsCollection& c, const std::vector<std::uint8_t>& bytes) {
  return c.LoadFromMemory(bytes.data(), bytes.size());
}

// A copy of bytes in a buffer of exactly its size, so ASan sees any read past it.
bool LoadExact(const std::vector<std::uint8_t>& bytes) {
  std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[bytes.size()]);
  std::copy(bytes.begin(), bytes.end(), copy.get());
  TDlsCollection c;
  return c.LoadFromMemory(copy.get(), bytes.size());
}

TEST(DlsCollection, Level1InstrumentsInCollectionOrderWithPatches) {
  TDlsCollection c;
  ASSERT_TRUE(Load(c, WriteDls(Level1Set())));
  ASSERT_EQ(c.Instruments.size(), 4u);
  EXPECT_EQ(c.Instruments[0].Name, "Piano");
  EXPECT_EQ(c.Instruments[0].Patch(), 0u);
  EXPECT_EQ(c.Instruments[1].Patch(), 24u);
  EXPECT_EQ(c.Instruments[2].Patch(), 0x00080105u); // MSB 8, LSB 1, program 5
  EXPECT_EQ(c.Instruments[3].Patch(), 0x80000000u);
  EXPECT_EQ(c.Instruments[3].Name, "Standard Kit");
  EXPECT_FALSE(c.Instruments[0].Level2);
  ASSERT_EQ(c.Instruments[0].Regions.size(), 2u);
  EXPECT_EQ(c.Instruments[0].Regions[0].KeyHigh, 59);
  EXPECT_EQ(c.Instruments[0].Regions[1].KeyLow, 60);
  EXPECT_EQ(c.Instruments[0].Regions[0].WaveIndex, 1u);
  ASSERT_EQ(c.Instruments[0].Connections.size(), 1u);
  EXPECT_EQ(c.Instruments[0].Connections[0].Destination, CONN_DST_EG1_RELEASETIME);
  EXPECT_EQ(c.Instruments[0].Connections[0].Scale, -1200 * 65536);
}

TEST(DlsCollection, WavesKeepSamplesLoopsAndTuning) {
  const TDlsCollection source = Level1Set();
  TDlsCollection c;
  ASSERT_TRUE(Load(c, WriteDls(source)));
  ASSERT_EQ(c.Waves.size(), source.Waves.size());
  for (std::size_t i = 0; i < c.Waves.size(); ++i) {
    EXPECT_EQ(c.Waves[i].Channels, source.Waves[i].Channels) << i;
    EXPECT_EQ(c.Waves[i].SampleRate, source.Waves[i].SampleRate);
    EXPECT_EQ(c.Waves[i].SampleInfo.UnityNote, source.Waves[i].SampleInfo.UnityNote);
    EXPECT_EQ(c.Waves[i].SampleInfo.Looped, source.Waves[i].SampleInfo.Looped);
    EXPECT_EQ(c.Waves[i].SampleInfo.LoopLength, source.Waves[i].SampleInfo.LoopLength);
  }
  EXPECT_EQ(c.Waves[2].BitsPerSample, 8);
}

TEST(DlsCollection, Level2LayersStereoAndArticulation) {
  TDlsCollection c;
  ASSERT_TRUE(Load(c, WriteDls(Level2Set())));
  ASSERT_EQ(c.Instruments.size(), 4u);
  const auto& layered = c.Instruments[0];
  EXPECT_TRUE(layered.Level2);
  EXPECT_EQ(layered.Regions[0].VelocityHigh, 63);
  EXPECT_EQ(layered.Regions[1].VelocityLow, 64);
  EXPECT_EQ(layered.Regions[1].Layer, 1);
  ASSERT_EQ(layered.Regions[1].Connections.size(), 2u);
  EXPECT_EQ(layered.Regions[1].Connections[0].Destination, CONN_DST_FILTER_CUTOFF);
  const auto& pair = c.Instruments[1];
  EXPECT_EQ(pair.Regions[0].Channel, WAVELINK_CHANNEL_LEFT);
  EXPECT_EQ(pair.Regions[1].Channel, WAVELINK_CHANNEL_RIGHT);
  EXPECT_EQ(pair.Regions[1].LinkOptions, F_WAVELINK_MULTICHANNEL);
  EXPECT_EQ(c.Waves[c.Instruments[2].Regions[0].WaveIndex].Channels.size(), 2u);
  EXPECT_EQ(c.Instruments[3].Patch(), 0x80010010u); // drum kit, MSB 1, program 16
  EXPECT_EQ(c.Instruments[3].Regions[1].KeyGroup, 1);
}

TEST(DlsCollection, RegionSampleInfoOverridesAndLevel1ZeroVelocityMeansAll) {
  TDlsCollection source = Level1Set();
  auto& r = source.Instruments[1].Regions[0];
  r.HasSampleInfo = true;
  r.SampleInfo.UnityNote = 50;
  r.SampleInfo.FineTune = -12;
  r.SampleInfo.Attenuation = -60 * 65536;
  r.VelocityLow = r.VelocityHigh = 0;
  TDlsCollection c;
  ASSERT_TRUE(Load(c, WriteDls(source)));
  const auto& read = c.Instruments[1].Regions[0];
  EXPECT_TRUE(read.HasSampleInfo);
  EXPECT_EQ(read.SampleInfo.UnityNote, 50);
  EXPECT_EQ(read.SampleInfo.FineTune, -12);
  EXPECT_EQ(read.SampleInfo.Attenuation, -60 * 65536);
  EXPECT_EQ(read.VelocityHigh, 127);
}

TEST(DlsCollection, CuesNamingOneWaveShareIt) {
  auto bytes = WriteDls(Level1Set());
  const auto ptbl = Find(bytes, "ptbl");
  Put32(bytes, ptbl.Data + 8 + 4, Get32(bytes, ptbl.Data + 8)); // cue 1 -> wave 0
  TDlsCollection c;
  ASSERT_TRUE(Load(c, bytes));
  EXPECT_EQ(c.Waves.size(), 3u);
  EXPECT_EQ(c.Instruments[0].Regions[0].WaveIndex, c.Instruments[0].Regions[1].WaveIndex);
}

TEST(DlsCollection, RefusedFileKeepsThePreviousCollection) {
  TDlsCollection c;
  ASSERT_TRUE(Load(c, WriteDls(Level1Set())));
  auto bytes = WriteDls(Level2Set());
  bytes.resize(bytes.size() / 2);
  EXPECT_FALSE(Load(c, bytes));
  EXPECT_EQ(c.Instruments.size(), 4u);
  EXPECT_EQ(c.Instruments[0].Name, "Piano");
  EXPECT_FALSE(c.LoadFromMemory(nullptr, 0));
}

TEST(DlsCollection, RiffFormTellsDlsFromSoundFont) {
  const auto dls = WriteDls(Level1Set());
  EXPECT_EQ(RiffForm(dls.data(), dls.size()), "DLS ");
  const std::uint8_t sf2[12] = {'R', 'I', 'F', 'F', 4, 0, 0, 0, 's', 'f', 'b', 'k'};
  EXPECT_EQ(RiffForm(sf2, sizeof sf2), "sfbk");
  EXPECT_EQ(RiffForm(sf2, 11), "");
}

TEST(DlsCollection, TruncationAtEveryChunkBoundaryIsRefused) {
  for (const auto& set : {Level1Set(), Level2Set()}) {
    const auto bytes = WriteDls(set);
    for (const auto& chunk : Chunks(bytes)) {
      for (std::size_t cut : {chunk.Header, chunk.Header + 4, chunk.Data, chunk.End - 1}) {
        if (cut >= bytes.size())
          continue;
        std::vector<std::uint8_t> shorter(bytes.begin(), bytes.begin() + cut);
        EXPECT_FALSE(LoadExact(shorter)) << chunk.Id << " cut at " << cut;
        // The same cut with the outer size mended: the inner chunks must catch it.
        if (cut >= 12) {
          Put32(shorter, 4, std::uint32_t(cut - 8));
          EXPECT_FALSE(LoadExact(shorter)) << chunk.Id << " cut at " << cut << " (mended)";
        }
      }
    }
  }
}

TEST(DlsCollection, EveryChunkSizeTooLargeIsRefused) {
  const auto bytes = WriteDls(Level2Set());
  for (const auto& chunk : Chunks(bytes)) {
    for (std::uint32_t size : {0xFFFFFFFFu, 0x7FFFFFF0u, std::uint32_t(bytes.size())}) {
      auto bad = bytes;
      Put32(bad, chunk.Header + 4, size);
      EXPECT_FALSE(LoadExact(bad)) << chunk.Id;
    }
  }
}

// One damaged field per case: the name, the chunk, the offset in its data, the value.
struct TDamage {
  const char* Name;
  const char* Chunk;
  int Nth;
  std::size_t Offset;
  std::uint32_t Value;
  int Width; // 2 or 4 bytes
};

TEST(DlsCollection, DamagedFieldsAreRefused) {
  const TDamage cases[] = {
      {"instrument count above", "colh", 0, 0, 5, 4},
      {"instrument count below", "colh", 0, 0, 3, 4},
      {"region count", "insh", 0, 0, 3, 4},
      {"program above 127", "insh", 1, 8, 128, 4},
      {"stray bank bits", "insh", 1, 4, 0x00008000, 4},
      {"cue count huge", "ptbl", 0, 4, 0x40000000, 4},
      {"cue header size", "ptbl", 0, 0, 0xFFFFFFF0, 4},
      {"cue offset inside a wave", "ptbl", 0, 8, 12, 4},
      {"cue offset past the pool", "ptbl", 0, 12, 0x7FFFFFFF, 4},
      {"wave index past the cues", "wlnk", 0, 8, 4, 4},
      {"wave index huge", "wlnk", 2, 8, 0xFFFFFFFF, 4},
      {"zero channels", "fmt ", 0, 2, 0, 2},
      {"three channels", "fmt ", 0, 2, 3, 2},
      {"zero bits", "fmt ", 1, 14, 0, 2},
      {"24 bits", "fmt ", 1, 14, 24, 2},
      {"block align", "fmt ", 0, 12, 3, 2},
      {"zero rate", "fmt ", 0, 4, 0, 4},
      {"absurd rate", "fmt ", 0, 4, 0xFFFFFFFF, 4},
      {"not PCM", "fmt ", 0, 0, 3, 2},
      {"unity note", "wsmp", 0, 4, 200, 2},
      {"two loops", "wsmp", 0, 16, 2, 4},
      {"huge loop count", "wsmp", 0, 16, 0xFFFFFFFF, 4},
      {"wsmp header size", "wsmp", 0, 0, 0x10000, 4},
      {"loop past the end", "wsmp", 0, 28, 0xFFFFFFF0, 4},
      {"loop length past the end", "wsmp", 0, 32, 0x7FFFFFFF, 4},
      {"zero loop length", "wsmp", 0, 32, 0, 4},
      {"key low above high", "rgnh", 0, 0, 100, 2},
      {"key above 127", "rgnh", 0, 2, 128, 2},
      {"velocity above 127", "rgnh", 0, 6, 300, 2},
      {"connection count huge", "art1", 0, 4, 0x20000000, 4},
      {"connection count one more", "art1", 0, 4, 2, 4},
      {"articulation header", "art1", 0, 0, 4, 4},
      {"riff size below its type", "RIFF/DLS ", 0, static_cast<std::size_t>(-4), 2, 4},
  };
  const auto bytes = WriteDls(Level1Set());
  for (const auto& d : cases) {
    const auto chunk = Find(bytes, d.Chunk, d.Nth);
    ASSERT_NE(chunk.Data, 0u) << d.Name;
    auto bad = bytes;
    const std::size_t at = chunk.Data + d.Offset;
    ASSERT_LT(at + d.Width, bad.size()) << d.Name;
    if (d.Width == 2) {
      bad[at] = std::uint8_t(d.Value);
      bad[at + 1] = std::uint8_t(d.Value >> 8);
    } else {
      Put32(bad, at, d.Value);
    }
    EXPECT_FALSE(LoadExact(bad)) << d.Name;
  }
}

TEST(DlsCollection, MissingRequiredChunksAreRefused) {
  const auto bytes = WriteDls(Level1Set());
  for (const char* id :
       {"colh", "ptbl", "LIST/wvpl", "LIST/lins", "insh", "rgnh", "wlnk", "fmt ", "data"}) {
    auto bad = bytes;
    const auto chunk = Find(bad, id);
    ASSERT_NE(chunk.Data, 0u) << id;
    std::memcpy(&bad[chunk.Header], "JUNK", 4); // same size, unknown id: skipped by the reader
    EXPECT_FALSE(LoadExact(bad)) << id;
  }
}

TEST(DlsCollection, RandomDamageNeverCrashes) {
  std::mt19937 random(7);
  int accepted = 0;
  for (const auto& set : {Level1Set(), Level2Set()}) {
    const auto bytes = WriteDls(set);
    const auto chunks = Chunks(bytes);
    for (int round = 0; round < 1500; ++round) {
      auto bad = bytes;
      // Aim most damage at headers and fields, where the checks are.
      for (int n = 1 + int(random() % 4); n > 0; --n) {
        const auto& c = chunks[random() % chunks.size()];
        const std::size_t span = std::min<std::size_t>(c.End - c.Header, 48);
        bad[c.Header + random() % span] = std::uint8_t(random());
      }
      accepted += LoadExact(bad) ? 1 : 0;
    }
  }
  EXPECT_LT(accepted, 3000); // some damage is harmless (names, tuning); most is not
}

TEST(DlsCollection, SavedFileReadsBack) {
  const auto path = std::filesystem::temp_directory_path() / "melo-dls-save-test.dls";
  ASSERT_TRUE(SaveDlsFile(Level2Set(), path.string()));
  std::ifstream in(path, std::ios::binary);
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  TDlsCollection c;
  EXPECT_TRUE(Load(c, bytes));
  EXPECT_EQ(c.Instruments.size(), 4u);
  EXPECT_FALSE(std::filesystem::exists(path.string() + ".tmp"));
  std::filesystem::remove(path);
}

// ---- Memory on files made of many empty chunks ------------------------------

// A field of /proc/self/status ("VmHWM", "VmRSS") in bytes, 0 when absent.
std::size_t StatusBytes(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field + ":", 0) == 0)
      return std::stoull(line.substr(field.size() + 1)) * 1024;
  }
  return 0;
}

// Writes a RIFF "DLS " file of about totalBytes. The bulk is `filler`
// (one empty chunk) repeated inside the list named by where: "top", "lins",
// "wvpl" or "lrgn" (the region list of the one instrument); with
// withCollection false the required chunks are left out.
void WriteBloatedDls(const std::filesystem::path& path, std::size_t totalBytes, const char* where,
                     const std::string& filler, bool withCollection = true) {
  auto u32 = [](std::uint32_t v) {
    return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
  };
  auto chunk = [&](const char* id, const std::string& body) {
    return id + u32(body.size()) + body;
  };
  auto list = [&](const char* type, const std::string& body) {
    return "LIST" + u32(body.size() + 4) + type + body;
  };
  const std::string w = where;
  const std::size_t repeats = totalBytes / filler.size();
  const std::size_t bulk = repeats * filler.size();
  // Everything but the bulk, with a marker where the bulk goes.
  const std::string mark = "@BULK@";
  std::string body;
  if (withCollection) {
    const std::string instrument =
        list("ins ", chunk("insh", u32(0) + u32(0) + u32(0)) +
                         list("lrgn", w == "lrgn" ? mark : std::string()));
    body = chunk("colh", u32(w == "lrgn" ? 1 : 0)) + chunk("ptbl", u32(8) + u32(0)) +
           list("wvpl", w == "wvpl" ? mark : std::string()) +
           list("lins", w == "lins" ? mark : (w == "lrgn" ? instrument : std::string()));
  }
  if (w == "top")
    body += mark;
  const std::size_t at = body.find(mark);
  ASSERT_NE(at, std::string::npos);
  // Every list size on the way to the bulk grows by the bulk's size (less the mark's).
  auto grow = [&](std::size_t sizeField) {
    std::uint32_t v = std::uint32_t(std::uint8_t(body[sizeField])) |
                      std::uint32_t(std::uint8_t(body[sizeField + 1])) << 8 |
                      std::uint32_t(std::uint8_t(body[sizeField + 2])) << 16 |
                      std::uint32_t(std::uint8_t(body[sizeField + 3])) << 24;
    body.replace(sizeField, 4, u32(v + std::uint32_t(bulk - mark.size())));
  };
  for (std::size_t pos = 0; pos < at;) {
    const bool isList = body.compare(pos, 4, "LIST") == 0;
    const std::uint32_t size = std::uint32_t(std::uint8_t(body[pos + 4])) |
                               std::uint32_t(std::uint8_t(body[pos + 5])) << 8 |
                               std::uint32_t(std::uint8_t(body[pos + 6])) << 16 |
                               std::uint32_t(std::uint8_t(body[pos + 7])) << 24;
    const std::size_t end = pos + 8 + size;
    if (isList && at >= pos + 12 && at + mark.size() <= end) {
      grow(pos + 4);
      pos += 12; // into the list
    } else {
      pos = end + (size & 1);
    }
  }
  body.erase(at, mark.size());
  std::ofstream out(path, std::ios::binary);
  out << "RIFF" << u32(std::uint32_t(4 + body.size() + bulk)) << "DLS " << body.substr(0, at);
  for (std::size_t i = 0; i < repeats; ++i)
    out << filler;
  out << body.substr(at);
}

// The reader walks its chunk lists in place instead of indexing them: a file
// made almost only of empty chunks, read and parsed, never holds much more
// than its own bytes.
TEST(DlsCollection, FilesOfEmptyChunksStayWithinTwiceTheirSize) {
  constexpr std::size_t fileBytes = 64u << 20;
  const auto path = std::filesystem::temp_directory_path() /
                    ("melo-dls-bloat-" + std::to_string(::getpid()) + ".dls");
  const std::string empty = std::string("junk") + std::string(4, '\0');
  const std::string emptyWave = std::string("LIST") + std::string{4, 0, 0, 0} + "wave";
  struct Case {
    const char* Where;
    std::string Filler;
    bool WithCollection;
    bool Loads;
  };
  const Case cases[] = {
      {"top", empty, true, true},  {"lins", empty, true, true},     {"lrgn", empty, true, true},
      {"wvpl", empty, true, true}, {"wvpl", emptyWave, true, true}, {"top", empty, false, false},
  };
  std::ofstream reset("/proc/self/clear_refs");
  for (const Case& c : cases) {
    const std::string what = std::string(c.Where) + (c.Filler == empty ? " empty" : " wave") +
                             (c.WithCollection ? "" : " alone");
    WriteBloatedDls(path, fileBytes, c.Where, c.Filler, c.WithCollection);
    const std::size_t size = std::filesystem::file_size(path);
    ASSERT_GE(size, fileBytes) << what;
    // Forget the peak so far: from here it counts only this read.
    reset << "5" << std::flush;
    ASSERT_TRUE(reset.good()) << "cannot reset the peak resident size";
    const std::size_t before = StatusBytes("VmRSS");
    bool loaded = false;
    {
      std::vector<std::uint8_t> bytes;
      ASSERT_TRUE(ReadFileBytes(path, bytes, std::size_t{1} << 30)) << what;
      TDlsCollection collection;
      loaded = collection.LoadFromMemory(bytes.data(), bytes.size());
    }
    const std::size_t peak = StatusBytes("VmHWM");
    ASSERT_GT(peak, before) << what;
    EXPECT_EQ(loaded, c.Loads) << what;
    const double ratio = double(peak - before) / double(size);
    std::printf("%-16s peak %.2f times the file's size\n", what.c_str(), ratio);
    EXPECT_LT(ratio, 2.0) << what;
  }
  std::filesystem::remove(path);
}

} // namespace
} // namespace melo
