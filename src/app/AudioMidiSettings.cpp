#include "app/AudioMidiSettings.h"

#include "platform/DataFolder.h"
#include "platform/FileBytes.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace melo {
namespace {

// Far beyond two lines; anything larger is not this file.
constexpr std::size_t MaxAudioMidiFileBytes = 4096;
constexpr std::string_view AudioKey = "audio=";
constexpr std::string_view MidiInKey = "midi-in=";

bool ValueStorable(std::string_view value) {
  return value.size() <= MaxAudioMidiValueBytes &&
         std::none_of(value.begin(), value.end(), [](char c) {
           const auto byte = static_cast<unsigned char>(c);
           return byte < 0x20 || byte == 0x7F;
         });
}

// The line's value for key, when the line holds that key and a storable value.
void TakeValue(std::string_view line, std::string_view key, std::string& value) {
  if (!line.starts_with(key))
    return;
  line.remove_prefix(key.size());
  value = ValueStorable(line) ? std::string(line) : std::string();
}

bool IsDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

bool LoadAudioMidiFrom(const std::filesystem::path& fileName, TAudioMidiChoices& choices) {
  choices = {};
  std::vector<std::uint8_t> bytes;
  if (!ReadFileBytes(fileName, bytes, MaxAudioMidiFileBytes))
    return false;
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    if (line.ends_with('\r'))
      line.remove_suffix(1);
    TakeValue(line, AudioKey, choices.AudioOutput);
    TakeValue(line, MidiInKey, choices.MidiIn);
  }
  return true;
}

TAudioMidiChoices LoadAudioMidi() {
  TAudioMidiChoices choices;
  static_cast<void>(LoadAudioMidiFrom(DataFileForReading(AudioMidiFileName), choices));
  return choices;
}

bool AudioMidiStorable(const TAudioMidiChoices& choices) {
  return ValueStorable(choices.AudioOutput) && ValueStorable(choices.MidiIn);
}

bool SaveAudioMidiTo(const std::filesystem::path& fileName, const TAudioMidiChoices& choices) {
  if (!AudioMidiStorable(choices))
    return false;
  std::string text;
  text.append(AudioKey).append(choices.AudioOutput).append("\n");
  text.append(MidiInKey).append(choices.MidiIn).append("\n");
  return WriteFileReplacing(fileName,
                            {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

bool SaveAudioMidi(const TAudioMidiChoices& choices, std::filesystem::path& written) {
  written = DataFileForWriting(AudioMidiFileName);
  return !written.empty() && SaveAudioMidiTo(written, choices);
}

TAudioMidiChoices ChoicesForRun(TAudioMidiChoices stored, const std::string& audioArg,
                                const std::string& midiInArg) {
  if (!audioArg.empty())
    stored.AudioOutput = audioArg;
  if (!midiInArg.empty())
    stored.MidiIn = midiInArg;
  return stored;
}

std::string StoredMidiSource(std::string_view source) {
  const std::size_t open = source.rfind(" [");
  if (open == std::string_view::npos || !source.ends_with(']'))
    return std::string(source);
  const std::string_view address = source.substr(open + 2, source.size() - open - 3);
  const std::size_t colon = address.find(':');
  if (colon == std::string_view::npos || !IsDigits(address.substr(0, colon)) ||
      !IsDigits(address.substr(colon + 1)))
    return std::string(source);
  return std::string(source.substr(0, open));
}

} // namespace melo
