#pragma once

// The engine as the rest of the program sees it: a plain interface, so that the audio
// stack (the decoding libraries, SDL) can be loaded as a module the first time it is needed rather
// than when the program starts.

#include <QString>
#include <QtGlobal>

#include <memory>

namespace Marlet::Audio {

enum class EngineState { NotOpen, Stopped, Playing, Recording, Seeking, Paused };

// Names one command given to an engine; every answer to it carries the same id. Ids
// count up from 1 for each engine; 0 names no command.
using CommandId = quint64;

// Told what the engine does. Every call arrives on the thread that created the engine,
// from its event loop, never from inside a call into the engine.
class EngineClient
{
public:
    virtual void engineStateChanged(EngineState state) = 0;
    // The open() or openNext() `id` has opened its file.
    virtual void engineOpened(CommandId id, qint64 durationMs) = 0;
    // The command `id` could not be carried out; `message` is a sentence for the user that
    // names the file and the reason. Comes once per failing command at most.
    virtual void engineFailed(CommandId id, const QString& message) = 0;
    // Something went wrong that no command caused: a device lost, a file that could not
    // be read on, a recording that could not be written on. Comes once per event.
    virtual void engineFault(const QString& message) = 0;
    // The file that the play() `id` plays has been read to its end and all of it is
    // queued on the device, which plays that tail on (a few hundred ms at most) unless a
    // command cuts it. A play() after openNext() now joins the tail without a gap.
    virtual void engineEndOfMedia(CommandId id) = 0;
    // The recording that record() `id` started is complete in `path` (in part after a
    // fault, which came before; where it is now when its folder was moved, empty when it
    // was deleted).
    virtual void engineRecordingSaved(CommandId id, const QString& path, qint64 durationMs) = 0;

protected:
    ~EngineClient() = default;
};

// One sound device that plays a file or records into one. Lives on the thread that
// created it; every call returns at once with the command's id and is carried out in
// order on the engine's own thread. A command that makes no sense in the engine's state
// (resuming when nothing is paused) is refused through engineFailed(), never carried out.
// The state and figures below are as last reported to the client.
class Engine
{
public:
    virtual ~Engine() = default;

    virtual CommandId open(const QString& path) = 0;
    // Like open(), for the file that follows the one that has just ended: when play()
    // comes while that file's last samples are still being heard, this file's first
    // sample follows them without a gap, converted to the device's format if need be.
    virtual CommandId openNext(const QString& path) { return open(path); }
    virtual CommandId play() = 0;   // from the start after stop() or the end; resumes when paused
    virtual CommandId pause() = 0;  // pauses playback or recording; nothing otherwise
    virtual CommandId resume() = 0; // resumes what pause() paused
    virtual CommandId stop() = 0;   // back to the start; ends and saves a recording
    virtual CommandId seek(qint64 positionMs) = 0;
    virtual CommandId close() = 0;
    // Records from the default input into `path` (.mp3 or .wav) until the next command.
    virtual CommandId record(const QString& path) = 0;

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

// What a sound file's tags and headers tell about it, for the list.
struct TrackTags
{
    QString title; // empty when the file has none: show the file's name instead
    QString artist;
    QString album;
    qint64 durationMs = -1; // -1 when unknown
};

// The module's tag reader: fills `tags` for the file at `path`. Any thread, any number at
// once; reads the file, so better not on the GUI thread.
using ReadTrackTagsFunction = void (*)(const QString& path, TrackTags* tags);
inline constexpr char readTrackTagsSymbol[] = "marletReadTrackTags";

} // namespace Marlet::Audio
