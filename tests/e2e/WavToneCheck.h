#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace melo {

// A recording reduced to one channel of samples in -1..1.
struct TWavAudio {
  int SampleRate = 0;
  std::vector<float> Samples;
};

// Parses a RIFF/WAVE file (integer PCM of 8, 16, 24 or 32 bits, or 32-bit float, any channel
// count, channels averaged). A data chunk whose size runs past the end, as left by a recorder
// that was stopped, is cut to the bytes present. Returns false for anything else.
bool ParseWav(const std::vector<std::uint8_t>& bytes, TWavAudio& audio);
bool ReadWav(const std::string& fileName, TWavAudio& audio);

// What was heard: levels in dB relative to full scale, the pitch of the loud part, and how
// long the note stayed loud.
struct TToneReport {
  double PeakLevelDb = -200.0; // loudest 20 ms frame
  double FrequencyHz = 0.0;    // median pitch over the loud frames, 0 when none was found
  double LoudSeconds = 0.0;    // from the first to the last frame within 20 dB of the peak
  double TailLevelDb = -200.0; // the last TailSeconds of the recording
  double TotalSeconds = 0.0;
};

TToneReport AnalyseTone(const TWavAudio& audio, double tailSeconds);

// Limits a recording of one pressed and released key must meet.
struct TToneExpectation {
  double FrequencyHz = 261.63;
  double Tolerance = 0.03;  // relative pitch error allowed
  double MinPeakDb = -50.0; // an idle null sink records exact zeros
  double MinLoudSeconds = 0.2;
  double MinTailDropDb = 40.0; // a held piano note fades by 20 to 30 dB in two seconds
  double TailSeconds = 0.5;
};

// Every way the report misses the expectation, as a sentence each; empty when it passes.
std::vector<std::string> ToneFaults(const TToneReport& report, const TToneExpectation& expect);

// A note heard in a recording: its MIDI note number, where its attack begins (the first
// millisecond, going back from its loudest one, that is within 12 dB of it) and how long it
// stays loud and on its pitch (from the onset to the middle of its last 0.1 s window).
struct THeardNote {
  int Note = 0;
  double OnsetSeconds = 0.0;
  double Seconds = 0.0;
};

// The notes heard one after another: each stretch of at least minSeconds where the sound is loud
// (within 30 dB of the peak) and holds one pitch gives its note; a note heard again right after
// itself counts once, and its length is the first stretch's. Onsets are exact to a millisecond
// for notes that start at least 0.3 s apart.
std::vector<THeardNote> HeardNotes(const TWavAudio& audio, double minSeconds = 0.1);
// The same as MIDI note numbers only.
std::vector<int> NoteSequence(const TWavAudio& audio, double minSeconds = 0.1);

// Pitch of one stretch of samples by the normalised square difference (periods of 1/2000 s to
// 1/40 s); 0 when the stretch has no clear period.
double EstimatePitch(const float* samples, std::size_t count, int sampleRate);

} // namespace melo
