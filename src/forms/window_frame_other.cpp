// Platforms other than X11: the window flags already ask for the fixed frame.

#include "forms/window_frame.h"

namespace Marlet::Forms {

void requestFixedFrame(QWidget* /*window*/, FrameRole /*role*/) {}

} // namespace Marlet::Forms
