#include "app/CommandLine.h"

#include "SongTestFiles.h"
#include "StandInSoundSet.h"
#include "platform/DataFolder.h"
#include "platform/FileBytes.h"
#include "sound/SetupConfig.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace melo {
namespace {

namespace fs = std::filesystem;
using test::FreshSongHeader;

TEST(CommandLine, OptionsAreActionsAndOldArgumentsStartTheWindow) {
  struct TCase {
    std::vector<std::string> Arguments;
    TCommandAction Action;
  };
  const std::vector<TCase> cases{
      {{}, TCommandAction::Window},
      {{"MULTIINSTANCE", "3"}, TCommandAction::Window},
      {{"multiinstance", "-5", "junk"}, TCommandAction::Window},
      {{"--audio", "jack", "--midi-in", "--version", "2"}, TCommandAction::Window},
      {{"--audio=pulse", "--midi-in=20:0"}, TCommandAction::Window},
      {{"--audio"}, TCommandAction::Usage},
      {{"--lang", "en", "song.lyt"}, TCommandAction::Window},
      {{"--lang=zh", "MULTIINSTANCE"}, TCommandAction::Window},
      {{"--lang", "fr"}, TCommandAction::Usage},
      {{"--lang=EN"}, TCommandAction::Usage},
      {{"--lang", "en", "--paths"}, TCommandAction::Paths},
      {{"--paths", "x"}, TCommandAction::Usage},
      {{"--help"}, TCommandAction::Help},
      {{"-h"}, TCommandAction::Help},
      {{"--info", "a.lyt", "--help"}, TCommandAction::Help},
      {{"--version"}, TCommandAction::Version},
      {{"--version", "x"}, TCommandAction::Usage},
      {{"--info"}, TCommandAction::Usage},
      {{"--info", "a.lyt", "b.lyt"}, TCommandAction::Usage},
      {{"--info", "a.lyt"}, TCommandAction::Info},
      {{"--export", "a.lyt", "b.MID"}, TCommandAction::Export},
      {{"--export", "a.lyt", "b.midi"}, TCommandAction::Export},
      {{"--export", "a.lyt", "b.Flac"}, TCommandAction::Export},
      {{"--export", "a.lyt", "b.mp3"}, TCommandAction::Usage},
      {{"--export", "a.lyt"}, TCommandAction::Usage},
      {{"--export", "a.lyt", "b.wav", "MULTIINSTANCE"}, TCommandAction::Usage},
      {{"--export", "a.lyt", "b.MP4"}, TCommandAction::Export},
      {{"--export", "--fps", "24", "a.lyt", "b.mkv", "--video-scale=3"}, TCommandAction::Export},
      {{"--export", "a.lyt", "b.webm", "--fps=60", "--video-scale", "1"}, TCommandAction::Export},
      {{"--export", "a.lyt", "b.mp4", "--fps", "23"}, TCommandAction::Usage},
      {{"--export", "a.lyt", "b.mp4", "--fps=61"}, TCommandAction::Usage},
      {{"--export", "a.lyt", "b.mp4", "--video-scale", "0"}, TCommandAction::Usage},
      {{"--export", "a.lyt", "b.mp4", "--video-scale=4"}, TCommandAction::Usage},
      {{"--export", "a.lyt", "b.mp4", "--fps"}, TCommandAction::Usage},
      {{"--export", "a.lyt", "b.wav", "--fps", "30"}, TCommandAction::Usage},
      {{"MULTIINSTANCE", "--info", "a.lyt"}, TCommandAction::Usage},
      {{"--frobnicate"}, TCommandAction::Usage},
  };
  for (const TCase& c : cases) {
    std::string joined;
    for (const auto& a : c.Arguments)
      joined += a + " ";
    const TCommandLine command = ParseCommandLine(c.Arguments);
    EXPECT_EQ(command.Action, c.Action) << joined;
    EXPECT_EQ(command.Error.empty(), c.Action != TCommandAction::Usage) << joined;
  }
  // An option with its value missing says so, not that it is unknown.
  EXPECT_EQ(ParseCommandLine({"--lang"}).Error.find("--lang needs a value"), 0u);
  const TCommandLine command = ParseCommandLine({"--export", "in.lyt", "out.ogg"});
  EXPECT_EQ(command.Song, "in.lyt");
  EXPECT_EQ(command.Output, "out.ogg");
  const TCommandLine video =
      ParseCommandLine({"--export", "in.lyt", "--fps", "30", "out.mp4", "--video-scale=3"});
  EXPECT_EQ(video.Output, "out.mp4");
  EXPECT_EQ(video.FramesPerSecond, 30);
  EXPECT_EQ(video.VideoScale, 3);
  EXPECT_TRUE(IsVideoExport(video));
  EXPECT_FALSE(IsVideoExport(command));
}

TEST(CommandLine, WindowOptionsTakeTheirValuesTheRestIsPortSongAndMultiInstance) {
  EXPECT_FALSE(ParseCommandLine({}).Language);
  EXPECT_EQ(ParseCommandLine({"--lang", "zh"}).Language, TLanguage::Chinese);
  EXPECT_EQ(ParseCommandLine({"MULTIINSTANCE", "--lang=en", "song.lyt"}).Language,
            TLanguage::English);
  EXPECT_EQ(ParseCommandLine({"--lang", "en", "--lang", "zh"}).Language, TLanguage::Chinese);
  // An option's value is never the song nor the port.
  const TCommandLine window = ParseCommandLine({"--audio", "x.lyt", "--midi-in", "7", "song.LYT",
                                                "3", "multiinstance", "--practice", "p.mid"});
  EXPECT_EQ(window.Action, TCommandAction::Window);
  EXPECT_EQ(window.AudioOutput, "x.lyt");
  EXPECT_EQ(window.MidiIn, "7");
  EXPECT_EQ(window.PortIndex, 3);
  EXPECT_TRUE(window.MultiInstance);
  EXPECT_EQ(window.Song, (fs::current_path() / "song.LYT").string());
  EXPECT_EQ(window.Practice, (fs::current_path() / "p.mid").string());
  EXPECT_EQ(ParseCommandLine({"--practice"}).Action, TCommandAction::Usage);
  // The window's options may stand before an action.
  const TCommandLine info = ParseCommandLine({"--lang", "en", "--audio=jack", "--info", "a.lyt"});
  EXPECT_EQ(info.Action, TCommandAction::Info);
  EXPECT_EQ(info.Song, "a.lyt");
}

TEST(CommandLineTest, MultiInstanceInAnyCaseAndTheLastPortNumberWins) {
  UseCommandLine(ParseCommandLine({"3", "multiInstance", "x7", "12"}));
  EXPECT_TRUE(MultiInstance);
  EXPECT_EQ(PortIndexArg, 12);
  UseCommandLine(ParseCommandLine({"MULTIINSTANCE"}));
  EXPECT_TRUE(MultiInstance);
  EXPECT_EQ(PortIndexArg, -1);
  UseCommandLine(ParseCommandLine({}));
  EXPECT_FALSE(MultiInstance);
}

TEST(CommandLineTest, AudioAndMidiInTakeTheirValueWhichIsNeverAPortNumber) {
  UseCommandLine(ParseCommandLine({"--midi-in", "20", "4", "--audio=hw:1,0"}));
  EXPECT_EQ(MidiInArg, "20");
  EXPECT_EQ(PortIndexArg, 4);
  EXPECT_EQ(AudioOutputArg, "hw:1,0");
  UseCommandLine(ParseCommandLine({"--audio", "jack", "--midi-in=Digital Piano"}));
  EXPECT_EQ(AudioOutputArg, "jack");
  EXPECT_EQ(MidiInArg, "Digital Piano");
  EXPECT_EQ(PortIndexArg, -1);
  UseCommandLine(ParseCommandLine({"--audio"})); // no value: nothing chosen
  EXPECT_EQ(AudioOutputArg, "");
  EXPECT_EQ(MidiInArg, "");
}

// Runs the built program with no display at all, in its own settings folder.
class ProgramTest : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("melo_cli_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "config");
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A program that hangs is ended after timeoutSeconds (exit code 124).
  int Run(const std::string& arguments, int timeoutSeconds = 60) {
    const std::string command = "cd '" + dir_.string() + "' && timeout " +
                                std::to_string(timeoutSeconds) +
                                " env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb " +
                                "XDG_CONFIG_HOME='" + (dir_ / "config").string() +
                                "' '" MELO_PROGRAM "' " + arguments + " > stdout.txt 2> stderr.txt";
    const int status = std::system(command.c_str());
    out_ = Read("stdout.txt");
    err_ = Read("stderr.txt");
    fs::remove(dir_ / "stdout.txt");
    fs::remove(dir_ / "stderr.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Read(const std::string& name) {
    std::vector<std::uint8_t> bytes;
    ReadFileBytes(dir_ / name, bytes, 1 << 26);
    return std::string(bytes.begin(), bytes.end());
  }
  std::vector<std::string> Files() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      if (entry.path().filename() != "config")
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  void WriteSong(const std::string& name) {
    TSimpleBuffer events;
    events.Add({10, 0, sekKeyDown, 0x10});
    events.Add({200, 0, sekRawMidi, 0x99 << 16 | 38 << 8 | 110});
    events.Add({400, 0, sekKeyUp, 0x10});
    events.Add({450, 0, sekEnd, 0});
    test::WriteBytes(dir_ / name, SongImage(FreshSongHeader(), events));
  }

  fs::path dir_;
  std::string out_, err_;
};

TEST_F(ProgramTest, HelpVersionAndMisuseWithoutADisplay) {
  EXPECT_EQ(Run("--version"), ExitSuccess);
  EXPECT_EQ(out_, "melotastico 4.05\n");
  EXPECT_EQ(Run("--help"), ExitSuccess);
  EXPECT_NE(out_.find("--export SONG.lyt"), std::string::npos);
  EXPECT_EQ(err_, "");
  EXPECT_EQ(Run("--export song.lyt out.mp3"), ExitUsage);
  EXPECT_NE(err_.find("out.mp3"), std::string::npos);
  EXPECT_NE(err_.find("--help"), std::string::npos);
  EXPECT_EQ(Run("--bogus"), ExitUsage);
  EXPECT_EQ(out_, "");
  EXPECT_TRUE(Files().empty());
}

TEST_F(ProgramTest, InfoPrintsTheSongAsJson) {
  WriteSong("song.lyt");
  ASSERT_EQ(Run("--info song.lyt"), ExitSuccess) << err_;
  QJsonParseError error{};
  const QJsonObject song =
      QJsonDocument::fromJson(QByteArray::fromStdString(out_), &error).object();
  ASSERT_EQ(error.error, QJsonParseError::NoError) << out_;
  EXPECT_EQ(song["version"].toInt(), 4);
  EXPECT_EQ(song["title"].toString(), QStringLiteral("Export test"));
  EXPECT_EQ(song["player"].toString(), QStringLiteral("Tester"));
  EXPECT_EQ(song["state"]["leftVelocity"].toInt(), 70);
  ASSERT_EQ(song["events"].toArray().size(), 4);
  EXPECT_EQ(song["events"][1]["kind"].toString(), QStringLiteral("rawMidi"));
  EXPECT_EQ(song["ignored_bytes"].toInt(-1), 0);
  EXPECT_EQ(Run("--info missing.lyt"), ExitFailure);
  EXPECT_NE(err_.find("missing.lyt"), std::string::npos);

  // An event count made smaller: the first event is read, the three others
  // (13 bytes each) are counted and a warning is given.
  std::string image = Read("song.lyt");
  image[8756] = 1;
  test::WriteBytes(dir_ / "short.lyt", std::vector<std::uint8_t>(image.begin(), image.end()));
  ASSERT_EQ(Run("--info short.lyt"), ExitSuccess) << err_;
  const QJsonObject shortSong = QJsonDocument::fromJson(QByteArray::fromStdString(out_)).object();
  EXPECT_EQ(shortSong["eventCount"].toInt(), 1);
  EXPECT_EQ(shortSong["ignored_bytes"].toInt(), 39);
  EXPECT_NE(err_.find("warning: 39 bytes"), std::string::npos) << err_;
}

// A named pipe as the song would block a whole-file read for ever: refused
// at once, by the command-line actions and by the window at start-up.
TEST_F(ProgramTest, APipeNamedAsTheSongIsRefusedAtOnce) {
  const fs::path pipe = dir_ / "pipe.lyt";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  for (const char* arguments : {"--info pipe.lyt", "--export pipe.lyt out.mid"}) {
    // 5 s: far beyond the start of a program without a display, far below for ever.
    EXPECT_EQ(Run(arguments, 5), ExitFailure) << arguments;
    EXPECT_NE(err_.find("pipe.lyt: not a regular file"), std::string::npos) << err_;
    EXPECT_EQ(out_, "");
  }
  EXPECT_EQ(Files(), std::vector<std::string>{"pipe.lyt"});

  // The window starts with the pipe as its song: it says the song cannot be
  // read (and shows its message box) instead of waiting on the pipe.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::chdir(dir_.c_str()) != 0 || !std::freopen("stderr.txt", "w", stderr) ||
        !std::freopen("stdout.txt", "w", stdout))
      std::_Exit(127);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
    ::execl(MELO_PROGRAM, MELO_PROGRAM, "pipe.lyt", static_cast<char*>(nullptr));
    std::_Exit(127);
  }
  bool refused = false;
  for (int i = 0; i < 300 && !refused; ++i) { // start-up (sound set, glyphs) within 30 s
    ::usleep(100'000);
    refused = Read("stderr.txt").find("pipe.lyt: cannot be read as a song") != std::string::npos;
    if (::waitpid(child, nullptr, WNOHANG) == child)
      break; // ended: the window did not stay open
  }
  const bool running = ::kill(child, 0) == 0 && ::waitpid(child, nullptr, WNOHANG) == 0;
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  EXPECT_TRUE(refused) << Read("stderr.txt");
  EXPECT_TRUE(running); // the window is up, showing why the song did not open
}

TEST_F(ProgramTest, ExportsMidiAndAudioAndNothingFromADamagedSong) {
  WriteSong("song.lyt");
  ASSERT_EQ(Run("--export song.lyt song.mid"), ExitSuccess) << err_;
  EXPECT_EQ(Read("song.mid").substr(0, 4), "MThd");
  ASSERT_EQ(Run("--export song.lyt song.wav"), ExitSuccess) << err_;
  const std::string wav = Read("song.wav");
  EXPECT_EQ(wav.substr(0, 4), "RIFF");
  // 0.45 s of song and its dying away, 16-bit stereo.
  EXPECT_GT(wav.size(), 44100u * 4 / 2);
  EXPECT_EQ(err_, "");
  // A video needs no display either.
  ASSERT_EQ(Run("--export song.lyt song.mp4 --fps 24 --video-scale 1"), ExitSuccess) << err_;
  EXPECT_EQ(Read("song.mp4").substr(4, 4), "ftyp");

  // Cut inside its events: a clear message, exit 1, no output file; an older
  // file of that name stays as it was.
  const std::string song = Read("song.lyt");
  test::WriteBytes(dir_ / "bad.lyt", std::vector<std::uint8_t>(song.begin(), song.end() - 5));
  test::WriteBytes(dir_ / "old.wav", {1, 2, 3});
  for (const char* output : {"bad.mid", "bad.wav", "bad.ogg", "old.wav", "bad.mp4"}) {
    EXPECT_EQ(Run(std::string("--export bad.lyt ") + output), ExitFailure) << output;
    EXPECT_NE(err_.find("bad.lyt"), std::string::npos) << err_;
    EXPECT_NE(err_.find("damaged"), std::string::npos) << err_;
  }
  EXPECT_EQ(Run("--info bad.lyt"), ExitFailure);
  EXPECT_EQ(out_, "");
  EXPECT_EQ(Files(), (std::vector<std::string>{"bad.lyt", "old.wav", "song.lyt", "song.mid",
                                               "song.mp4", "song.wav"}));
  EXPECT_EQ(Read("old.wav"), std::string("\x01\x02\x03"));

  // A folder that cannot be written: exit 1, nothing left behind.
  EXPECT_EQ(Run("--export song.lyt nowhere/out.flac"), ExitFailure);
  EXPECT_NE(err_.find("nowhere/out.flac"), std::string::npos);
}

TEST_F(ProgramTest, MidiFilesAreImportedShownAndExportedAndADamagedOneIsRefused) {
  WriteSong("song.lyt");
  ASSERT_EQ(Run("--export song.lyt song.mid"), ExitSuccess) << err_;
  ASSERT_EQ(Run("--import song.mid imported.lyt"), ExitSuccess) << err_;
  ASSERT_EQ(Run("--info imported.lyt"), ExitSuccess) << err_;
  const std::string imported = out_;
  ASSERT_EQ(Run("--info song.mid"), ExitSuccess) << err_;
  EXPECT_EQ(out_, imported);
  EXPECT_NE(out_.find("rawMidi"), std::string::npos);
  ASSERT_EQ(Run("--export song.mid again.flac"), ExitSuccess) << err_;
  EXPECT_EQ(Read("again.flac").substr(0, 4), "fLaC");

  const std::string midi = Read("song.mid");
  test::WriteBytes(dir_ / "bad.mid", std::vector<std::uint8_t>(midi.begin(), midi.end() - 1));
  EXPECT_EQ(Run("--import bad.mid bad.lyt"), ExitFailure);
  EXPECT_NE(err_.find("bad.mid: not read as a MIDI file: the file: track"), std::string::npos)
      << err_;
  EXPECT_EQ(Run("--import song.mid song.txt"), ExitUsage);
  EXPECT_EQ(Files(), (std::vector<std::string>{"again.flac", "bad.mid", "imported.lyt", "song.lyt",
                                               "song.mid"}));
}

// An external set the settings name that has gone: the export names it and
// why in a warning, and plays the built-in set, as the window does.
TEST_F(ProgramTest, AMissingExternalSetIsNamedAndTheBuiltInSetPlays) {
  WriteSong("song.lyt");
  SetProgramFolder(dir_);
  ASSERT_TRUE(test::WriteStandInSoundSet(dir_ / "msf4.s"));
  TSetupConfig settings;
  settings.UseExternalDLS = true;
  settings.ExternalDLSFileName = (dir_ / "gone.sf3").string();
  ASSERT_TRUE(SaveConfig(settings));
  std::ostringstream out, err;
  EXPECT_EQ(RunCommandLineAction(ParseCommandLine({"--export", (dir_ / "song.lyt").string(),
                                                   (dir_ / "song.mid").string()}),
                                 out, err),
            ExitSuccess);
  EXPECT_EQ(err.str(), "melotastico: warning: sound set " + settings.ExternalDLSFileName +
                           ": not found; the built-in set plays instead\n");
  EXPECT_EQ(Read("song.mid").substr(0, 4), "MThd");
  SetProgramFolder({});
}

} // namespace
} // namespace melo
