#include "music/KoMidiFile.h"

#include "platform/FileBytes.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <unistd.h>

namespace melo {
namespace {

// What a reader of the file sees: the header and, per track, its name, texts,
// tempo and channel messages at absolute tick times.
struct TParsedTrack {
  std::string Name;
  std::vector<std::string> Texts;
  std::uint32_t Tempo = 0;
  std::vector<TTimedMidiMessage> Messages;
  std::uint32_t EndTime = 0;
  bool Ended = false;
};

struct TParsedFile {
  int Format = -1;
  int TrackCount = 0;
  int Division = 0;
  std::vector<TParsedTrack> Tracks;
};

std::uint32_t BigEndian(const std::vector<std::uint8_t>& b, std::size_t at, int n) {
  std::uint32_t v = 0;
  for (int i = 0; i < n; ++i)
    v = v << 8 | b.at(at + static_cast<std::size_t>(i));
  return v;
}

std::uint32_t ReadVariable(const std::vector<std::uint8_t>& b, std::size_t& at) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) {
    const std::uint8_t byte = b.at(at++);
    v = v << 7 | (byte & 0x7F);
    if ((byte & 0x80) == 0)
      return v;
  }
  ADD_FAILURE() << "variable-length number longer than four bytes";
  return v;
}

// A strict reader: no running status is expected, every chunk must fit.
TParsedFile Parse(const std::vector<std::uint8_t>& b) {
  TParsedFile f;
  EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "MThd");
  EXPECT_EQ(BigEndian(b, 4, 4), 6u);
  f.Format = static_cast<int>(BigEndian(b, 8, 2));
  f.TrackCount = static_cast<int>(BigEndian(b, 10, 2));
  f.Division = static_cast<int>(BigEndian(b, 12, 2));
  std::size_t at = 14;
  while (at < b.size()) {
    EXPECT_EQ(std::string(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at) + 4),
              "MTrk");
    const std::uint32_t length = BigEndian(b, at + 4, 4);
    std::size_t p = at + 8;
    const std::size_t end = p + length;
    EXPECT_LE(end, b.size());
    TParsedTrack t;
    std::uint32_t time = 0;
    while (p < end) {
      time += ReadVariable(b, p);
      const std::uint8_t status = b.at(p++);
      if (status == 0xFF) {
        const std::uint8_t type = b.at(p++);
        const std::uint32_t n = ReadVariable(b, p);
        const std::string data(b.begin() + static_cast<long>(p),
                               b.begin() + static_cast<long>(p + n));
        p += n;
        if (type == 0x03) {
          t.Name = data;
        } else if (type == 0x01) {
          t.Texts.push_back(data);
        } else if (type == 0x51) {
          t.Tempo = BigEndian(std::vector<std::uint8_t>(data.begin(), data.end()), 0, 3);
        } else if (type == 0x2F) {
          t.Ended = true;
          t.EndTime = time;
          EXPECT_EQ(p, end) << "events after the end of the track";
        }
        continue;
      }
      EXPECT_GE(status, 0x80) << "running status or stray data byte";
      EXPECT_LT(status, 0xF0);
      TTimedMidiMessage m{time, status, b.at(p++), 0};
      const int kind = status & 0xF0;
      if (kind != 0xC0 && kind != 0xD0)
        m.Data2 = b.at(p++);
      t.Messages.push_back(m);
    }
    EXPECT_EQ(p, end);
    f.Tracks.push_back(t);
    at = end;
  }
  return f;
}

// mido's count of the drum channel's strikes and of those it finds no off for
// before the key's next strike or the end.
std::string MidoDrumStrikes(const std::filesystem::path& file) {
  const std::string script = R"(
import sys, mido
struck, unended, sounding = 0, 0, set()
for track in mido.MidiFile(sys.argv[1]).tracks:
    for m in track:
        if m.type not in ("note_on", "note_off") or m.channel != 9:
            continue
        if m.type == "note_on" and m.velocity > 0:
            struck += 1
            unended += m.note in sounding
            sounding.add(m.note)
        else:
            sounding.discard(m.note)
print(struck, "struck,", unended + len(sounding), "unended")
)";
  const std::string command =
      std::string(MELO_MIDO_PYTHON) + " -c '" + script + "' '" + file.string() + "'";
  std::string output;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    std::array<char, 256> buffer{};
    while (std::fgets(buffer.data(), buffer.size(), pipe) != nullptr)
      output += buffer.data();
    ::pclose(pipe);
  }
  return output;
}

TEST(KoMidiFile, TracksPerChannelWithExactMillisecondTimes) {
  const std::vector<TTimedMidiMessage> messages{
      {0, 0xB9, 0, 120},      {0, 0xC9, 0, 0},     {0, 0xC1, 5, 99},     {1, 0x91, 60, 100},
      {1, 0x90, 48, 70},      {2, 0x99, 36, 127},  {1001, 0x81, 60, 64}, {1001, 0x80, 48, 64},
      {70000, 0xB1, 64, 127}, {70003, 0xB1, 64, 0}};
  std::vector<std::uint8_t> image;
  ASSERT_TRUE(BuildMidiFile(messages, {"Song", "Me", "A remark"}, 75000, image));
  const TParsedFile f = Parse(image);
  EXPECT_EQ(f.Format, 1);
  EXPECT_EQ(f.Division, MidiFileDivision);
  ASSERT_EQ(f.TrackCount, 4); // conductor, channels 0, 1, 9 in channel order
  ASSERT_EQ(f.Tracks.size(), 4u);
  // One tick is one millisecond.
  EXPECT_EQ(f.Tracks[0].Tempo * 1.0 / f.Division, 1000.0);
  EXPECT_EQ(f.Tracks[0].Name, "Song");
  EXPECT_EQ(f.Tracks[0].Texts, (std::vector<std::string>{"Player: Me", "A remark"}));
  EXPECT_EQ(f.Tracks[0].EndTime, 75000u);
  EXPECT_EQ(f.Tracks[1].Name, "Left hand");
  EXPECT_EQ(f.Tracks[2].Name, "Right hand");
  EXPECT_EQ(f.Tracks[3].Name, "Drums");

  std::map<int, std::vector<TTimedMidiMessage>> expected;
  for (const auto& m : messages) {
    auto copy = m;
    if ((m.Status & 0xF0) == 0xC0)
      copy.Data2 = 0; // one data byte only
    expected[m.Status & 0x0F].push_back(copy);
  }
  expected[9].push_back({2 + DrumStrikeTicks, 0x89, 36, 0}); // the strike's added end
  EXPECT_EQ(f.Tracks[1].Messages, expected[0]);
  EXPECT_EQ(f.Tracks[2].Messages, expected[1]);
  EXPECT_EQ(f.Tracks[3].Messages, expected[9]);
  EXPECT_EQ(f.Tracks[2].EndTime, 70003u);
  for (const auto& t : f.Tracks)
    EXPECT_TRUE(t.Ended);
}

TEST(KoMidiFile, OrdersByTimeKeepsEqualTimesAndDropsNonChannelMessages) {
  // Out of order, two messages at one time, and bytes no synthesizer plays.
  const std::vector<TTimedMidiMessage> messages{{500, 0x90, 60, 90}, {20, 0x90, 62, 80},
                                                {500, 0x80, 62, 0},  {30, 0xF8, 0, 0},
                                                {40, 0x45, 1, 2},    {500, 0xB0, 64, 0}};
  std::vector<std::uint8_t> image;
  ASSERT_TRUE(BuildMidiFile(messages, {}, 0, image));
  const TParsedFile f = Parse(image);
  ASSERT_EQ(f.Tracks.size(), 2u);
  EXPECT_TRUE(f.Tracks[0].Name.empty());
  EXPECT_TRUE(f.Tracks[0].Texts.empty());
  EXPECT_EQ(f.Tracks[0].EndTime, 500u); // never before the last message
  const std::vector<TTimedMidiMessage> want{
      {20, 0x90, 62, 80}, {500, 0x90, 60, 90}, {500, 0x80, 62, 0}, {500, 0xB0, 64, 0}};
  EXPECT_EQ(f.Tracks[1].Messages, want);
}

TEST(KoMidiFile, DrumStrikesEndWithANoteOff) {
  constexpr std::uint32_t ticks = DrumStrikeTicks;
  struct TCase {
    const char* What;
    std::vector<TTimedMidiMessage> Messages;
    std::vector<TTimedMidiMessage> Track; // the only track besides the conductor
  };
  const std::vector<TCase> cases{
      {"a lone strike", {{7, 0x99, 36, 90}}, {{7, 0x99, 36, 90}, {7 + ticks, 0x89, 36, 0}}},
      {"struck again one tick sooner",
       {{0, 0x99, 36, 90}, {ticks - 1, 0x99, 36, 80}},
       {{0, 0x99, 36, 90},
        {ticks - 1, 0x89, 36, 0},
        {ticks - 1, 0x99, 36, 80},
        {2 * ticks - 1, 0x89, 36, 0}}},
      {"struck again as the strike ends",
       {{0, 0x99, 36, 90}, {ticks, 0x99, 36, 80}},
       {{0, 0x99, 36, 90}, {ticks, 0x89, 36, 0}, {ticks, 0x99, 36, 80}, {2 * ticks, 0x89, 36, 0}}},
      {"struck again one tick later",
       {{0, 0x99, 36, 90}, {ticks + 1, 0x99, 36, 80}},
       {{0, 0x99, 36, 90},
        {ticks, 0x89, 36, 0},
        {ticks + 1, 0x99, 36, 80},
        {2 * ticks + 1, 0x89, 36, 0}}},
      {"struck twice at once",
       {{5, 0x99, 36, 90}, {5, 0x99, 36, 80}},
       {{5, 0x99, 36, 90}, {5, 0x89, 36, 0}, {5, 0x99, 36, 80}, {5 + ticks, 0x89, 36, 0}}},
      {"other keys do not end a strike",
       {{0, 0x99, 36, 90}, {10, 0x99, 38, 80}},
       {{0, 0x99, 36, 90}, {10, 0x99, 38, 80}, {ticks, 0x89, 36, 0}, {10 + ticks, 0x89, 38, 0}}},
      {"ended by a note-off of its own",
       {{0, 0x99, 36, 90}, {ticks, 0x89, 36, 64}},
       {{0, 0x99, 36, 90}, {ticks, 0x89, 36, 64}}},
      {"ended by a note-on of velocity 0",
       {{0, 0x99, 36, 90}, {1, 0x99, 36, 0}},
       {{0, 0x99, 36, 90}, {1, 0x99, 36, 0}}},
      {"other channels unchanged", {{0, 0x98, 36, 90}}, {{0, 0x98, 36, 90}}},
  };
  for (const TCase& c : cases) {
    std::vector<std::uint8_t> image;
    ASSERT_TRUE(BuildMidiFile(c.Messages, {}, 0, image)) << c.What;
    const TParsedFile f = Parse(image);
    ASSERT_EQ(f.Tracks.size(), 2u) << c.What;
    EXPECT_EQ(f.Tracks[1].Messages, c.Track) << c.What;
    EXPECT_EQ(f.Tracks[0].EndTime, c.Track.back().Time) << c.What;
  }

  // A notation program's reader finds every strike ended: all the cases in
  // one file, read by mido.
  const auto target = std::filesystem::temp_directory_path() /
                      ("melo_drums_" + std::to_string(::getpid()) + ".mid");
  std::vector<TTimedMidiMessage> all;
  std::uint32_t strikes = 0;
  for (const TCase& c : cases) {
    const std::uint32_t start = all.empty() ? 0 : all.back().Time + 1000;
    for (TTimedMidiMessage m : c.Messages) {
      m.Time += start;
      strikes += m.Status == 0x99 && m.Data2 != 0;
      all.push_back(m);
    }
  }
  ASSERT_TRUE(SaveMidiFile(target, all, {}, 0));
  EXPECT_EQ(MidoDrumStrikes(target), std::to_string(strikes) + " struck, 0 unended\n");
  std::filesystem::remove(target);
}

TEST(KoMidiFile, DataBytesKeepSevenBitsAndLongDeltasFourBytes) {
  std::vector<std::uint8_t> image;
  ASSERT_TRUE(BuildMidiFile({{MaxMidiFileTime, 0x92, 0xFF, 0x80}}, {}, 0, image));
  const TParsedFile f = Parse(image);
  ASSERT_EQ(f.Tracks.size(), 2u);
  EXPECT_EQ(f.Tracks[1].Name, "Channel 3");
  ASSERT_EQ(f.Tracks[1].Messages.size(), 1u);
  EXPECT_EQ(f.Tracks[1].Messages[0], (TTimedMidiMessage{MaxMidiFileTime, 0x92, 0x7F, 0x00}));
}

TEST(KoMidiFile, TimesBeyondTheFileRangeWriteNothing) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("melo_midifile_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const auto target = dir / "out.mid";
  std::vector<std::uint8_t> image{1, 2, 3};
  EXPECT_FALSE(BuildMidiFile({{MaxMidiFileTime + 1, 0x90, 60, 1}}, {}, 0, image));
  EXPECT_TRUE(image.empty());
  EXPECT_FALSE(SaveMidiFile(target, {{0, 0x90, 60, 1}}, {}, MaxMidiFileTime + 1));
  EXPECT_FALSE(std::filesystem::exists(target));
  EXPECT_TRUE(std::filesystem::is_empty(dir)); // no temporary left behind either

  // A good file replaces an old one whole.
  ASSERT_TRUE(WriteFileReplacing(target, std::vector<std::uint8_t>(100000, 7)));
  ASSERT_TRUE(SaveMidiFile(target, {{0, 0x90, 60, 1}}, {"T", "", ""}, 10));
  std::vector<std::uint8_t> back;
  ASSERT_TRUE(ReadFileBytes(target, back, 1 << 20));
  EXPECT_EQ(Parse(back).TrackCount, 2);
  std::filesystem::remove_all(dir);
}

TEST(TimedMidiCollector, StampsChannelMessagesWithTheCurrentTime) {
  TTimedMidiCollector sink;
  EXPECT_TRUE(sink.SendMidiMessage(0x90, 60, 100));
  sink.Time = 1234;
  EXPECT_FALSE(sink.SendMidiMessage(0xF0, 1, 2)); // system messages are not kept
  EXPECT_TRUE(sink.SendMidiMessage(0xB9, 0x80 | 7, 0xFF));
  const std::vector<TTimedMidiMessage> want{{0, 0x90, 60, 100}, {1234, 0xB9, 7, 0x7F}};
  EXPECT_EQ(sink.Messages, want);
  EXPECT_EQ(LastMessageTime(sink.Messages), 1234u);
}

} // namespace
} // namespace melo
