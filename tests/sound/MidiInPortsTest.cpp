// The MIDI inputs: without the ALSA sequencer (said once, nothing else
// changes) and through a private JACK server, from another program's port to
// the handler on the reader thread.
#include "sound/MidiInPorts.h"

#include "sound/JackTestServer.h"
#include "sound/SequencerPorts.h"

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <vector>

namespace melo {
namespace {

using Bytes = std::vector<std::uint8_t>;

// What the reader thread handed over: taken from the ports as soon as they
// wake the taker, as the window does.
struct TReceived {
  std::mutex Lock;
  std::condition_variable Changed;
  Bytes Got;
  int Lost = 0;
  TMidiInPorts* Ports = nullptr;
  TMidiInQueue::TBatch Batch;

  TMidiInPorts::TWakeHandler Handler() {
    return [this] {
      std::lock_guard guard(Lock);
      Ports->Take(Batch);
      Lost += Batch.Lost ? 1 : 0;
      for (std::size_t i = 0; i < Batch.Count; ++i) {
        const TMidiBytes& m = Batch.Messages[i];
        Got.insert(Got.end(), m.Bytes, m.Bytes + m.Length);
      }
      Changed.notify_all();
    };
  }
  Bytes WaitFor(std::size_t count) {
    std::unique_lock guard(Lock);
    Changed.wait_for(guard, std::chrono::seconds(5), [&] { return Got.size() >= count; });
    return Got;
  }
};

// Opens the ports twice without a sequencer; true when everything refused and
// the complaint was said exactly once, in our words only.
bool RefusesAndSaysSoOnce() {
  setenv("JACK_DEFAULT_SERVER", "melo-no-such-server", 1);
  TReceived received;
  bool refused = true;
  testing::internal::CaptureStderr();
  {
    TMidiInPorts first(received.Handler());
    TMidiInPorts second(received.Handler());
    TSequencerPorts outputs;
    refused = !first.SequencerOpen() && !first.JackOpen() && !outputs.IsOpen() &&
              first.SequencerAddress().empty() && first.Sources().empty() &&
              !first.Connect("20:0") && !first.Connect("keyboard");
  }
  const std::string said = testing::internal::GetCapturedStderr();
  const auto once = said.find("no ALSA sequencer");
  const bool saidOnce = once != std::string::npos &&
                        said.find("no ALSA sequencer", once + 1) == std::string::npos &&
                        said.find("ALSA lib") == std::string::npos;
  if (!refused || !saidOnce)
    std::fprintf(stderr, "refused %d, said: %s\n", refused, said.c_str());
  return refused && saidOnce;
}

TEST(MidiInWithoutSequencerTest, SaysSoOnceAndKeepsWorking) {
  if (std::filesystem::exists("/dev/snd/seq")) {
    GTEST_SKIP() << "this machine has an ALSA sequencer";
  }
  // The complaint is said once per process: a fresh process, whatever ran before.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(RefusesAndSaysSoOnce() ? 0 : 1), testing::ExitedWithCode(0), "");
}

// A MIDI keyboard on the JACK server: one output that sends what it is given.
class TJackKeyboard {
public:
  explicit TJackKeyboard(const char* name) {
    Queue = jack_ringbuffer_create(4096);
    Client = jack_client_open(name, JackNoStartServer, nullptr);
    if (Client == nullptr) {
      return;
    }
    Port = jack_port_register(Client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    jack_set_process_callback(Client, &Process, this);
    jack_activate(Client);
  }
  ~TJackKeyboard() {
    if (Client != nullptr) {
      jack_client_close(Client);
    }
    jack_ringbuffer_free(Queue);
  }
  void Send(Bytes message) {
    const char length = static_cast<char>(message.size());
    jack_ringbuffer_write(Queue, &length, 1);
    jack_ringbuffer_write(Queue, reinterpret_cast<const char*>(message.data()), message.size());
  }
  std::string PortName() const { return jack_port_name(Port); }

  jack_client_t* Client = nullptr;

private:
  static int Process(jack_nframes_t frames, void* self) {
    auto* me = static_cast<TJackKeyboard*>(self);
    void* buffer = jack_port_get_buffer(me->Port, frames);
    jack_midi_clear_buffer(buffer);
    char length = 0;
    while (jack_ringbuffer_read(me->Queue, &length, 1) == 1) {
      jack_midi_data_t bytes[8];
      jack_ringbuffer_read(me->Queue, reinterpret_cast<char*>(bytes),
                           static_cast<std::size_t>(length));
      jack_midi_event_write(buffer, 0, bytes, static_cast<std::size_t>(length));
    }
    return 0;
  }

  jack_port_t* Port = nullptr;
  jack_ringbuffer_t* Queue = nullptr;
};

TEST(MidiInJackTest, AKeyboardConnectedByPartOfItsNameReachesTheHandler) {
  test::TJackTestServer server;
  if (!server.Running) {
    GTEST_SKIP() << "jackd with the dummy back-end does not run here";
  }
  TJackKeyboard keyboard("Stage Keys");
  ASSERT_NE(keyboard.Client, nullptr);
  TReceived received;
  TMidiInPorts ports(received.Handler());
  received.Ports = &ports;
  ASSERT_TRUE(ports.JackOpen());
  EXPECT_EQ(ports.JackPortName(), "Melotastico in:midi_in");
  const std::vector<std::string> sources = ports.Sources();
  EXPECT_NE(std::find(sources.begin(), sources.end(), keyboard.PortName()), sources.end());
  EXPECT_FALSE(ports.Connect("no such keyboard"));
  ASSERT_TRUE(ports.Connect("stage KEYS"));
  keyboard.Send({0x90, 60, 100});
  keyboard.Send({0xF8});    // clock: not a channel message
  keyboard.Send({0xC0, 7}); // one data byte
  keyboard.Send({0x80});    // a message split over two events
  keyboard.Send({60, 0});
  EXPECT_EQ(received.WaitFor(8), (Bytes{0x90, 60, 100, 0xC0, 7, 0x80, 60, 0}));
  EXPECT_EQ(received.Lost, 0);
}

} // namespace
} // namespace melo
