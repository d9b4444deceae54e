#include "app/MidiFileSong.h"

#include <algorithm>
#include <span>
#include <string_view>

namespace melo {
namespace {

constexpr std::string_view PlayerPrefix = "Player: ";

void AddLine(std::string& text, std::string_view line) {
  if (line.empty())
    return;
  if (!text.empty())
    text += "\r\n"; // as the song-information dialog writes lines
  text += line;
}

} // namespace

TSongInfo MidiFileSongInfo(const TMidiFileContent& content) {
  std::string player;
  std::string remark;
  AddLine(remark, content.Copyright);
  for (const std::string& text : content.Texts) {
    if (player.empty() && text.starts_with(PlayerPrefix)) {
      player = text.substr(PlayerPrefix.size());
    } else {
      AddLine(remark, text);
    }
  }
  for (std::size_t i = 1; i < content.TrackNames.size(); ++i)
    AddLine(remark, content.TrackNames[i]);
  const std::string title = content.TrackNames.empty() ? "" : content.TrackNames.front();
  return MakeSongInfo(title, player, remark);
}

std::vector<std::uint8_t> MidiFileSongImage(const TMidiFileContent& content) {
  TSimpleBuffer events;
  for (const TTimedMidiMessage& message : content.Messages) {
    events.Add(
        {message.Time, 0, sekRawMidi, message.Status << 16 | message.Data1 << 8 | message.Data2});
  }
  events.Add({content.EndTime, 0, sekEnd, 0});

  TSongHeader header{};
  header.Info = MidiFileSongInfo(content);
  header.State = DefaultSongState();
  return SongImage(header, events);
}

bool LoadMidiFileSong(const std::filesystem::path& fileName, TSimpleRecorder& recorder,
                      TSongInfo& info, std::string& reason) {
  TMidiFileContent content;
  if (!ReadMidiFile(fileName, content, reason))
    return false;
  if (!recorder.LoadFromStream(MidiFileSongImage(content), info)) {
    reason = "a song is being recorded or played";
    return false;
  }
  return true;
}

} // namespace melo
