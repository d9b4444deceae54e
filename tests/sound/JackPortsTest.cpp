// JACK MIDI ports and the engine's JACK outputs against a private jackd with
// the dummy back-end; skipped where jackd cannot run.
#include "sound/JackPorts.h"

#include "ChannelMessages.h"
#include "JackTestServer.h"
#include "SynthTestSupport.h"
#include "WavToneCheck.h"
#include "sound/KoDirectMusic.h"

#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <poll.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

namespace melo {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Another program on the server: one MIDI input that keeps what it gets.
class TForeignMidiIn {
public:
  explicit TForeignMidiIn(const char* name) {
    Client = jack_client_open(name, JackNoStartServer, nullptr);
    if (Client == nullptr) {
      return;
    }
    Port = jack_port_register(Client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(Client, &Process, this);
    // A client that cannot take part is none: the tests stop at once instead of waiting.
    if (Port == nullptr || jack_activate(Client) != 0) {
      jack_client_close(Client);
      Client = nullptr;
    }
  }
  ~TForeignMidiIn() {
    if (Client != nullptr) {
      jack_client_close(Client);
    }
  }
  std::string PortName() const { return jack_port_name(Port); }
  Bytes Received() {
    std::lock_guard guard(Lock);
    return Got;
  }
  // Waits up to five seconds for count bytes.
  Bytes WaitFor(std::size_t count) {
    for (int i = 0; i < 500 && Received().size() < count; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return Received();
  }

  jack_client_t* Client = nullptr;

private:
  static int Process(jack_nframes_t frames, void* self) {
    auto* me = static_cast<TForeignMidiIn*>(self);
    void* buffer = jack_port_get_buffer(me->Port, frames);
    const jack_nframes_t count = jack_midi_get_event_count(buffer);
    // A test only: the lock is never held long by the reader.
    std::lock_guard guard(me->Lock);
    for (jack_nframes_t i = 0; i < count; ++i) {
      jack_midi_event_t event;
      if (jack_midi_event_get(&event, buffer, i) == 0) {
        me->Got.insert(me->Got.end(), event.buffer, event.buffer + event.size);
      }
    }
    return 0;
  }

  jack_port_t* Port = nullptr;
  std::mutex Lock;
  Bytes Got;
};

Bytes ReceiveAll(TJackMidiPort& input, std::size_t count) {
  Bytes got;
  for (int i = 0; i < 50 && got.size() < count; ++i) {
    pollfd fd{input.WakeFd(), POLLIN, 0};
    poll(&fd, 1, 100);
    input.TakeWakeUps();
    TMidiBytes message;
    while (input.Receive(message)) {
      got.insert(got.end(), message.Bytes, message.Bytes + message.Length);
    }
  }
  return got;
}

TEST(JackWithoutServerTest, NothingOpensAndNothingIsListed) {
  setenv("JACK_DEFAULT_SERVER", "melo-no-such-server", 1);
  EXPECT_FALSE(JackServerRunning());
  TJackMidiPort out("Melotastico out", "midi_out", TJackMidiPort::TDirection::Output);
  EXPECT_FALSE(out.IsOpen());
  EXPECT_FALSE(out.Send(0x90, 60, 100));
  EXPECT_FALSE(out.Connect("system:midi_playback_1"));
  EXPECT_TRUE(out.Peers().empty());
  TMidiBytes message;
  EXPECT_FALSE(out.Receive(message));
  // The engine keeps its own synthesizer and offers no "jack" output.
  TKoDirectMusic engine(TEngineMode::Live);
  EXPECT_EQ(engine.OutputPorts().OutputPorts[0].Kind, TPortKind::SoftwareSynth);
  for (int i = 0; i < engine.DirectSound().Devices().Count; ++i) {
    EXPECT_NE(engine.DirectSound().Devices().Devices[i].Driver, "jack");
  }
  TKoDirectMusic offline(TEngineMode::Offline);
  EXPECT_FALSE(offline.SelectAudioOutput("jack"));
  unsetenv("JACK_DEFAULT_SERVER");
}

class JackTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { Server = new test::TJackTestServer; }
  static void TearDownTestSuite() {
    delete Server;
    Server = nullptr;
  }
  void SetUp() override {
    if (!Server->Running) {
      GTEST_SKIP() << "jackd with the dummy back-end does not run here";
    }
  }
  static test::TJackTestServer* Server;
};

test::TJackTestServer* JackTest::Server = nullptr;

TEST_F(JackTest, OutputReachesAnInputInOrderAndProgramChangeKeepsItsTwoBytes) {
  TJackMidiPort out("melo-test-out", "midi_out", TJackMidiPort::TDirection::Output);
  TJackMidiPort in("melo-test-in", "midi_in", TJackMidiPort::TDirection::Input);
  ASSERT_TRUE(out.IsOpen());
  ASSERT_TRUE(in.IsOpen());
  ASSERT_TRUE(out.Connect(in.FullName()));
  EXPECT_TRUE(out.Send(0x91, 60, 100));
  EXPECT_TRUE(out.Send(0xC1, 5, 0)); // program change: two bytes on the wire
  EXPECT_TRUE(out.Send(0x81, 60, 64));
  EXPECT_EQ(ReceiveAll(in, 8), (Bytes{0x91, 60, 100, 0xC1, 5, 0x81, 60, 64}));
  EXPECT_FALSE(in.TakeOverflow());
}

TEST_F(JackTest, PeersLeaveOutThisProcessesPortsAndConnectMovesTheOutput) {
  TJackMidiPort out("melo-test-out", "midi_out", TJackMidiPort::TDirection::Output);
  TJackMidiPort ownInput("melo-test-in", "midi_in", TJackMidiPort::TDirection::Input);
  TForeignMidiIn first("first-synth");
  TForeignMidiIn second("second-synth");
  ASSERT_NE(first.Client, nullptr);
  ASSERT_NE(second.Client, nullptr);
  const std::vector<std::string> peers = out.Peers();
  EXPECT_NE(std::find(peers.begin(), peers.end(), first.PortName()), peers.end());
  EXPECT_EQ(std::find(peers.begin(), peers.end(), ownInput.FullName()), peers.end());
  ASSERT_TRUE(out.Connect(first.PortName()));
  out.Send(0x91, 60, 1);
  EXPECT_EQ(first.WaitFor(3), (Bytes{0x91, 60, 1}));
  ASSERT_TRUE(out.Connect(second.PortName()));
  out.Send(0x91, 62, 2);
  EXPECT_EQ(second.WaitFor(3), (Bytes{0x91, 62, 2}));
  EXPECT_EQ(first.Received(), (Bytes{0x91, 60, 1})) << "the old connection was dropped";
  EXPECT_FALSE(out.Connect("no-such-client:in"));
}

TEST_F(JackTest, EngineListsJackPortsAndPlaysNotesToTheChosenOne) {
  TForeignMidiIn synth("outboard");
  ASSERT_NE(synth.Client, nullptr);
  TKoDirectMusic engine(TEngineMode::Live);
  const TPortList& ports = engine.OutputPorts();
  int index = -1;
  for (int i = 0; i < ports.OutputCount; ++i) {
    if (ports.OutputPorts[static_cast<std::size_t>(i)].Description == "JACK: " + synth.PortName())
      index = i;
  }
  ASSERT_GT(index, 0) << "listed after the software synthesizer";
  EXPECT_EQ(engine.GetDefaultPortIndex(), 0) << "the default stays the software synthesizer";
  // The list file names it as every other port.
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("melo-jack-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  ASSERT_TRUE(engine.WriteOutDevList(folder));
  std::ifstream list(folder / "OutDevList.txt", std::ios::binary);
  std::stringstream text;
  text << list.rdbuf();
  EXPECT_NE(text.str().find(std::to_string(index) + ":  JACK: " + synth.PortName() + "\r\n"),
            std::string::npos)
      << text.str();
  std::filesystem::remove_all(folder);

  ASSERT_TRUE(engine.SelectPort(index));
  EXPECT_TRUE(test::NoteOn(engine, 1, 60, 100));
  EXPECT_TRUE(test::NoteOff(engine, 1, 60));
  EXPECT_EQ(synth.WaitFor(6), (Bytes{0x91, 60, 100, 0x81, 60, 64}));
}

TEST_F(JackTest, TheAudioOutputListOffersJackButKeepsTheDefaultFirst) {
  TKoDirectMusic engine(TEngineMode::Offline);
  const TKoDS_AllDevCapsType& devices = engine.DirectSound().Devices();
  EXPECT_EQ(devices.Devices[0].Name, "default");
  EXPECT_EQ(engine.DirectSound().DeviceIndex(), 0);
  bool listed = false;
  for (int i = 0; i < devices.Count; ++i)
    listed = listed || (devices.Devices[i].Name == "jack" && devices.Devices[i].Driver == "jack");
  EXPECT_TRUE(listed);
  EXPECT_TRUE(engine.SelectAudioOutput("jack"));
  EXPECT_EQ(engine.DirectSound().SelectedDriver(), "jack");
  EXPECT_TRUE(engine.SelectAudioOutput("hw:7,0")) << "an ALSA device the list did not hold";
  EXPECT_EQ(engine.DirectSound().SelectedDeviceName(), "hw:7,0");
  EXPECT_EQ(engine.DirectSound().SelectedDriver(), "alsa");
  EXPECT_TRUE(engine.SelectAudioOutput("pulse"));
  EXPECT_EQ(engine.DirectSound().SelectedDriver(), "pulseaudio");
  EXPECT_FALSE(engine.SelectAudioOutput(""));
}

// Another program on the server that records one audio input.
class TForeignAudioIn {
public:
  TForeignAudioIn() {
    Client = jack_client_open("ears", JackNoStartServer, nullptr);
    if (Client == nullptr) {
      return;
    }
    Rate = static_cast<int>(jack_get_sample_rate(Client));
    Samples.assign(static_cast<std::size_t>(Rate) * 4, 0.0f);
    Port = jack_port_register(Client, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(Client, &Process, this);
    jack_activate(Client);
  }
  ~TForeignAudioIn() {
    if (Client != nullptr) {
      jack_client_close(Client);
    }
  }
  std::string PortName() const { return jack_port_name(Port); }

  jack_client_t* Client = nullptr;
  int Rate = 0;
  std::vector<float> Samples;
  std::atomic<std::size_t> Count{0};
  std::atomic<bool> On{false};

private:
  static int Process(jack_nframes_t frames, void* self) {
    auto* me = static_cast<TForeignAudioIn*>(self);
    const auto* in = static_cast<const float*>(jack_port_get_buffer(me->Port, frames));
    std::size_t done = me->Count;
    for (jack_nframes_t i = 0; me->On && i < frames && done < me->Samples.size(); ++i) {
      me->Samples[done++] = in[i];
    }
    me->Count = done;
    return 0;
  }

  jack_port_t* Port = nullptr;
};

TEST_F(JackTest, TheSynthesizerPlaysThroughJackAtTheServersRate) {
  TForeignAudioIn ears;
  ASSERT_NE(ears.Client, nullptr);
  TKoDirectMusic engine(TEngineMode::Live);
  ASSERT_TRUE(engine.SelectAudioOutput("jack"));
  ASSERT_TRUE(engine.SelectPort(0));
  ASSERT_TRUE(engine.LoadCollectionFromStream(test::GmSoundFontBytes()));
  test::SetPatch(engine, 1, 0);
  const char** ports =
      jack_get_ports(ears.Client, "^Melotastico:", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput);
  ASSERT_NE(ports, nullptr) << "the synthesizer made no JACK audio ports";
  ASSERT_EQ(jack_connect(ears.Client, ports[0], ears.PortName().c_str()), 0);
  jack_free(static_cast<void*>(ports));
  ears.On = true;
  test::NoteOn(engine, 1, 60, 110);
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  ears.On = false;
  ASSERT_GT(ears.Count, static_cast<std::size_t>(ears.Rate / 4));
  const double hz = EstimatePitch(ears.Samples.data() + ears.Rate / 10,
                                  static_cast<std::size_t>(ears.Rate / 5), ears.Rate);
  EXPECT_NEAR(hz, 261.63, 261.63 * 0.02) << "middle C, at JACK's " << ears.Rate << " Hz";
}

} // namespace
} // namespace melo
