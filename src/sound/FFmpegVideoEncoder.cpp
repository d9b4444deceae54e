// Video files written with FFmpeg's libraries, built as a module of its own that
// the program loads for its first video export only: the libraries and theirs
// (x264, libvpx, Opus, ...) cost every start some 50 ms and 20 MB otherwise.
#include "sound/VideoEncoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <array>
#include <cctype>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace melo {
namespace {

// Quality over size for sharp-edged pictures that change little. The fastest
// H.264 preset keeps a video at twice the window's size and 60 fps well ahead
// of real time on two cores (superfast: 2.4 times, 5.9 MB a minute; ultrafast:
// 3.1 to 3.8 times, 9.3 MB; bench_video_export).
constexpr const char* H264Preset = "ultrafast";
constexpr const char* H264Quality = "20";
constexpr const char* Vp9Quality = "32";
constexpr const char* Vp9Speed = "8";
constexpr std::int64_t AacBitRate = 192000;
constexpr std::int64_t OpusBitRate = 160000;
constexpr int KeyFrameSeconds = 2;
constexpr int OpusSampleRate = 48000;
constexpr const char* OpusFrameMs = "10";

template <auto Free> struct TFreer {
  template <typename T> void operator()(T* p) const { Free(&p); }
};
using TCodecContext = std::unique_ptr<AVCodecContext, TFreer<avcodec_free_context>>;
using TFrame = std::unique_ptr<AVFrame, TFreer<av_frame_free>>;
using TPacket = std::unique_ptr<AVPacket, TFreer<av_packet_free>>;
using TResampler = std::unique_ptr<SwrContext, TFreer<swr_free>>;

struct TFifoFree {
  void operator()(AVAudioFifo* fifo) const { av_audio_fifo_free(fifo); }
};
struct TScalerFree {
  void operator()(SwsContext* scaler) const { sws_freeContext(scaler); }
};

std::string ErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

bool IsMp4(const TVideoSettings& settings) {
  return settings.Container == TVideoContainer::Mp4;
}

const char* MuxerName(TVideoContainer container) {
  switch (container) {
  case TVideoContainer::Matroska:
    return "matroska";
  case TVideoContainer::WebM:
    return "webm";
  case TVideoContainer::Mp4:
    break;
  }
  return "mp4";
}

// What one open file needs of the libraries.
struct TFFmpegState {
  AVFormatContext* Format = nullptr;
  bool FileOpen = false;
  TCodecContext Video;
  TCodecContext Audio;
  AVStream* VideoStream = nullptr;
  AVStream* AudioStream = nullptr;
  std::unique_ptr<SwsContext, TScalerFree> Scaler;
  TResampler Resampler;
  std::unique_ptr<AVAudioFifo, TFifoFree> Fifo;
  TFrame Picture; // yuv420p, the last frame converted
  TFrame Sound;   // one codec frame of sound
  TPacket Packet;
  std::int64_t FramesWritten = 0;
  std::int64_t SamplesWritten = 0; // at the codec's rate
  bool Failed = false;

  bool Fail() {
    Failed = true;
    return false;
  }

  ~TFFmpegState() {
    if (FileOpen)
      avio_closep(&Format->pb);
    avformat_free_context(Format);
  }

  // Sends frame (null to flush) and writes every packet the encoder has ready.
  bool Encode(AVCodecContext& codec, AVStream& stream, const AVFrame* frame) {
    if (Failed || avcodec_send_frame(&codec, frame) < 0)
      return Fail();
    for (;;) {
      const int received = avcodec_receive_packet(&codec, Packet.get());
      if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
        return true;
      if (received < 0)
        return Fail();
      av_packet_rescale_ts(Packet.get(), codec.time_base, stream.time_base);
      Packet->stream_index = stream.index;
      if (av_interleaved_write_frame(Format, Packet.get()) < 0)
        return Fail();
    }
  }

  bool SendPicture() {
    Picture->pts = FramesWritten++;
    return Encode(*Video, *VideoStream, Picture.get());
  }

  // Encodes whole codec frames from the queue; with last, the rest too.
  bool DrainSound(bool last) {
    const int frameSize = Audio->frame_size > 0 ? Audio->frame_size : 1024;
    while (av_audio_fifo_size(Fifo.get()) >= frameSize ||
           (last && av_audio_fifo_size(Fifo.get()) > 0)) {
      const int n = std::min(frameSize, av_audio_fifo_size(Fifo.get()));
      if (av_frame_make_writable(Sound.get()) < 0)
        return Fail();
      // A short last frame is padded with silence where the codec wants whole frames.
      const bool pad =
          n < frameSize && (Audio->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME) == 0;
      if (pad) {
        av_samples_set_silence(Sound->data, 0, frameSize, Audio->ch_layout.nb_channels,
                               Audio->sample_fmt);
      }
      Sound->nb_samples = pad ? frameSize : n;
      if (av_audio_fifo_read(Fifo.get(), reinterpret_cast<void**>(Sound->data), n) != n)
        return Fail();
      Sound->pts = SamplesWritten;
      SamplesWritten += Sound->nb_samples;
      if (!Encode(*Audio, *AudioStream, Sound.get()))
        return false;
    }
    return true;
  }

  // The codec context of name, set up by configure, opened, with a stream of its own.
  AVCodecContext* AddStream(const char* name, TCodecContext& context, AVStream*& stream,
                            const std::function<void(AVCodecContext&, AVDictionary*&)>& configure,
                            std::string& error) {
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    if (codec == nullptr) {
      error = std::string("no ") + name + " encoder in this FFmpeg";
      return nullptr;
    }
    context.reset(avcodec_alloc_context3(codec));
    stream = avformat_new_stream(Format, nullptr);
    if (!context || stream == nullptr) {
      error = "out of memory";
      return nullptr;
    }
    AVDictionary* options = nullptr;
    configure(*context, options);
    if ((Format->oformat->flags & AVFMT_GLOBALHEADER) != 0)
      context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    const int opened = avcodec_open2(context.get(), codec, &options);
    av_dict_free(&options);
    if (opened < 0 || avcodec_parameters_from_context(stream->codecpar, context.get()) < 0) {
      error = std::string(name) + ": " + ErrorText(opened);
      return nullptr;
    }
    stream->time_base = context->time_base;
    return context.get();
  }

  bool AddVideo(const TVideoSettings& settings, std::string& error) {
    const bool mp4 = IsMp4(settings);
    const auto configure = [&](AVCodecContext& c, AVDictionary*& options) {
      c.width = settings.Width;
      c.height = settings.Height;
      c.pix_fmt = AV_PIX_FMT_YUV420P;
      c.time_base = AVRational{1, settings.FramesPerSecond};
      c.framerate = AVRational{settings.FramesPerSecond, 1};
      c.gop_size = settings.FramesPerSecond * KeyFrameSeconds;
      c.color_range = AVCOL_RANGE_MPEG;
      c.colorspace = AVCOL_SPC_BT709;
      c.color_primaries = AVCOL_PRI_BT709;
      c.color_trc = AVCOL_TRC_BT709;
      if (mp4) {
        av_dict_set(&options, "preset", H264Preset, 0);
        av_dict_set(&options, "crf", H264Quality, 0);
      } else {
        av_dict_set(&options, "crf", Vp9Quality, 0);
        av_dict_set(&options, "b", "0", 0);
        av_dict_set(&options, "deadline", "realtime", 0);
        av_dict_set(&options, "cpu-used", Vp9Speed, 0);
        av_dict_set(&options, "row-mt", "1", 0);
      }
    };
    if (AddStream(mp4 ? "libx264" : "libvpx-vp9", Video, VideoStream, configure, error) == nullptr)
      return false;
    VideoStream->avg_frame_rate = Video->framerate;
    Picture.reset(av_frame_alloc());
    if (!Picture)
      return false;
    Picture->format = AV_PIX_FMT_YUV420P;
    Picture->width = settings.Width;
    Picture->height = settings.Height;
    Scaler.reset(sws_getContext(settings.Width, settings.Height, AV_PIX_FMT_BGR0, settings.Width,
                                settings.Height, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr,
                                nullptr));
    if (!Scaler || av_frame_get_buffer(Picture.get(), 0) < 0) {
      error = "out of memory";
      return false;
    }
    // The pictures are drawn in sRGB: limited-range BT.709 as the codec is told.
    const int* coefficients = sws_getCoefficients(SWS_CS_ITU709);
    const int* source = sws_getCoefficients(SWS_CS_DEFAULT);
    sws_setColorspaceDetails(Scaler.get(), source, 1, coefficients, 0, 0, 1 << 16, 1 << 16);
    return true;
  }

  bool AddAudio(const TVideoSettings& settings, std::string& error) {
    const bool mp4 = IsMp4(settings);
    const auto configure = [&](AVCodecContext& c, AVDictionary*& options) {
      // Opus pads its last frame: short frames keep the sound's end within a video frame.
      if (!mp4)
        av_dict_set(&options, "frame_duration", OpusFrameMs, 0);
      c.sample_fmt = mp4 ? AV_SAMPLE_FMT_FLTP : AV_SAMPLE_FMT_FLT;
      c.sample_rate = mp4 ? settings.SampleRate : OpusSampleRate;
      c.bit_rate = mp4 ? AacBitRate : OpusBitRate;
      av_channel_layout_default(&c.ch_layout, 2);
      c.time_base = AVRational{1, c.sample_rate};
    };
    if (AddStream(mp4 ? "aac" : "libopus", Audio, AudioStream, configure, error) == nullptr)
      return false;
    SwrContext* resampler = nullptr;
    AVChannelLayout stereo{};
    av_channel_layout_default(&stereo, 2);
    const int made =
        swr_alloc_set_opts2(&resampler, &Audio->ch_layout, Audio->sample_fmt, Audio->sample_rate,
                            &stereo, AV_SAMPLE_FMT_FLTP, settings.SampleRate, 0, nullptr);
    Resampler.reset(resampler);
    const int frameSize = Audio->frame_size > 0 ? Audio->frame_size : 1024;
    Fifo.reset(av_audio_fifo_alloc(Audio->sample_fmt, 2, frameSize));
    Sound.reset(av_frame_alloc());
    if (made < 0 || swr_init(resampler) < 0 || !Fifo || !Sound) {
      error = "the sound cannot be resampled";
      return false;
    }
    Sound->format = Audio->sample_fmt;
    Sound->sample_rate = Audio->sample_rate;
    Sound->nb_samples = frameSize;
    av_channel_layout_copy(&Sound->ch_layout, &Audio->ch_layout);
    return av_frame_get_buffer(Sound.get(), 0) >= 0;
  }

  void SetMetadata(const TVideoSettings& settings) {
    for (const auto& [key, text] :
         {std::pair{"title", &settings.Title}, std::pair{"artist", &settings.Artist},
          std::pair{"comment", &settings.Comment}}) {
      if (!text->empty())
        av_dict_set(&Format->metadata, key, text->c_str(), 0);
    }
  }

  // Resamples n samples (null: what the resampler still holds) into the queue.
  bool QueueSound(const float* left, const float* right, int n) {
    const int room = swr_get_out_samples(Resampler.get(), n);
    std::vector<float> out(static_cast<std::size_t>(std::max(room, 0)) * 2);
    std::array<std::uint8_t*, 2> planes{};
    std::array<const std::uint8_t*, 2> in{reinterpret_cast<const std::uint8_t*>(left),
                                          reinterpret_cast<const std::uint8_t*>(right)};
    if (Audio->sample_fmt == AV_SAMPLE_FMT_FLTP) {
      planes = {reinterpret_cast<std::uint8_t*>(out.data()),
                reinterpret_cast<std::uint8_t*>(out.data() + room)};
    } else {
      planes[0] = reinterpret_cast<std::uint8_t*>(out.data());
    }
    const int made =
        swr_convert(Resampler.get(), planes.data(), room, left == nullptr ? nullptr : in.data(), n);
    if (made < 0 ||
        av_audio_fifo_write(Fifo.get(), reinterpret_cast<void**>(planes.data()), made) != made)
      return Fail();
    return true;
  }
};

class TFFmpegVideoEncoder final : public TVideoEncoder {
public:
  explicit TFFmpegVideoEncoder(std::unique_ptr<TFFmpegState> state) : F(std::move(state)) {}

  bool WriteFrame(const std::uint8_t* pixels, std::ptrdiff_t bytesPerLine) override;
  bool RepeatFrame() override;
  bool WriteAudio(const float* left, const float* right, std::size_t n) override;
  bool Finish() override;
  std::int64_t FramesWritten() const override { return F->FramesWritten; }

private:
  std::unique_ptr<TFFmpegState> F;
};

std::unique_ptr<TVideoEncoder> OpenFFmpegVideoEncoder(const std::filesystem::path& fileName,
                                                      const TVideoSettings& settings,
                                                      std::string& error) {
  // The libraries' progress chatter stays off the terminal; errors still show.
  av_log_set_level(AV_LOG_ERROR);
  auto state = std::make_unique<TFFmpegState>();
  if (avformat_alloc_output_context2(&state->Format, nullptr, MuxerName(settings.Container),
                                     fileName.c_str()) < 0) {
    error = "no muxer for this format";
    return nullptr;
  }
  state->Packet.reset(av_packet_alloc());
  if (!state->Packet || !state->AddVideo(settings, error) || !state->AddAudio(settings, error))
    return nullptr;
  state->SetMetadata(settings);
  const int opened = avio_open(&state->Format->pb, fileName.c_str(), AVIO_FLAG_WRITE);
  if (opened < 0) {
    error = ErrorText(opened);
    return nullptr;
  }
  state->FileOpen = true;
  AVDictionary* options = nullptr;
  // The index before the media: players start before the whole file is there.
  if (IsMp4(settings))
    av_dict_set(&options, "movflags", "+faststart", 0);
  const int written = avformat_write_header(state->Format, &options);
  av_dict_free(&options);
  if (written < 0) {
    error = ErrorText(written);
    return nullptr;
  }
  return std::make_unique<TFFmpegVideoEncoder>(std::move(state));
}

bool TFFmpegVideoEncoder::WriteFrame(const std::uint8_t* pixels, std::ptrdiff_t bytesPerLine) {
  if (F->Failed || av_frame_make_writable(F->Picture.get()) < 0)
    return false;
  const std::uint8_t* planes[] = {pixels};
  const int strides[] = {static_cast<int>(bytesPerLine)};
  sws_scale(F->Scaler.get(), planes, strides, 0, F->Picture->height, F->Picture->data,
            F->Picture->linesize);
  return F->SendPicture();
}

bool TFFmpegVideoEncoder::RepeatFrame() {
  return F->FramesWritten > 0 && F->SendPicture();
}

bool TFFmpegVideoEncoder::WriteAudio(const float* left, const float* right, std::size_t n) {
  return !F->Failed && F->QueueSound(left, right, static_cast<int>(n)) && F->DrainSound(false);
}

bool TFFmpegVideoEncoder::Finish() {
  if (F->Failed || !F->QueueSound(nullptr, nullptr, 0) || !F->DrainSound(true) ||
      !F->Encode(*F->Video, *F->VideoStream, nullptr) ||
      !F->Encode(*F->Audio, *F->AudioStream, nullptr))
    return false;
  const bool trailer = av_write_trailer(F->Format) == 0;
  F->FileOpen = false;
  return avio_closep(&F->Format->pb) == 0 && trailer;
}

} // namespace

} // namespace melo

extern "C" __attribute__((visibility("default"))) melo::TVideoEncoder*
MeloOpenVideoEncoder(const char* fileName, const melo::TVideoSettings& settings,
                     std::string& error) {
  return melo::OpenFFmpegVideoEncoder(fileName, settings, error).release();
}
