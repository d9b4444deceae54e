#pragma once
// The Audio and MIDI page, opened from the settings dialog: the audio output,
// the MIDI input's source and a test tone. Its choices are stored in their own
// file (app/AudioMidiSettings.h) and applied at once where they can be.
#include <QDialog>

#include <functional>
#include <string>
#include <vector>

#include "app/AudioMidiSettings.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace melo {

class TKoDirectMusic;
class TMidiInPorts;

struct TAudioOutputItem {
  std::string Name;        // what SelectAudioOutput takes
  std::string Description; // what the player reads
};

// What the machine has.
struct TAudioMidiLists {
  std::vector<TAudioOutputItem> Outputs; // the engine's outputs, the default first
  std::vector<std::string> MidiSources;  // as TMidiInPorts::Sources gives them
};

// The engine's outputs and the MIDI input's sources (none without an input).
TAudioMidiLists ListAudioMidi(const TKoDirectMusic& engine, const TMidiInPorts* midiIn);

class TfrmAudioMidi : public QDialog {
public:
  explicit TfrmAudioMidi(const TAudioMidiLists& lists, QWidget* parent = nullptr);

  // The lists show choices; a stored choice the machine no longer has stays
  // listed (and chosen) under its own name.
  void Show(const TAudioMidiChoices& choices);
  TAudioMidiChoices Choices() const;

  // Runs for the test-tone button with the output chosen in the list.
  std::function<void(const std::string& output)> OnTestTone;

  QComboBox* cbAudioOutput = nullptr;
  QComboBox* cbMidiIn = nullptr;
  QPushButton* btnTestTone = nullptr;
  QLabel* lblNote = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* btnCancel = nullptr;
};

// A short middle C on the right hand's channel: on now, off after a moment
// (while context lives).
void PlayTestTone(TKoDirectMusic& engine, QObject* context);

// The window's side of the page: its engine, and how its MIDI input is
// reopened on a source (false when the source did not connect or the window
// has no MIDI input).
struct TAudioMidiTargets {
  TKoDirectMusic& Engine;
  const TMidiInPorts* MidiIn; // null without a MIDI input
  std::function<bool(const std::string& source)> UseMidiIn;
};

// Tests stand in for the dialog: the stored choices in and out, the lists shown.
using TAudioMidiRunner = std::function<bool(TAudioMidiChoices&, const TAudioMidiLists&)>;

// Shows the page (or runs runner) on the stored choices. Confirmed, what
// changed is stored and applied at once: the engine moves to the output, the
// MIDI input is reopened on the source. What cannot be applied now is told,
// and comes at the next start; a failed write is told and keeps the old file.
// Cancelled, the output the test tone may have moved to is left again.
void OpenAudioMidiPage(const TAudioMidiTargets& targets, const TAudioMidiRunner& runner,
                       QWidget* parent);

} // namespace melo
