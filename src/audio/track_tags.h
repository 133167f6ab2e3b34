#pragma once

#include "engine_interface.h"

namespace Marlet::Audio {

// The title, artist, album and length of the sound file at `path`, as far as its tags
// and headers tell (MP3: ID3v2, APEv2, then ID3v1; WAV: its INFO strings). An empty
// title when there is none, a duration of -1 when unknown. Any thread.
TrackTags readTrackTags(const QString& path);

} // namespace Marlet::Audio
