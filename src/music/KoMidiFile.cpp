#include "music/KoMidiFile.h"

#include "music/AutoAccomp.h"
#include "music/MidiInterfaces.h"
#include "platform/FileBytes.h"

#include <algorithm>
#include <array>
#include <deque>
#include <limits>
#include <optional>
#include <string_view>
#include <utility>

namespace melo {
namespace {

constexpr int ChannelCount = 16;
constexpr std::uint8_t MetaText = 0x01;
constexpr std::uint8_t MetaTrackName = 0x03;
constexpr std::uint8_t MetaEndOfTrack = 0x2F;
constexpr std::uint8_t MetaTempo = 0x51;
// Texts longer than this are cut: they only label the file.
constexpr std::size_t MaxMetaTextBytes = 0x0FFFF;

void PutBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
  for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8)
    out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void PutVariableLength(std::vector<std::uint8_t>& out, std::uint32_t value) {
  std::array<std::uint8_t, 4> groups{};
  int count = 0;
  do {
    groups[static_cast<std::size_t>(count++)] = static_cast<std::uint8_t>(value & 0x7F);
    value >>= 7;
  } while (value != 0 && count < 4);
  while (count > 1)
    out.push_back(static_cast<std::uint8_t>(groups[static_cast<std::size_t>(--count)] | 0x80));
  out.push_back(groups[0]);
}

// One track's events, delta-timed as they are added.
class TTrack {
public:
  void Meta(std::uint32_t time, std::uint8_t type, std::string_view data) {
    Delta(time);
    FBytes.push_back(0xFF);
    FBytes.push_back(type);
    data = data.substr(0, MaxMetaTextBytes);
    PutVariableLength(FBytes, static_cast<std::uint32_t>(data.size()));
    FBytes.insert(FBytes.end(), data.begin(), data.end());
  }
  void Message(const TTimedMidiMessage& message) {
    Delta(message.Time);
    FBytes.push_back(message.Status);
    FBytes.push_back(message.Data1 & 0x7F);
    // Program change and channel pressure carry one data byte.
    const std::uint8_t kind = message.Status & 0xF0;
    if (kind != 0xC0 && kind != 0xD0)
      FBytes.push_back(message.Data2 & 0x7F);
  }
  void End(std::uint32_t time) { Meta(time, MetaEndOfTrack, {}); }
  void AppendTo(std::vector<std::uint8_t>& file) const {
    file.insert(file.end(), {'M', 'T', 'r', 'k'});
    PutBigEndian(file, static_cast<std::uint32_t>(FBytes.size()), 4);
    file.insert(file.end(), FBytes.begin(), FBytes.end());
  }
  std::uint32_t LastTime() const { return FTime; }

private:
  void Delta(std::uint32_t time) {
    time = std::max(time, FTime);
    PutVariableLength(FBytes, time - FTime);
    FTime = time;
  }
  std::vector<std::uint8_t> FBytes;
  std::uint32_t FTime = 0;
};

TTimedMidiMessage DrumNoteOff(std::uint32_t time, std::uint8_t key) {
  return {time, ChannelStatus(NoteOffStatus, DrumChannel), key, 0};
}

// The messages in time order with a note-off for every drum strike, as
// BuildMidiFile says.
std::vector<TTimedMidiMessage> WithDrumNoteOffs(const std::vector<TTimedMidiMessage>& sorted) {
  constexpr std::size_t keyCount = 128;
  // The time of each key's strike not yet ended, and the times those strikes
  // end at the latest (with their keys, in time order; an entry whose strike
  // was ended sooner is passed over).
  std::array<std::optional<std::uint32_t>, keyCount> openStrikes{};
  std::deque<std::pair<std::uint32_t, std::uint8_t>> strikeEnds;
  std::vector<TTimedMidiMessage> result;
  result.reserve(sorted.size() * 2);
  const auto endStrikesBefore = [&](std::uint64_t time) {
    while (!strikeEnds.empty() && strikeEnds.front().first < time) {
      const auto [end, key] = strikeEnds.front();
      strikeEnds.pop_front();
      if (openStrikes[key] && *openStrikes[key] + DrumStrikeTicks == end) {
        result.push_back(DrumNoteOff(end, key));
        openStrikes[key].reset();
      }
    }
  };
  for (const TTimedMidiMessage& message : sorted) {
    endStrikesBefore(message.Time);
    const std::uint8_t kind = message.Status & 0xF0;
    const std::uint8_t key = message.Data1 & 0x7F;
    const bool isNote = kind == NoteOnStatus || kind == NoteOffStatus;
    if ((message.Status & 0x0F) == DrumChannel && isNote) {
      const bool isStrike = kind == NoteOnStatus && (message.Data2 & 0x7F) != 0;
      if (isStrike && openStrikes[key])
        result.push_back(DrumNoteOff(message.Time, key));
      openStrikes[key].reset();
      if (isStrike) {
        openStrikes[key] = message.Time;
        strikeEnds.emplace_back(message.Time + DrumStrikeTicks, key);
      }
    }
    result.push_back(message);
  }
  endStrikesBefore(std::numeric_limits<std::uint64_t>::max());
  return result;
}

} // namespace

std::string ChannelTrackName(int channel) {
  switch (channel) {
  case HandChannel(LeftHand):
    return "Left hand";
  case HandChannel(RightHand):
    return "Right hand";
  case BassChannel:
    return "Accompaniment bass";
  case ArpeggioChannel:
    return "Accompaniment arpeggio";
  case ChordChannel:
    return "Accompaniment chord";
  case DrumChannel:
    return "Drums";
  default:
    return "Channel " + std::to_string(channel + 1);
  }
}

bool BuildMidiFile(const std::vector<TTimedMidiMessage>& messages, const TMidiFileTexts& texts,
                   std::uint32_t endTime, std::vector<std::uint8_t>& file) {
  file.clear();
  std::vector<TTimedMidiMessage> sorted;
  sorted.reserve(messages.size());
  for (const TTimedMidiMessage& message : messages) {
    if (message.Time > MaxMidiFileTime)
      return false;
    if (IsChannelMessage(message.Status))
      sorted.push_back(message);
  }
  if (endTime > MaxMidiFileTime)
    return false;
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const auto& a, const auto& b) { return a.Time < b.Time; });
  sorted = WithDrumNoteOffs(sorted);

  TTrack conductor;
  if (!texts.Title.empty())
    conductor.Meta(0, MetaTrackName, texts.Title);
  if (!texts.Player.empty())
    conductor.Meta(0, MetaText, "Player: " + texts.Player);
  if (!texts.Remark.empty())
    conductor.Meta(0, MetaText, texts.Remark);
  const std::array<char, 3> tempo{static_cast<char>(MidiFileTempo >> 16),
                                  static_cast<char>(MidiFileTempo >> 8),
                                  static_cast<char>(MidiFileTempo)};
  conductor.Meta(0, MetaTempo, std::string_view(tempo.data(), tempo.size()));

  std::array<TTrack, ChannelCount> channels;
  std::array<bool, ChannelCount> used{};
  for (const TTimedMidiMessage& message : sorted) {
    const int channel = message.Status & 0x0F;
    auto& track = channels[static_cast<std::size_t>(channel)];
    if (!used[static_cast<std::size_t>(channel)]) {
      used[static_cast<std::size_t>(channel)] = true;
      track.Meta(0, MetaTrackName, ChannelTrackName(channel));
    }
    track.Message(message);
  }
  const std::uint32_t last = sorted.empty() ? 0 : sorted.back().Time;
  conductor.End(std::max(endTime, last));

  const auto trackCount = 1 + std::count(used.begin(), used.end(), true);
  file.insert(file.end(), {'M', 'T', 'h', 'd'});
  PutBigEndian(file, 6, 4);
  PutBigEndian(file, 1, 2); // format 1: simultaneous tracks
  PutBigEndian(file, static_cast<std::uint32_t>(trackCount), 2);
  PutBigEndian(file, MidiFileDivision, 2);
  conductor.AppendTo(file);
  for (int channel = 0; channel < ChannelCount; ++channel) {
    if (!used[static_cast<std::size_t>(channel)])
      continue;
    TTrack& track = channels[static_cast<std::size_t>(channel)];
    track.End(track.LastTime());
    track.AppendTo(file);
  }
  return true;
}

bool SaveMidiFile(const std::filesystem::path& fileName,
                  const std::vector<TTimedMidiMessage>& messages, const TMidiFileTexts& texts,
                  std::uint32_t endTime) {
  std::vector<std::uint8_t> file;
  return BuildMidiFile(messages, texts, endTime, file) && WriteFileReplacing(fileName, file);
}

} // namespace melo
