#pragma once
// The MIDI keyboard's ports, as the window plays them: their reader thread
// queues what comes and wakes the UI thread once until it takes, so a flood
// cannot pile up there; what is taken plays through the performance in one
// batch. UI thread only, apart from the wake-up.
#include <memory>
#include <string>

#include "sound/MidiInQueue.h"

class QObject;

namespace melo {

class TKoPerformance;
class TMidiInPorts;

class TMidiKeyboardInput {
public:
  // The wake-ups are delivered to context's thread while context lives.
  TMidiKeyboardInput(QObject& context, TKoPerformance& performance);
  ~TMidiKeyboardInput();
  TMidiKeyboardInput(const TMidiKeyboardInput&) = delete;
  TMidiKeyboardInput& operator=(const TMidiKeyboardInput&) = delete;

  // Opens the ports afresh, connected to source (to nothing when empty);
  // false, said on standard error, when there is no such source.
  bool Start(const std::string& source);
  // Closes the ports: their reader thread ends, and what it queued is dropped.
  void Stop();
  // Null while stopped.
  const TMidiInPorts* Ports() const { return FPorts.get(); }

private:
  void Play();

  QObject& FContext;
  TKoPerformance& FPerformance;
  std::unique_ptr<TMidiInPorts> FPorts;
  // Large: kept off the stack of whoever holds the window.
  std::unique_ptr<TMidiInQueue::TBatch> FBatch = std::make_unique<TMidiInQueue::TBatch>();
  bool FLossSaid = false;
};

} // namespace melo
