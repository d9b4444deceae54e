#pragma once
// A PulseAudio daemon of the test's own, in a private folder: a stereo null sink "nul" (the
// default) and a mono null sink "mono". PULSE_SERVER of the test process points at it, so libpulse
// and ALSA's pulse plugin reach this server and no other. Start it before the first ALSA call of
// the process: ALSA decides at its first use whether the server runs.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace melo::test {

// The output of a shell command (empty when it failed).
inline std::string CommandOutput(const std::string& command) {
  std::string out;
  if (FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r")) {
    char buffer[512];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
      out.append(buffer, n);
    if (::pclose(pipe) != 0)
      out.clear();
  }
  return out;
}

class TPrivatePulseServer {
public:
  TPrivatePulseServer() {
    char pattern[] = "/tmp/melo-pulse.XXXXXX";
    if (!::mkdtemp(pattern))
      return;
    FFolder = pattern;
    const std::string run = FFolder + "/run";
    std::filesystem::create_directories(run);
    std::filesystem::permissions(run, std::filesystem::perms::owner_all);
    FServer = "unix:" + run + "/pulse/native";
    const std::string log = FFolder + "/pulseaudio.log";
    // The daemon gets a home and runtime folder of its own; the client side only needs the socket.
    const std::string command =
        "HOME='" + FFolder + "' XDG_RUNTIME_DIR='" + run + "' XDG_CONFIG_HOME='" + FFolder +
        "/config' exec pulseaudio --daemonize=no --exit-idle-time=-1 -n --use-pid-file=no "
        "--system=false --disable-shm=yes "
        "--load='module-null-sink sink_name=nul channels=2 "
        "sink_properties=device.description=MeloStereo' "
        "--load='module-null-sink sink_name=mono channels=1 channel_map=mono "
        "sink_properties=device.description=MeloMono' "
        "--load='module-native-protocol-unix auth-anonymous=1' >'" +
        log + "' 2>&1";
    const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
    if (::posix_spawnp(&FPid, "sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
      FPid = -1;
      return;
    }
    ::setenv("PULSE_SERVER", FServer.c_str(), 1);
    for (int i = 0; i < 150 && !Ready(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    FReady = Ready() && Pactl("set-default-sink nul");
  }

  ~TPrivatePulseServer() {
    if (FPid > 0) {
      ::kill(FPid, SIGTERM);
      int status = 0;
      ::waitpid(FPid, &status, 0);
    }
    if (!FFolder.empty()) {
      std::error_code error;
      std::filesystem::remove_all(FFolder, error);
    }
  }
  TPrivatePulseServer(const TPrivatePulseServer&) = delete;
  TPrivatePulseServer& operator=(const TPrivatePulseServer&) = delete;

  bool Running() const { return FReady; }
  const std::string& Server() const { return FServer; }
  std::string Log() const { return CommandOutput("tail -n 20 '" + FFolder + "/pulseaudio.log'"); }

  // pactl against this server; true when it succeeded.
  bool Pactl(const std::string& arguments) const {
    return std::system(
               ("pactl --server='" + FServer + "' " + arguments + " >/dev/null 2>&1").c_str()) == 0;
  }
  std::string PactlOutput(const std::string& arguments) const {
    return CommandOutput("pactl --server='" + FServer + "' " + arguments);
  }

  // The raw channel volumes pactl reports for a sink ("front-left: 32768 / 50% / ..." and so on).
  std::vector<unsigned> SinkVolumes(const std::string& sink) const {
    const std::string text = PactlOutput("get-sink-volume " + sink);
    std::vector<unsigned> values;
    for (std::size_t at = text.find(": "); at != std::string::npos; at = text.find(": ", at + 1)) {
      // Each channel is "name: raw / percent / dB"; the balance line has no slash after its number.
      const std::size_t start = at + 2;
      const std::size_t slash = text.find(" /", start);
      if (slash == std::string::npos)
        break;
      const std::string number = text.substr(start, slash - start);
      if (number.find_first_not_of("0123456789") != std::string::npos)
        continue;
      values.push_back(static_cast<unsigned>(std::stoul(number)));
    }
    return values;
  }
  bool SinkMuted(const std::string& sink) const {
    return PactlOutput("get-sink-mute " + sink).find("yes") != std::string::npos;
  }

private:
  bool Ready() const { return Pactl("info"); }

  std::string FFolder;
  std::string FServer;
  pid_t FPid = -1;
  bool FReady = false;
};

} // namespace melo::test
