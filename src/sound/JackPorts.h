#pragma once
// JACK: whether a server runs, and one MIDI port of ours on it, an output the
// engine plays to or an input a MIDI keyboard plays into. Nothing here starts a
// server; without one every port stays closed and every list is empty.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <jack/jack.h>
#include <jack/ringbuffer.h>

#include "sound/MidiByteParser.h"

namespace melo {

// True when a JACK server answers (the one JACK_DEFAULT_SERVER names, or the
// default one). Opens and closes a client; never starts a server.
bool JackServerRunning();

class TJackMidiPort {
public:
  enum class TDirection { Output, Input };

  // Opens client clientName (the server may append a number when the name is
  // taken) with one MIDI port portName; IsOpen() is false without a server.
  TJackMidiPort(const std::string& clientName, const std::string& portName, TDirection direction);
  ~TJackMidiPort();
  TJackMidiPort(const TJackMidiPort&) = delete;
  TJackMidiPort& operator=(const TJackMidiPort&) = delete;

  bool IsOpen() const { return FClient != nullptr; }
  // "client:port", empty while closed.
  std::string FullName() const;
  // Other programs' MIDI ports this port can be connected to: for an output
  // the ports that take MIDI, for an input the ports that send it. Ports of
  // this process are left out, so the program never plays into itself.
  std::vector<std::string> Peers() const;
  // Output: routes to peer alone, dropping the previous connection.
  // Input: adds peer as a source.
  bool Connect(const std::string& peer);

  // Output: queues one message for the next period; false when closed or the
  // queue is full. One sender at a time (the engine's lock serialises them).
  bool Send(std::uint8_t status, std::uint8_t data1, std::uint8_t data2);

  // Input: a descriptor that becomes readable when messages wait (poll it,
  // then call TakeWakeUps); -1 while closed.
  int WakeFd() const { return FWakeFd; }
  void TakeWakeUps();
  // Input: the next received channel message, made whole from the bytes of
  // any number of events; false when none waits. One reader.
  bool Receive(TMidiBytes& message);
  // Input: true once after messages were dropped because the queue was full.
  bool TakeOverflow() { return FOverflow.exchange(false); }

private:
  static int Process(jack_nframes_t frames, void* self);
  void ProcessOutput(jack_nframes_t frames);
  void ProcessInput(jack_nframes_t frames);
  // Input, on JACK's thread: false when the queue is full.
  bool Queue(const TMidiBytes& message);
  void Close();

  const TDirection FDirection;
  jack_client_t* FClient = nullptr;
  jack_port_t* FPort = nullptr;
  jack_ringbuffer_t* FQueue = nullptr;
  int FWakeFd = -1;
  std::string FConnected; // the output's peer
  std::atomic<bool> FOverflow{false};
  TMidiByteParser FParser; // the input's bytes, on JACK's thread only
};

} // namespace melo
