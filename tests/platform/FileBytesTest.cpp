#include "platform/FileBytes.h"

#include "NamedPipe.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <unistd.h>

namespace melo {
namespace {

namespace fs = std::filesystem;

class FileBytesTest : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("melo-filebytes-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

// Both whole-file reads, with a small and a generous limit.
std::vector<
    std::pair<const char*, std::function<bool(const fs::path&, std::vector<std::uint8_t>&)>>>
AllReads() {
  return {
      {"ReadFileBytes", [](const fs::path& f, auto& b) { return ReadFileBytes(f, b, 1 << 20); }},
      {"ReadFileHead", [](const fs::path& f, auto& b) { return ReadFileHead(f, b, 64); }},
  };
}

TEST_F(FileBytesTest, NamedPipeIsRefusedWithoutWaitingForAWriter) {
  test::TNamedPipe pipe(dir_ / "song.lyt");
  ASSERT_TRUE(pipe.Created());
  for (auto& [name, read] : AllReads()) {
    std::vector<std::uint8_t> bytes{1, 2, 3};
    // Named in the capture: clang before 16 cannot capture a structured binding.
    auto outcome = pipe.Run([&, &readBytes = read] { return readBytes(pipe.Path(), bytes); });
    EXPECT_FALSE(outcome.Result) << name;
    EXPECT_FALSE(outcome.Waited) << name << " blocked on the pipe";
    EXPECT_TRUE(bytes.empty()) << name;
  }
}

TEST_F(FileBytesTest, DevicesFoldersAndSocketsAreRefused) {
  // A socket file in the scratch folder.
  const fs::path socketPath = dir_ / "sock";
  int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

  // /dev/zero never ends; /dev/null ends at once but is no file either.
  for (const fs::path& path : {fs::path("/dev/zero"), fs::path("/dev/null"), dir_, socketPath}) {
    for (auto& [name, read] : AllReads()) {
      std::vector<std::uint8_t> bytes{1};
      EXPECT_FALSE(read(path, bytes)) << name << " " << path;
      EXPECT_TRUE(bytes.empty()) << name << " " << path;
    }
  }
  ::close(sock);
}

TEST_F(FileBytesTest, RegularFilesAreReadAlsoThroughALinkAndWhenEmpty) {
  std::ofstream(dir_ / "data", std::ios::binary) << "abcdef";
  fs::create_symlink(dir_ / "data", dir_ / "link");
  std::ofstream(dir_ / "empty", std::ios::binary).flush();
  for (auto& [name, read] : AllReads()) {
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(read(dir_ / "link", bytes)) << name;
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "abcdef") << name;
    EXPECT_TRUE(read(dir_ / "empty", bytes)) << name;
    EXPECT_TRUE(bytes.empty()) << name;
  }
}

} // namespace
} // namespace melo
