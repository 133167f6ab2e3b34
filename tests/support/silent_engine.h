#pragma once

// A device that takes every command and makes no sound, for tests that need no audio stack;
// tests report the engine's states to its client themselves.

#include "audio/engine_interface.h"

#include <QStringList>

namespace Marlet::Testing {

class SilentEngine final : public Audio::Engine
{
public:
    // Each command is logged as a word with the file name or figure it carries
    // ("open:a.mp3", "seek:2000") and gets the next id, counting from 1 (lastId).
    QStringList calls;
    Audio::CommandId lastId = 0;
    qint64 duration = -1, position = 0; // ms

    Audio::CommandId open(const QString& p) override { return call("open:", p); }
    Audio::CommandId openNext(const QString& p) override { return call("next:", p); }
    Audio::CommandId play() override { return call("play"); }
    Audio::CommandId pause() override { return call("pause"); }
    Audio::CommandId resume() override { return call("resume"); }
    Audio::CommandId stop() override { return call("stop"); }
    Audio::CommandId seek(qint64 ms) override { return call("seek:", QString::number(ms)); }
    Audio::CommandId close() override { return call("close"); }
    Audio::CommandId record(const QString&) override { return call("record"); }
    Audio::EngineState state() const override { return Audio::EngineState::NotOpen; }
    QString fileName() const override { return {}; }
    qint64 durationMs() const override { return duration; }
    qint64 positionMs() const override { return position; }

private:
    Audio::CommandId call(const char* word, const QString& what = {})
    {
        calls << QLatin1StringView(word) + what.section(u'/', -1);
        return ++lastId;
    }
};

} // namespace Marlet::Testing
