#include "sound/MasterVolume.h"

#include <gtest/gtest.h>

namespace melo {
namespace {

TEST(MasterVolumeTest, SliderScaleAgainstMixerValues) {
  EXPECT_EQ(MixerValueOfMasterVolume(127), 65024);
  EXPECT_EQ(MixerValueOfMasterVolume(50), 50 * 512);
  EXPECT_EQ(MixerValueOfMasterVolume(200), 65024); // clamped
  EXPECT_EQ(MixerValueOfMasterVolume(-3), 0);
  EXPECT_EQ(MasterVolumeOfLine({65535, 65535}), 127);
  EXPECT_EQ(MasterVolumeOfLine({1000, 40000}), 40000 >> 9); // the louder channel counts
  EXPECT_EQ(MasterVolumeOfLine({511, 0}), 0);
  EXPECT_EQ(MasterVolumeOfMixerValue(65535), 127);
  EXPECT_EQ(MasterVolumeOfMixerValue(512 * 50 + 511), 50);
}

TEST(MasterVolumeTest, LouderChannelGetsTheValueOtherKeepsItsProportion) {
  TMasterBalance balance;
  EXPECT_EQ(balance.Next(127, {30000, 30000}), (TStereoVolume{65024, 65024}));
  EXPECT_EQ(balance.Next(64, {40000, 20000}), (TStereoVolume{32768, 16384}));
  EXPECT_EQ(balance.Next(64, {20000, 40000}), (TStereoVolume{16384, 32768}));
  // Products are formed wide: 65535 x 65024 does not overflow.
  EXPECT_EQ(balance.Next(127, {65535, 65534}), (TStereoVolume{65024, 65023}));
  EXPECT_EQ(balance.Next(127, {0, 65535}), (TStereoVolume{0, 65024}));
  // Nothing but setting 0 touches the remembered balance.
  EXPECT_EQ(balance.Balance(), 1.0);
  EXPECT_EQ(balance.Next(300, {100, 100}), (TStereoVolume{65024, 65024}));
}

TEST(MasterVolumeTest, TripThroughSilenceRestoresTheBalance) {
  TMasterBalance balance;
  EXPECT_EQ(balance.Next(0, {40000, 20000}), (TStereoVolume{0, 0}));
  EXPECT_EQ(balance.Balance(), 2.0);
  EXPECT_EQ(balance.Next(64, {0, 0}), (TStereoVolume{32768, 16384}));

  // Right louder: the left one comes back scaled down.
  EXPECT_EQ(balance.Next(0, {10000, 40000}), (TStereoVolume{0, 0}));
  EXPECT_EQ(balance.Balance(), 0.25);
  EXPECT_EQ(balance.Next(127, {0, 0}), (TStereoVolume{16256, 65024}));

  // Setting 0 on a silent line keeps what was remembered.
  EXPECT_EQ(balance.Next(0, {0, 0}), (TStereoVolume{0, 0}));
  EXPECT_EQ(balance.Balance(), 0.25);
}

TEST(MasterVolumeTest, SilentRightChannelAndRoundingOnRestore) {
  TMasterBalance silentRight;
  silentRight.Next(0, {30000, 0});
  EXPECT_EQ(silentRight.Balance(), SilentRightBalance);
  EXPECT_EQ(silentRight.Next(127, {0, 0}), (TStereoVolume{65024, 0}));

  // Restored values that land on .5 go to the even neighbour.
  TMasterBalance half;
  half.Next(0, {1, 1024}); // Balance 1/1024: 512 / 1024 = 0.5 -> 0, 1536 / 1024 = 1.5 -> 2
  EXPECT_EQ(half.Next(1, {0, 0}), (TStereoVolume{0, 512}));
  EXPECT_EQ(half.Next(3, {0, 0}), (TStereoVolume{2, 1536}));
  // A balance of exactly 1 takes the right-louder branch: both equal.
  TMasterBalance even;
  even.Next(0, {500, 500});
  EXPECT_EQ(even.Next(10, {0, 0}), (TStereoVolume{5120, 5120}));
}

TEST(MasterVolumeTest, ServerScaleMapsFullRangeAndClampsAboveNorm) {
  EXPECT_EQ(ServerVolumeOfMixerValue(0), 0u);
  EXPECT_EQ(ServerVolumeOfMixerValue(65535), ServerVolumeNorm);
  EXPECT_EQ(MixerValueOfServerVolume(ServerVolumeNorm), 65535);
  EXPECT_EQ(MixerValueOfServerVolume(ServerVolumeNorm * 3 / 2), 65535); // 150 % reads as full
  EXPECT_EQ(MixerValueOfServerVolume(0), 0);
  // Every slider step survives the trip to the server and back.
  for (int value = 0; value <= MaxMasterVolume; ++value) {
    const std::uint16_t mixer = MixerValueOfMasterVolume(value);
    EXPECT_EQ(MixerValueOfServerVolume(ServerVolumeOfMixerValue(mixer)), mixer) << value;
  }
}

TEST(MasterVolumeTest, DeviceRangeMapsOntoMixerValues) {
  EXPECT_EQ(MixerValueOfRange(0, 0, 87), 0);
  EXPECT_EQ(MixerValueOfRange(87, 0, 87), 65535);
  EXPECT_EQ(MixerValueOfRange(200, 0, 87), 65535); // out of range reads clamped
  EXPECT_EQ(MixerValueOfRange(-10, -10, 10), 0);
  EXPECT_EQ(MixerValueOfRange(5, 3, 3), 0); // an empty range reads silent
  EXPECT_EQ(RangeOfMixerValue(65535, -10, 10), 10);
  EXPECT_EQ(RangeOfMixerValue(0, -10, 10), -10);
  EXPECT_EQ(RangeOfMixerValue(25600, 0, 65536), 25600);
  // A coarse device range: writing then reading gives the nearest step back.
  const long raw = RangeOfMixerValue(25600, 0, 31);
  EXPECT_EQ(raw, 12);
  EXPECT_EQ(MixerValueOfRange(raw, 0, 31) >> 9, 49);
}

} // namespace
} // namespace melo
