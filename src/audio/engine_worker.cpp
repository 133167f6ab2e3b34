#include "engine_worker.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QThread>

#include <algorithm>
#include <chrono>

namespace Marlet::Audio {

namespace {

// Audio kept waiting in the device, in ms: filled up to the high mark whenever it
// drops to the low mark, so the engine wakes about once a second while playing.
constexpr qint64 kHighWaterMs = 2000;
constexpr qint64 kLowWaterMs = 1000;
// Audio queued before the device starts, in ms: enough to ride out a late first wake on a
// busy machine, while decoding it takes only a few ms, so sound still starts at once.
constexpr qint64 kStartMs = 250;
// The end is reported while this much audio beyond the period in flight waits in the
// device, in ms: time for the next file to open and queue before the queue runs dry.
constexpr qint64 kNextLeadMs = 250;
// A device that has not played what it holds this long after it should have, in ms, is
// taken as lost: a stalled sound server must not hold the engine thread.
constexpr qint64 kDrainGraceMs = 1000;
constexpr qint64 kRecordPumpMs = 200;
constexpr qint64 kChunkFrames = 4096;

EngineState shownAs(EngineWorker::Phase phase)
{
    using Phase = EngineWorker::Phase;
    switch (phase) {
    case Phase::Idle:
        return EngineState::NotOpen;
    case Phase::Loaded:
    case Phase::Ended:
        return EngineState::Stopped;
    case Phase::Playing:
        return EngineState::Playing;
    case Phase::Paused:
    case Phase::RecordingPaused:
        return EngineState::Paused;
    case Phase::Recording:
        return EngineState::Recording;
    }
    return EngineState::NotOpen;
}

QString clockText(qint64 ms)
{
    const qint64 s = ms / 1000;
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

qint64 steadyNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

EngineWorker::EngineWorker(std::shared_ptr<EngineShared> shared)
    : m_shared(std::move(shared)), m_timer(this)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::CoarseTimer);
    connect(&m_timer, &QTimer::timeout, this, &EngineWorker::wake);
}

EngineWorker::~EngineWorker()
{
    shutdown();
}

void EngineWorker::shutdown()
{
    finishRecording();
    m_timer.stop();
    m_output.reset();
    m_decoder.reset();
    m_sdl.reset();
}

// Transitions

void EngineWorker::setPhase(Phase phase)
{
    m_phase = phase;
    const EngineState state = shownAs(phase);
    if (state == m_reported)
        return;
    m_reported = state;
    Q_EMIT stateChanged(state);
}

void EngineWorker::becomeIdle()
{
    m_decoder.reset();
    m_playId = 0;
    m_atEnd = false;
    publishStill(0);
    setPhase(Phase::Idle);
}

void EngineWorker::becomeLoaded()
{
    setPhase(Phase::Loaded);
}

void EngineWorker::startPlaying()
{
    m_output->setPaused(false);
    setPhase(Phase::Playing);
    publishPosition(m_output->queuedFrames());
    scheduleWake(0);
}

void EngineWorker::holdPlayback()
{
    m_output->setPaused(true);
    m_timer.stop();
    publishPosition(m_output->queuedFrames());
    m_shared->setPosition({m_shared->position().positionMs, steadyNowNs(), false});
    setPhase(Phase::Paused);
}

void EngineWorker::reachEnd()
{
    const quint32 waiting = m_output->queuedFrames();
    m_atEnd = true;
    m_tail = true;
    publishPosition(0); // the whole file, as it will be once the tail is heard
    const qint64 endMs = m_shared->position().positionMs;
    publishStill(endMs);
    // Containers often guess the length (MP3 counts encoder delay and padding); once
    // played through, the true length is known.
    if (m_startFrame == 0 && endMs != m_durationMs) {
        m_durationMs = endMs;
        Q_EMIT durationFound(m_durationMs);
    }
    setPhase(Phase::Ended);
    scheduleWake(qint64(waiting) * 1000 / m_output->spec().freq + m_output->periodMs());
    Q_EMIT endOfMedia(m_playId);
}

void EngineWorker::startRecording(std::unique_ptr<Recorder> recorder, CommandId id)
{
    m_recorder = std::move(recorder);
    m_recordId = id;
    m_shared->setPosition({0, steadyNowNs(), true});
    setPhase(Phase::Recording);
    scheduleWake(kRecordPumpMs);
}

void EngineWorker::holdRecording()
{
    m_recorder->setPaused(true);
    // What was captured up to the pause goes to the file now; if that fails or the input
    // has gone, the recording ends here instead of pausing.
    pumpRecording();
    if (!m_recorder)
        return;
    m_timer.stop();
    m_shared->setPosition({m_recorder->recordedMs(), steadyNowNs(), false});
    setPhase(Phase::RecordingPaused);
}

void EngineWorker::resumeRecording()
{
    m_recorder->setPaused(false);
    m_shared->setPosition({m_recorder->recordedMs(), steadyNowNs(), true});
    setPhase(Phase::Recording);
    scheduleWake(kRecordPumpMs);
}

void EngineWorker::endRecording(const QString& cause)
{
    if (!m_recorder)
        return;
    std::unique_ptr<Recorder> recorder = std::move(m_recorder);
    const CommandId id = std::exchange(m_recordId, 0);
    const bool complete = recorder->finish();
    const QString path = recorder->savedPath(); // empty when the file was deleted
    const qint64 ms = recorder->recordedMs();
    QString error = recorder->error();
    const bool moved = recorder->path() != path;
    recorder.reset();
    m_timer.stop();
    publishStill(0);
    if (m_decoder)
        becomeLoaded();
    else
        becomeIdle();
    const QString seconds = QString::number(double(ms) / 1000.0, 'f', 1);
    const QString shown = QDir::toNativeSeparators(path);
    QString saved = QStringLiteral("The first %1 s of \"%2\" are saved.").arg(seconds, shown);
    if (path.isEmpty())
        saved = QStringLiteral("The recording is lost.");
    else if (moved)
        saved = QStringLiteral("The first %1 s are saved in \"%2\".").arg(seconds, shown);
    if (!cause.isEmpty()) {
        fault(QStringLiteral("%1 %2").arg(cause, saved));
    } else if (!complete) {
        if (error.isEmpty())
            error = QStringLiteral("the file could not be completed");
        fault(QStringLiteral("The recording could not be completed: %1. %2").arg(error, saved));
    }
    Q_EMIT recordingSaved(id, path, ms);
}

void EngineWorker::loseOutput(const QString& message)
{
    haltOutput();
    m_output.reset();
    becomeIdle();
    fault(message);
}

bool EngineWorker::outputLost()
{
    if (!m_output->isLost())
        return false;
    loseOutput(QStringLiteral("The sound output \"%1\" went away; playback has stopped.")
                   .arg(m_output->name()));
    return true;
}

// Commands

void EngineWorker::open(CommandId id, const QString& path)
{
    finishRecording();
    haltOutput();
    m_timer.stop();
    m_decoder.reset();
    if (auto decoder = openDecoder(id, path))
        adopt(id, std::move(decoder), path);
}

void EngineWorker::openNext(CommandId id, const QString& path)
{
    if (!m_tail) {
        open(id, path);
        return;
    }
    // The device keeps playing the tail, and its tail-end wake stays due in case no
    // play() follows. The new file is converted to the device's format.
    auto decoder = openDecoder(id, path);
    if (!decoder)
        return;
    // Joining the tail must cost no quality: a file with a higher rate or more channels
    // than the device plays gets the device reopened in its own format, once the tail has
    // been heard (at most the lead and one period, on this thread only).
    if (decoder->outputRate() > m_output->requestedRate() ||
        decoder->outputChannels() > m_output->requestedChannels()) {
        m_timer.stop();
        if (!drainOutput()) {
            loseOutput(QStringLiteral("The sound output \"%1\" stopped playing; playback has "
                                      "stopped.")
                           .arg(m_output->name()));
            refuse(id, QStringLiteral("Cannot open \"%1\": the sound device stopped playing.")
                           .arg(QDir::toNativeSeparators(path)));
            return;
        }
        haltOutput();
        adopt(id, std::move(decoder), path);
        return;
    }
    decoder->setOutputFormat(m_output->spec().freq, m_output->spec().channels);
    m_decoder = std::move(decoder);
    m_startFrame = 0;
    m_framesQueued = 0;
    m_atEnd = false;
    m_durationMs = m_decoder->info().durationMs;
    publishStill(0);
    setPhase(Phase::Loaded); // m_tail stays: a play() now queues behind it
    Q_EMIT opened(id, path, m_durationMs);
}

void EngineWorker::play(CommandId id)
{
    if (m_phase == Phase::Recording || m_phase == Phase::RecordingPaused)
        finishRecording();
    switch (m_phase) {
    case Phase::Idle:
        refuse(id, QStringLiteral("Nothing to play: no file is open."));
        return;
    case Phase::Playing:
        return;
    case Phase::Paused:
        m_playId = id;
        startPlaying();
        return;
    case Phase::Loaded:
    case Phase::Ended:
        break;
    case Phase::Recording:
    case Phase::RecordingPaused:
        return; // not reached: the recording has ended above
    }
    m_playId = id;
    qint64 waiting = 0;
    if (m_tail) {
        // Queued behind the tail without a break; the position counts from the first
        // sample of this play.
        m_tail = false;
        if (m_atEnd)
            m_decoder->seek(0);
        m_startFrame = 0;
        m_framesQueued = 0;
        m_atEnd = false;
        waiting = m_output->queuedFrames();
    } else if (m_atEnd) {
        rewind(0);
    }
    m_shared->firstSampleSteadyNs = 0;
    m_firstSampleDue = true;
    fill(waiting + framesFor(kStartMs));
    startPlaying();
}

void EngineWorker::pause(CommandId /*id*/)
{
    switch (m_phase) {
    case Phase::Playing:
        holdPlayback();
        return;
    case Phase::Recording:
        holdRecording();
        return;
    case Phase::Ended:
        haltOutput(); // a pause silences the tail of a file that has ended
        m_timer.stop();
        becomeLoaded();
        return;
    case Phase::Idle:
    case Phase::Loaded:
    case Phase::Paused:
    case Phase::RecordingPaused:
        return; // nothing runs: nothing to pause
    }
}

void EngineWorker::resume(CommandId id)
{
    switch (m_phase) {
    case Phase::Paused:
        startPlaying();
        return;
    case Phase::RecordingPaused:
        resumeRecording();
        return;
    case Phase::Idle:
    case Phase::Loaded:
    case Phase::Playing:
    case Phase::Ended:
    case Phase::Recording:
        refuse(id, QStringLiteral("Nothing is paused."));
        return;
    }
}

void EngineWorker::stop(CommandId /*id*/)
{
    finishRecording();
    m_timer.stop();
    haltOutput(); // at once, the tail of an ended file too
    if (!m_decoder) {
        becomeIdle();
        return;
    }
    rewind(0);
    becomeLoaded();
}

void EngineWorker::seek(CommandId /*id*/, qint64 positionMs)
{
    finishRecording();
    if (m_phase == Phase::Idle)
        return;
    const bool playing = m_phase == Phase::Playing;
    if (m_durationMs >= 0)
        positionMs = qMin(positionMs, m_durationMs);
    Q_EMIT stateChanged(EngineState::Seeking);
    m_reported = EngineState::Seeking;
    m_timer.stop();
    rewind(qMax<qint64>(0, positionMs));
    if (playing) {
        fill(framesFor(kStartMs));
        startPlaying();
    } else {
        // A paused or ended file stays still at the new place.
        setPhase(m_phase == Phase::Ended ? Phase::Loaded : m_phase);
    }
}

void EngineWorker::close(CommandId /*id*/)
{
    finishRecording();
    m_timer.stop();
    m_tail = false;
    m_output.reset();
    becomeIdle();
}

void EngineWorker::record(CommandId id, const QString& path)
{
    finishRecording();
    m_timer.stop();
    haltOutput();
    if (m_decoder) {
        rewind(0);
        becomeLoaded();
    }
    if (!ensureSdl(id))
        return;
    QString error;
    std::unique_ptr<Recorder> recorder = Recorder::start(path, &error);
    if (!recorder) {
        refuse(
            id,
            error.isEmpty()
                ? QStringLiteral("Cannot record into \"%1\".").arg(QDir::toNativeSeparators(path))
                : error);
        return;
    }
    startRecording(std::move(recorder), id);
}

// Devices and decoding

bool EngineWorker::ensureSdl(CommandId id)
{
    if (!m_sdl)
        m_sdl.emplace();
    if (m_sdl->isUp())
        return true;
    const QString reason = m_sdl->error();
    m_sdl.reset(); // tried again on the next command
    refuse(id, QStringLiteral("No sound device is available (%1).").arg(reason));
    return false;
}

qint64 EngineWorker::framesFor(qint64 ms) const
{
    return m_output ? ms * m_output->spec().freq / 1000 : 0;
}

void EngineWorker::scheduleWake(qint64 ms, Qt::TimerType type)
{
    m_timer.setTimerType(type);
    m_timer.start(int(std::clamp<qint64>(ms, 0, 60000)));
}

void EngineWorker::haltOutput()
{
    m_tail = false;
    if (!m_output)
        return;
    m_output->setPaused(true);
    m_output->clearQueue();
}

bool EngineWorker::drainOutput()
{
    const qint64 heldMs = qint64(m_output->queuedFrames()) * 1000 / m_output->spec().freq;
    QDeadlineTimer deadline(heldMs + m_output->periodMs() + kDrainGraceMs);
    while (m_output->queuedFrames() > 0) {
        if (m_output->isLost() || deadline.hasExpired())
            return false;
        QThread::msleep(5);
    }
    // The last period handed over is still being heard.
    QThread::msleep(quint32(m_output->periodMs()));
    return !m_output->isLost();
}

void EngineWorker::publishPosition(quint32 queuedFrames)
{
    if (!m_output)
        return;
    const qint64 rate = m_output->spec().freq;
    const qint64 played = m_startFrame + m_framesQueued - qint64(queuedFrames);
    // Negative while the tail of the previous file still plays: the position stays 0 and
    // its clock starts when the first sample of this file is heard.
    m_shared->setPosition({qMax<qint64>(0, played) * 1000 / rate,
                           steadyNowNs() + qMax<qint64>(0, -played) * 1'000'000'000 / rate,
                           m_phase == Phase::Playing});
}

void EngineWorker::publishStill(qint64 positionMs)
{
    m_shared->setPosition({positionMs, steadyNowNs(), false});
}

void EngineWorker::rewind(qint64 ms)
{
    haltOutput();
    m_decoder->seek(ms);
    m_startFrame = framesFor(ms);
    m_framesQueued = 0;
    m_atEnd = false;
    publishStill(ms);
}

std::unique_ptr<Decoder> EngineWorker::openDecoder(CommandId id, const QString& path)
{
    QString error;
    auto decoder = Decoder::open(path, &error);
    if (!decoder) {
        // A tail still playing plays on: the file after this one may yet join it.
        becomeIdle();
        refuse(id, error);
    }
    return decoder;
}

void EngineWorker::adopt(CommandId id, std::unique_ptr<Decoder> decoder, const QString& path)
{
    if (!ensureSdl(id)) {
        becomeIdle();
        return;
    }
    const int rate = decoder->outputRate();
    const int channels = decoder->outputChannels();
    // A device that went away while nothing played is replaced without a word.
    if (!m_output || m_output->isLost() || m_output->requestedRate() != rate ||
        m_output->requestedChannels() != channels) {
        m_output.reset();
        QString error;
        m_output = SdlDevice::open(SdlDevice::Direction::Playback, rate, channels, &error);
        if (!m_output) {
            becomeIdle();
            refuse(id, error);
            return;
        }
        m_chunk.assign(size_t(kChunkFrames) * m_output->spec().channels, 0.0f);
    }
    decoder->setOutputFormat(m_output->spec().freq, m_output->spec().channels);
    m_decoder = std::move(decoder);
    rewind(0);
    m_durationMs = m_decoder->info().durationMs;
    setPhase(Phase::Loaded);
    Q_EMIT opened(id, path, m_durationMs);
}

void EngineWorker::fill(qint64 targetFrames)
{
    qint64 waiting = m_output->queuedFrames();
    while (waiting < targetFrames) {
        const qint64 frames = m_decoder->read(m_chunk.data(), kChunkFrames);
        if (frames <= 0)
            break;
        const quint32 bytes = quint32(frames * m_output->bytesPerFrame());
        if (!m_output->queue(m_chunk.data(), bytes))
            break;
        if (m_firstSampleDue) {
            m_firstSampleDue = false;
            m_shared->firstSampleSteadyNs = steadyNowNs();
        }
        m_framesQueued += frames;
        waiting += frames;
    }
}

void EngineWorker::pumpRecording()
{
    if (m_recorder->deviceLost()) {
        endRecording(QStringLiteral("The sound input \"%1\" went away; the recording has "
                                    "stopped.")
                         .arg(m_recorder->deviceName()));
        return;
    }
    if (!m_recorder->pump()) {
        QString error = m_recorder->error();
        if (error.isEmpty())
            error = QStringLiteral("the file could not be written");
        endRecording(QStringLiteral("The recording stopped early: %1.").arg(error));
        return;
    }
    m_shared->setPosition({m_recorder->recordedMs(), steadyNowNs(), m_phase == Phase::Recording});
}

// Nothing followed the end: once the device has played the tail, it is paused.
void EngineWorker::wakeInTail()
{
    const qint64 waitingMs = qint64(m_output->queuedFrames()) * 1000 / m_output->spec().freq;
    if (waitingMs > 0) {
        scheduleWake(waitingMs + m_output->periodMs());
        return;
    }
    m_tail = false;
    m_output->setPaused(true);
    if (m_phase == Phase::Ended)
        setPhase(Phase::Loaded);
}

void EngineWorker::wake()
{
    if (m_phase == Phase::Recording) {
        pumpRecording();
        if (m_recorder)
            scheduleWake(kRecordPumpMs);
        return;
    }
    if (m_tail && m_output) {
        wakeInTail();
        return;
    }
    if (m_phase != Phase::Playing || outputLost())
        return;
    if (!m_decoder->atEnd())
        fill(framesFor(kHighWaterMs));
    const quint32 waiting = m_output->queuedFrames();
    publishPosition(waiting);
    const qint64 waitingMs = qint64(waiting) * 1000 / m_output->spec().freq;
    if (!m_decoder->atEnd()) {
        scheduleWake(waitingMs - kLowWaterMs);
        return;
    }
    if (!m_decoder->readError().isEmpty()) {
        // Not an end: what was read plays out, and the failure is told with the place
        // where reading stopped.
        const qint64 reachedMs = (m_startFrame + m_framesQueued) * 1000 / m_output->spec().freq;
        m_atEnd = true;
        m_tail = true;
        publishStill(qMax<qint64>(0, m_startFrame + m_framesQueued - waiting) * 1000 /
                     m_output->spec().freq);
        setPhase(Phase::Loaded);
        scheduleWake(waitingMs + m_output->periodMs());
        fault(QStringLiteral("Cannot go on playing \"%1\": it cannot be read past %2 (%3).")
                  .arg(QDir::toNativeSeparators(m_decoder->name()), clockText(reachedMs),
                       m_decoder->readError()));
        return;
    }
    // All of the file is queued. The end is reported while enough still waits for the
    // next file to be queued behind it before the device runs short.
    const qint64 leadMs = m_output->periodMs() + kNextLeadMs;
    if (waitingMs > leadMs) {
        scheduleWake(waitingMs - leadMs, Qt::PreciseTimer);
        return;
    }
    reachEnd();
}

} // namespace Marlet::Audio
