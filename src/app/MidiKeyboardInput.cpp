#include "app/MidiKeyboardInput.h"

#include <QMetaObject>
#include <QObject>

#include <cstdio>
#include <span>

#include "app/KoPerformance.h"
#include "sound/MidiInPorts.h"

namespace melo {

TMidiKeyboardInput::TMidiKeyboardInput(QObject& context, TKoPerformance& performance)
    : FContext(context), FPerformance(performance) {}

TMidiKeyboardInput::~TMidiKeyboardInput() {
  Stop();
}

bool TMidiKeyboardInput::Start(const std::string& source) {
  FPorts.reset();
  FPorts = std::make_unique<TMidiInPorts>([this] {
    QMetaObject::invokeMethod(
        &FContext, [this] { Play(); }, Qt::QueuedConnection);
  });
  if (source.empty() || FPorts->Connect(source))
    return true;
  std::fprintf(stderr, "Melotastico: no MIDI port \"%s\" to play from\n", source.c_str());
  return false;
}

void TMidiKeyboardInput::Stop() {
  FPorts.reset();
}

void TMidiKeyboardInput::Play() {
  if (!FPorts)
    return; // stopped: what was still queued is dropped
  FPorts->Take(*FBatch);
  if (FBatch->Lost) {
    FPerformance.MidiInLost();
    if (!FLossSaid) {
      std::fprintf(stderr, "Melotastico: MIDI input came faster than it could be played; some "
                           "messages were dropped and the MIDI keyboard's notes released\n");
    }
    FLossSaid = true;
  }
  FPerformance.MidiInMessages(std::span(FBatch->Messages.data(), FBatch->Count));
}

} // namespace melo
