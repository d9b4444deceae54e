#include "sound/MidiInPorts.h"

#include "sound/SequencerPorts.h"

#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QString>

#include <algorithm>
#include <cerrno>
#include <charconv>

namespace melo {
namespace {

constexpr unsigned InputCaps = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;

bool Contains(const std::string& text, const std::string& part) {
  return QString::fromStdString(text).contains(QString::fromStdString(part), Qt::CaseInsensitive);
}

// "client:port" in decimal, as ALSA names a port; anything else is a name.
// Parsed by hand: an out-of-range number is a name too, never an exception.
bool ParseAddress(const std::string& text, int& client, int& port) {
  const auto colon = text.find(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size())
    return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i != colon && (text[i] < '0' || text[i] > '9'))
      return false;
  }
  const char* begin = text.data();
  const char* end = begin + text.size();
  const auto first = std::from_chars(begin, begin + colon, client);
  const auto second = std::from_chars(begin + colon + 1, end, port);
  return first.ec == std::errc() && second.ec == std::errc();
}

} // namespace

TMidiInPorts::TMidiInPorts(TWakeHandler onWaiting) : FOnWaiting(std::move(onWaiting)) {
  FSeq = OpenSequencer(SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK);
  if (FSeq != nullptr) {
    FSeqPort =
        snd_seq_create_simple_port(FSeq, "Melotastico", InputCaps,
                                   SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (FSeqPort < 0 || snd_midi_event_new(16, &FDecoder) < 0) {
      CloseSequencer(FSeq);
      FSeq = nullptr;
      FDecoder = nullptr;
    } else {
      // Every message whole, with its status byte.
      snd_midi_event_no_status(FDecoder, 1);
    }
  }
  FJack = std::make_unique<TJackMidiPort>("Melotastico in", "midi_in",
                                          TJackMidiPort::TDirection::Input);
  FStopFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (FStopFd >= 0 && (SequencerOpen() || JackOpen())) {
    FReader = std::thread([this] { Run(); });
  }
}

TMidiInPorts::~TMidiInPorts() {
  if (FReader.joinable()) {
    const std::uint64_t one = 1;
    // Wakes the reader to stop; should the write fail, join still waits for it.
    [[maybe_unused]] const ssize_t written = write(FStopFd, &one, sizeof one);
    FReader.join();
  }
  FJack.reset();
  if (FDecoder != nullptr) {
    snd_midi_event_free(FDecoder);
  }
  CloseSequencer(FSeq);
  if (FStopFd >= 0) {
    static_cast<void>(close(FStopFd)); // nothing was written through it
  }
}

std::string TMidiInPorts::SequencerAddress() const {
  if (FSeq == nullptr) {
    return {};
  }
  return std::to_string(snd_seq_client_id(FSeq)) + ":" + std::to_string(FSeqPort);
}

std::string TMidiInPorts::JackPortName() const {
  return FJack ? FJack->FullName() : std::string();
}

std::vector<std::string> TMidiInPorts::Sources() const {
  std::vector<std::string> sources;
  EnumerateSequencerPorts(FSeq, [&sources](const TSequencerPortInfo& info) {
    if (info.Readable) {
      sources.push_back(info.Description);
    }
  });
  if (FJack) {
    for (const std::string& peer : FJack->Peers()) {
      sources.push_back(peer);
    }
  }
  return sources;
}

bool TMidiInPorts::ConnectSequencer(int client, int port) {
  return FSeq != nullptr && snd_seq_connect_from(FSeq, FSeqPort, client, port) >= 0;
}

bool TMidiInPorts::Connect(const std::string& wanted) {
  if (wanted.empty()) {
    return false;
  }
  int client = 0;
  int port = 0;
  if (ParseAddress(wanted, client, port)) {
    return ConnectSequencer(client, port);
  }
  struct TSource {
    std::string Name;
    int Client = -1; // ALSA port, or -1 for a JACK port named Name
    int Port = -1;
  };
  std::vector<TSource> sources;
  EnumerateSequencerPorts(FSeq, [&sources](const TSequencerPortInfo& info) {
    if (info.Readable) {
      sources.push_back({info.Description, info.Client, info.Port});
    }
  });
  if (FJack) {
    for (const std::string& peer : FJack->Peers()) {
      sources.push_back({peer, -1, -1});
    }
  }
  const TSource* chosen = nullptr;
  for (const TSource& source : sources) {
    if (source.Name == wanted) {
      chosen = &source;
      break;
    }
  }
  for (const TSource& source : sources) {
    if (chosen == nullptr && Contains(source.Name, wanted)) {
      chosen = &source;
    }
  }
  if (chosen == nullptr) {
    return false;
  }
  if (chosen->Client >= 0) {
    return ConnectSequencer(chosen->Client, chosen->Port);
  }
  return FJack->Connect(chosen->Name);
}

void TMidiInPorts::Run() {
  std::vector<pollfd> fds;
  fds.push_back({FStopFd, POLLIN, 0});
  if (JackOpen()) {
    fds.push_back({FJack->WakeFd(), POLLIN, 0});
  }
  const std::size_t seqFirst = fds.size();
  if (FSeq != nullptr) {
    const int count = snd_seq_poll_descriptors_count(FSeq, POLLIN);
    fds.resize(seqFirst + static_cast<std::size_t>(count));
    snd_seq_poll_descriptors(FSeq, fds.data() + seqFirst, static_cast<unsigned>(count), POLLIN);
  }
  for (;;) {
    if (poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      return;
    }
    if ((fds[0].revents & POLLIN) != 0) {
      return;
    }
    if (JackOpen()) {
      FJack->TakeWakeUps();
      ReadJack();
    }
    ReadSequencer();
  }
}

void TMidiInPorts::Deliver(std::size_t count) {
  if (FQueue.Deliver(std::span(FDelivery.data(), count))) {
    FOnWaiting();
  }
}

void TMidiInPorts::MarkLost() {
  if (FQueue.MarkLost()) {
    FOnWaiting();
  }
}

// Whatever came before a loss is delivered first: the loss then ends every
// note, those it delivered included.
void TMidiInPorts::ReadJack() {
  const bool lost = FJack->TakeOverflow();
  std::size_t count = 0;
  while (FJack->Receive(FDelivery[count])) {
    if (++count == FDelivery.size()) {
      Deliver(count);
      count = 0;
    }
  }
  Deliver(count);
  if (lost) {
    MarkLost();
  }
}

void TMidiInPorts::ReadSequencer() {
  if (FSeq == nullptr) {
    return;
  }
  bool lost = false;
  std::size_t count = 0;
  for (;;) {
    snd_seq_event_t* event = nullptr;
    const int result = snd_seq_event_input(FSeq, &event);
    if (result == -ENOSPC) {
      lost = true; // the kernel's queue ran over: some messages are gone
      continue;
    }
    if (result < 0 || event == nullptr) {
      break;
    }
    unsigned char bytes[16];
    snd_midi_event_reset_decode(FDecoder);
    const long length = snd_midi_event_decode(FDecoder, bytes, sizeof bytes, event);
    // Channel messages only: system and real-time messages are not played.
    if (length >= 2 && length <= 3 && bytes[0] >= 0x80 && bytes[0] < 0xF0) {
      TMidiBytes message;
      message.Length = static_cast<std::uint8_t>(length);
      // The bound repeats the check above for GCC 12 at -O3, which cannot see it.
      std::copy_n(bytes,
                  std::min<std::size_t>(static_cast<std::size_t>(length), sizeof message.Bytes),
                  message.Bytes);
      FDelivery[count] = message;
      if (++count == FDelivery.size()) {
        Deliver(count);
        count = 0;
      }
    }
  }
  Deliver(count);
  if (lost) {
    MarkLost();
  }
}

} // namespace melo
