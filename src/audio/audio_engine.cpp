#include "audio_engine.h"

#include "engine_worker.h"

#include <QDebug>
#include <QMutex>
#include <QMutexLocker>
#include <QSemaphore>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace Marlet::Audio {

namespace {

// How long ending the engine may wait for its thread: the device's drain and close, and
// the end of a recording, take well under a second when the system answers.
constexpr int stopDeadlineMs = 5000;

QMutex& liveEnginesMutex()
{
    static auto* mutex = new QMutex; // never destroyed: used by the exit handler
    return *mutex;
}

std::vector<AudioEngine*>& liveEngines()
{
    static auto* engines = new std::vector<AudioEngine*>; // never destroyed
    return *engines;
}

void finishAllAtExit()
{
    AudioEngine::finishAllRecordings();
}

} // namespace

AudioEngine::AudioEngine(QObject* parent)
    : QObject(parent), m_thread(std::make_unique<QThread>()),
      m_shared(std::make_shared<EngineShared>())
{
    m_thread->setObjectName(QStringLiteral("marlet-audio"));
    m_worker = new EngineWorker(m_shared);
    m_worker->moveToThread(m_thread.get());
    connect(m_thread.get(), &QThread::finished, m_worker, &QObject::deleteLater);

    connect(m_worker, &EngineWorker::stateChanged, this, &AudioEngine::setState);
    connect(m_worker, &EngineWorker::opened, this,
            [this](CommandId id, const QString& path, qint64 duration) {
                m_fileName = path;
                m_durationMs = duration;
                Q_EMIT opened(id, duration);
            });
    connect(m_worker, &EngineWorker::durationFound, this,
            [this](qint64 duration) { m_durationMs = duration; });
    connect(m_worker, &EngineWorker::failed, this, &AudioEngine::failed);
    connect(m_worker, &EngineWorker::endOfMedia, this, &AudioEngine::endOfMedia);
    connect(m_worker, &EngineWorker::recordingSaved, this, &AudioEngine::recordingSaved);
    m_thread->start();

    static const bool registered = [] { return std::atexit(finishAllAtExit) == 0; }();
    Q_UNUSED(registered);
    QMutexLocker lock(&liveEnginesMutex());
    liveEngines().push_back(this);
}

AudioEngine::~AudioEngine()
{
    {
        QMutexLocker lock(&liveEnginesMutex());
        auto& engines = liveEngines();
        engines.erase(std::remove(engines.begin(), engines.end(), this), engines.end());
    }
    const bool stopped = runOnWorker(&EngineWorker::shutdown, stopDeadlineMs);
    m_thread->quit();
    if (!stopped || !m_thread->wait(QDeadlineTimer(stopDeadlineMs))) {
        qWarning("marlet: the sound thread does not answer; it is left behind");
        (void)m_thread.release();
    }
}

bool AudioEngine::runOnWorker(void (EngineWorker::*call)(), int deadlineMs)
{
    // Shared: the call may still run after this gave up waiting.
    const auto done = std::make_shared<QSemaphore>();
    QMetaObject::invokeMethod(
        m_worker,
        [worker = m_worker, call, done] {
            (worker->*call)();
            done->release();
        },
        Qt::QueuedConnection);
    return done->tryAcquire(1, deadlineMs);
}

void AudioEngine::finishAllRecordings()
{
    QMutexLocker lock(&liveEnginesMutex());
    for (AudioEngine* engine : liveEngines())
        engine->finishRecordingNow();
}

void AudioEngine::finishRecordingNow()
{
    if (QThread::currentThread() == m_thread.get() || !m_thread->isRunning())
        return;
    runOnWorker(&EngineWorker::finishRecording, stopDeadlineMs);
}

void AudioEngine::setState(State state)
{
    if (state == m_state)
        return;
    m_state = state;
    if (state == State::NotOpen) {
        m_fileName.clear();
        m_durationMs = -1;
    }
    Q_EMIT stateChanged(state);
}

template <typename Command>
CommandId AudioEngine::send(Command command)
{
    const CommandId id = ++m_lastId;
    QMetaObject::invokeMethod(m_worker, [w = m_worker, id, command] { command(w, id); });
    return id;
}

CommandId AudioEngine::open(const QString& path)
{
    return send([path](EngineWorker* w, CommandId id) { w->open(id, path); });
}

CommandId AudioEngine::openNext(const QString& path)
{
    return send([path](EngineWorker* w, CommandId id) { w->openNext(id, path); });
}

CommandId AudioEngine::play()
{
    return send([](EngineWorker* w, CommandId id) { w->play(id); });
}

CommandId AudioEngine::pause()
{
    return send([](EngineWorker* w, CommandId id) { w->pause(id); });
}

CommandId AudioEngine::resume()
{
    return send([](EngineWorker* w, CommandId id) { w->resume(id); });
}

CommandId AudioEngine::stop()
{
    return send([](EngineWorker* w, CommandId id) { w->stop(id); });
}

CommandId AudioEngine::seek(qint64 positionMs)
{
    return send([positionMs](EngineWorker* w, CommandId id) { w->seek(id, positionMs); });
}

CommandId AudioEngine::close()
{
    return send([](EngineWorker* w, CommandId id) { w->close(id); });
}

CommandId AudioEngine::record(const QString& path)
{
    return send([path](EngineWorker* w, CommandId id) { w->record(id, path); });
}

qint64 AudioEngine::positionMs() const
{
    const PositionSnapshot snapshot = m_shared->position();
    qint64 position = snapshot.positionMs;
    if (snapshot.advancing) {
        // Between the engine's updates the position moves with the clock.
        const qint64 sinceNs = steadyNowNs() - snapshot.steadyNs;
        position += std::clamp<qint64>(sinceNs / 1'000'000, 0, 1000);
    }
    if (m_durationMs >= 0 && m_state != State::Recording)
        position = std::min(position, m_durationMs);
    return position;
}

qint64 AudioEngine::firstSampleSteadyNs() const
{
    return m_shared->firstSampleSteadyNs;
}

} // namespace Marlet::Audio
