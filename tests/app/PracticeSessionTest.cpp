#include "app/PracticeSession.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace melo {
namespace {

TPerformanceValues DefaultValues() {
  TPerformanceValues values;
  FillDefaultKeyDefs(values.KeyDefs);
  return values;
}

std::vector<std::string> NamesOf(const std::vector<int>& keys) {
  std::vector<std::string> names;
  for (const int key : keys)
    names.emplace_back(KeyNames[static_cast<std::size_t>(key)]);
  return names;
}

TEST(PracticeKeys, ATriadTakesOneKeyWhoseDefinitionHoldsItElseOneKeyANote) {
  TPerformanceValues values = DefaultValues();
  const std::vector<int> triad{60, 64, 67};
  EXPECT_EQ(NamesOf(KeysForChord(triad, values, RightHand).Keys),
            (std::vector<std::string>{"Num-1", "Num-3", "Num-5"}));
  const TChordKeys left = KeysForChord(std::vector<int>{60, 64, 67, 200}, values, LeftHand);
  EXPECT_EQ(NamesOf(left.Keys), (std::vector<std::string>{"Q", "E", "T"}));
  EXPECT_EQ(left.NoteKeys, (std::vector<int>{29, 31, 33, -1}));

  TKeyDef& y = values.KeyDefs.Keys[KeyIndexOfScanCode(scY)];
  y.NoteCount = 3;
  y.Notes[0] = {1, 0, 4, RightHand, 0};
  y.Notes[1] = {3, 0, 4, RightHand, 0};
  y.Notes[2] = {5, 0, 4, RightHand, 0};
  EXPECT_EQ(NamesOf(KeysForChord(triad, values, RightHand).Keys), std::vector<std::string>{"Y"});
  // A key sounding more than the chord does not play it.
  EXPECT_EQ(NamesOf(KeysForChord(std::vector<int>{60, 64}, values, RightHand).Keys),
            (std::vector<std::string>{"Num-1", "Num-3"}));
}

TEST(PracticeKeys, ANoteNoKeyReachesIsReportedWithTheSmallestShiftThatReachesIt) {
  struct TCase {
    int Note;
    int Hand;
    bool Fixable;
    TPracticeShift Fix;
  };
  const TCase cases[] = {
      {95, RightHand, true, {0, 0, 1}},  // B6: an octave up, on the hand practised
      {95, LeftHand, true, {0, 1, 0}},   //
      {35, RightHand, true, {0, -1, 0}}, // B1: only the left hand goes that low
      {20, LeftHand, true, {-4, -1, 0}}, // the lowest any shift reaches
      {19, LeftHand, false, {}},         //
      {112, RightHand, true, {7, 0, 1}}, // the highest
      {113, RightHand, false, {}},
  };
  const TPerformanceValues values = DefaultValues();
  for (const TCase& c : cases) {
    const std::vector<int> chord{c.Note};
    const TChordKeys keys = KeysForChord(chord, values, c.Hand);
    EXPECT_TRUE(keys.Keys.empty()) << c.Note;
    EXPECT_EQ(keys.OutOfReach, (std::vector<TOutOfReach>{{c.Note, c.Fixable, c.Fix}})) << c.Note;
  }
  // Shifts already made count from where the values are.
  TPerformanceValues shifted = values;
  shifted.RightOctave = 1;
  EXPECT_TRUE(KeysForChord(std::vector<int>{95}, shifted, RightHand).OutOfReach.empty());
  EXPECT_EQ(KeysForChord(std::vector<int>{35}, shifted, RightHand).OutOfReach.front().Fix,
            (TPracticeShift{0, -1, 0}));
}

// A shift made while practising gives the chords their keys under it, and nothing else changes.
TEST(PracticeKeys, AShiftMadeWhilePractisingFindsTheKeysAfresh) {
  TPracticeSession session({{0, 0x90, 95, 100}, {500, 0x80, 95, 0}}, 500);
  TPerformanceValues values = DefaultValues();
  session.SetPart({.Hands = TPracticeHands::Right}, values);
  session.Start(0);
  EXPECT_FALSE(session.FollowShifts(values));
  values.RightVelocity = 1;
  EXPECT_FALSE(session.FollowShifts(values));
  ASSERT_TRUE(session.Chords()[0].Keys.Keys.empty());
  values.RightOctave = 1;
  EXPECT_TRUE(session.FollowShifts(values));
  EXPECT_EQ(session.Chords()[0].Keys.OutOfReach.size(), 0u);
  EXPECT_EQ(session.Chords()[0].Keys.Keys.size(), 1u);
  EXPECT_TRUE(session.Running());
  values.KeyDefs.Keys[session.Chords()[0].Keys.Keys[0]].NoteCount = 0;
  EXPECT_TRUE(session.FollowShifts(values));
  EXPECT_FALSE(session.FollowShifts(values));
}

// Right hand C4 at 1000 ms, E4 and G4 at 2000; the accompaniment on channel 3.
std::vector<TTimedMidiMessage> TwoChords() {
  return {{0, 0xC2, 5, 0},       {500, 0x92, 40, 90}, {1000, 0x90, 60, 100},
          {1200, 0x80, 60, 0},   {1500, 0x82, 40, 0}, {2000, 0x90, 64, 100},
          {2010, 0x90, 67, 100}, {2500, 0x80, 64, 0}, {2500, 0x80, 67, 0}};
}

struct TSessionFixture : ::testing::Test {
  void Begin(TPracticeMode mode, int tempo) {
    Session.SetPart({.Hands = TPracticeHands::Right}, DefaultValues());
    Session.SetSend([this](const TTimedMidiMessage& m) { Sent.push_back(m); });
    Session.SetMode(mode);
    Session.SetTempo(tempo, 0);
    Session.Start(0);
  }
  TPracticeSession Session{TwoChords(), 3000};
  std::vector<TTimedMidiMessage> Sent;
};

TEST_F(TSessionFixture, WaitModeHoldsBeforeEachChordUntilItsNotesArePlayed) {
  Begin(TPracticeMode::Wait, 50);
  ASSERT_EQ(Session.Chords().size(), 2u);
  EXPECT_EQ(NamesOf(Session.Chords()[1].Keys.Keys), (std::vector<std::string>{"Num-3", "Num-5"}));
  Session.Advance(60000);
  EXPECT_EQ(Session.SongTime(), 1000u);
  EXPECT_EQ(Sent, (std::vector<TTimedMidiMessage>{{0, 0xC2, 5, 0}, {500, 0x92, 40, 90}}));
  Session.NotePlayed(62, 60000); // wrong: the song still waits
  Session.Advance(61000);
  EXPECT_EQ(Session.SongTime(), 1000u);
  Session.NotePlayed(60, 61000);
  Session.Advance(61998); // at half tempo
  EXPECT_EQ(Session.SongTime(), 1499u);
  EXPECT_EQ(Sent.size(), 2u);
  Session.Advance(62002);
  EXPECT_EQ(Sent.size(), 3u);
  // The chord's notes need not be held together: only the strikes count.
  Session.NotePlayed(64, 62002);
  Session.Advance(70000);
  EXPECT_EQ(Session.SongTime(), 2000u);
  Session.NotePlayed(67, 70000);
  Session.Advance(71998);
  EXPECT_FALSE(Session.Finished());
  Session.Advance(72000);
  EXPECT_TRUE(Session.Finished());
  EXPECT_EQ(std::tuple(Session.Score().Right, Session.Score().Wrong, Session.Score().Missed),
            std::tuple(3, 1, 0));
}

TEST_F(TSessionFixture, PlayAlongJudgesEachNoteByItsRealTimeFromTheChord) {
  struct TCase {
    int Tempo;
    int OffsetMs; // real time from the chord's moment
    TJudgement Judgement;
  };
  const TCase cases[] = {
      {100, -301, TJudgement::Pending}, {100, -300, TJudgement::Early},
      {100, -101, TJudgement::Early},   {100, -100, TJudgement::Hit},
      {100, 100, TJudgement::Hit},      {100, 101, TJudgement::Late},
      {100, 300, TJudgement::Late},     {100, 301, TJudgement::Missed},
      {50, -302, TJudgement::Pending},  {50, -300, TJudgement::Early},
      {50, -102, TJudgement::Early},    {50, -100, TJudgement::Hit},
      {50, 100, TJudgement::Hit},       {50, 102, TJudgement::Late},
      {50, 300, TJudgement::Late},      {50, 302, TJudgement::Missed},
  };
  for (const TCase& c : cases) {
    Begin(TPracticeMode::PlayAlong, c.Tempo);
    const auto now = static_cast<std::uint32_t>(1000 * 100 / c.Tempo + c.OffsetMs);
    Session.NotePlayed(60, now);
    EXPECT_EQ(Session.Chords()[0].Judgement, c.Judgement) << c.Tempo << " " << c.OffsetMs;
    const bool right = c.Judgement != TJudgement::Pending && c.Judgement != TJudgement::Missed;
    EXPECT_EQ(Session.Score().Right, right ? 1 : 0) << c.Tempo << " " << c.OffsetMs;
    EXPECT_EQ(Session.Score().Wrong, right ? 0 : 1) << c.Tempo << " " << c.OffsetMs;
    EXPECT_EQ(Session.Score().TimingErrors,
              right ? std::vector<int>{c.OffsetMs} : std::vector<int>{});
  }
}

TEST_F(TSessionFixture, PlayAlongMissesAChordOnceItsWindowHasPassed) {
  struct TCase {
    int Tempo;
    std::uint32_t LastPending; // real ms
    std::uint32_t FirstMissed;
  };
  for (const TCase& c : {TCase{100, 1300, 1301}, TCase{50, 2300, 2302}}) {
    Begin(TPracticeMode::PlayAlong, c.Tempo);
    Session.Advance(c.LastPending);
    EXPECT_EQ(Session.Chords()[0].Judgement, TJudgement::Pending) << c.Tempo;
    Session.Advance(c.FirstMissed);
    EXPECT_EQ(Session.Chords()[0].Judgement, TJudgement::Missed) << c.Tempo;
    EXPECT_EQ(Session.Score().Missed, 1) << c.Tempo;
  }
}

TEST_F(TSessionFixture, ALoopRepeatsItsChordsAndEndsTheNotesItLeaves) {
  Session.SetLoop(400, 1500);
  Begin(TPracticeMode::PlayAlong, 100);
  EXPECT_EQ(Sent, (std::vector<TTimedMidiMessage>{{0, 0xC2, 5, 0}}));
  Session.Advance(1099);
  EXPECT_EQ(Session.SongTime(), 1499u);
  EXPECT_EQ(Session.Chords()[0].Judgement, TJudgement::Missed);
  Session.Advance(1100);
  EXPECT_EQ(Session.SongTime(), 400u);
  EXPECT_EQ(Session.NextChord(), 0);
  // The accompaniment's note of 500 was still sounding; the voices are set again.
  EXPECT_EQ(std::vector(Sent.end() - 2, Sent.end()),
            (std::vector<TTimedMidiMessage>{{1499, 0x82, 40, 0}, {0, 0xC2, 5, 0}}));
  Session.NotePlayed(60, 1100 + 600);
  EXPECT_EQ(Session.Chords()[0].Judgement, TJudgement::Hit);
  EXPECT_EQ(std::tuple(Session.Score().Right, Session.Score().Missed), std::tuple(1, 1));
  // Restarting begins at the loop with a fresh score.
  Session.Start(5000);
  EXPECT_EQ(std::tuple(Session.SongTime(), Session.Score().Right, Session.Score().Missed),
            std::tuple(400u, 0, 0));
}

TEST(PracticeScore, SumsUpRightWrongMissedAndTheTimingErrors) {
  struct TCase {
    std::vector<int> Errors;
    int Median;
    int Percentile90;
  };
  const TCase cases[] = {
      {{}, 0, 0},
      {{-7}, 7, 7},
      {{10, -20, 30, -40}, 25, 40},
      {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 5, 9},
      {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, 6, 10},
  };
  for (const TCase& c : cases) {
    TPracticeScore score;
    score.TimingErrors = c.Errors;
    EXPECT_EQ(score.MedianErrorMs(), c.Median) << c.Errors.size();
    EXPECT_EQ(score.Percentile90ErrorMs(), c.Percentile90) << c.Errors.size();
  }
  EXPECT_EQ((TPracticeScore{.Right = 5, .Wrong = 2, .Missed = 1}).Percent(), 62);
  EXPECT_EQ(TPracticeScore{}.Percent(), 0);
}

} // namespace
} // namespace melo
