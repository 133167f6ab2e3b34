#pragma once

// A device that takes every command and makes no sound, for window tests that need no
// audio stack; tests report the engine's states to the window themselves.

#include "audio/engine_interface.h"

namespace Marlet::Testing {

class SilentEngine final : public Audio::Engine
{
public:
    // Every command gets the next id; tests answer with them (lastId).
    Audio::CommandId open(const QString&) override { return ++lastId; }
    Audio::CommandId play() override { return ++lastId; }
    Audio::CommandId pause() override { return ++lastId; }
    Audio::CommandId resume() override { return ++lastId; }
    Audio::CommandId stop() override { return ++lastId; }
    Audio::CommandId seek(qint64) override { return ++lastId; }
    Audio::CommandId close() override { return ++lastId; }
    Audio::CommandId record(const QString&) override { return ++lastId; }
    Audio::EngineState state() const override { return Audio::EngineState::NotOpen; }
    QString fileName() const override { return {}; }
    qint64 durationMs() const override { return -1; }
    qint64 positionMs() const override { return 0; }

    Audio::CommandId lastId = 0;
};

} // namespace Marlet::Testing
