#include "sound/SetupConfig.h"

#include "platform/DataFolder.h"

#include "../platform/NamedPipe.h"

#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

namespace melo {
namespace {

namespace fs = std::filesystem;

class SetupConfigTest : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("melo-config-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    ::setenv("XDG_CONFIG_HOME", (dir_ / "xdg").c_str(), 1);
    SetProgramFolder(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  void WriteConfigFile(const std::string& text) {
    std::ofstream(dir_ / ConfigFileName, std::ios::binary) << text;
  }
  std::string ReadConfigFile() {
    std::ifstream in(dir_ / ConfigFileName, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  // Anything but the defaults, so that a reset to defaults shows.
  static TSetupConfig Scrambled() { return {7, 9, true, "junk"}; }
  fs::path dir_;
};

TEST_F(SetupConfigTest, ReadsTheFourLinesAndGivesTheirWritePeriod) {
  WriteConfigFile("60\r\n0\r\n1\r\nC:\\Drum.dls\r\n");
  TSetupConfig config = Scrambled();
  ASSERT_TRUE(LoadConfig(config));
  EXPECT_EQ(config, (TSetupConfig{60, 0, true, "C:\\Drum.dls"}));
  EXPECT_EQ(WritePeriodForLatency(config.Latency), 15);
}

TEST_F(SetupConfigTest, DamagedOrMissingFileGivesDefaultsForEveryField) {
  const char* damaged[] = {
      "60\r\n0\r\n1\r\n",               // three lines
      "60\r\nx\r\n1\r\npath\r\n",       // reverb not a number
      "60\r\n0\r\n1.5\r\npath\r\n",     // not an integer
      "99999999999\r\n0\r\n1\r\np\r\n", // does not fit
      "",
  };
  for (const char* text : damaged) {
    WriteConfigFile(text);
    TSetupConfig config = Scrambled();
    EXPECT_FALSE(LoadConfig(config)) << text;
    EXPECT_EQ(config, DefaultConfig) << text;
  }
  fs::remove(dir_ / ConfigFileName);
  TSetupConfig config = Scrambled();
  EXPECT_FALSE(LoadConfig(config));
  EXPECT_EQ(config, (TSetupConfig{40, 3, false, ""}));
}

TEST_F(SetupConfigTest, TakesValuesWithoutRangesAndLowBytes) {
  // Line endings of any kind, blanks around numbers, low bytes of large values.
  WriteConfigFile(" 5 \n260\r256\r\n\r\n");
  TSetupConfig config = Scrambled();
  ASSERT_TRUE(LoadConfig(config));
  EXPECT_EQ(config, (TSetupConfig{5, 4, false, ""}));
  EXPECT_EQ(WritePeriodForLatency(config.Latency), 2);
  WriteConfigFile("-20\r\n+2\r\n3\r\nname\r\nextra line\r\n");
  ASSERT_TRUE(LoadConfig(config));
  EXPECT_EQ(config, (TSetupConfig{-20, 2, true, "name"}));
}

TEST_F(SetupConfigTest, WritePeriodRule) {
  EXPECT_EQ(WritePeriodForLatency(29), 14);
  EXPECT_EQ(WritePeriodForLatency(30), 10);
  EXPECT_EQ(WritePeriodForLatency(49), 16);
  EXPECT_EQ(WritePeriodForLatency(50), 12);
  EXPECT_EQ(WritePeriodForLatency(100), 25);
  EXPECT_EQ(WritePeriodForLatency(40), 13);
}

TEST_F(SetupConfigTest, SavesCrLfLinesInGbkAndLoadsThemBack) {
  TSetupConfig config{75, 1, true, "/home/u/\xE9\x9F\xB3\xE8\x89\xB2.dls"}; // 音色
  ASSERT_TRUE(SaveConfig(config));
  EXPECT_EQ(ReadConfigFile(), "75\r\n1\r\n1\r\n/home/u/\xD2\xF4\xC9\xAB.dls\r\n");
  TSetupConfig back = Scrambled();
  ASSERT_TRUE(LoadConfig(back));
  EXPECT_EQ(back, config);
  ASSERT_TRUE(SaveConfig(DefaultConfig));
  EXPECT_EQ(ReadConfigFile(), "40\r\n3\r\n0\r\n\r\n");
}

TEST_F(SetupConfigTest, NamedPipeIsRefusedAtOnceAndGivesDefaults) {
  test::TNamedPipe pipe(dir_ / ConfigFileName);
  ASSERT_TRUE(pipe.Created());
  TSetupConfig config = Scrambled();
  auto outcome = pipe.Run([&] { return LoadConfigFrom(pipe.Path(), config); });
  EXPECT_FALSE(outcome.Result);
  EXPECT_FALSE(outcome.Waited) << "the read blocked on the pipe";
  EXPECT_EQ(config, DefaultConfig);
  config = Scrambled();
  outcome = pipe.Run([&] { return LoadConfig(config); });
  EXPECT_FALSE(outcome.Result);
  EXPECT_FALSE(outcome.Waited) << "the read blocked on the pipe";
  EXPECT_EQ(config, DefaultConfig);
}

// A line break inside the file name would cut it short on the next start:
// such a name cannot be stored, and the file keeps what it held.
TEST_F(SetupConfigTest, FileNameWithALineBreakIsRefusedAndTheOldFileKept) {
  const TSetupConfig old{60, 2, true, "/music/old.dls"};
  ASSERT_TRUE(SaveConfig(old));
  const std::string before = ReadConfigFile();
  for (const char* name :
       {"/music/a\nb.dls", "/music/a\rb.dls", "/music/a\r\nb.dls", "\n", "/music/trailing.dls\n"}) {
    EXPECT_FALSE(ConfigFileNameStorable(name)) << name;
    EXPECT_FALSE(SaveConfig({50, 1, true, name})) << name;
    EXPECT_FALSE(SaveConfigTo(dir_ / "other.cfg", {50, 1, false, name})) << name;
    EXPECT_EQ(ReadConfigFile(), before) << name;
  }
  EXPECT_FALSE(fs::exists(dir_ / "other.cfg"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
  // Other unusual characters are kept as they are.
  const TSetupConfig odd{50, 1, true, "/music/tab\there \"quoted\" \x01.dls"};
  EXPECT_TRUE(ConfigFileNameStorable(odd.ExternalDLSFileName));
  ASSERT_TRUE(SaveConfig(odd));
  TSetupConfig back = Scrambled();
  ASSERT_TRUE(LoadConfig(back));
  EXPECT_EQ(back, odd);
}

TEST_F(SetupConfigTest, LongFileNameIsCutTo250Bytes) {
  std::string longName(300, 'a');
  WriteConfigFile("40\r\n3\r\n1\r\n" + longName + "\r\n");
  TSetupConfig config = Scrambled();
  ASSERT_TRUE(LoadConfig(config));
  EXPECT_EQ(config.ExternalDLSFileName, std::string(250, 'a'));
  ASSERT_TRUE(SaveConfig({40, 3, true, longName}));
  EXPECT_EQ(ReadConfigFile(), "40\r\n3\r\n1\r\n" + std::string(250, 'a') + "\r\n");
}

} // namespace
} // namespace melo
