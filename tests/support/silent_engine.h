#pragma once

// A device that takes every command and makes no sound, for window tests that need no
// audio stack; tests report the engine's states to the window themselves.

#include "audio/engine_interface.h"

namespace Marlet::Testing {

class SilentEngine final : public Audio::Engine
{
public:
    void open(const QString&) override {}
    void play() override {}
    void pause() override {}
    void resume() override {}
    void stop() override {}
    void seek(qint64) override {}
    void close() override {}
    void record(const QString&) override {}
    Audio::EngineState state() const override { return Audio::EngineState::NotOpen; }
    QString fileName() const override { return {}; }
    qint64 durationMs() const override { return -1; }
    qint64 positionMs() const override { return 0; }
};

} // namespace Marlet::Testing
