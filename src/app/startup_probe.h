#pragma once

class QWidget;

namespace Marlet {

// For the start-up benchmark only: when MARLET_STARTUP_PROBE is set in the environment,
// prints "shown" to stdout when `window` is first exposed on screen, then, 3 s later,
// "rss_kb: <resident memory>" and quits. Does nothing otherwise.
void installStartupProbe(QWidget* window);

} // namespace Marlet
