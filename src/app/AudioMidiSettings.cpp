#include "app/AudioMidiSettings.h"

#include <algorithm>

namespace melo {
namespace {

bool IsDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

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
