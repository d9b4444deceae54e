#include "platform/TerminationSignals.h"

#include "platform/GlobalState.h"

#include <QSocketNotifier>

#include <array>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace melo {

namespace {

constexpr std::array StopSignals{SIGTERM, SIGHUP, SIGINT};

// The handler may only write: the byte wakes the notifier on the window's thread.
int signalPipe[2] = {-1, -1};

void WakeOnSignal(int /*signal*/) {
  const int savedErrno = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = write(signalPipe[1], &byte, 1);
  errno = savedErrno;
}

bool OpenSignalPipe() {
  return signalPipe[0] >= 0 || pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) == 0;
}

void InstallHandlers() {
  struct sigaction action {};
  action.sa_handler = WakeOnSignal;
  sigemptyset(&action.sa_mask);
  // The default comes back after the first signal, so a second one ends a stop that hangs.
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  for (const int stopSignal : StopSignals)
    sigaction(stopSignal, &action, nullptr);
}

// The handlers are program state: what a test installs is put back after it.
[[maybe_unused]] const bool StateRegistered = RegisterGlobalState([] {
  std::array<struct sigaction, StopSignals.size()> saved{};
  for (std::size_t i = 0; i < StopSignals.size(); ++i)
    sigaction(StopSignals[i], nullptr, &saved[i]);
  return TGlobalRestore([saved] {
    for (std::size_t i = 0; i < StopSignals.size(); ++i)
      sigaction(StopSignals[i], &saved[i], nullptr);
  });
});

void DrainSignalPipe() {
  char bytes[16];
  while (read(signalPipe[0], bytes, sizeof bytes) > 0) {
  }
}

} // namespace

void StopOnTerminationSignals(QObject* owner, std::function<void()> stop) {
  if (!OpenSignalPipe())
    return;
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, owner);
  QObject::connect(notifier, &QSocketNotifier::activated, owner,
                   [notifier, stop = std::move(stop)] {
                     DrainSignalPipe();
                     notifier->setEnabled(false);
                     stop();
                   });
  InstallHandlers();
}

} // namespace melo
