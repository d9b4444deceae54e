#pragma once
// The program's MIDI inputs: the ALSA sequencer port "Melotastico" and, when a
// JACK server runs, the JACK MIDI port "Melotastico in:midi_in". A reader
// thread of its own puts every channel message into a bounded queue (see
// MidiInQueue.h) and wakes the taker; it never waits on the window.
#include "sound/JackPorts.h"
#include "sound/MidiInQueue.h"

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

typedef struct _snd_seq snd_seq_t;
typedef struct snd_midi_event snd_midi_event_t;

namespace melo {

class TMidiInPorts {
public:
  // Runs on the reader thread when messages (or news of lost ones) wait and
  // the taker was not woken since its last Take.
  using TWakeHandler = std::function<void()>;

  explicit TMidiInPorts(TWakeHandler onWaiting);
  ~TMidiInPorts();
  TMidiInPorts(const TMidiInPorts&) = delete;
  TMidiInPorts& operator=(const TMidiInPorts&) = delete;

  bool SequencerOpen() const { return FSeq != nullptr; }
  bool JackOpen() const { return FJack && FJack->IsOpen(); }
  // "client:port" of our ALSA input, empty without the sequencer.
  std::string SequencerAddress() const;
  // "client:port" of our JACK input, empty without a server.
  std::string JackPortName() const;

  // The sources a keyboard can play from: ALSA ports as "Client: Port
  // [client:port]", then JACK ports by their full names.
  std::vector<std::string> Sources() const;
  // Connects one source: "client:port" numbers name an ALSA port; otherwise
  // the first source (in Sources() order) that is named `wanted` exactly,
  // else the first whose name holds it, ignoring case. False when none
  // matches or the connection fails.
  bool Connect(const std::string& wanted);

  // The taker's thread: everything waiting, in order. Lost says that messages
  // were dropped on the way (a queue ran full) before these, so whatever they
  // would have ended must end now.
  void Take(TMidiInQueue::TBatch& batch) { FQueue.Take(batch); }

private:
  void Run();
  void ReadSequencer();
  void ReadJack();
  bool ConnectSequencer(int client, int port);
  // Hands the first count messages of FDelivery to the queue.
  void Deliver(std::size_t count);
  void MarkLost();

  TWakeHandler FOnWaiting;
  TMidiInQueue FQueue;
  std::array<TMidiBytes, TMidiInQueue::Capacity> FDelivery{}; // the reader's
  snd_seq_t* FSeq = nullptr;
  snd_midi_event_t* FDecoder = nullptr;
  int FSeqPort = -1;
  std::unique_ptr<TJackMidiPort> FJack;
  int FStopFd = -1;
  std::thread FReader;
};

} // namespace melo
