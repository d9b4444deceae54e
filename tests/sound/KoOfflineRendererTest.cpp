#include "sound/KoOfflineRenderer.h"

#include "DlsTestSets.h"
#include "SynthTestSupport.h"
#include "sound/DlsWriter.h"
#include "sound/SetupConfig.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <utility>

namespace melo {
namespace {

using test::GmSoundFont;

TRenderSetup GmSetup(std::uint8_t reverbLevel = 2) {
  TRenderSetup setup;
  setup.UseExternalDLS = true;
  setup.ExternalDLSFileName = GmSoundFont;
  setup.BuiltInFileName = "/nonexistent/msf4.s";
  setup.ReverbLevel = reverbLevel;
  return setup;
}

std::size_t FirstAbove(const std::vector<float>& x, float level, std::size_t from = 0) {
  for (std::size_t i = from; i < x.size(); ++i) {
    if (std::fabs(x[i]) > level)
      return i;
  }
  return x.size();
}

class OfflineRendererTest : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("melo_render_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::filesystem::path dir_;
};

TEST(AudioFileType, ByExtensionInAnyCase) {
  TAudioFileType type{};
  EXPECT_TRUE(AudioFileTypeOf("a/b.wav", type));
  EXPECT_EQ(type, TAudioFileType::Wav);
  EXPECT_TRUE(AudioFileTypeOf("SONG.FLAC", type));
  EXPECT_EQ(type, TAudioFileType::Flac);
  EXPECT_TRUE(AudioFileTypeOf("x.Ogg", type));
  EXPECT_EQ(type, TAudioFileType::Ogg);
  EXPECT_FALSE(AudioFileTypeOf("x.mid", type));
  EXPECT_FALSE(AudioFileTypeOf("wav", type));
  EXPECT_FALSE(AudioFileTypeOf("x.wav.tmp", type));
}

TEST_F(OfflineRendererTest, PlaysLikeTheWindowsEngineAtTheExactFrame) {
  const std::vector<TTimedMidiMessage> messages{
      {0, 0xB0, 0, 0}, {0, 0xC0, 0, 0}, {500, 0x90, 60, 100}, {1200, 0x80, 60, 64}};
  TKoOfflineRenderer renderer(GmSetup());
  ASSERT_TRUE(renderer.SoundSetLoaded());
  EXPECT_GT(renderer.Instruments().Count, 100);
  EXPECT_EQ(InstrumentList.Count, 0); // the window's list is not touched
  std::vector<float> left, right;
  ASSERT_EQ(renderer.Render(messages, left, right), TRenderResult::Done);
  ASSERT_EQ(left.size(), right.size());

  // The window's engine, set up as the window does but rendering through
  // silences as an export does, fed the same messages at the same frames,
  // gives the same samples.
  TEngineOptions options;
  options.Mode = TEngineMode::Offline;
  options.RestWhenSilent = false;
  TKoDirectMusic engine(options);
  ASSERT_TRUE(engine.SelectPort(0));
  engine.SetReverbLevel(2);
  Config.UseExternalDLS = true;
  Config.ExternalDLSFileName = GmSoundFont;
  engine.LoadExternalDLS();
  engine.SetVolume(0);
  std::vector<float> l(left.size()), r(left.size());
  std::size_t at = 0;
  for (const auto& m : messages) {
    const auto frame = static_cast<std::size_t>(TKoOfflineRenderer::FrameOfTime(m.Time));
    engine.Render(std::span(l).subspan(at, frame - at), std::span(r).subspan(at, frame - at));
    at = frame;
    engine.SendMidiMessage(m.Status, m.Data1, m.Data2);
  }
  engine.Render(std::span(l).subspan(at), std::span(r).subspan(at));
  for (std::size_t i = 0; i < left.size(); i += 97) {
    ASSERT_EQ(left[i], l[i]) << "frame " << i;
    ASSERT_EQ(right[i], r[i]) << "frame " << i;
  }

  // Silent before the note; it starts within one synthesizer block (64 frames).
  const std::size_t onset = FirstAbove(left, 1e-4f);
  EXPECT_GE(onset, TKoOfflineRenderer::FrameOfTime(500));
  EXPECT_LE(onset, TKoOfflineRenderer::FrameOfTime(500) + 64);
  // It ends once the sound has died away, well before the longest tail.
  const auto release = TKoOfflineRenderer::FrameOfTime(1200);
  EXPECT_GT(left.size(), release + test::Seconds(0.1));
  EXPECT_LT(left.size(), release + test::Seconds(TKoOfflineRenderer::MaxTailMs / 1000.0));
  EXPECT_LT(test::Rms(left, left.size() - 441, left.size()), 1e-4);
  EXPECT_EQ(renderer.Render(messages, left, right), TRenderResult::Used);
}

TEST_F(OfflineRendererTest, ANoteThatNeverEndsFadesOutAtTheLongestTail) {
  // Organ (program 19) holds as long as its key.
  TKoOfflineRenderer renderer(GmSetup(0));
  std::vector<float> left, right;
  ASSERT_EQ(renderer.Render({{0, 0xC0, 19, 0}, {100, 0x90, 60, 110}}, left, right),
            TRenderResult::Done);
  const auto end = TKoOfflineRenderer::FrameOfTime(100) +
                   TKoOfflineRenderer::MaxTailMs * TKoOfflineRenderer::SampleRate / 1000;
  EXPECT_EQ(left.size(), end);
  EXPECT_GT(test::Rms(left, end - test::Seconds(0.5), end - test::Seconds(0.2)), 1e-2);
  EXPECT_LT(std::fabs(left.back()), 1e-3); // faded, no click
}

// A tag as libsndfile reads it back; "(none)" when the file has none.
std::string TagOf(SNDFILE* file, int kind) {
  const char* text = sf_get_string(file, kind);
  return text != nullptr ? text : "(none)";
}

TEST_F(OfflineRendererTest, WritesWavFlacAndOggReadableBackWithTheirTags) {
  const std::vector<TTimedMidiMessage> messages{{0, 0x90, 64, 100}, {300, 0x80, 64, 0}};
  std::vector<float> left, right;
  ASSERT_EQ(TKoOfflineRenderer(GmSetup()).Render(messages, left, right), TRenderResult::Done);
  struct TCase {
    const char* Name;
    TAudioFileTags Tags; // empty ones are left out
  };
  const std::vector<TCase> cases{
      {"a.wav", {"月光", "贝多芬", "第一乐章 Adagio"}},
      {"a.flac", {"Für Elise", "", "A"}},
      {"a.ogg", {"", "肖邦", "夜曲 Nocturne"}},
  };
  for (const auto& [name, tags] : cases) {
    SCOPED_TRACE(name);
    TAudioFileType type{};
    ASSERT_TRUE(AudioFileTypeOf(name, type));
    double last = -1;
    TKoOfflineRenderer renderer(GmSetup());
    ASSERT_EQ(renderer.RenderToFile(messages, dir_ / name, type, tags,
                                    [&](double done) {
                                      EXPECT_GE(done, last);
                                      last = done;
                                      return true;
                                    }),
              TRenderResult::Done);
    EXPECT_EQ(last, 1.0);
    SF_INFO info{};
    SNDFILE* file = sf_open((dir_ / name).c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.samplerate, 44100);
    for (const auto& [kind, text] :
         {std::pair{SF_STR_TITLE, tags.Title}, std::pair{SF_STR_ARTIST, tags.Artist},
          std::pair{SF_STR_COMMENT, tags.Comment}}) {
      EXPECT_EQ(TagOf(file, kind), text.empty() ? "(none)" : text) << kind;
    }
    std::vector<float> frames(static_cast<std::size_t>(info.frames) * 2);
    sf_readf_float(file, frames.data(), info.frames);
    sf_close(file);
    if (type == TAudioFileType::Ogg) {
      EXPECT_NEAR(static_cast<double>(info.frames), static_cast<double>(left.size()), 2048);
      continue;
    }
    ASSERT_EQ(static_cast<std::size_t>(info.frames), left.size());
    float worst = 0;
    for (std::size_t i = 0; i < left.size(); ++i) {
      worst = std::max(
          {worst, std::fabs(frames[2 * i] - left[i]), std::fabs(frames[2 * i + 1] - right[i])});
    }
    EXPECT_LT(worst, 2.0f / 32768); // 16-bit samples of the same sound
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 3);
}

TEST_F(OfflineRendererTest, CancelledFailedOrSilentRendersLeaveNoFile) {
  const std::vector<TTimedMidiMessage> messages{{0, 0x90, 64, 100}, {20000, 0x80, 64, 0}};
  const auto target = dir_ / "out.wav";
  int calls = 0;
  EXPECT_EQ(TKoOfflineRenderer(GmSetup()).RenderToFile(messages, target, TAudioFileType::Wav, {},
                                                       [&](double) { return ++calls < 3; }),
            TRenderResult::Cancelled);
  EXPECT_EQ(calls, 3);
  EXPECT_TRUE(std::filesystem::is_empty(dir_));

  // An old file of that name stays as it was.
  {
    std::ofstream old(target);
    old << "old";
  }
  EXPECT_EQ(TKoOfflineRenderer(GmSetup()).RenderToFile(messages, dir_ / "missing" / "x.wav",
                                                       TAudioFileType::Wav),
            TRenderResult::WriteFailed);
  TRenderSetup none = GmSetup();
  none.UseExternalDLS = false;
  TKoOfflineRenderer silent(none);
  EXPECT_FALSE(silent.SoundSetLoaded());
  EXPECT_EQ(silent.RenderToFile(messages, target, TAudioFileType::Wav), TRenderResult::NoSoundSet);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 1);
  EXPECT_EQ(std::filesystem::file_size(target), 3u);
}

// A MIDI export lists the built-in set's voices from its instrument headers:
// the same list, in the same (sorted) order, as loading the set gives.
TEST(OfflineRendererVoicesTest, BuiltInVoicesListAsTheLoadedSetDoes) {
  const auto file = std::filesystem::temp_directory_path() /
                    ("melo_voices_" + std::to_string(::getpid()) + ".dls");
  TDlsCollection set = test::Level1Set();
  std::reverse(set.Instruments.begin(), set.Instruments.end()); // drum kit first: sorting moves it
  const std::vector<std::uint8_t> bytes = WriteDls(set);
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
  TRenderSetup setup;
  setup.BuiltInFileName = file;
  const auto listed = ListBuiltInVoices(setup);
  const TKoOfflineRenderer loaded(setup);
  std::filesystem::remove(file);
  ASSERT_NE(listed, nullptr);
  ASSERT_TRUE(loaded.SoundSetLoaded());
  ASSERT_GT(listed->Count, 1);
  ASSERT_EQ(listed->Count, loaded.Instruments().Count);
  for (int i = 0; i < listed->Count; ++i) {
    EXPECT_EQ(listed->Entries[i].Patch, loaded.Instruments().Entries[i].Patch);
    EXPECT_EQ(listed->NameUtf8(i), loaded.Instruments().NameUtf8(i));
  }
  // An external set only its load can list; nor does a file that is no set.
  setup.UseExternalDLS = true;
  EXPECT_EQ(ListBuiltInVoices(setup), nullptr);
  setup.UseExternalDLS = false;
  setup.BuiltInFileName = GmSoundFont;
  EXPECT_EQ(ListBuiltInVoices(setup), nullptr);
}

} // namespace
} // namespace melo
