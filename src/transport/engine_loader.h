#pragma once

#include "audio/engine_interface.h"

#include <QString>

#include <memory>

namespace Marlet::Transport {

// Loads the engine module (once per process; it stays loaded) and makes an engine for
// `client`. Null with `error` set when the module cannot be found or loaded. GUI thread.
std::unique_ptr<Audio::Engine> loadEngine(Audio::EngineClient* client, QString* error);

// What the tags of the file at `path` say, through the engine module (loaded on first
// use); empty when the module or the file cannot be read. Any thread.
Audio::TrackTags readTrackTags(const QString& path);

} // namespace Marlet::Transport
