#pragma once
// The drop-down lists of the external sound set's voices, one per hand, over
// the window's background. A choice of the player's sends that voice to the
// hand's channel through the performance; choosing in code does not, until
// Apply. UI thread only.
#include <QPointer>

#include "music/MidiInterfaces.h"

class QComboBox;
class QWidget;

namespace melo {

class TKoPerformance;

class TExternalVoiceLists {
public:
  TExternalVoiceLists(QWidget& window, TKoPerformance& performance);
  ~TExternalVoiceLists();
  TExternalVoiceLists(const TExternalVoiceLists&) = delete;
  TExternalVoiceLists& operator=(const TExternalVoiceLists&) = delete;

  // Both lists anew from the instrument list, each on its first voice.
  void Build();
  // Both lists gone: the built-in set plays.
  void Remove();
  // Sends the voice selected in the hand's list to that hand; nothing without a list.
  void Apply(int hand);
  // Moves the right hand's selection by step, staying on the end item past
  // either end, and applies it; false without a list to move.
  bool StepRight(int step);
  // Null while there is no list.
  QComboBox* List(int hand) const;

private:
  QWidget& FWindow;
  TKoPerformance& FPerformance;
  QPointer<QComboBox> FLists[HandCount];
};

} // namespace melo
