#include "music/MidiFileReader.h"

#include "music/KoMidiFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <unistd.h>

namespace melo {
namespace {

using TBytes = std::vector<std::uint8_t>;

TBytes Cat(std::initializer_list<TBytes> parts) {
  TBytes all;
  for (const TBytes& part : parts)
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

TBytes Chunk(const char* type, const TBytes& data) {
  const auto n = static_cast<std::uint32_t>(data.size());
  return Cat({TBytes(type, type + 4),
              {static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
               static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)},
              data});
}

TBytes Header(int format, int tracks, std::uint16_t division) {
  return Chunk("MThd",
               {0, static_cast<std::uint8_t>(format), 0, static_cast<std::uint8_t>(tracks),
                static_cast<std::uint8_t>(division >> 8), static_cast<std::uint8_t>(division)});
}

// A track of the events given (delta times included), ended.
TBytes Track(const TBytes& events) {
  return Chunk("MTrk", Cat({events, {0, 0xFF, 0x2F, 0}}));
}

// A delta time of ticks as a variable-length number.
TBytes Delta(std::uint32_t ticks) {
  TBytes out;
  std::vector<std::uint8_t> groups;
  do {
    groups.push_back(static_cast<std::uint8_t>(ticks & 0x7F));
    ticks >>= 7;
  } while (ticks != 0);
  for (std::size_t i = groups.size(); i-- > 1;)
    out.push_back(groups[i] | 0x80);
  out.push_back(groups[0]);
  return out;
}

TBytes TempoEvent(std::uint32_t microseconds) {
  return {0xFF,
          0x51,
          3,
          static_cast<std::uint8_t>(microseconds >> 16),
          static_cast<std::uint8_t>(microseconds >> 8),
          static_cast<std::uint8_t>(microseconds)};
}

// Events at absolute ticks, in any order.
using TTimedEvents = std::vector<std::pair<std::uint32_t, TBytes>>;

TBytes TrackAt(TTimedEvents events) {
  std::ranges::stable_sort(events, {}, [](const auto& event) { return event.first; });
  TBytes bytes;
  std::uint32_t tick = 0;
  for (const auto& [at, event] : events) {
    bytes = Cat({bytes, Delta(at - tick), event});
    tick = at;
  }
  return Track(bytes);
}

TMidiFileContent Read(const TBytes& file) {
  TMidiFileContent content;
  std::string reason;
  EXPECT_TRUE(ParseMidiFile(file, content, reason)) << reason;
  return content;
}

std::vector<std::uint32_t> Times(const TMidiFileContent& content) {
  std::vector<std::uint32_t> times;
  for (const TTimedMidiMessage& message : content.Messages)
    times.push_back(message.Time);
  return times;
}

struct TDivisionCase {
  std::uint16_t Division;
  std::uint32_t Ticks;
  std::uint32_t Ms; // at 120 beats a minute, rounded to the nearest
};

class MidiFileDivision : public testing::TestWithParam<TDivisionCase> {};

TEST_P(MidiFileDivision, PlacesANoteAtItsMillisecond) {
  const TDivisionCase c = GetParam();
  const TMidiFileContent content =
      Read(Cat({Header(0, 1, c.Division),
                Track(Cat({{0, 0x90, 60, 100}, Delta(c.Ticks), {0x80, 60, 64}}))}));
  ASSERT_EQ(content.Messages.size(), 2u);
  EXPECT_EQ(content.Messages[1], (TTimedMidiMessage{c.Ms, 0x80, 60, 64}));
  EXPECT_EQ(content.EndTime, c.Ms);
}

INSTANTIATE_TEST_SUITE_P(Divisions, MidiFileDivision,
                         testing::Values(TDivisionCase{96, 96, 500}, TDivisionCase{96, 13, 68},
                                         TDivisionCase{480, 13, 14}, TDivisionCase{480, 1440, 1500},
                                         // SMPTE: 25 frames of 40 ticks, 1 ms a tick
                                         TDivisionCase{0xE728, 1000, 1000},
                                         // 29.97 frames of 100 ticks: 2997 ticks are 1 s
                                         TDivisionCase{0xE364, 2997, 1000},
                                         TDivisionCase{0xE264, 2997, 999},
                                         TDivisionCase{0xE728, MaxMidiFileMs, MaxMidiFileMs}));

// The tempo map holds for every track, whichever track changes it.
class MidiFileTempo : public testing::TestWithParam<int> {};

TEST_P(MidiFileTempo, ChangesTheTimeOfLaterNotesInEveryTrack) {
  std::vector<TTimedEvents> tracks(3);
  tracks[1] = {
      {480, {0x91, 60, 90}}, {960, {0x81, 60, 0}}, {1440, {0x91, 62, 90}}, {1441, {0x81, 62, 0}}};
  TTimedEvents& tempos = tracks[static_cast<std::size_t>(GetParam())];
  tempos.insert(tempos.begin(), {{0, TempoEvent(600000)}, {960, TempoEvent(250000)}});
  const TMidiFileContent content =
      Read(Cat({Header(1, 3, 480), TrackAt(tracks[0]), TrackAt(tracks[1]), TrackAt(tracks[2])}));
  // 480 ticks at 0.6 s, 480 more, then 480 at 0.25 s and one tick of 520.8 us.
  EXPECT_EQ(Times(content), (std::vector<std::uint32_t>{600, 1200, 1450, 1451}));
}

INSTANTIATE_TEST_SUITE_P(AnyTrack, MidiFileTempo, testing::Values(0, 1, 2));

TEST(MidiFileReader, TakesRunningStatusVelocityZeroAndOverlappingNotesAsWritten) {
  const TMidiFileContent content = Read(
      Cat({Header(0, 1, 500), Track({0,  0x92, 60,   100, // on
                                     10, 60,   90,        // running status: on again, overlapping
                                     0,  0xFF, 0x01, 2,    'h',  'i', // a text between notes
                                     5,  60,   0, // running status across it: velocity 0 is off
                                     5,  0xF0, 3,    0x7E, 0x7F, 0xF7, // system exclusive
                                     0,  0x82, 60,   0,                // the second off
                                     0,  0xC2, 5,                      // one data byte
                                     1,  7})}));                       // and running status with it
  EXPECT_EQ(content.Messages, (std::vector<TTimedMidiMessage>{{0, 0x92, 60, 100},
                                                              {10, 0x92, 60, 90},
                                                              {15, 0x82, 60, 0},
                                                              {20, 0x82, 60, 0},
                                                              {20, 0xC2, 5, 0},
                                                              {21, 0xC2, 7, 0}}));
  EXPECT_EQ(content.Texts, std::vector<std::string>{"hi"});
}

TEST(MidiFileReader, MergesTracksKeepingTrackOrderForEqualTimes) {
  const TMidiFileContent content = Read(
      Cat({Header(1, 2, 500), Track({5, 0x90, 64, 1}), Track({0, 0x91, 1, 1, 5, 0x91, 2, 1})}));
  EXPECT_EQ(content.Messages,
            (std::vector<TTimedMidiMessage>{{0, 0x91, 1, 1}, {5, 0x90, 64, 1}, {5, 0x91, 2, 1}}));
}

TEST(MidiFileReader, TakesNamesCopyrightAndFirstTrackTextsButNoLyricsOrTags) {
  const TMidiFileContent content = Read(
      Cat({Header(1, 2, 96), Track({0, 0xFF, 0x03, 4,    'S',  'o',  'n',  'g',  0,   0xFF, 0x03,
                                    1, 'X',  0,    0xFF, 0x02, 2,    'C',  0xE9, 0,   0xFF, 0x01,
                                    3, '@',  'K',  'M',  0,    0xFF, 0x01, 3,    'a', 'b',  'c'}),
           Track({0,    0xFF, 0x03, 5,   'W', 'o', 'r',  'd',  's', 0,   0xFF,
                  0x01, 3,    'l',  'a', '-', 0,   0xFF, 0x05, 2,   'l', 'a'})}));
  EXPECT_EQ(content.TrackNames, (std::vector<std::string>{"Song", "Words"}));
  EXPECT_EQ(content.Copyright, "C\xC3\xA9"); // Latin-1 read as such
  EXPECT_EQ(content.Texts, std::vector<std::string>{"abc"});
}

TEST(MidiFileReader, ReadsWhatTheWriterWroteAtTheSameMilliseconds) {
  const std::vector<TTimedMidiMessage> written{{0, 0x90, 60, 100},   {1, 0x91, 64, 80},
                                               {437, 0x80, 60, 0},   {437, 0xB1, 64, 127},
                                               {90001, 0x81, 64, 0}, {90001, 0xE0, 0, 64}};
  TBytes file;
  ASSERT_TRUE(BuildMidiFile(written, {"Title", "Me", "Notes"}, 95000, file));
  const TMidiFileContent content = Read(file);
  // The writer groups the messages by channel, one track each.
  const auto byTimeAndChannel = [](std::vector<TTimedMidiMessage> messages) {
    std::ranges::stable_sort(messages, {},
                             [](const auto& m) { return m.Time * 16 + (m.Status & 15); });
    return messages;
  };
  EXPECT_EQ(byTimeAndChannel(content.Messages), byTimeAndChannel(written));
  EXPECT_EQ(content.EndTime, 95000u);
  EXPECT_EQ(content.TrackNames.front(), "Title");
  EXPECT_EQ(content.Texts, (std::vector<std::string>{"Player: Me", "Notes"}));
}

struct TDamage {
  const char* Name;
  TBytes File;
  const char* Reason; // part of the sentence
};

const TBytes Note = {0, 0x90, 60, 100};

std::vector<TDamage> Damages() {
  const TBytes good = Cat({Header(0, 1, 96), Track(Note)});
  TBytes lengthPastEnd = good;
  lengthPastEnd[21] += 1; // the track's length
  TBytes longTrack;
  for (int i = 0; i < 17; ++i) // 17 times 2^28 - 1 ticks
    longTrack = Cat({longTrack, Delta(0x0FFFFFFF), {0x90, 60, 100}});
  TBytes cutInEvent = Cat({Header(0, 1, 96), Chunk("MTrk", {0, 0x90, 60})});
  return {
      {"empty", {}, "does not begin with MThd"},
      {"not a MIDI file", TBytes(40, 'x'), "does not begin with MThd"},
      {"short header", Chunk("MThd", {0, 0, 0, 1}), "the header is 4 bytes long"},
      {"cut in the header", TBytes(good.begin(), good.begin() + 12), "runs past the end"},
      {"cut inside an event", cutInEvent, "cut off inside a channel message"},
      {"track length past the end", lengthPastEnd, "runs past the end"},
      {"track count that lies", Cat({Header(1, 3, 96), Track(Note), Track(Note)}),
       "promises 3 tracks, the file holds 2"},
      {"missing MTrk", Cat({Header(0, 1, 96), Chunk("MTrx", Note)}), "the file holds 0"},
      {"huge variable-length number", Cat({Header(0, 1, 96), Track({0x81, 0x80, 0x80, 0x80, 0})}),
       "runs over four bytes"},
      {"meta length past the end", Cat({Header(0, 1, 96), Chunk("MTrk", {0, 0xFF, 1, 9, 'a'})}),
       "a meta event of 9 bytes runs past the end"},
      {"sysex length past the end", Cat({Header(0, 1, 96), Chunk("MTrk", {0, 0xF0, 0x7F, 1})}),
       "a system-exclusive event of 127 bytes"},
      {"data without status", Cat({Header(0, 1, 96), Track({0, 60, 100})}), "without a status"},
      {"status inside a message", Cat({Header(0, 1, 96), Track({0, 0x90, 60, 0x80})}),
       "cut short by the status byte 128"},
      {"system status in a track", Cat({Header(0, 1, 96), Track({0, 0xF4})}), "status byte 244"},
      {"tempo of two bytes", Cat({Header(0, 1, 96), Track({0, 0xFF, 0x51, 2, 1, 2})}),
       "a tempo event of 2 bytes"},
      {"zero division", Cat({Header(0, 1, 0), Track(Note)}), "0 ticks per quarter note"},
      {"zero ticks per frame", Cat({Header(0, 1, 0xE700), Track(Note)}), "0 ticks per SMPTE"},
      {"unknown frame rate", Cat({Header(0, 1, 0xE928), Track(Note)}), "23 SMPTE"},
      {"format 0 with two tracks", Cat({Header(0, 2, 96), Track(Note), Track(Note)}),
       "format 0 holds one track"},
      {"format 2", Cat({Header(2, 1, 96), Track(Note)}), "format 2"},
      {"format 3", Cat({Header(3, 1, 96), Track(Note)}), "format 3 is unknown"},
      {"longer than a song",
       Cat({Header(0, 1, 1), Track(Cat({Delta(0x0FFFFFFF), {0x90, 60, 100}}))}),
       "lasts beyond 24 hours"},
      {"a millisecond longer than a day",
       Cat({Header(0, 1, 0xE728), Track(Cat({Delta(MaxMidiFileMs + 1), {0x90, 60, 100}}))}),
       "lasts beyond 24 hours"},
      {"more ticks than a track holds", Cat({Header(0, 1, 96), Track(longTrack)}),
       "beyond 4294967295 ticks"},
  };
}

TEST(MidiFileReader, RefusesEachDamageWithItsReasonAndNothingRead) {
  for (const TDamage& damage : Damages()) {
    TMidiFileContent content;
    content.Texts = {"left from before"};
    std::string reason;
    EXPECT_FALSE(ParseMidiFile(damage.File, content, reason)) << damage.Name;
    EXPECT_NE(reason.find(damage.Reason), std::string::npos) << damage.Name << ": " << reason;
    EXPECT_TRUE(content.Messages.empty() && content.Texts.empty()) << damage.Name;
  }
}

TEST(MidiFileReader, ReadsFilesUpToItsSizeLimitOnly) {
  const std::string name = testing::TempDir() + "melo-reader-" + std::to_string(::getpid());
  TBytes file = Cat({Header(0, 1, 96), Track(Note)});
  file.resize(MaxMidiFileBytes + 1); // bytes after the tracks are passed over
  for (std::size_t size : {MaxMidiFileBytes, MaxMidiFileBytes + 1}) {
    std::FILE* out = std::fopen(name.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(std::fwrite(file.data(), 1, size, out), size);
    std::fclose(out);
    TMidiFileContent content;
    std::string reason;
    EXPECT_EQ(ReadMidiFile(name, content, reason), size == MaxMidiFileBytes) << reason;
  }
  std::remove(name.c_str());
}

TEST(MidiFileReader, KnowsMidiFilesByTheirNames) {
  for (const char* name : {"a.mid", "b.MIDI", "c.Kar"})
    EXPECT_TRUE(IsMidiFileName(name)) << name;
  for (const char* name : {"a.lyt", "mid", "a.midx", "a.mid.lyt"})
    EXPECT_FALSE(IsMidiFileName(name)) << name;
}

} // namespace
} // namespace melo
