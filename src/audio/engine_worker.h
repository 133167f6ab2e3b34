#pragma once

#include "audio_engine.h"
#include "decoder.h"
#include "recorder.h"
#include "sdl_device.h"

#include <QTimer>

#include <atomic>
#include <mutex>
#include <optional>
#include <vector>

namespace Marlet::Audio {

// Where playback or recording stood at one moment, all taken together.
struct PositionSnapshot
{
    qint64 positionMs = 0;
    qint64 steadyNs = 0;    // when positionMs was true (steady clock)
    bool advancing = false; // the position moves with the clock from then on
};

// Figures the engine thread publishes for the owner's thread to read at any time.
class EngineShared
{
public:
    PositionSnapshot position() const
    {
        const std::lock_guard lock(m_mutex);
        return m_position;
    }
    void setPosition(const PositionSnapshot& snapshot)
    {
        const std::lock_guard lock(m_mutex);
        m_position = snapshot;
    }

    std::atomic<qint64> firstSampleSteadyNs{0};

private:
    mutable std::mutex m_mutex; // held for a copy only
    PositionSnapshot m_position;
};

qint64 steadyNowNs();

// The engine's working half. Lives on the engine thread; every method runs there.
//
// One state machine: each command is carried out or refused according to the phase, and
// every change of phase goes through one named transition below.
class EngineWorker final : public QObject
{
    Q_OBJECT

public:
    enum class Phase {
        Idle,            // no file open, nothing recording
        Loaded,          // a file open and still (opened, stopped, or ended and heard)
        Playing,         // the device plays the file
        Paused,          // playback held, the device keeps what is queued
        Ended,           // the file is read and queued whole; the device plays its tail
        Recording,       // capturing into a file (a file open for playback stays aside)
        RecordingPaused, // capture held, the recording still open
    };

    explicit EngineWorker(std::shared_ptr<EngineShared> shared);
    ~EngineWorker() override;

    void open(CommandId id, const QString& path);
    void openNext(CommandId id, const QString& path);
    void play(CommandId id);
    void pause(CommandId id);
    void resume(CommandId id);
    void stop(CommandId id);
    void seek(CommandId id, qint64 positionMs);
    void close(CommandId id);
    void record(CommandId id, const QString& path);
    // Completes a recording; called before the thread ends and at process exit.
    void finishRecording() { endRecording({}); }
    void shutdown();

    Phase phase() const { return m_phase; }

Q_SIGNALS:
    void stateChanged(Marlet::Audio::EngineState state);
    void opened(Marlet::Audio::CommandId id, const QString& path, qint64 durationMs);
    // `id` 0: a fault that no command caused.
    void failed(Marlet::Audio::CommandId id, const QString& message);
    // The length found by playing to the end, when it differs from what the file claimed.
    void durationFound(qint64 durationMs);
    void endOfMedia(Marlet::Audio::CommandId id);
    void recordingSaved(Marlet::Audio::CommandId id, const QString& path, qint64 durationMs);

private:
    // Transitions. Each sets the phase and reports the state it shows as.
    void becomeIdle();
    void becomeLoaded();
    void startPlaying();
    void holdPlayback();
    void reachEnd();
    void startRecording(std::unique_ptr<Recorder> recorder, CommandId id);
    void holdRecording();
    void resumeRecording();
    // Completes the recording, if any, and goes back to what was open before it. A
    // non-empty `cause` is the one fault to report (what happened, then what was saved);
    // otherwise a recording that could not be completed is reported.
    void endRecording(const QString& cause);
    // The playback device went away or stopped taking audio: playback ends, reported.
    void loseOutput(const QString& message);
    // Playback ends when the device has gone; true then.
    bool outputLost();
    void setPhase(Phase phase);

    void refuse(CommandId id, const QString& reason) { Q_EMIT failed(id, reason); }
    void fault(const QString& message) { Q_EMIT failed(0, message); }
    // A decoder for `path`; null, with the failure of `id` reported, when it cannot be
    // opened.
    std::unique_ptr<Decoder> openDecoder(CommandId id, const QString& path);
    // Makes `decoder` the open file, (re)opening the device in its format when needed.
    void adopt(CommandId id, std::unique_ptr<Decoder> decoder, const QString& path);
    // Waits, up to a deadline, until the device has played what it holds. False when it
    // did not get there in time or went away.
    bool drainOutput();
    void wake();
    void scheduleWake(qint64 ms, Qt::TimerType type = Qt::CoarseTimer);
    bool ensureSdl(CommandId id);
    void haltOutput();
    void rewind(qint64 ms);
    // Queues decoded audio until `targetFrames` wait in the device.
    void fill(qint64 targetFrames);
    void publishPosition(quint32 queuedFrames);
    void publishStill(qint64 positionMs);
    void wakeInTail();
    void pumpRecording();
    qint64 framesFor(qint64 ms) const;

    std::shared_ptr<EngineShared> m_shared;
    QTimer m_timer;
    std::optional<SdlAudioSystem> m_sdl;
    std::unique_ptr<Decoder> m_decoder; // the open file; kept aside while recording
    std::unique_ptr<SdlDevice> m_output;
    std::unique_ptr<Recorder> m_recorder;
    std::vector<float> m_chunk;
    Phase m_phase = Phase::Idle;
    EngineState m_reported = EngineState::NotOpen;
    CommandId m_playId = 0;    // the play() whose file plays, paused or ended
    CommandId m_recordId = 0;  // the record() that started the recording
    qint64 m_startFrame = 0;   // output frame where the queued audio began
    qint64 m_framesQueued = 0; // output frames queued since m_startFrame
    bool m_atEnd = false;      // read to the end; the next play starts over
    // The device still plays the queued tail of a file that has ended; a play() now
    // queues behind it. Cut by any command that silences the device.
    bool m_tail = false;
    bool m_firstSampleDue = false;
    qint64 m_durationMs = -1;
};

} // namespace Marlet::Audio
