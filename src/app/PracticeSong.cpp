#include "app/PracticeSong.h"

#include "app/SimpleRecorder.h"
#include "app/SongExport.h"
#include "music/MidiFileReader.h"

namespace melo {

bool LoadPracticeSong(const std::filesystem::path& fileName, const TVoiceList& voices,
                      TPracticeSong& song, std::string& reason) {
  song = TPracticeSong{};
  if (IsMidiFileName(fileName)) {
    TMidiFileContent content;
    if (!ReadMidiFile(fileName, content, reason))
      return false;
    song.Messages = std::move(content.Messages);
    song.EndTime = content.EndTime;
    return true;
  }
  std::error_code error;
  TSimpleRecorder recorder;
  TSongInfo info{};
  if (!std::filesystem::is_regular_file(fileName, error) ||
      !recorder.LoadFromFile(fileName, info)) {
    reason = "not a song file, or damaged";
    return false;
  }
  song.Messages = PlaySongOffline(recorder.Header, recorder.Events(), voices);
  song.EndTime = LastMessageTime(song.Messages);
  return true;
}

} // namespace melo
