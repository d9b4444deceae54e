// The mixer units against a real PulseAudio server the test starts itself, with null sinks.
#include "sound/Audio.h"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <mutex>
#include <thread>

#include "PrivatePulseServer.h"
#include "music/KoTimer.h"
#include "sound/MasterVolume.h"
#include "sound/MyVolume.h"

namespace melo {
namespace {

using test::TPrivatePulseServer;

// One server for the whole executable; started before anything touches ALSA.
TPrivatePulseServer* Pulse = nullptr;

// Calls posted to the UI thread wait here until the test runs them.
std::mutex QueueLock;
std::deque<TUiCall> Queue;

class PulseEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    Pulse = new TPrivatePulseServer();
    SetUiDispatcher([](TUiCall call) {
      std::lock_guard lock(QueueLock);
      Queue.push_back(std::move(call));
    });
  }
  void TearDown() override {
    SetUiDispatcher({});
    delete Pulse;
    Pulse = nullptr;
  }
};
[[maybe_unused]] ::testing::Environment* const Environment =
    ::testing::AddGlobalTestEnvironment(new PulseEnvironment);

// Runs the posted calls until done() holds or five seconds passed.
template <class F> bool DrainUntil(F done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!done()) {
    std::deque<TUiCall> calls;
    {
      std::lock_guard lock(QueueLock);
      calls.swap(Queue);
    }
    for (TUiCall& call : calls)
      call();
    if (std::chrono::steady_clock::now() > deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

void DrainAll() {
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  DrainUntil([] {
    std::lock_guard lock(QueueLock);
    return Queue.empty();
  });
}

class AudioTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(Pulse && Pulse->Running()) << "private PulseAudio did not start:\n"
                                           << (Pulse ? Pulse->Log() : "");
    ASSERT_TRUE(Pulse->Pactl("set-default-sink nul"));
    ASSERT_TRUE(Pulse->Pactl("set-sink-volume nul 65536 65536"));
    ASSERT_TRUE(Pulse->Pactl("set-sink-volume mono 65536"));
    ASSERT_TRUE(Pulse->Pactl("set-sink-mute nul 0"));
    Audio = TAudio::Create(Pulse->Server());
    ASSERT_TRUE(Audio);
    DrainAll();
  }
  void TearDown() override {
    Audio.reset();
    DrainAll();
  }

  std::unique_ptr<TAudio> Audio;
};

TEST_F(AudioTest, ListsTheServerAndItsSinksDefaultFirst) {
  TMixerSettings& mixer = Audio->Mixer();
  ASSERT_TRUE(mixer.Opened());
  const auto& lines = mixer.Lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0].Destination, -1);
  EXPECT_EQ(lines[0].Index, -1);
  EXPECT_FALSE(lines[0].Name.empty()); // the server's name
  EXPECT_EQ(lines[0].VolumeControlID, NoMixerControl);

  const TMixerLine& stereo = lines[1];
  EXPECT_EQ(stereo.Destination, 0);
  EXPECT_EQ(stereo.Index, 0);
  EXPECT_EQ(stereo.Name, "MeloStereo");
  EXPECT_FALSE(stereo.Mono);
  EXPECT_EQ(stereo.Left, 65535);
  EXPECT_EQ(stereo.Right, 65535);
  EXPECT_FALSE(stereo.Muted);

  const TMixerLine& mono = lines[2];
  EXPECT_EQ(mono.Destination, 1);
  EXPECT_EQ(mono.Index, 0);
  EXPECT_EQ(mono.Name, "MeloMono");
  EXPECT_TRUE(mono.Mono);
  EXPECT_EQ(mono.Right, 0); // not read on a mono line

  EXPECT_NE(stereo.VolumeControlID, NoMixerControl);
  EXPECT_NE(stereo.MuteControlID, NoMixerControl);
  EXPECT_NE(stereo.VolumeControlID, mono.VolumeControlID);
  EXPECT_NE(stereo.MuteControlID, stereo.VolumeControlID);

  // The other sink comes first once it is the default.
  ASSERT_TRUE(Pulse->Pactl("set-default-sink mono"));
  const auto other = TAudio::Create(Pulse->Server());
  ASSERT_TRUE(other);
  ASSERT_GE(other->Mixer().Lines().size(), 3u);
  EXPECT_EQ(other->Mixer().Lines()[1].Name, "MeloMono");
  EXPECT_EQ(other->Mixer().Lines()[1].Destination, 0);
}

TEST_F(AudioTest, LineVolumesGoToTheServerAndComeBack) {
  TMixerSettings& mixer = Audio->Mixer();
  ASSERT_TRUE(mixer.SetLineVolume(0, 0, false, 16384, 32768));
  EXPECT_EQ(Pulse->SinkVolumes("nul"), (std::vector<unsigned>{ServerVolumeOfMixerValue(32768),
                                                              ServerVolumeOfMixerValue(16384)}));
  bool muted = true;
  std::uint16_t left = 0, right = 0;
  ASSERT_TRUE(mixer.GetLineVolume(0, 0, muted, right, left));
  EXPECT_EQ(left, 32768);
  EXPECT_EQ(right, 16384);
  EXPECT_FALSE(muted);

  // Changed by another program: read as it is now; above 100 % reads as full.
  ASSERT_TRUE(Pulse->Pactl("set-sink-volume nul 20000 98304"));
  ASSERT_TRUE(mixer.GetLineVolume(0, 0, muted, right, left));
  EXPECT_EQ(left, MixerValueOfServerVolume(20000));
  EXPECT_EQ(right, 65535);

  // Unknown lines fail without touching anything.
  EXPECT_FALSE(mixer.GetLineVolume(7, 0, muted, right, left));
  EXPECT_FALSE(mixer.SetLineVolume(-1, -1, false, 1, 1));
  EXPECT_EQ(Pulse->SinkVolumes("nul"), (std::vector<unsigned>{20000, 98304}));
}

TEST_F(AudioTest, MuteIsReadAndWrittenBackAsGiven) {
  TMixerSettings& mixer = Audio->Mixer();
  ASSERT_TRUE(Pulse->Pactl("set-sink-mute nul 1"));
  bool muted = false;
  std::uint16_t left = 0, right = 0;
  ASSERT_TRUE(mixer.GetLineVolume(0, 0, muted, right, left));
  EXPECT_TRUE(muted);
  ASSERT_TRUE(mixer.SetLineVolume(0, 0, muted, 1024, 2048));
  EXPECT_TRUE(Pulse->SinkMuted("nul"));
  EXPECT_EQ(Pulse->SinkVolumes("nul"), (std::vector<unsigned>{ServerVolumeOfMixerValue(2048),
                                                              ServerVolumeOfMixerValue(1024)}));
  ASSERT_TRUE(mixer.SetLineVolume(0, 0, false, 1024, 2048));
  EXPECT_FALSE(Pulse->SinkMuted("nul"));
}

TEST_F(AudioTest, MonoLineIsWrittenWithTheLeftValue) {
  TMixerSettings& mixer = Audio->Mixer();
  ASSERT_TRUE(mixer.SetLineVolume(1, 0, false, 1000, 30000));
  EXPECT_EQ(Pulse->SinkVolumes("mono"), (std::vector<unsigned>{ServerVolumeOfMixerValue(30000)}));
  bool muted = true;
  std::uint16_t left = 0, right = 0;
  ASSERT_TRUE(mixer.GetLineVolume(1, 0, muted, right, left));
  EXPECT_EQ(left, 30000);
  EXPECT_EQ(right, 30000);
}

TEST_F(AudioTest, LineZeroFollowsTheDefaultSink) {
  ASSERT_TRUE(Pulse->Pactl("set-default-sink mono"));
  ASSERT_TRUE(Audio->Mixer().SetLineVolume(0, 0, false, 5000, 6000));
  EXPECT_EQ(Pulse->SinkVolumes("mono"), (std::vector<unsigned>{ServerVolumeOfMixerValue(6000)}));
  EXPECT_EQ(Pulse->SinkVolumes("nul"), (std::vector<unsigned>{65536, 65536}));
}

TEST_F(AudioTest, ChangesByOtherProgramsArriveOnTheUiThread) {
  std::vector<std::pair<int, int>> changes;
  int messages = 0;
  Audio->OnMixerMessage = [&] { ++messages; };
  Audio->OnMixerChange = [&](TAudio* sender, std::uint16_t a, std::uint16_t b) {
    EXPECT_EQ(sender, Audio.get());
    changes.emplace_back(a, b);
  };
  ASSERT_TRUE(Pulse->Pactl("set-sink-volume nul 30000 10000"));
  // Nothing runs until the UI thread takes the posted calls.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_TRUE(changes.empty());
  ASSERT_TRUE(DrainUntil([&] {
    return std::find(changes.begin(), changes.end(), std::make_pair(0, 0)) != changes.end();
  }));
  EXPECT_GE(messages, 1);
  // Each event is raised twice: the server's own pair, then the line's place.
  EXPECT_EQ(changes.size() % 2, 0u);

  changes.clear();
  ASSERT_TRUE(Pulse->Pactl("set-sink-mute mono 1"));
  ASSERT_TRUE(DrainUntil([&] {
    return std::find(changes.begin(), changes.end(), std::make_pair(1, 0)) != changes.end();
  }));
  ASSERT_TRUE(Pulse->Pactl("set-sink-mute mono 0"));

  // Events queued for a component that is gone are dropped.
  ASSERT_TRUE(Pulse->Pactl("set-sink-volume nul 30001 10001"));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  Audio.reset();
  DrainAll();
}

TEST(AudioNoServerTest, CreationFailsWithoutAServer) {
  EXPECT_EQ(TAudio::Create("unix:/nonexistent/melo/pulse/native"), nullptr);
}

// The fallback unit reaches the same server through ALSA's pulse plugin.
class MyVolumeTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(Pulse && Pulse->Running());
    ASSERT_TRUE(Pulse->Pactl("set-default-sink nul"));
    ASSERT_TRUE(Pulse->Pactl("set-sink-volume nul 65536 65536"));
    SetMixerMessageHandler([this](const std::string& text) { Messages.push_back(text); });
  }
  std::vector<std::string> Messages;
};

TEST_F(MyVolumeTest, MasterLineWritesEveryChannelAndReadsTheLouder) {
  SetMixerVolume(MasterLine, 50 * 512);
  const std::vector<unsigned> volumes = Pulse->SinkVolumes("nul");
  ASSERT_EQ(volumes.size(), 2u);
  EXPECT_EQ(volumes[0], volumes[1]);
  EXPECT_EQ(MixerValueOfServerVolume(volumes[0]), 50 * 512);
  EXPECT_EQ(GetMixerVolume(MasterLine), 50 * 512);
  EXPECT_EQ(MasterVolumeOfMixerValue(GetMixerVolume(MasterLine)), 50);
  EXPECT_TRUE(MixerLineHasVolume(MasterLine));

  ASSERT_TRUE(Pulse->Pactl("set-sink-volume nul 8000 40000"));
  EXPECT_EQ(GetMixerVolume(MasterLine), MixerValueOfServerVolume(40000));
  EXPECT_TRUE(Messages.empty());
}

TEST_F(MyVolumeTest, NoMixerReadsZeroAndSaysNothing) {
  MixerDeviceName = "melo-no-such-mixer";
  EXPECT_EQ(GetMixerVolume(MasterLine), 0);
  EXPECT_FALSE(MixerLineHasVolume(MasterLine));
  SetMixerVolume(MasterLine, 1234);
  EXPECT_EQ(Pulse->SinkVolumes("nul"), (std::vector<unsigned>{65536, 65536}));
  MixerDeviceName = "default";
  EXPECT_EQ(GetMixerVolume(9), 0); // no such line
  EXPECT_FALSE(MixerLineHasVolume(9));
  EXPECT_TRUE(Messages.empty());
}

} // namespace
} // namespace melo
