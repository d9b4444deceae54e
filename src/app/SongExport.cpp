#include "app/SongExport.h"

#include "app/KoPerformance.h"
#include "music/AutoAccomp.h"
#include "music/KoMidiFile.h"
#include "sound/VideoEncoder.h"

#include <algorithm>
#include <cctype>

namespace melo {

TExportResult ExportResultOf(TRenderResult result) {
  switch (result) {
  case TRenderResult::Done:
    return TExportResult::Done;
  case TRenderResult::Cancelled:
    return TExportResult::Cancelled;
  case TRenderResult::NoSoundSet:
    return TExportResult::NoSoundSet;
  case TRenderResult::WriteFailed:
  case TRenderResult::Used:
    break;
  }
  return TExportResult::WriteFailed;
}

bool ExportTargetOf(const std::filesystem::path& fileName, TExportTarget& target) {
  std::string extension = fileName.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension == ".mid" || extension == ".midi") {
    target = {TExportKind::Midi, TAudioFileType::Wav};
    return true;
  }
  TAudioFileType type{};
  if (!AudioFileTypeOf(fileName, type))
    return false;
  target = {TExportKind::Audio, type};
  return true;
}

bool IsVideoFileName(const std::filesystem::path& fileName) {
  TVideoContainer container{};
  return VideoContainerOf(fileName, container);
}

std::uint32_t SongEndTime(const TSimpleBuffer& events) {
  std::uint32_t end = 0;
  for (std::size_t i = 0; i < events.Count(); ++i) {
    if (events[i].Skip == 0)
      end = std::max(end, events[i].Time);
  }
  return end;
}

TOfflineSongPlay::TOfflineSongPlay(const TSongHeader& header, const TSimpleBuffer& events,
                                   const TVoiceList& voices, TTimedMidiCollector& sink,
                                   TPerformanceView* view)
    : FEvents(events), FSink(sink), FPerformance(std::make_unique<TKoPerformance>()) {
  TKoPerformance& performance = *FPerformance;
  performance.SetView(view);
  performance.SetSink(&sink);
  performance.SetVoices(&voices);
  // The window starts with the first voice on both hands and the set's last
  // instrument, a drum kit, on the drum channel.
  performance.SetRightVoice(0);
  performance.SetLeftVoice(0);
  if (voices.VoiceCount() > 0) {
    const TPatchBytes kit = UnpackPatch(voices.VoicePatch(voices.VoiceCount() - 1));
    sink.SendMidiMessage(ChannelStatus(ControlChangeStatus, DrumChannel), 0, kit.MSB);
    sink.SendMidiMessage(ChannelStatus(ControlChangeStatus, DrumChannel), 32, kit.LSB);
    sink.SendMidiMessage(ChannelStatus(ProgramChangeStatus, DrumChannel), kit.Program, 0);
  }
  // Playback as the window runs it, with each event at its own millisecond
  // instead of the player's next 10 ms tick.
  performance.SetPlaying(true);
  performance.SetSongRawDrums(SongHasRawDrumStrikes(events));
  performance.SetShowRawNotes(SongHasNoKeyPresses(events));
  performance.ApplySongState(header.State);
  SkipSkipped();
}

void TOfflineSongPlay::SkipSkipped() {
  while (FNext < FEvents.Count() && FEvents[FNext].Skip != 0)
    ++FNext;
  if (FNext == FEvents.Count() && !FEnded) {
    FEnded = true;
    FSink.Time = FNow;
    FPerformance->SetPlaying(false);
  }
}

std::uint32_t TOfflineSongPlay::NextTime() const {
  return std::max(FNow, FEvents[FNext].Time);
}

void TOfflineSongPlay::PlayNext() {
  const TSongEvent& event = FEvents[FNext];
  FNow = NextTime();
  FSink.Time = FNow;
  FPerformance->PlayEvent(event.Kind, event.Data, FEvents.KeyDefs(FNext));
  ++FNext;
  SkipSkipped();
}

std::vector<TTimedMidiMessage>
PlaySongOffline(const TSongHeader& header, const TSimpleBuffer& events, const TVoiceList& voices) {
  TTimedMidiCollector sink;
  {
    TOfflineSongPlay play(header, events, voices, sink);
    while (!play.Ended())
      play.PlayNext();
  }
  return std::move(sink.Messages);
}

std::string ExportResultText(TExportResult result) {
  switch (result) {
  case TExportResult::Done:
    return "The song was exported.";
  case TExportResult::Cancelled:
    return "The export was cancelled.";
  case TExportResult::TooLong:
    return "The song runs longer than 12 hours: the file is damaged.";
  case TExportResult::NoSoundSet:
    return "The sound set could not be loaded.";
  case TExportResult::WriteFailed:
    break;
  }
  return "The file could not be written.";
}

TExportResult ExportSong(const TSongHeader& header, const TSimpleBuffer& events,
                         const std::filesystem::path& fileName, const TExportTarget& target,
                         const TRenderSetup& setup, const TVoiceList* voices,
                         const TRenderProgress& progress) {
  const std::uint32_t end = SongEndTime(events);
  if (end > MaxExportMs)
    return TExportResult::TooLong;
  const TMidiFileTexts texts{SongTitle(header.Info), SongPlayer(header.Info),
                             SongRemark(header.Info)};
  const auto saveMidi = [&](const TVoiceList& songVoices) {
    return SaveMidiFile(fileName, PlaySongOffline(header, events, songVoices), texts, end)
               ? TExportResult::Done
               : TExportResult::WriteFailed;
  };
  if (target.Kind == TExportKind::Midi) {
    if (voices != nullptr)
      return saveMidi(*voices);
    if (const auto listed = ListBuiltInVoices(setup))
      return saveMidi(TSoundSetVoices(*listed));
  }
  TKoOfflineRenderer renderer(setup);
  if (!renderer.SoundSetLoaded())
    return TExportResult::NoSoundSet;
  const TSoundSetVoices ownVoices(renderer.Instruments());
  if (target.Kind == TExportKind::Midi)
    return saveMidi(ownVoices);
  const std::vector<TTimedMidiMessage> messages = PlaySongOffline(header, events, ownVoices);
  const TAudioFileTags tags{texts.Title, texts.Player, texts.Remark};
  return ExportResultOf(
      renderer.RenderToFile(messages, fileName, target.AudioType, tags, progress));
}

} // namespace melo
