#include "sound/JackPorts.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>

namespace melo {
namespace {

// Output: room for a few thousand messages, far more than the engine sends in
// a period. Input: room for some 65,000, two dozen periods of the densest
// stream a JACK period carries, while the reader thread is held up.
constexpr std::size_t OutputQueueBytes = 1u << 14;
constexpr std::size_t InputQueueBytes = 1u << 18;
constexpr std::size_t RecordBytes = 4; // length, then three bytes

// A missing server is an ordinary state, not an error to print.
void QuietenJackLog() {
  static std::once_flag once;
  std::call_once(once, [] {
    jack_set_error_function([](const char*) {});
    jack_set_info_function([](const char*) {});
  });
}

jack_client_t* OpenClient(const std::string& name) {
  QuietenJackLog();
  jack_status_t status{};
  return jack_client_open(name.c_str(), JackNoStartServer, &status);
}

// The clients this process opened: their ports are never offered as peers.
std::mutex OwnClientsLock;
std::vector<std::string> OwnClients;

void AddOwnClient(const std::string& name) {
  std::lock_guard guard(OwnClientsLock);
  OwnClients.push_back(name);
}

void RemoveOwnClient(const std::string& name) {
  std::lock_guard guard(OwnClientsLock);
  const auto found = std::find(OwnClients.begin(), OwnClients.end(), name);
  if (found != OwnClients.end()) {
    OwnClients.erase(found);
  }
}

bool IsOwnPort(const std::string& fullName) {
  const std::string client = fullName.substr(0, fullName.find(':'));
  std::lock_guard guard(OwnClientsLock);
  return std::find(OwnClients.begin(), OwnClients.end(), client) != OwnClients.end();
}

} // namespace

bool JackServerRunning() {
  jack_client_t* client = OpenClient("Melotastico probe");
  if (client == nullptr) {
    return false;
  }
  jack_client_close(client);
  return true;
}

TJackMidiPort::TJackMidiPort(const std::string& clientName, const std::string& portName,
                             TDirection direction)
    : FDirection(direction) {
  FClient = OpenClient(clientName);
  if (FClient == nullptr) {
    return;
  }
  const bool output = direction == TDirection::Output;
  FPort = jack_port_register(FClient, portName.c_str(), JACK_DEFAULT_MIDI_TYPE,
                             output ? JackPortIsOutput : JackPortIsInput, 0);
  FQueue = jack_ringbuffer_create(output ? OutputQueueBytes : InputQueueBytes);
  if (!output) {
    FWakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  }
  if (FPort == nullptr || FQueue == nullptr || (!output && FWakeFd < 0) ||
      jack_set_process_callback(FClient, &TJackMidiPort::Process, this) != 0 ||
      jack_activate(FClient) != 0) {
    Close();
    return;
  }
  AddOwnClient(jack_get_client_name(FClient));
}

TJackMidiPort::~TJackMidiPort() {
  Close();
}

void TJackMidiPort::Close() {
  if (FClient != nullptr) {
    RemoveOwnClient(jack_get_client_name(FClient));
    // Closing stops the process callback before the queue goes.
    jack_client_close(FClient);
    FClient = nullptr;
    FPort = nullptr;
  }
  if (FQueue != nullptr) {
    jack_ringbuffer_free(FQueue);
    FQueue = nullptr;
  }
  if (FWakeFd >= 0) {
    static_cast<void>(close(FWakeFd)); // a wake-up counter: nothing to lose
    FWakeFd = -1;
  }
}

std::string TJackMidiPort::FullName() const {
  return FPort != nullptr ? jack_port_name(FPort) : std::string();
}

std::vector<std::string> TJackMidiPort::Peers() const {
  std::vector<std::string> peers;
  if (FClient == nullptr) {
    return peers;
  }
  // An output of ours plays into the others' inputs, and the other way round.
  const unsigned long flags = FDirection == TDirection::Output ? JackPortIsInput : JackPortIsOutput;
  const char** names = jack_get_ports(FClient, nullptr, JACK_DEFAULT_MIDI_TYPE, flags);
  if (names == nullptr) {
    return peers;
  }
  for (const char** name = names; *name != nullptr; ++name) {
    if (!IsOwnPort(*name)) {
      peers.emplace_back(*name);
    }
  }
  jack_free(static_cast<void*>(names));
  return peers;
}

bool TJackMidiPort::Connect(const std::string& peer) {
  if (FClient == nullptr) {
    return false;
  }
  const std::string own = FullName();
  if (FDirection == TDirection::Input) {
    const int result = jack_connect(FClient, peer.c_str(), own.c_str());
    return result == 0 || result == EEXIST;
  }
  if (!FConnected.empty()) {
    jack_disconnect(FClient, own.c_str(), FConnected.c_str());
    FConnected.clear();
  }
  const int result = jack_connect(FClient, own.c_str(), peer.c_str());
  if (result != 0 && result != EEXIST) {
    return false;
  }
  FConnected = peer;
  return true;
}

bool TJackMidiPort::Send(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) {
  if (FClient == nullptr || FDirection != TDirection::Output) {
    return false;
  }
  // Program change and channel pressure carry one data byte.
  const std::uint8_t length = (status & 0xE0) == 0xC0 ? 2 : 3;
  const char record[RecordBytes] = {static_cast<char>(length), static_cast<char>(status),
                                    static_cast<char>(data1), static_cast<char>(data2)};
  if (jack_ringbuffer_write_space(FQueue) < RecordBytes) {
    return false;
  }
  jack_ringbuffer_write(FQueue, record, RecordBytes);
  return true;
}

void TJackMidiPort::TakeWakeUps() {
  std::uint64_t count = 0;
  if (FWakeFd >= 0 && read(FWakeFd, &count, sizeof count) < 0) {
    count = 0; // nothing was waiting
  }
}

bool TJackMidiPort::Receive(TMidiBytes& message) {
  if (FQueue == nullptr || jack_ringbuffer_read_space(FQueue) < RecordBytes) {
    return false;
  }
  char record[RecordBytes];
  jack_ringbuffer_read(FQueue, record, RecordBytes);
  message.Length = static_cast<std::uint8_t>(record[0]);
  for (int i = 0; i < 3; ++i) {
    message.Bytes[i] = static_cast<std::uint8_t>(record[i + 1]);
  }
  return true;
}

int TJackMidiPort::Process(jack_nframes_t frames, void* self) {
  auto* port = static_cast<TJackMidiPort*>(self);
  if (port->FDirection == TDirection::Output) {
    port->ProcessOutput(frames);
  } else {
    port->ProcessInput(frames);
  }
  return 0;
}

// Runs on JACK's real-time thread: no locks, no allocation.
void TJackMidiPort::ProcessOutput(jack_nframes_t frames) {
  void* buffer = jack_port_get_buffer(FPort, frames);
  jack_midi_clear_buffer(buffer);
  char record[RecordBytes];
  while (jack_ringbuffer_read_space(FQueue) >= RecordBytes) {
    jack_ringbuffer_peek(FQueue, record, RecordBytes);
    const auto length = static_cast<std::size_t>(record[0]);
    // A full period buffer keeps the rest queued for the next period.
    if (jack_midi_event_write(buffer, 0, reinterpret_cast<const jack_midi_data_t*>(record + 1),
                              length) != 0) {
      break;
    }
    jack_ringbuffer_read_advance(FQueue, RecordBytes);
  }
}

void TJackMidiPort::ProcessInput(jack_nframes_t frames) {
  void* buffer = jack_port_get_buffer(FPort, frames);
  const jack_nframes_t count = jack_midi_get_event_count(buffer);
  bool queued = false;
  for (jack_nframes_t i = 0; i < count; ++i) {
    jack_midi_event_t event;
    if (jack_midi_event_get(&event, buffer, i) != 0) {
      continue;
    }
    // Events are only pieces of the stream: a message may span several.
    for (std::size_t at = 0; at < event.size; ++at) {
      if (FParser.Feed(event.buffer[at])) {
        queued = Queue(FParser.Message()) || queued;
      }
    }
  }
  if (queued || FOverflow) {
    const std::uint64_t one = 1;
    // Wakes the reader; the counter cannot overflow in practice.
    [[maybe_unused]] const ssize_t written = write(FWakeFd, &one, sizeof one);
  }
}

bool TJackMidiPort::Queue(const TMidiBytes& message) {
  if (jack_ringbuffer_write_space(FQueue) < RecordBytes) {
    FOverflow = true;
    return false;
  }
  const char record[RecordBytes] = {
      static_cast<char>(message.Length), static_cast<char>(message.Bytes[0]),
      static_cast<char>(message.Bytes[1]), static_cast<char>(message.Bytes[2])};
  jack_ringbuffer_write(FQueue, record, RecordBytes);
  return true;
}

} // namespace melo
