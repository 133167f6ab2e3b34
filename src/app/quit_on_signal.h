#pragma once

class QCoreApplication;

namespace Marlet {

// Turns SIGINT, SIGTERM and SIGHUP into a normal quit of `app`'s event loop, so that
// the program ends through its destructors (a recording in progress is then saved).
// Call once, from the main thread, after the application object exists. Does nothing
// where these signals do not exist.
void quitOnTerminationSignals(QCoreApplication& app);

} // namespace Marlet
