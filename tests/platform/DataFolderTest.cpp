#include "platform/DataFolder.h"
#include "platform/FileBytes.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace melo {
namespace {

namespace fs = std::filesystem;

void WriteText(const fs::path& file, const std::string& text) {
  std::ofstream(file, std::ios::binary) << text;
}

std::string ReadText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// A scratch folder with a program folder and an XDG config home inside it.
class DataFolderTest : public ::testing::Test {
protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("melo-datafolder-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "prog");
    fs::create_directories(root_ / "xdg");
    oldXdg_ = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
    oldHome_ = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("XDG_CONFIG_HOME", (root_ / "xdg").c_str(), 1);
    SetProgramFolder(root_ / "prog");
  }
  void TearDown() override {
    if (oldXdg_.empty()) {
      ::unsetenv("XDG_CONFIG_HOME");
    } else {
      ::setenv("XDG_CONFIG_HOME", oldXdg_.c_str(), 1);
    }
    ::setenv("HOME", oldHome_.c_str(), 1);
    fs::remove_all(root_);
  }
  fs::path root_;
  std::string oldXdg_;
  std::string oldHome_;
};

TEST_F(DataFolderTest, RealProgramFolderIsTheTestExecutablesFolder) {
  SetProgramFolder({});
  EXPECT_TRUE(fs::exists(ProgramFolder() / fs::path(program_invocation_name).filename()));
}

TEST_F(DataFolderTest, UserFolderFollowsXdgAndFallsBackToHomeConfig) {
  EXPECT_EQ(UserDataFolder(), root_ / "xdg" / "Melotastico");
  ::setenv("XDG_CONFIG_HOME", "relative/dir", 1); // not absolute: ignored
  ::setenv("HOME", root_.c_str(), 1);
  EXPECT_EQ(UserDataFolder(), root_ / ".config" / "Melotastico");
}

TEST_F(DataFolderTest, WritableProgramFolderIsUsedForBoth) {
  EXPECT_EQ(DataFileForWriting("a.cfg"), root_ / "prog" / "a.cfg");
  EXPECT_EQ(DataFileForReading("a.cfg"), root_ / "prog" / "a.cfg");
  EXPECT_FALSE(fs::exists(UserDataFolder())); // nothing created needlessly
}

TEST_F(DataFolderTest, UnwritableProgramFolderFallsBackToUserFolder) {
  // A "folder" below a regular file cannot be written even by root.
  WriteText(root_ / "file", "x");
  SetProgramFolder(root_ / "file" / "prog");
  fs::path target = DataFileForWriting("a.cfg");
  EXPECT_EQ(target, root_ / "xdg" / "Melotastico" / "a.cfg");
  EXPECT_TRUE(fs::is_directory(UserDataFolder()));
  EXPECT_EQ(DataFileForReading("a.cfg"), root_ / "file" / "prog" / "a.cfg");
  WriteText(target, "user");
  EXPECT_EQ(DataFileForReading("a.cfg"), target);
}

TEST_F(DataFolderTest, UsersCopyWinsForReadingAndWriting) {
  WriteText(root_ / "prog" / "a.cfg", "program");
  fs::create_directories(UserDataFolder());
  WriteText(UserDataFolder() / "a.cfg", "user");
  EXPECT_EQ(DataFileForReading("a.cfg"), UserDataFolder() / "a.cfg");
  EXPECT_EQ(DataFileForWriting("a.cfg"), UserDataFolder() / "a.cfg");
}

TEST_F(DataFolderTest, ReplacingWriteSwapsWholeFileAndLeavesNoTemporary) {
  fs::path file = root_ / "prog" / "f.bin";
  WriteText(file, "old contents");
  std::vector<std::uint8_t> bytes{'n', 'e', 'w'};
  ASSERT_TRUE(WriteFileReplacing(file, bytes));
  EXPECT_EQ(ReadText(file), "new");
  EXPECT_EQ(std::distance(fs::directory_iterator(root_ / "prog"), fs::directory_iterator()), 1);
}

TEST_F(DataFolderTest, FailedReplacingWriteKeepsOldFile) {
  // The target is a non-empty folder: the rename fails after the temporary was written.
  fs::create_directories(root_ / "prog" / "busy");
  WriteText(root_ / "prog" / "busy" / "inside", "keep");
  std::vector<std::uint8_t> bytes{'x'};
  EXPECT_FALSE(WriteFileReplacing(root_ / "prog" / "busy", bytes));
  EXPECT_EQ(ReadText(root_ / "prog" / "busy" / "inside"), "keep");
  EXPECT_EQ(std::distance(fs::directory_iterator(root_ / "prog"), fs::directory_iterator()), 1);
  EXPECT_FALSE(WriteFileReplacing(root_ / "missing" / "f.bin", bytes));
}

TEST_F(DataFolderTest, ReadsRespectTheirLimits) {
  fs::path file = root_ / "prog" / "f.bin";
  WriteText(file, "0123456789");
  std::vector<std::uint8_t> bytes;
  EXPECT_TRUE(ReadFileBytes(file, bytes, 10));
  EXPECT_EQ(bytes.size(), 10u);
  EXPECT_FALSE(ReadFileBytes(file, bytes, 9));
  EXPECT_TRUE(bytes.empty());
  EXPECT_TRUE(ReadFileHead(file, bytes, 4));
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "0123");
  EXPECT_FALSE(ReadFileHead(root_ / "none", bytes, 4));
}

} // namespace
} // namespace melo
