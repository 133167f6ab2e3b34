#pragma once

#include "audio_engine.h"
#include "decoder.h"
#include "recorder.h"
#include "sdl_device.h"

#include <QTimer>

#include <atomic>
#include <optional>
#include <vector>

namespace Marlet::Audio {

// Figures the engine thread publishes for the owner's thread to read at any time.
struct EngineShared
{
    std::atomic<qint64> positionMs{0};
    std::atomic<qint64> positionSteadyNs{0}; // when positionMs was true
    std::atomic<bool> advancing{false};      // position moves with the clock
    std::atomic<qint64> firstSampleSteadyNs{0};
};

qint64 steadyNowNs();

// The engine's working half. Lives on the engine thread; every method runs there.
class EngineWorker final : public QObject
{
    Q_OBJECT

public:
    explicit EngineWorker(std::shared_ptr<EngineShared> shared);
    ~EngineWorker() override;

    void open(const QString& path);
    void openNext(const QString& path);
    void play();
    void pause();
    void resume();
    void stop();
    void seek(qint64 positionMs);
    void close();
    void record(const QString& path);
    // Completes a recording; called before the thread ends and at process exit.
    void finishRecording();
    void shutdown();

Q_SIGNALS:
    void stateChanged(Marlet::Audio::EngineState state);
    void opened(const QString& path, qint64 durationMs);
    void failed(const QString& message);
    // The length found by playing to the end, when it differs from what the file claimed.
    void durationFound(qint64 durationMs);
    void endOfMedia();
    void recordingSaved(const QString& path, qint64 durationMs);

private:
    using State = AudioEngine::State;

    void setState(State state);
    // A decoder for `path`; null, with the state NotOpen and the failure reported, when
    // it cannot be opened.
    std::unique_ptr<Decoder> openDecoder(const QString& path);
    // Makes `decoder` the open file, (re)opening the device in its format when needed.
    void adopt(std::unique_ptr<Decoder> decoder, const QString& path);
    void wake();
    void scheduleWake(qint64 ms, Qt::TimerType type = Qt::CoarseTimer);
    bool ensureSdl();
    void haltOutput();
    void rewind(qint64 ms);
    // Queues decoded audio until `targetFrames` wait in the device.
    void fill(qint64 targetFrames);
    void publishPosition(quint32 queuedFrames);
    void reachEnd();
    void wakeInTail();
    void pumpRecording();
    qint64 framesFor(qint64 ms) const;

    std::shared_ptr<EngineShared> m_shared;
    QTimer m_timer;
    std::optional<SdlAudioSystem> m_sdl;
    std::unique_ptr<Decoder> m_decoder;
    std::unique_ptr<SdlDevice> m_output;
    std::unique_ptr<Recorder> m_recorder;
    std::vector<float> m_chunk;
    State m_state = State::NotOpen;
    qint64 m_startFrame = 0;   // output frame where the queued audio began
    qint64 m_framesQueued = 0; // output frames queued since m_startFrame
    bool m_atEnd = false;      // played to the end; the next play starts over
    // The end was reported and the device still plays the queued tail of the file; a
    // play() now queues behind it.
    bool m_tail = false;
    bool m_firstSampleDue = false;
    bool m_recordingPaused = false;
    qint64 m_durationMs = -1;
};

} // namespace Marlet::Audio
