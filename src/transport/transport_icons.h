#pragma once

#include <QIcon>

namespace Marlet::Transport {

enum class Glyph { Prev, Next, Play, Pause, Back, Step, Stop, Record, Eject };

// An icon drawn from paths at whatever size and pixel ratio it is asked for, in the
// application palette's button text colour (its disabled colour when disabled). GUI thread.
QIcon glyphIcon(Glyph glyph);

} // namespace Marlet::Transport
