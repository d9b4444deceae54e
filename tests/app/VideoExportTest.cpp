// Videos read back with FFmpeg's own demuxers and decoders: their streams,
// their length against the audio export's, and frames against the offscreen
// picture of the state they show.
#include "app/VideoExport.h"

#include "SongTestFiles.h"
#include "WindowTestEnvironment.h"
#include "controls/GlyphBmp.h"

#include <QRect>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sndfile.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cmath>
#include <cstdlib>
#include <vector>

namespace melo {
namespace {

namespace fs = std::filesystem;

[[maybe_unused]] ::testing::Environment* const Environment =
    ::testing::AddGlobalTestEnvironment(new test::TWindowTestEnvironment("test_videoexport"));

constexpr int Rate = TKoOfflineRenderer::SampleRate;
constexpr std::int32_t ScanQ = 0x10, ScanNum1 = 0x4F;
constexpr int LumaStep = 24; // a lit key against compression noise

TRenderSetup GmSetup() {
  TRenderSetup setup;
  setup.UseExternalDLS = true;
  setup.ExternalDLSFileName = "/usr/share/sounds/sf2/TimGM6mb.sf2";
  return setup;
}

// Q held 200 ms from 0.3 s; Num-1 (the right hand) tapped for 4 ms at 0.6 s,
// between two frames at any rate; Q again before the end.
TSimpleBuffer TwoKeySong() {
  TSimpleBuffer events;
  events.Add({300, 0, sekKeyDown, ScanQ});
  events.Add({500, 0, sekKeyUp, ScanQ});
  events.Add({602, 0, sekKeyDown, ScanNum1});
  events.Add({606, 0, sekKeyUp, ScanNum1});
  events.Add({800, 0, sekKeyDown, ScanQ});
  events.Add({900, 0, sekKeyUp, ScanQ});
  return events;
}

// A grey picture: luma of a decoded frame, or of the offscreen picture.
struct TGrey {
  int Width = 0, Height = 0;
  std::vector<std::uint8_t> Y;
};

TGrey GreyOf(const QImage& image) {
  TGrey grey{image.width(), image.height(), {}};
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QRgb p = image.pixel(x, y);
      grey.Y.push_back(
          static_cast<std::uint8_t>(16 + (47 * qRed(p) + 157 * qGreen(p) + 16 * qBlue(p)) / 256));
    }
  }
  return grey;
}

// Where two pictures differ by more than LumaStep; empty when nowhere.
QRect Difference(const TGrey& a, const TGrey& b) {
  QRect box;
  for (int y = 0; y < a.Height; ++y) {
    for (int x = 0; x < a.Width; ++x) {
      const auto at = static_cast<std::size_t>(y * a.Width + x);
      if (std::abs(a.Y[at] - b.Y[at]) > LumaStep)
        box |= QRect(x, y, 1, 1);
    }
  }
  return box;
}

struct TReadBack {
  AVCodecID VideoCodec = AV_CODEC_ID_NONE, AudioCodec = AV_CODEC_ID_NONE;
  int Width = 0, Height = 0, Streams = 0;
  double FrameRate = 0, Seconds = 0, OnsetSeconds = -1;
  std::string Title;
  std::vector<TGrey> Frames;
};

// The file's streams, every video frame's luma and the time of the first sound.
TReadBack Read(const fs::path& fileName) {
  TReadBack r;
  AVFormatContext* format = nullptr;
  if (avformat_open_input(&format, fileName.c_str(), nullptr, nullptr) < 0)
    return r;
  avformat_find_stream_info(format, nullptr);
  r.Streams = static_cast<int>(format->nb_streams);
  r.Seconds = static_cast<double>(format->duration) / AV_TIME_BASE;
  if (const AVDictionaryEntry* title = av_dict_get(format->metadata, "title", nullptr, 0))
    r.Title = title->value;
  std::vector<AVCodecContext*> decoders(format->nb_streams, nullptr);
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    const AVCodecParameters* p = format->streams[i]->codecpar;
    (p->codec_type == AVMEDIA_TYPE_VIDEO ? r.VideoCodec : r.AudioCodec) = p->codec_id;
    if (p->codec_type == AVMEDIA_TYPE_VIDEO) {
      r.Width = p->width;
      r.Height = p->height;
      r.FrameRate = av_q2d(format->streams[i]->avg_frame_rate);
    }
    decoders[i] = avcodec_alloc_context3(avcodec_find_decoder(p->codec_id));
    avcodec_parameters_to_context(decoders[i], p);
    decoders[i]->pkt_timebase = format->streams[i]->time_base;
    avcodec_open2(decoders[i], nullptr, nullptr);
  }
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  const auto take = [&](AVCodecContext* codec, const AVStream* stream) {
    while (avcodec_receive_frame(codec, frame) == 0) {
      if (codec->codec_type == AVMEDIA_TYPE_VIDEO) {
        TGrey grey{frame->width, frame->height, {}};
        for (int y = 0; y < frame->height; ++y) {
          const std::uint8_t* row = frame->data[0] + y * frame->linesize[0];
          grey.Y.insert(grey.Y.end(), row, row + frame->width);
        }
        r.Frames.push_back(std::move(grey));
        continue;
      }
      const auto* left = reinterpret_cast<const float*>(frame->extended_data[0]);
      for (int i = 0; i < frame->nb_samples && r.OnsetSeconds < 0; ++i) {
        if (std::fabs(left[i]) > 0.01f) {
          r.OnsetSeconds = static_cast<double>(frame->best_effort_timestamp - stream->start_time) *
                               av_q2d(stream->time_base) +
                           static_cast<double>(i) / frame->sample_rate;
        }
      }
    }
  };
  while (av_read_frame(format, packet) == 0) {
    AVCodecContext* codec = decoders[static_cast<std::size_t>(packet->stream_index)];
    avcodec_send_packet(codec, packet);
    take(codec, format->streams[packet->stream_index]);
    av_packet_unref(packet);
  }
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    avcodec_send_packet(decoders[i], nullptr);
    take(decoders[i], format->streams[i]);
    avcodec_free_context(&decoders[i]);
  }
  av_frame_free(&frame);
  av_packet_free(&packet);
  avformat_close_input(&format);
  return r;
}

class VideoExportTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    ASSERT_TRUE(LoadGlyphLibrary(QStringLiteral(MELO_GLYPH_LIBRARY)));
    ASSERT_TRUE(LoadSkinBitmaps());
  }
  fs::path Path(const char* name) const { return fs::path(dir_.path().toStdString()) / name; }
  TExportResult Export(const char* name, const TVideoOptions& options,
                       const TRenderProgress& progress = {}) {
    return ExportSongVideo(header_, events_, Path(name), GmSetup(), options,
                           QStringLiteral("keys.lyt"), progress);
  }
  // The audio export's length in seconds.
  double AudioSeconds() {
    TExportTarget wav;
    EXPECT_TRUE(ExportTargetOf("x.wav", wav));
    EXPECT_EQ(ExportSong(header_, events_, Path("keys.wav"), wav, GmSetup()), TExportResult::Done);
    SF_INFO info{};
    SNDFILE* file = sf_open(Path("keys.wav").c_str(), SFM_READ, &info);
    sf_close(file);
    return static_cast<double>(info.frames) / Rate;
  }

  QTemporaryDir dir_;
  TSongHeader header_ = test::FreshSongHeader();
  TSimpleBuffer events_ = TwoKeySong();
};

TEST_F(VideoExportTest, TheContainersHoldTheirCodecsAtTheChosenSizeRateAndTheAudiosLength) {
  struct TCase {
    const char* Name;
    TVideoOptions Options;
    AVCodecID Video, Audio;
    int Width, Height;
  };
  const TCase cases[] = {
      {"keys.mp4", {MinVideoFps, MinVideoScale}, AV_CODEC_ID_H264, AV_CODEC_ID_AAC, 622, 458},
      {"keys.webm", {MaxVideoFps, 2}, AV_CODEC_ID_VP9, AV_CODEC_ID_OPUS, 1242, 916},
  };
  const double audio = AudioSeconds();
  for (const TCase& c : cases) {
    ASSERT_EQ(Export(c.Name, c.Options), TExportResult::Done) << c.Name;
    const TReadBack r = Read(Path(c.Name));
    EXPECT_EQ(r.Streams, 2) << c.Name;
    EXPECT_EQ(r.VideoCodec, c.Video) << c.Name;
    EXPECT_EQ(r.AudioCodec, c.Audio) << c.Name;
    EXPECT_EQ(r.Width, c.Width) << c.Name;
    EXPECT_EQ(r.Height, c.Height) << c.Name;
    EXPECT_DOUBLE_EQ(r.FrameRate, c.Options.FramesPerSecond) << c.Name;
    EXPECT_EQ(r.Title, "Export test") << c.Name;
    const double frame = 1.0 / c.Options.FramesPerSecond;
    EXPECT_NEAR(r.Seconds, audio, frame) << c.Name;
    EXPECT_NEAR(static_cast<double>(r.Frames.size()) * frame, audio, frame) << c.Name;
  }
  // The largest scale: three times the window, rounded up to even sizes.
  EXPECT_EQ(TSongPicture(MaxVideoScale, {}).Size(), QSize(1864, 1374));
}

TEST_F(VideoExportTest, AKeysFrameChangesWhereItsPictureIsLitAtTheSoundsOnsetEvenForATap) {
  const TVideoOptions options{MinVideoFps, MinVideoScale};
  ASSERT_EQ(Export("keys.mp4", options), TExportResult::Done);
  const TReadBack r = Read(Path("keys.mp4"));
  ASSERT_GT(r.Frames.size(), 20u);

  // The offscreen picture before and after each key press.
  TKoOfflineRenderer renderer(GmSetup());
  const TSoundSetVoices voices(renderer.Instruments());
  TSongPicture picture(options.Scale, QStringLiteral("keys.lyt"));
  TTimedMidiCollector sink;
  TOfflineSongPlay play(header_, events_, voices, sink, &picture.View());
  for (int press = 0; press < 2; ++press) {
    const TGrey before = GreyOf(picture.Draw());
    const std::uint32_t ms = play.NextTime();
    play.PlayNext();
    const QRect lit = Difference(before, GreyOf(picture.Draw()));
    play.PlayNext(); // the release
    ASSERT_FALSE(lit.isEmpty());
    // The first frame at or after the press.
    const std::uint64_t at = TKoOfflineRenderer::FrameOfTime(ms);
    std::size_t k = 0;
    while (SampleOfFrame(k, options.FramesPerSecond) < at)
      ++k;
    const QRect changed = Difference(r.Frames[k - 1], r.Frames[k]);
    EXPECT_LE(std::abs(changed.left() - lit.left()), 2) << ms;
    EXPECT_LE(std::abs(changed.top() - lit.top()), 2) << ms;
    EXPECT_LE(std::abs(changed.right() - lit.right()), 2) << ms;
    EXPECT_LE(std::abs(changed.bottom() - lit.bottom()), 2) << ms;
    EXPECT_TRUE(Difference(r.Frames[k - 2], r.Frames[k - 1]).isEmpty()) << ms;
    if (press == 0) {
      EXPECT_NEAR(static_cast<double>(k) / options.FramesPerSecond, r.OnsetSeconds,
                  1.0 / options.FramesPerSecond);
    }
  }
}

TEST_F(VideoExportTest, ACancelledOrUnwritableExportLeavesNoFile) {
  EXPECT_EQ(Export("keys.mp4", {}, [](double) { return false; }), TExportResult::Cancelled);
  EXPECT_EQ(Export("missing/keys.mp4", {MinVideoFps, MinVideoScale}), TExportResult::WriteFailed);
  EXPECT_TRUE(fs::is_empty(Path("")));
}

} // namespace
} // namespace melo
