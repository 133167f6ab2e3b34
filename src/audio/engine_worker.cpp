#include "engine_worker.h"

#include <QThread>

#include <QDir>

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
constexpr qint64 kRecordPumpMs = 200;
constexpr qint64 kChunkFrames = 4096;

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

void EngineWorker::setState(State state)
{
    const bool advancing = state == State::Playing || state == State::Recording;
    if (advancing && !m_shared->advancing)
        m_shared->positionSteadyNs = steadyNowNs(); // the clock runs again from here
    m_shared->advancing = advancing;
    if (state == m_state)
        return;
    m_state = state;
    Q_EMIT stateChanged(state);
}

bool EngineWorker::ensureSdl()
{
    if (!m_sdl)
        m_sdl.emplace();
    if (m_sdl->isUp())
        return true;
    const QString reason = m_sdl->error();
    m_sdl.reset(); // tried again on the next command
    Q_EMIT failed(QStringLiteral("No sound device is available (%1).").arg(reason));
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

void EngineWorker::publishPosition(quint32 queuedFrames)
{
    if (!m_output)
        return;
    const qint64 rate = m_output->spec().freq;
    const qint64 played = m_startFrame + m_framesQueued - qint64(queuedFrames);
    // Negative while the tail of the previous file still plays: the position stays 0 and
    // its clock starts when the first sample of this file is heard.
    m_shared->positionMs = qMax<qint64>(0, played) * 1000 / rate;
    m_shared->positionSteadyNs = steadyNowNs() + qMax<qint64>(0, -played) * 1'000'000'000 / rate;
}

void EngineWorker::rewind(qint64 ms)
{
    haltOutput();
    m_decoder->seek(ms);
    m_startFrame = framesFor(ms);
    m_framesQueued = 0;
    m_atEnd = false;
    publishPosition(0);
}

void EngineWorker::open(const QString& path)
{
    finishRecording();
    haltOutput();
    m_timer.stop();
    m_decoder.reset();

    if (auto decoder = openDecoder(path))
        adopt(std::move(decoder), path);
}

std::unique_ptr<Decoder> EngineWorker::openDecoder(const QString& path)
{
    QString error;
    auto decoder = Decoder::open(path, &error);
    if (!decoder) {
        setState(State::NotOpen);
        Q_EMIT failed(error);
    }
    return decoder;
}

void EngineWorker::adopt(std::unique_ptr<Decoder> decoder, const QString& path)
{
    QString error;
    if (!ensureSdl()) {
        setState(State::NotOpen);
        return;
    }
    const int rate = decoder->outputRate();
    const int channels = decoder->outputChannels();
    if (!m_output || m_output->requestedRate() != rate ||
        m_output->requestedChannels() != channels) {
        m_output.reset();
        m_output = SdlDevice::open(SdlDevice::Direction::Playback, rate, channels, &error);
        if (!m_output) {
            setState(State::NotOpen);
            Q_EMIT failed(error);
            return;
        }
        m_chunk.assign(size_t(kChunkFrames) * m_output->spec().channels, 0.0f);
    }
    decoder->setOutputFormat(m_output->spec().freq, m_output->spec().channels);
    m_decoder = std::move(decoder);
    rewind(0);
    m_durationMs = m_decoder->info().durationMs;
    setState(State::Stopped);
    Q_EMIT opened(path, m_durationMs);
}

void EngineWorker::openNext(const QString& path)
{
    if (!m_tail || m_recorder) {
        open(path);
        return;
    }
    // The device keeps playing the tail, and its tail-end wake stays due in case no
    // play() follows. The new file is converted to the device's format.
    m_decoder.reset();
    auto decoder = openDecoder(path);
    if (!decoder)
        return;
    // Joining the tail must cost no quality: a file with a higher rate or more channels
    // than the device plays gets the device reopened in its own format, once the tail has
    // been heard (at most the lead and one period, on this thread only).
    if (decoder->outputRate() > m_output->requestedRate() ||
        decoder->outputChannels() > m_output->requestedChannels()) {
        while (m_output->queuedFrames() > 0 && !m_output->isLost())
            QThread::msleep(5);
        QThread::msleep(quint32(m_output->periodMs()));
        m_tail = false;
        m_timer.stop();
        haltOutput();
        adopt(std::move(decoder), path);
        return;
    }
    decoder->setOutputFormat(m_output->spec().freq, m_output->spec().channels);
    m_decoder = std::move(decoder);
    m_startFrame = 0;
    m_framesQueued = 0;
    m_atEnd = false;
    m_shared->positionMs = 0;
    m_durationMs = m_decoder->info().durationMs;
    setState(State::Stopped);
    Q_EMIT opened(path, m_durationMs);
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

void EngineWorker::play()
{
    finishRecording();
    if (!m_decoder) {
        Q_EMIT failed(QStringLiteral("Nothing to play: no file is open."));
        return;
    }
    if (m_state == State::Playing)
        return;
    if (m_state == State::Paused) {
        resume();
        return;
    }
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
    m_output->setPaused(false);
    setState(State::Playing);
    publishPosition(m_output->queuedFrames());
    scheduleWake(0);
}

void EngineWorker::pause()
{
    if (m_state == State::Recording && m_recorder) {
        m_recorder->setPaused(true);
        m_recordingPaused = true;
        pumpRecording();
        setState(State::Paused);
        return;
    }
    if (m_tail) {
        haltOutput(); // a pause silences the tail of a file that has ended
        m_timer.stop();
    }
    if (m_state != State::Playing)
        return;
    m_output->setPaused(true);
    m_timer.stop();
    publishPosition(m_output->queuedFrames());
    setState(State::Paused);
}

void EngineWorker::resume()
{
    if (m_state != State::Paused)
        return;
    if (m_recorder && m_recordingPaused) {
        m_recorder->setPaused(false);
        m_recordingPaused = false;
        setState(State::Recording);
        scheduleWake(kRecordPumpMs);
        return;
    }
    m_output->setPaused(false);
    setState(State::Playing);
    scheduleWake(0);
}

void EngineWorker::stop()
{
    finishRecording();
    m_timer.stop();
    haltOutput(); // at once, the tail of an ended file too
    if (!m_decoder) {
        setState(State::NotOpen);
        return;
    }
    rewind(0);
    setState(State::Stopped);
}

void EngineWorker::seek(qint64 positionMs)
{
    finishRecording();
    if (!m_decoder)
        return;
    const State resumeAs = m_state;
    if (m_durationMs >= 0)
        positionMs = qMin(positionMs, m_durationMs);
    setState(State::Seeking);
    rewind(qMax<qint64>(0, positionMs));
    if (resumeAs == State::Playing) {
        fill(framesFor(kStartMs));
        m_output->setPaused(false);
        scheduleWake(0);
    }
    setState(resumeAs);
}

void EngineWorker::close()
{
    finishRecording();
    m_timer.stop();
    m_tail = false;
    m_output.reset();
    m_decoder.reset();
    m_shared->positionMs = 0;
    setState(State::NotOpen);
}

void EngineWorker::record(const QString& path)
{
    finishRecording();
    m_timer.stop();
    haltOutput();
    if (m_decoder)
        rewind(0);
    QString error;
    if (ensureSdl())
        m_recorder = Recorder::start(path, &error);
    if (!m_recorder) {
        setState(m_decoder ? State::Stopped : State::NotOpen);
        if (!error.isEmpty())
            Q_EMIT failed(error);
        return;
    }
    m_recordingPaused = false;
    m_shared->positionMs = 0;
    m_shared->positionSteadyNs = steadyNowNs();
    setState(State::Recording);
    scheduleWake(kRecordPumpMs);
}

void EngineWorker::finishRecording()
{
    if (!m_recorder)
        return;
    std::unique_ptr<Recorder> recorder = std::move(m_recorder);
    const bool complete = recorder->finish();
    const QString path = recorder->path();
    const qint64 ms = recorder->recordedMs();
    const QString error = recorder->error();
    recorder.reset();
    m_recordingPaused = false;
    setState(m_decoder ? State::Stopped : State::NotOpen);
    if (!complete) {
        Q_EMIT failed(QStringLiteral("The recording \"%1\" stopped early: %2. The first %3 s "
                                     "are saved.")
                          .arg(QDir::toNativeSeparators(path), error)
                          .arg(double(ms) / 1000.0, 0, 'f', 1));
    }
    Q_EMIT recordingSaved(path, ms);
}

void EngineWorker::pumpRecording()
{
    if (!m_recorder)
        return;
    if (m_recorder->deviceLost()) {
        finishRecording();
        Q_EMIT failed(QStringLiteral("The sound input device went away; the recording has "
                                     "stopped and what was recorded is saved."));
        return;
    }
    if (!m_recorder->pump()) {
        finishRecording();
        return;
    }
    m_shared->positionMs = m_recorder->recordedMs();
    m_shared->positionSteadyNs = steadyNowNs();
}

void EngineWorker::reachEnd()
{
    const quint32 waiting = m_output->queuedFrames();
    m_atEnd = true;
    m_tail = true;
    publishPosition(0); // the whole file, as it will be once the tail is heard
    // Containers often guess the length (MP3 counts encoder delay and padding); once
    // played through, the true length is known.
    if (m_startFrame == 0 && m_shared->positionMs != m_durationMs) {
        m_durationMs = m_shared->positionMs;
        Q_EMIT durationFound(m_durationMs);
    }
    setState(State::Stopped);
    scheduleWake(qint64(waiting) * 1000 / m_output->spec().freq + m_output->periodMs());
    Q_EMIT endOfMedia();
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
}

void EngineWorker::wake()
{
    if (m_state == State::Recording) {
        pumpRecording();
        if (m_recorder)
            scheduleWake(kRecordPumpMs);
        return;
    }
    if (m_tail && m_output) {
        wakeInTail();
        return;
    }
    if (m_state != State::Playing || !m_output)
        return;
    if (m_output->isLost()) {
        haltOutput();
        m_output.reset();
        m_decoder.reset();
        setState(State::NotOpen);
        Q_EMIT failed(QStringLiteral("The sound device went away; playback has stopped."));
        return;
    }
    if (!m_decoder->atEnd())
        fill(framesFor(kHighWaterMs));
    const quint32 waiting = m_output->queuedFrames();
    publishPosition(waiting);
    const qint64 waitingMs = qint64(waiting) * 1000 / m_output->spec().freq;
    if (!m_decoder->atEnd()) {
        scheduleWake(waitingMs - kLowWaterMs);
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
