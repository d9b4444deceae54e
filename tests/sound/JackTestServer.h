#pragma once
// A private JACK server for one test program: jackd's dummy back-end (no sound
// card) under a name of its own, made the default through JACK_DEFAULT_SERVER
// and ended with the test program.
//
// JACK keeps eight server slots for the whole system and frees the slot of a
// server that died without giving it back only when one of the same name
// starts: test servers take their names from a small pool (shared with the
// end-to-end tests), each name under a lock while its server runs.
#include "sound/JackPorts.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

extern char** environ;

namespace melo::test {

class TJackTestServer {
public:
  TJackTestServer() {
    if (!TakeName())
      return;
    setenv("JACK_DEFAULT_SERVER", Name.c_str(), 1);
    std::string program = "jackd";
    // A client that keeps the server waiting past its timeout is taken for dead; on a loaded
    // shared machine the default, half a second, is too short for the clients under test.
    const char* argv[] = {"jackd", "-n", Name.c_str(), "-t", "5000", "-d",
                          "dummy", "-r", "48000",      "-p", "128",  nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawnp(&Pid, program.c_str(), &actions, nullptr, const_cast<char**>(argv), environ) !=
        0) {
      Pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (Pid > 0 && !JackServerRunning() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    Running = Pid > 0 && JackServerRunning();
  }

  ~TJackTestServer() {
    if (Pid > 0) {
      kill(Pid, SIGTERM);
      int status = 0;
      waitpid(Pid, &status, 0);
    }
    if (NameLock >= 0) {
      close(NameLock);
      unsetenv("JACK_DEFAULT_SERVER");
    }
  }

  TJackTestServer(const TJackTestServer&) = delete;
  TJackTestServer& operator=(const TJackTestServer&) = delete;

  std::string Name;
  pid_t Pid = -1;
  bool Running = false;

private:
  // The lock is inherited by jackd, so a name stays taken while its server lives.
  bool TakeName() {
    const char* tmp = std::getenv("TMPDIR");
    const std::string folder = tmp != nullptr && *tmp != 0 ? tmp : "/tmp";
    for (int slot = 0; slot < 6; ++slot) {
      const std::string name = "melo-test-jack-" + std::to_string(slot);
      NameLock = open((folder + "/" + name + ".lock").c_str(), O_WRONLY | O_CREAT, 0666);
      if (NameLock >= 0 && flock(NameLock, LOCK_EX | LOCK_NB) == 0) {
        Name = name;
        return true;
      }
      if (NameLock >= 0)
        close(NameLock);
      NameLock = -1;
    }
    return false;
  }

  int NameLock = -1;
};

} // namespace melo::test
