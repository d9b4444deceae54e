#pragma once
// A request to stop from outside the window (SIGTERM when the session ends or from kill, SIGHUP
// when the terminal goes, SIGINT from Ctrl+C in it) ends the program the way closing its window
// does, so an unsaved recording is kept rather than left to the next start's recovery. A second
// signal while the first is handled ends the program at once.
#include <QObject>

#include <functional>

namespace melo {

// Calls stop once, on owner's thread, at the first of those signals; nothing is called once owner
// is gone. Called once, for the main window.
void StopOnTerminationSignals(QObject* owner, std::function<void()> stop);

} // namespace melo
