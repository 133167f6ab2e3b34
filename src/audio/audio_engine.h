#pragma once

#include "engine_interface.h"

#include <QObject>
#include <QString>
#include <QThread>

#include <atomic>
#include <memory>

namespace Marlet::Audio {

class EngineWorker;
class EngineShared;

// The program's one sound device: plays a file, records into a file. Lives on the
// thread that creates it (the owner's thread); every call returns at once and every
// signal arrives on that thread. Decoding, disk and device work happen on the engine's
// own thread, in the order the calls were made.
class AudioEngine final : public QObject
{
    Q_OBJECT

public:
    using State = EngineState;

    explicit AudioEngine(QObject* parent = nullptr);
    // Completes a recording in progress and releases the devices; waits for the
    // engine thread.
    ~AudioEngine() override;

    // Each command returns its id, which the answers to it carry (engine_interface.h).
    CommandId open(const QString& path);
    // Opens the file that follows the one that has just ended; see Engine::openNext().
    CommandId openNext(const QString& path);
    CommandId play();  // from the start after stop() or after the end; resumes when paused
    CommandId pause(); // pauses playback or recording
    CommandId resume();
    CommandId stop(); // stops, back to the start; ends and saves a recording
    CommandId seek(qint64 positionMs);
    CommandId close(); // releases the file and the devices
    // Records from the default input into `path` (.mp3 or .wav) until the next command.
    CommandId record(const QString& path);

    State state() const { return m_state; }
    QString fileName() const { return m_fileName; }
    // As the file claims until it has been played through once, then as found; -1 unknown.
    qint64 durationMs() const { return m_durationMs; }
    // Playback position, or the length recorded so far while recording.
    qint64 positionMs() const;

    // When the first sample of the latest play() was handed to the device (steady clock,
    // ns), 0 before that. For measurements.
    qint64 firstSampleSteadyNs() const;

    // Completes the recordings of every live engine; safe from any thread but an
    // engine's own. Runs by itself when the process exits through exit().
    static void finishAllRecordings();

Q_SIGNALS:
    void stateChanged(Marlet::Audio::EngineState state);
    void opened(Marlet::Audio::CommandId id, qint64 durationMs);
    // The command `id` could not be carried out, or (`id` 0) something went wrong that no
    // command caused; `message` is a sentence for the user.
    void failed(Marlet::Audio::CommandId id, const QString& message);
    // The file that play() `id` plays is read to its end and queued whole; the device
    // plays its tail on (see EngineClient::engineEndOfMedia()).
    void endOfMedia(Marlet::Audio::CommandId id);
    // The recording that record() `id` started was completed into `path`: where the file is
    // now (moved with its folder), empty when it was deleted; failed() said so before.
    void recordingSaved(Marlet::Audio::CommandId id, const QString& path, qint64 durationMs);

private:
    void setState(State state);
    void finishRecordingNow();
    // Runs `call` on the engine thread and waits for it until `deadlineMs` has passed;
    // false when it did not return by then (the engine thread is stuck in the system).
    bool runOnWorker(void (EngineWorker::*call)(), int deadlineMs);
    // Runs `command` on the engine thread with a new id; returns the id.
    template <typename Command>
    CommandId send(Command command);

    // Left running, never destroyed, when it does not stop in time: a thread stuck in a
    // device or file call must not keep the program from ending.
    std::unique_ptr<QThread> m_thread;
    std::shared_ptr<EngineShared> m_shared;
    EngineWorker* m_worker = nullptr; // owned by m_thread's lifetime, deleted on finish
    CommandId m_lastId = 0;
    State m_state = State::NotOpen;
    QString m_fileName;
    qint64 m_durationMs = -1;
};

} // namespace Marlet::Audio
