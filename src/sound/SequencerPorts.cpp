#include "sound/SequencerPorts.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

namespace melo {
namespace {

constexpr unsigned OutputCaps = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
constexpr unsigned InputCaps = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;

bool HasCaps(unsigned caps, unsigned wanted) {
  return (caps & wanted) == wanted;
}

// The sequencer clients of this process.
std::mutex OwnClientsLock;
std::vector<int> OwnClients;

bool IsOwnClient(int client) {
  std::lock_guard guard(OwnClientsLock);
  return std::find(OwnClients.begin(), OwnClients.end(), client) != OwnClients.end();
}

void QuietAlsaError(const char*, int, const char*, int, const char*, ...) {}

} // namespace

snd_seq_t* OpenSequencer(int mode, int flags) {
  static std::mutex openLock;
  std::lock_guard guard(openLock);
  snd_seq_t* seq = nullptr;
  // A missing sequencer is reported once below, not by the library at every open.
  snd_lib_error_set_handler(&QuietAlsaError);
  const int result = snd_seq_open(&seq, "default", mode, flags);
  snd_lib_error_set_handler(nullptr);
  if (result < 0) {
    static std::once_flag once;
    std::call_once(once, [result] {
      std::fprintf(stderr,
                   "Melotastico: no ALSA sequencer (%s); ALSA MIDI ports are off, "
                   "JACK MIDI and the sound keep working.\n",
                   snd_strerror(result));
    });
    return nullptr;
  }
  snd_seq_set_client_name(seq, "Melotastico");
  std::lock_guard own(OwnClientsLock);
  OwnClients.push_back(snd_seq_client_id(seq));
  return seq;
}

void CloseSequencer(snd_seq_t* seq) {
  if (seq == nullptr) {
    return;
  }
  {
    std::lock_guard guard(OwnClientsLock);
    const auto found = std::find(OwnClients.begin(), OwnClients.end(), snd_seq_client_id(seq));
    if (found != OwnClients.end()) {
      OwnClients.erase(found);
    }
  }
  snd_seq_close(seq);
}

TSequencerPorts::TSequencerPorts() {
  FSeq = OpenSequencer(SND_SEQ_OPEN_OUTPUT, 0);
  if (FSeq == nullptr) {
    return;
  }
  FOwnPort =
      snd_seq_create_simple_port(FSeq, "Melotastico out", InputCaps,
                                 SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
  if (FOwnPort < 0 || snd_midi_event_new(16, &FEncoder) < 0) {
    CloseSequencer(FSeq);
    FSeq = nullptr;
    FEncoder = nullptr;
  }
}

TSequencerPorts::~TSequencerPorts() {
  if (FEncoder != nullptr) {
    snd_midi_event_free(FEncoder);
  }
  CloseSequencer(FSeq);
}

void TSequencerPorts::Enumerate(const std::function<void(const TSequencerPortInfo&)>& visit) const {
  EnumerateSequencerPorts(FSeq, visit);
}

void EnumerateSequencerPorts(snd_seq_t* seq,
                             const std::function<void(const TSequencerPortInfo&)>& visit) {
  if (seq == nullptr) {
    return;
  }
  snd_seq_client_info_t* client = nullptr;
  snd_seq_port_info_t* port = nullptr;
  snd_seq_client_info_alloca(&client);
  snd_seq_port_info_alloca(&port);
  snd_seq_client_info_set_client(client, -1);
  while (snd_seq_query_next_client(seq, client) >= 0) {
    const int id = snd_seq_client_info_get_client(client);
    if (IsOwnClient(id) || id == SND_SEQ_CLIENT_SYSTEM) {
      continue;
    }
    snd_seq_port_info_set_client(port, id);
    snd_seq_port_info_set_port(port, -1);
    while (snd_seq_query_next_port(seq, port) >= 0) {
      const unsigned caps = snd_seq_port_info_get_capability(port);
      if ((caps & SND_SEQ_PORT_CAP_NO_EXPORT) != 0) {
        continue;
      }
      TSequencerPortInfo info;
      info.Client = id;
      info.Port = snd_seq_port_info_get_port(port);
      info.Writable = HasCaps(caps, OutputCaps);
      info.Readable = HasCaps(caps, InputCaps);
      info.Description = std::string(snd_seq_client_info_get_name(client)) + ": " +
                         snd_seq_port_info_get_name(port) + " [" + std::to_string(info.Client) +
                         ":" + std::to_string(info.Port) + "]";
      visit(info);
    }
  }
}

void TSequencerPorts::Disconnect() {
  if (FDestClient >= 0) {
    snd_seq_disconnect_to(FSeq, FOwnPort, FDestClient, FDestPort);
  }
  FDestClient = -1;
  FDestPort = -1;
}

bool TSequencerPorts::Connect(int client, int port) {
  if (FSeq == nullptr) {
    return false;
  }
  Disconnect();
  if (snd_seq_connect_to(FSeq, FOwnPort, client, port) < 0) {
    return false;
  }
  FDestClient = client;
  FDestPort = port;
  return true;
}

bool TSequencerPorts::Send(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) {
  if (FSeq == nullptr || FDestClient < 0) {
    return false;
  }
  const unsigned char bytes[3] = {status, data1, data2};
  snd_seq_event_t event;
  snd_seq_ev_clear(&event);
  snd_midi_event_reset_encode(FEncoder);
  // Program change and channel pressure carry one data byte.
  const long length = (status & 0xE0) == 0xC0 ? 2 : 3;
  if (snd_midi_event_encode(FEncoder, bytes, length, &event) != length ||
      event.type == SND_SEQ_EVENT_NONE) {
    return false;
  }
  snd_seq_ev_set_source(&event, FOwnPort);
  snd_seq_ev_set_subs(&event);
  snd_seq_ev_set_direct(&event);
  return snd_seq_event_output_direct(FSeq, &event) >= 0;
}

} // namespace melo
