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

// A name GBK holds is stored byte for byte as GBK; any other as its file URI,
// which comes back whole.
TEST_F(SetupConfigTest, EveryFileNameComesBackAfterARestart) {
  const struct {
    std::string Name;
    std::string Line; // as the file holds it
  } cases[] = {
      {"/音乐/钢琴.dls", "/\xD2\xF4\xC0\xD6/\xB8\xD6\xC7\xD9.dls"},
      {"/home/u/Klänge/set 1.sf2", "file:///home/u/Kl%C3%A4nge/set%201.sf2"},
      {"/음/세트.sf3", "file:///%EC%9D%8C/%EC%84%B8%ED%8A%B8.sf3"},
      {"/Набор~_-.sf2", "/\xA7\xAF\xA7\xD1\xA7\xD2\xA7\xE0\xA7\xE2~_-.sf2"},
      {"/a%20한.sf2", "file:///a%2520%ED%95%9C.sf2"},
  };
  for (const auto& [name, line] : cases) {
    ASSERT_TRUE(SaveConfig({50, 1, true, name})) << name;
    EXPECT_EQ(ReadConfigFile(), "50\r\n1\r\n1\r\n" + line + "\r\n") << name;
    TSetupConfig back = Scrambled();
    ASSERT_TRUE(LoadConfig(back)) << name;
    EXPECT_EQ(back.ExternalDLSFileName, name);
  }
  // A file URI must not come back longer than the field: 250 bytes at most.
  std::string umlauts = "/aa";
  for (int i = 0; i < 40; ++i)
    umlauts += "ä";
  EXPECT_TRUE(ConfigFileNameStorable(umlauts));
  EXPECT_FALSE(ConfigFileNameStorable("/a" + umlauts));
  EXPECT_FALSE(SaveConfig({50, 1, true, "/a" + umlauts}));
  // Escapes that name no file are taken as written.
  for (const std::string line : {"file:///a%00b", "file:///a%0Ab", "file:///a%4", "file:///a%G1"}) {
    WriteConfigFile("40\r\n3\r\n1\r\n" + line + "\r\n");
    TSetupConfig config = Scrambled();
    ASSERT_TRUE(LoadConfig(config));
    EXPECT_EQ(config.ExternalDLSFileName, line);
  }
}

} // namespace
} // namespace melo
