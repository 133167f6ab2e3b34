#pragma once

#include "av_handles.h"

class QIODevice;

namespace Marlet::Audio {

// An AVIOContext reading from, or writing to, a QIODevice. The device must outlive the
// context; the context never takes ownership. Read errors surface as AVERROR(EIO),
// failed or short writes as AVERROR(ENOSPC) so a full disk reads as one.
AvioPtr makeReadingAvio(QIODevice* device);
AvioPtr makeWritingAvio(QIODevice* device);

} // namespace Marlet::Audio
