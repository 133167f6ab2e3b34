#pragma once

// The engine as the rest of the program sees it: a plain interface, so that the audio
// stack (FFmpeg, SDL) can be loaded as a module the first time it is needed rather than
// when the program starts.

#include <QString>
#include <QtGlobal>

#include <memory>

namespace Marlet::Audio {

enum class EngineState { NotOpen, Stopped, Playing, Recording, Seeking, Paused };

// Told what the engine does. Every call arrives on the thread that created the engine,
// from its event loop, never from inside a call into the engine.
class EngineClient
{
public:
    virtual void engineStateChanged(EngineState state) = 0;
    virtual void engineOpened(qint64 durationMs) = 0;
    // Something could not be done; `message` is a sentence for the user.
    virtual void engineFailed(const QString& message) = 0;
    // The open file has been read to its end and all of it is queued on the device, which
    // plays that tail on (a few hundred ms at most) unless a command cuts it. A play()
    // after openNext() now joins the tail without a gap.
    virtual void engineEndOfMedia() = 0;
    virtual void engineRecordingSaved(const QString& path, qint64 durationMs) = 0;

protected:
    ~EngineClient() = default;
};

// One sound device that plays a file or records into one. Lives on the thread that
// created it; every call returns at once and is carried out in order on the engine's
// own thread. The state and figures below are as last reported to the client.
class Engine
{
public:
    virtual ~Engine() = default;

    virtual void open(const QString& path) = 0;
    // Like open(), for the file that follows the one that has just ended: when play()
    // comes while that file's last samples are still being heard, this file's first
    // sample follows them without a gap, converted to the device's format if need be.
    virtual void openNext(const QString& path) { open(path); }
    virtual void play() = 0; // from the start after stop() or the end; resumes when paused
    virtual void pause() = 0;
    virtual void resume() = 0;
    virtual void stop() = 0; // back to the start; ends and saves a recording
    virtual void seek(qint64 positionMs) = 0;
    virtual void close() = 0;
    // Records from the default input into `path` (.mp3 or .wav) until the next command.
    virtual void record(const QString& path) = 0;

    virtual EngineState state() const = 0;
    virtual QString fileName() const = 0;
    virtual qint64 durationMs() const = 0; // -1 when unknown
    virtual qint64 positionMs() const = 0;
    // When the first sample of the latest play() was handed to the device (steady clock,
    // ns), 0 before that or when unknown. Safe from the creating thread; for measurements.
    virtual qint64 firstSampleSteadyNs() const { return 0; }
};

// The entry point of the engine module. `client` must outlive the engine.
using CreateEngineFunction = Engine* (*)(EngineClient* client);
inline constexpr char createEngineSymbol[] = "marletCreateEngine";

} // namespace Marlet::Audio
