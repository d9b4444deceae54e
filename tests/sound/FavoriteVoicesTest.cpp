#include "sound/FavoriteVoices.h"

#include "platform/DataFolder.h"

#include "../platform/NamedPipe.h"

#include <gtest/gtest.h>

#include <fstream>
#include <numeric>
#include <unistd.h>

namespace melo {
namespace {

namespace fs = std::filesystem;

class FavoriteVoicesTest : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("melo-fvc-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  // size bytes counting 1, 2, 3, ... (mod 256).
  fs::path WriteCountingFile(const std::string& name, std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
      bytes[i] = static_cast<char>((i + 1) & 0xFF);
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
    return dir_ / name;
  }
  std::vector<std::uint8_t> ReadBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  static TFavoriteVoiceTable Defaults() {
    TFavoriteVoiceTable table{};
    SetDefaultFavoriteVoices(table);
    return table;
  }
  fs::path dir_;
};

TEST_F(FavoriteVoicesTest, DefaultsGiveTheBuiltInProgramsTwice) {
  TFavoriteVoiceTable table = Defaults();
  const std::uint8_t programs[] = {0, 3, 18, 40, 8, 12, 9, 24, 28, 26, 49, 50};
  for (std::size_t i = 0; i < 24; ++i) {
    EXPECT_EQ(table[i].Program, programs[i % 12]) << i;
    EXPECT_EQ(FavoriteVoicePatch(table[i]), programs[i % 12]) << i;
    EXPECT_EQ(table[i].Extra, 100);
  }
  // Only the voice fields and Extra are set; the rest stays as it was.
  table[5].Unused = 7;
  table[5].Reserved[0] = 9;
  table[5].BankMSB = 3;
  SetDefaultFavoriteVoices(table);
  EXPECT_EQ(table[5].Unused, 7);
  EXPECT_EQ(table[5].Reserved[0], 9);
  EXPECT_EQ(table[5].BankMSB, 0);
}

TEST_F(FavoriteVoicesTest, MissingFileLeavesDefaults) {
  TFavoriteVoiceTable table{};
  table[3].Program = 99;
  EXPECT_FALSE(LoadFavoriteVoices(dir_ / "none.fvc", table));
  EXPECT_EQ(table, Defaults());
  EXPECT_EQ(table[3].Program, 40);
  EXPECT_EQ(table[15].Program, 40);
}

TEST_F(FavoriteVoicesTest, NamedPipeIsRefusedAtOnceAndLeavesDefaults) {
  test::TNamedPipe pipe(dir_ / "pipe.fvc");
  ASSERT_TRUE(pipe.Created());
  TFavoriteVoiceTable table{};
  table[3].Program = 99;
  auto outcome = pipe.Run([&] { return LoadFavoriteVoices(pipe.Path(), table); });
  EXPECT_FALSE(outcome.Result);
  EXPECT_FALSE(outcome.Waited) << "the read blocked on the pipe";
  EXPECT_EQ(table, Defaults());
}

TEST_F(FavoriteVoicesTest, ShortFileReplacesOnlyTheLeadingSlots) {
  TFavoriteVoiceTable table{};
  ASSERT_TRUE(LoadFavoriteVoices(WriteCountingFile("one.fvc", 184), table));
  EXPECT_EQ(table[0].BankMSB, 1);
  EXPECT_EQ(table[0].BankLSB, 2);
  EXPECT_EQ(table[0].Program, 3);
  EXPECT_EQ(table[0].Unused, 4);
  EXPECT_EQ(table[0].Extra, 0x08070605);
  EXPECT_EQ(table[0].Reserved[175], 184);
  TFavoriteVoiceTable defaults = Defaults();
  EXPECT_TRUE(std::equal(table.begin() + 1, table.end(), defaults.begin() + 1));

  // A slot cut in its Extra field keeps the default's high bytes.
  ASSERT_TRUE(LoadFavoriteVoices(WriteCountingFile("cut.fvc", 184 + 6), table));
  EXPECT_EQ(table[1].Program, 187);
  EXPECT_EQ(table[1].Extra, 0x0000BEBD);
  EXPECT_EQ(table[2], defaults[2]);
}

TEST_F(FavoriteVoicesTest, LongFileLoadsItsFirst4416Bytes) {
  fs::path file = WriteCountingFile("long.fvc", 5000);
  TFavoriteVoiceTable table{};
  ASSERT_TRUE(LoadFavoriteVoices(file, table));
  fs::path copy = dir_ / "copy.fvc";
  ASSERT_TRUE(SaveFavoriteVoices(copy, table));
  std::vector<std::uint8_t> original = ReadBytes(file);
  original.resize(4416);
  EXPECT_EQ(ReadBytes(copy), original);
}

TEST_F(FavoriteVoicesTest, DefaultTableSavesTheKnownBytes) {
  fs::path file = dir_ / "Default.fvc";
  ASSERT_TRUE(SaveFavoriteVoices(file, Defaults()));
  std::vector<std::uint8_t> bytes = ReadBytes(file);
  ASSERT_EQ(bytes.size(), 4416u);
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 8),
            (std::vector<std::uint8_t>{0, 0, 0, 0, 0x64, 0, 0, 0}));
  EXPECT_EQ(bytes[184 * 3 + 2], 40); // F4
  EXPECT_EQ(std::accumulate(bytes.begin() + 8, bytes.begin() + 184, 0), 0);
}

TEST_F(FavoriteVoicesTest, StartUpTableComesFromDefaultFileInDataFolder) {
  SetProgramFolder(dir_);
  ::setenv("XDG_CONFIG_HOME", (dir_ / "xdg").c_str(), 1);
  TFavoriteVoiceTable table = Defaults();
  SetFavoriteVoicePatch(table[12], 0x00010203);
  ASSERT_TRUE(SaveFavoriteVoices(dir_ / DefaultFavoriteVoicesFileName, table));
  FavoriteVoices = {};
  LoadDefaultFavoriteVoices();
  EXPECT_EQ(FavoriteVoices, table);
  EXPECT_EQ(FavoriteVoices[12].BankMSB, 1);
  EXPECT_EQ(FavoriteVoices[12].BankLSB, 2);
  EXPECT_EQ(FavoriteVoices[12].Program, 3);
}

TEST_F(FavoriteVoicesTest, PatchPackingDropsTheDrumBit) {
  TFavoriteVoice voice{};
  SetFavoriteVoicePatch(voice, 0x80790A7Fu);
  EXPECT_EQ(voice.BankMSB, 0x79);
  EXPECT_EQ(voice.BankLSB, 0x0A);
  EXPECT_EQ(voice.Program, 0x7F);
  EXPECT_EQ(FavoriteVoicePatch(voice), 0x00790A7Fu);
}

} // namespace
} // namespace melo
