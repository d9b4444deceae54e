#pragma once
// External MIDI outputs through the ALSA sequencer: other programs and
// hardware synthesizers that the engine can play instead of its own synthesizer.
#include <cstdint>
#include <functional>
#include <string>

typedef struct _snd_seq snd_seq_t;
typedef struct snd_midi_event snd_midi_event_t;

namespace melo {

struct TSequencerPortInfo {
  int Client = -1;
  int Port = -1;
  bool Writable = false; // accepts MIDI from us (an output port of ours)
  bool Readable = false; // sends MIDI (an input port of ours)
  std::string Description;
};

// Opens a sequencer client named "Melotastico" for mode (SND_SEQ_OPEN_...,
// with flags such as SND_SEQ_NONBLOCK); null without one. The first time
// the sequencer is missing (no /dev/snd/seq) it says so once on stderr.
snd_seq_t* OpenSequencer(int mode, int flags);
// Closes a client OpenSequencer opened.
void CloseSequencer(snd_seq_t* seq);

// Every other program's port, in the sequencer's client and port order; the
// clients of this process are left out, so the program never plays into itself.
void EnumerateSequencerPorts(snd_seq_t* seq,
                             const std::function<void(const TSequencerPortInfo&)>& visit);

class TSequencerPorts {
public:
  // Opens the sequencer; without one (no /dev/snd/seq) there are no ports.
  TSequencerPorts();
  ~TSequencerPorts();
  TSequencerPorts(const TSequencerPorts&) = delete;
  TSequencerPorts& operator=(const TSequencerPorts&) = delete;

  bool IsOpen() const { return FSeq != nullptr; }
  // Every other client's port, in the sequencer's client and port order.
  void Enumerate(const std::function<void(const TSequencerPortInfo&)>& visit) const;
  // Routes our output to client:port, dropping the previous connection.
  bool Connect(int client, int port);
  // Sends one short message to the connected port at once.
  bool Send(std::uint8_t status, std::uint8_t data1, std::uint8_t data2);

private:
  void Disconnect();

  snd_seq_t* FSeq = nullptr;
  snd_midi_event_t* FEncoder = nullptr;
  int FOwnPort = -1;
  int FDestClient = -1;
  int FDestPort = -1;
};

} // namespace melo
