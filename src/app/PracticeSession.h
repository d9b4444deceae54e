#pragma once
// Practising a song, without a window: the chords of the part the player
// practises, the PC keys that sound each of them under the performance
// values in use, and the following of the player. In wait mode the song
// stops before each chord until its notes are played; in play-along mode it
// runs at the chosen tempo and each note is judged by when it came. The
// rest of the song (the other hand, the accompaniment tracks) is handed to
// a send function as it falls due. Times are the caller's milliseconds:
// the session has no clock of its own.
#include "input/KoKeyDef.h"
#include "music/TimedMidi.h"

#include <cstdint>
#include <functional>
#include <span>
#include <utility>
#include <vector>

namespace melo {

enum class TPracticeHands { Right, Left, Both };
enum class TPracticeMode { Wait, PlayAlong };

// The part practised: the notes of the channels in Channels (bit n for
// channel n), those of one hand split at SplitNote (the left hand plays the
// notes below it).
struct TPracticePart {
  std::uint16_t Channels = 0xFFFF & ~(1u << DrumChannel);
  TPracticeHands Hands = TPracticeHands::Both;
  int SplitNote = 60;
};

// Changes of the performance values, by how much each moves.
struct TPracticeShift {
  int Transpose = 0;
  int LeftOctave = 0;
  int RightOctave = 0;

  bool operator==(const TPracticeShift&) const = default;
};

// A note of a chord that no key sounds: Fixable when some shift within the
// values' ranges makes a key sound it, Fix the smallest such shift.
struct TOutOfReach {
  int Note = 0;
  bool Fixable = false;
  TPracticeShift Fix;

  bool operator==(const TOutOfReach&) const = default;
};

// The keys that play a chord: one key whose definition sounds the whole
// chord when there is one, else keys each sounding only notes of the chord,
// each next one the key that adds the most notes still missing. Key indices
// in the order of their lowest notes.
struct TChordKeys {
  std::vector<int> Keys;
  std::vector<int> NoteKeys; // for each note of the chord the key that plays it, -1 for none
  std::vector<TOutOfReach> OutOfReach;
};

// preferredHand (LeftHand or RightHand) picks among keys of equal reach.
TChordKeys KeysForChord(std::span<const int> notes, const TPerformanceValues& values,
                        int preferredHand);

// A note of the song with its length; Practised for the part's notes.
struct TSongNote {
  std::uint32_t Time = 0;
  std::uint32_t Length = 0;
  std::uint8_t Channel = 0;
  std::uint8_t Note = 0;
  bool Practised = false;
};

enum class TJudgement : std::uint8_t { Pending, Hit, Early, Late, Missed };

struct TPracticeChord {
  std::uint32_t Time = 0;
  std::vector<int> Notes; // sorted MIDI notes
  TChordKeys Keys;
  TJudgement Judgement = TJudgement::Pending;
  std::vector<int> Struck{}; // the chord's notes played so far
};

// Notes played right, wrong (no note of the chord awaited) and missed, and
// the timing error of each right note in play-along (ms of real time,
// negative early).
struct TPracticeScore {
  int Right = 0;
  int Wrong = 0;
  int Missed = 0;
  std::vector<int> TimingErrors{};

  // Right notes in hundredths of all notes judged, 0 when none.
  int Percent() const;
  // Of the timing errors' sizes; 0 when there are none.
  int MedianErrorMs() const;
  int Percentile90ErrorMs() const;
};

// Real time within which a note counts as on time, and the farthest a note
// may be from its chord to be judged early or late rather than wrong.
inline constexpr int HitToleranceMs = 100;
inline constexpr int JudgeWindowMs = 300;
// Notes of the part starting within this many ms of a chord's first note
// belong to the chord.
inline constexpr std::uint32_t ChordSpreadMs = 40;
inline constexpr int MinTempoPercent = 25;
inline constexpr int MaxTempoPercent = 150;

class TPracticeSession {
public:
  using TSend = std::function<void(const TTimedMidiMessage&)>;

  // The song's messages in time order and where it ends.
  TPracticeSession(std::vector<TTimedMidiMessage> messages, std::uint32_t endTime);

  // Chooses the part and finds its keys under values; stops the session.
  void SetPart(const TPracticePart& part, const TPerformanceValues& values);
  // Finds the chords' keys afresh when the definitions, octaves or
  // transposition of values differ from those they were found under (the
  // player shifted to reach a note, or edited a key); the session goes on.
  // True when they differed.
  bool FollowShifts(const TPerformanceValues& values);
  void SetMode(TPracticeMode mode) { FMode = mode; }
  // Bounded to MinTempoPercent..MaxTempoPercent; takes effect from now.
  void SetTempo(int percent, std::uint32_t now);
  // The song between from and to repeats; an empty range plays it whole.
  void SetLoop(std::uint32_t from, std::uint32_t to);
  void SetSend(TSend send) { FSend = std::move(send); }

  // Starts from the loop's beginning (or the song's) with a fresh score.
  void Start(std::uint32_t now);
  // Stops; what the song still sounds is ended.
  void Stop();
  // Moves the song on to the time now.
  void Advance(std::uint32_t now);
  // A note the player started at now.
  void NotePlayed(int note, std::uint32_t now);

  TPracticeMode Mode() const { return FMode; }
  int Tempo() const { return FTempo; }
  bool Running() const { return FRunning; }
  bool Finished() const { return FFinished; }
  std::uint32_t SongTime() const { return FSongTime; }
  std::uint32_t EndTime() const { return FEndTime; }
  std::uint32_t LoopFrom() const { return FLoopFrom; }
  std::uint32_t LoopTo() const { return FLoopTo; }
  const std::vector<TSongNote>& Notes() const { return FNotes; }
  const std::vector<TPracticeChord>& Chords() const { return FChords; }
  // The first chord not yet judged, or -1.
  int NextChord() const;
  const TPracticeScore& Score() const { return FScore; }

private:
  std::uint32_t SongTimeAt(std::uint32_t now) const;
  void Anchor(std::uint32_t now, std::uint32_t songTime);
  void SendDue(std::uint32_t songTime);
  void SendOthersFrom(std::uint32_t songTime);
  void Silence();
  void JudgeMissed(std::uint32_t songTime);
  void MissChord(TPracticeChord& chord);
  void RearmLoop();
  void PlayedWaiting(int note);
  void PlayedAlong(int note, std::uint32_t songTime);
  void Finish();

  void FindKeys(const TPerformanceValues& values);

  std::vector<TTimedMidiMessage> FMessages;
  TPerformanceValues FKeysFoundUnder; // velocities aside
  int FHand = RightHand;
  std::vector<TTimedMidiMessage> FOthers; // what the song plays itself
  std::vector<TSongNote> FNotes;
  std::vector<TPracticeChord> FChords;
  TPracticeScore FScore;
  TSend FSend;
  std::vector<std::pair<std::uint8_t, std::uint8_t>> FSounding; // status, note
  std::size_t FOtherCursor = 0;
  std::uint32_t FEndTime = 0;
  std::uint32_t FLoopFrom = 0;
  std::uint32_t FLoopTo = 0;
  std::uint32_t FAnchorNow = 0;
  std::uint32_t FAnchorSong = 0;
  std::uint32_t FSongTime = 0;
  TPracticeMode FMode = TPracticeMode::Wait;
  int FTempo = 100;
  bool FRunning = false;
  bool FFinished = false;
};

} // namespace melo
