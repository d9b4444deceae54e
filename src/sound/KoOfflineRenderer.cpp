#include "sound/KoOfflineRenderer.h"

#include "platform/FileBytes.h"
#include "platform/Language.h"
#include "platform/MappedFile.h"
#include "sound/DlsSoundFont.h"
#include "sound/SetupConfig.h"

#include <sndfile.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>
#include <system_error>

namespace melo {
namespace {

constexpr std::size_t BlockFrames = 4096;
// The tail is rendered in 10 ms steps and ends after 100 ms below -80 dBFS.
constexpr std::size_t TailBlockFrames = TKoOfflineRenderer::SampleRate / 100;
constexpr int QuietBlocksToEnd = 10;
constexpr float QuietLevel = 1e-4f;
// A tail still sounding at the limit fades out over its last 100 ms, not with a click.
constexpr std::uint64_t FadeFrames = TKoOfflineRenderer::SampleRate / 10;
constexpr std::uint64_t ReportFrames = TKoOfflineRenderer::SampleRate / 4;
constexpr double OggQuality = 0.6;

std::uint64_t FramesOfMs(std::uint64_t ms) {
  return ms * TKoOfflineRenderer::SampleRate / 1000;
}

int SndFileFormat(TAudioFileType type) {
  switch (type) {
  case TAudioFileType::Flac:
    return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
  case TAudioFileType::Ogg:
    return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
  case TAudioFileType::Wav:
    break;
  }
  return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
}

// Before any audio is written, so that every format takes them.
void SetTags(SNDFILE* file, const TAudioFileTags& tags) {
  const auto set = [file](int kind, const std::string& text) {
    if (!text.empty())
      sf_set_string(file, kind, text.c_str());
  };
  set(SF_STR_TITLE, tags.Title);
  set(SF_STR_ARTIST, tags.Artist);
  set(SF_STR_COMMENT, tags.Comment);
}

} // namespace

bool AudioFileTypeOf(const std::filesystem::path& fileName, TAudioFileType& type) {
  std::string extension = fileName.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension == ".wav") {
    type = TAudioFileType::Wav;
  } else if (extension == ".flac") {
    type = TAudioFileType::Flac;
  } else if (extension == ".ogg") {
    type = TAudioFileType::Ogg;
  } else {
    return false;
  }
  return true;
}

TRenderSetup TRenderSetup::FromConfig() {
  TRenderSetup setup;
  setup.UseExternalDLS = Config.UseExternalDLS;
  setup.ExternalDLSFileName = Config.ExternalDLSFileName;
  setup.BuiltInFileName = SoundSetFile();
  setup.ReverbLevel = Config.ReverbLevel;
  return setup;
}

std::unique_ptr<TInstrumentList> ListBuiltInVoices(const TRenderSetup& setup) {
  if (setup.UseExternalDLS)
    return nullptr;
  const auto mapped = TMappedFile::Open(setup.BuiltInFileName, MaxSoundSetBytes);
  const auto listed = mapped ? ListDlsBytes(mapped->Bytes()) : std::nullopt;
  if (!listed)
    return nullptr;
  auto voices = std::make_unique<TInstrumentList>();
  voices->Fill(*listed);
  voices->SortByPatch(); // as the engine sorts a set it loads
  return voices;
}

TKoOfflineRenderer::TKoOfflineRenderer(const TRenderSetup& setup) {
  TEngineOptions options;
  options.Mode = TEngineMode::Offline;
  options.OwnInstrumentList = true;
  // Every frame is rendered: what the file holds does not depend on how the
  // song was cut into blocks.
  options.RestWhenSilent = false;
  FEngine = std::make_unique<TKoDirectMusic>(options);
  if (!FEngine->SelectPort(0))
    return;
  // In the order the window starts its engine: reverb, sound set, volume.
  FEngine->SetReverbLevel(setup.ReverbLevel);
  if (setup.UseExternalDLS) {
    const TSoundSetResult external = FEngine->LoadCollectionFromFile(setup.ExternalDLSFileName);
    FLoaded = external && FEngine->DownloadInstruments();
    if (!external && setup.OnBuiltInInstead) {
      setup.OnBuiltInInstead(external);
    }
  }
  // The built-in set in place, as the window opens it: a song's instruments
  // are built at their first note, and a MIDI export touches no wave at all.
  if (!FLoaded) {
    FLoaded = static_cast<bool>(FEngine->LoadCollectionFromMappedFile(setup.BuiltInFileName));
  }
  // False only without a synthesizer, when nothing renders anyway.
  static_cast<void>(FEngine->SetVolume(setup.Volume));
}

TKoOfflineRenderer::~TKoOfflineRenderer() = default;

std::uint64_t TKoOfflineRenderer::FrameOfTime(std::uint32_t ms) {
  // Rounded up, so a message never sounds before its millisecond.
  return (std::uint64_t{ms} * SampleRate + 999) / 1000;
}

TRenderResult TKoOfflineRenderer::Run(const std::vector<TTimedMidiMessage>& messages,
                                      const TBlockWriter& write, const TRenderProgress& progress) {
  if (FUsed)
    return TRenderResult::Used;
  FUsed = true;
  if (!FLoaded)
    return TRenderResult::NoSoundSet;
  std::vector<TTimedMidiMessage> sorted;
  sorted.reserve(messages.size());
  std::copy_if(messages.begin(), messages.end(), std::back_inserter(sorted),
               [](const TTimedMidiMessage& m) { return IsChannelMessage(m.Status); });
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const auto& a, const auto& b) { return a.Time < b.Time; });

  const std::uint64_t lastFrame = sorted.empty() ? 0 : FrameOfTime(sorted.back().Time);
  // The expected length counts half the longest tail; the share is capped at 1.
  const double expectedFrames = static_cast<double>(lastFrame + FramesOfMs(MaxTailMs) / 2) + 1.0;
  std::vector<float> left(BlockFrames), right(BlockFrames);
  std::uint64_t position = 0;
  std::uint64_t nextReport = 0;
  TRenderResult result = TRenderResult::Done;

  // Renders and writes n frames; with fadeEnd they fade out towards it, with
  // peak their loudest sample is reported.
  auto step = [&](std::size_t n, float* peak, std::uint64_t fadeEnd) {
    FEngine->Render(std::span(left.data(), n), std::span(right.data(), n));
    if (fadeEnd != 0) {
      for (std::size_t i = 0; i < n; ++i) {
        const std::uint64_t frame = position + i;
        if (frame + FadeFrames > fadeEnd) {
          const float gain = static_cast<float>(fadeEnd - std::min(frame, fadeEnd)) /
                             static_cast<float>(FadeFrames);
          left[i] *= gain;
          right[i] *= gain;
        }
      }
    }
    if (peak != nullptr) {
      *peak = 0.0f;
      for (std::size_t i = 0; i < n; ++i)
        *peak = std::max({*peak, std::fabs(left[i]), std::fabs(right[i])});
    }
    if (!write(left.data(), right.data(), n)) {
      result = TRenderResult::WriteFailed;
      return false;
    }
    position += n;
    if (progress && position >= nextReport) {
      nextReport = position + ReportFrames;
      if (!progress(std::min(1.0, static_cast<double>(position) / expectedFrames))) {
        result = TRenderResult::Cancelled;
        return false;
      }
    }
    return true;
  };

  for (const TTimedMidiMessage& message : sorted) {
    const std::uint64_t target = FrameOfTime(message.Time);
    while (position < target) {
      if (!step(static_cast<std::size_t>(std::min<std::uint64_t>(BlockFrames, target - position)),
                nullptr, 0))
        return result;
    }
    FEngine->SendMidiMessage(message.Status, message.Data1, message.Data2);
  }

  const std::uint64_t tailEnd = position + FramesOfMs(MaxTailMs);
  int quietBlocks = 0;
  while (position < tailEnd && quietBlocks < QuietBlocksToEnd) {
    float peak = 0.0f;
    if (!step(
            static_cast<std::size_t>(std::min<std::uint64_t>(TailBlockFrames, tailEnd - position)),
            &peak, tailEnd))
      return result;
    quietBlocks = peak < QuietLevel ? quietBlocks + 1 : 0;
  }
  if (progress && !progress(1.0))
    return TRenderResult::Cancelled;
  return TRenderResult::Done;
}

TRenderResult TKoOfflineRenderer::Render(const std::vector<TTimedMidiMessage>& messages,
                                         std::vector<float>& left, std::vector<float>& right,
                                         const TRenderProgress& progress) {
  left.clear();
  right.clear();
  return Run(
      messages,
      [&](const float* l, const float* r, std::size_t n) {
        left.insert(left.end(), l, l + n);
        right.insert(right.end(), r, r + n);
        return true;
      },
      progress);
}

TRenderResult TKoOfflineRenderer::RenderToFile(const std::vector<TTimedMidiMessage>& messages,
                                               const std::filesystem::path& fileName,
                                               TAudioFileType type, const TAudioFileTags& tags,
                                               const TRenderProgress& progress) {
  if (FUsed)
    return TRenderResult::Used;
  if (!FLoaded) {
    FUsed = true;
    return TRenderResult::NoSoundSet;
  }
  TRenderResult result = TRenderResult::WriteFailed;
  const bool written =
      WriteFileReplacingWith(fileName, [&](const std::filesystem::path& temporary) {
        SF_INFO info{};
        info.samplerate = SampleRate;
        info.channels = 2;
        info.format = SndFileFormat(type);
        SNDFILE* file = sf_open(temporary.c_str(), SFM_WRITE, &info);
        if (file == nullptr)
          return false;
        // Peaks above full scale are clipped, not wrapped around.
        sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
        SetTags(file, tags);
        if (type == TAudioFileType::Ogg) {
          double quality = OggQuality;
          sf_command(file, SFC_SET_VBR_ENCODING_QUALITY, &quality, sizeof quality);
        }
        std::vector<float> frames;
        result = Run(
            messages,
            [&](const float* l, const float* r, std::size_t n) {
              frames.resize(2 * n);
              for (std::size_t i = 0; i < n; ++i) {
                frames[2 * i] = l[i];
                frames[2 * i + 1] = r[i];
              }
              return sf_writef_float(file, frames.data(), static_cast<sf_count_t>(n)) ==
                     static_cast<sf_count_t>(n);
            },
            progress);
        if (sf_close(file) != 0 && result == TRenderResult::Done)
          result = TRenderResult::WriteFailed;
        return result == TRenderResult::Done;
      });
  if (!written && result == TRenderResult::Done)
    result = TRenderResult::WriteFailed;
  return result;
}

} // namespace melo
