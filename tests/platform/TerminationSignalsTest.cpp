#include "platform/TerminationSignals.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <gtest/gtest.h>

#include <csignal>

namespace melo {
namespace {

// Each signal a session or terminal sends calls the stop once, on the event loop, and leaves the
// default behind, so that a second one ends a stop that hangs.
TEST(TerminationSignalsTest, EachStopSignalCallsStopOnceThenLeavesTheDefault) {
  int argc = 1;
  char name[] = "test";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  for (const int stopSignal : {SIGTERM, SIGHUP, SIGINT}) {
    QObject owner;
    int stops = 0;
    StopOnTerminationSignals(&owner, [&stops] { ++stops; });
    EXPECT_EQ(stops, 0);
    ASSERT_EQ(std::raise(stopSignal), 0);
    const QDeadlineTimer deadline(5000);
    while (stops == 0 && !deadline.hasExpired())
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    QCoreApplication::processEvents();
    EXPECT_EQ(stops, 1) << "signal " << stopSignal;
    struct sigaction now {};
    sigaction(stopSignal, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL) << "signal " << stopSignal;
  }
}

} // namespace
} // namespace melo
