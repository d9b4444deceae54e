// Every file the program writes, written into a full disk (a file-size limit)
// and into a folder it may not write: the save reports failure, the old file
// keeps its bytes and no temporary file is left behind. Each fault is made in
// a child process, so the limit and the lost rights end with it.
#include "app/SimpleRecorder.h"
#include "input/KoKeyDef.h"
#include "platform/FileBytes.h"
#include "sound/FavoriteVoices.h"
#include "sound/KoDirectMusic.h"
#include "sound/SetupConfig.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>
#include <fstream>
#include <functional>
#include <unistd.h>

namespace melo {
namespace {

namespace fs = std::filesystem;

// One writer of the program: the file it writes in a folder, and the write.
struct TWriter {
  const char* Name;
  const char* FileName;
  std::function<bool(const fs::path& folder)> Write;
};

std::vector<TWriter> Writers() {
  return {
      {"song", "song.lyt",
       [](const fs::path& folder) {
         std::uint32_t now = 0;
         TSimpleRecorder recorder([&] { return now; });
         recorder.StartRecord();
         for (std::uint8_t key = 16; key < 40; ++key, now += 50)
           recorder.RecordKeyDown(key);
         recorder.StopRecord();
         return recorder.SaveToFile(folder / "song.lyt", MakeSongInfo("New", "", ""));
       }},
      {"key definition", "keys.kdf",
       [](const fs::path& folder) {
         TKeyDefTable table{};
         FillDefaultKeyDefs(table);
         return SaveKeyDefFile(table, folder / "keys.kdf");
       }},
      {"favourite voices", "Default.fvc",
       [](const fs::path& folder) {
         TFavoriteVoiceTable table{};
         SetDefaultFavoriteVoices(table);
         return SaveFavoriteVoices(folder / "Default.fvc", table);
       }},
      {"configuration", "Melotastico4.cfg",
       [](const fs::path& folder) {
         return SaveConfigTo(folder / "Melotastico4.cfg",
                             {60, 2, true, "/music/" + std::string(200, 's') + ".dls"});
       }},
      {"port list", "OutDevList.txt",
       [](const fs::path& folder) {
         TPortList ports;
         for (const char* name : {"Software synthesizer", "Midi Through Port-0", "USB MIDI Out"})
           AddOutputPort(ports, {TPortKind::Sequencer, name, 14, 0, {}});
         return WriteOutDevList(folder, ports);
       }},
  };
}

const std::string OldBytes = "the old file, which must survive";

class SaveFaultTest : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("melo-savefault-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::permissions(dir_, fs::perms(0755));
  }
  void TearDown() override {
    fs::permissions(dir_, fs::perms(0755));
    fs::remove_all(dir_);
  }

  // Runs the write in a child after prepare; the child's exit code tells
  // whether the write reported success (0), failure (3) or could not start.
  int WriteInChild(const TWriter& writer, const std::function<bool()>& prepare) {
    pid_t child = ::fork();
    if (child == 0) {
      if (!prepare())
        ::_exit(4);
      ::_exit(writer.Write(dir_) ? 0 : 3);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
  }

  void ExpectOldFileAlone(const TWriter& writer) {
    std::ifstream in(dir_ / writer.FileName, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), OldBytes) << writer.Name;
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_))
      names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{writer.FileName}) << writer.Name;
  }

  // Empties the folder and puts the old file in it.
  void WriteOld(const TWriter& writer) {
    for (const auto& entry : fs::directory_iterator(dir_))
      fs::remove_all(entry.path());
    std::ofstream(dir_ / writer.FileName, std::ios::binary) << OldBytes;
  }

  fs::path dir_;
};

TEST_F(SaveFaultTest, EveryWriterWritesNormally) {
  for (const TWriter& writer : Writers()) {
    WriteOld(writer);
    EXPECT_EQ(WriteInChild(writer, [] { return true; }), 0) << writer.Name;
    EXPECT_GT(fs::file_size(dir_ / writer.FileName), OldBytes.size()) << writer.Name;
    fs::remove(dir_ / writer.FileName);
  }
}

TEST_F(SaveFaultTest, FullDiskKeepsTheOldFileAndLeavesNoTemporary) {
  for (const TWriter& writer : Writers()) {
    WriteOld(writer);
    // Every file written is larger than the limit: the write stops halfway.
    const int result = WriteInChild(writer, [] {
      std::signal(SIGXFSZ, SIG_IGN);
      rlimit limit{};
      return ::getrlimit(RLIMIT_FSIZE, &limit) == 0 && (limit.rlim_cur = 32, true) &&
             ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    });
    EXPECT_EQ(result, 3) << writer.Name << " did not report the failed write";
    ExpectOldFileAlone(writer);
  }
}

TEST_F(SaveFaultTest, ReadOnlyFolderKeepsTheOldFileAndLeavesNoTemporary) {
  for (const TWriter& writer : Writers()) {
    WriteOld(writer);
    fs::permissions(dir_, fs::perms(0555));
    // The superuser writes anywhere: the child gives up that right first.
    const int result = WriteInChild(
        writer, [] { return ::geteuid() != 0 || (::setgid(65534) == 0 && ::setuid(65534) == 0); });
    fs::permissions(dir_, fs::perms(0755));
    EXPECT_EQ(result, 3) << writer.Name << " did not report the failed write";
    ExpectOldFileAlone(writer);
  }
}

} // namespace
} // namespace melo
