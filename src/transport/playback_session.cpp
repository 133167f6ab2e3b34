#include "transport/playback_session.h"

#include "files/file_names.h"
#include "forms/runtime_error.h"

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>

namespace Marlet::Transport {

using Audio::CommandId;
using Audio::EngineState;
using Forms::HandlerPolicy;
using Forms::RuntimeError;

namespace {

// Answers come within a few commands; one this far behind the newest is forgotten.
constexpr CommandId kForgetAfter = 256;

} // namespace

bool sameFile(const QString& a, const QString& b)
{
    if (a.isEmpty() || b.isEmpty())
        return false;
    const QFileInfo infoA(a);
    const QFileInfo infoB(b);
    if (infoA.exists() && infoB.exists())
        return infoA.canonicalFilePath() == infoB.canonicalFilePath();
    return infoA.absoluteFilePath() == infoB.absoluteFilePath();
}

PlaybackSession::PlaybackSession(EngineFactory factory) : m_factory(std::move(factory)) {}

PlaybackSession::~PlaybackSession()
{
    // Before anything it may report to goes; completes a recording in progress.
    m_engine.reset();
}

// Commands

Audio::Engine* PlaybackSession::engine()
{
    if (m_engine)
        return m_engine.get();
    if (m_engineFailed)
        throw RuntimeError(QStringLiteral("There is no sound: the sound engine could not be "
                                          "loaded."));
    QString error;
    m_engine = m_factory ? m_factory(this, &error) : nullptr;
    if (m_engine)
        return m_engine.get();
    m_engineFailed = true;
    const QString message =
        error.isEmpty() ? QStringLiteral("The sound engine cannot be loaded.") : error;
    // Told once, whichever handler needed it first: a reporting handler reports what it
    // catches; under any other the report is made here.
    const Forms::HandlerContext origin = Forms::currentHandler();
    if (origin.policy != HandlerPolicy::Reporting)
        fail({message, true, origin.handler});
    throw RuntimeError(message);
}

CommandId PlaybackSession::sent(CommandId id, Kind kind, const QString& file)
{
    if (id > kForgetAfter)
        m_pending.erase(m_pending.begin(), m_pending.lower_bound(id - kForgetAfter));
    Pending& pending = m_pending[id];
    pending.kind = kind;
    pending.file = file;
    pending.origin = Forms::currentHandler();
    pending.advance = m_advancing;
    pending.advanceFrom = m_advancing ? m_advanceFrom : QString();
    return id;
}

PlaybackSession::Pending* PlaybackSession::newestOpen()
{
    for (auto it = m_pending.rbegin(); it != m_pending.rend(); ++it) {
        if (it->second.kind == Kind::Open)
            return &it->second;
    }
    return nullptr;
}

void PlaybackSession::noteNoLongerReady()
{
    if (Pending* open = newestOpen())
        open->readyAfter = false;
}

void PlaybackSession::open(const QString& fileName)
{
    releaseHeldStop();
    openNamed(fileName, QStringLiteral("open"), false);
}

void PlaybackSession::openNamed(const QString& fileName, const QString& verb, bool next)
{
    if (next)
        m_advanceFailedOn = fileName; // until it is sent
    const QFileInfo info(fileName);
    const QString name = QDir::toNativeSeparators(Files::displayName(fileName));
    const Files::Kind kind = Files::kindOf(fileName);
    if (kind == Files::Kind::Missing) {
        throw RuntimeError(
            QStringLiteral("Cannot %1 \"%2\": the file does not exist.").arg(verb, name));
    }
    if (kind == Files::Kind::Folder) {
        throw RuntimeError(
            QStringLiteral("Cannot %1 \"%2\": it is a folder, not a file.").arg(verb, name));
    }
    Audio::Engine* device = engine();
    m_advanceFailedOn.clear();
    m_openFile = info.absoluteFilePath();
    sent(next ? device->openNext(m_openFile) : device->open(m_openFile), Kind::Open, m_openFile);
}

void PlaybackSession::play(const QString& fileName)
{
    if (!fileName.isEmpty() && !sameFile(fileName, m_openFile))
        openNamed(fileName, QStringLiteral("play"), m_advancing); // joins a tail
    else if (m_openFile.isEmpty() && !m_hasFile)
        throw RuntimeError(QStringLiteral("Cannot play: no file was named."));
    m_stopHeld = false; // after the end, play starts over anyway
    const CommandId id = sent(engine()->play(), Kind::Play, m_openFile);
    if (Pending* open = newestOpen()) {
        open->playAfter = id;
        open->readyAfter = false;
    }
}

void PlaybackSession::pauseOrResume()
{
    releaseHeldStop();
    if (!m_engine)
        return;
    sent(m_state == EngineState::Paused ? m_engine->resume() : m_engine->pause(), Kind::Other);
}

void PlaybackSession::stop()
{
    if (!m_engine)
        return;
    if (m_advancing && (m_state == EngineState::Stopped || m_state == EngineState::NotOpen))
        m_stopHeld = true;
    else
        sent(m_engine->stop(), Kind::Other);
    // Stopping a file that was only opened changes no engine state: only the mode.
    m_ready = false;
    noteNoLongerReady();
    announce();
}

// The engine ignores a seek with no file open; a seek would end a recording.
void PlaybackSession::seekTo(qint64 positionMs)
{
    releaseHeldStop();
    if (m_engine && !m_recording)
        sent(m_engine->seek(qMax<qint64>(0, positionMs)), Kind::Other);
}

void PlaybackSession::seekBy(qint64 deltaMs)
{
    if (!m_engine || m_recording)
        return;
    qint64 target = m_engine->positionMs() + deltaMs;
    const qint64 duration = m_engine->durationMs();
    if (duration >= 0)
        target = qMin(target, duration);
    seekTo(target);
}

void PlaybackSession::close()
{
    releaseHeldStop();
    if (!m_engine)
        return;
    sent(m_engine->close(), Kind::Other);
    m_openFile.clear();
    m_ready = false;
}

void PlaybackSession::record(const QString& fileName)
{
    releaseHeldStop();
    if (fileName.isEmpty())
        throw RuntimeError(QStringLiteral("Cannot record: no file was named."));
    const QFileInfo info(fileName);
    if (info.isDir()) {
        throw RuntimeError(QStringLiteral("Cannot record into \"%1\": it is a folder, not a file.")
                               .arg(QDir::toNativeSeparators(fileName)));
    }
    const QString path = info.absoluteFilePath();
    sent(engine()->record(path), Kind::Record, path);
    noteNoLongerReady();
}

void PlaybackSession::releaseHeldStop()
{
    if (!m_stopHeld)
        return;
    m_stopHeld = false;
    if (m_engine)
        sent(m_engine->stop(), Kind::Other);
}

// What the engine says

int PlaybackSession::mode() const
{
    switch (m_state) {
    case EngineState::NotOpen:
        return ModeNotOpen;
    case EngineState::Stopped:
        return m_ready ? ModeReady : ModeStopped;
    case EngineState::Playing:
        return ModePlaying;
    case EngineState::Recording:
        return ModeRecording;
    case EngineState::Seeking:
        return ModeSeeking;
    case EngineState::Paused:
        return ModePaused;
    }
    return ModeNotOpen;
}

bool PlaybackSession::isBusy() const
{
    switch (m_state) {
    case EngineState::Playing:
    case EngineState::Paused:
    case EngineState::Recording:
    case EngineState::Seeking:
        return true;
    case EngineState::NotOpen:
    case EngineState::Stopped:
        break;
    }
    return false;
}

qint64 PlaybackSession::position() const
{
    if (!m_engine || (!m_hasFile && !m_recording))
        return 0;
    return qMax<qint64>(0, m_engine->positionMs());
}

qint64 PlaybackSession::length() const
{
    if (!m_engine || !m_hasFile)
        return 0;
    return qMax<qint64>(0, m_engine->durationMs());
}

void PlaybackSession::announce()
{
    if (m_events.modeMayHaveChanged)
        m_events.modeMayHaveChanged();
}

void PlaybackSession::fail(const SessionFailure& failure)
{
    if (m_events.failed)
        m_events.failed(failure);
}

void PlaybackSession::advanceFrom(const QString& file)
{
    const bool outer = std::exchange(m_advancing, true);
    const auto done = qScopeGuard([this, outer] {
        m_advancing = outer;
        if (!outer)
            releaseHeldStop(); // no "PLAY" came: the stop applies, and cuts the tail
    });
    if (!m_events.ended)
        return;
    const QString outerFrom = std::exchange(m_advanceFrom, file);
    m_events.ended(file);
    // An advance to a file that could not even be sent goes on past it too, as long as
    // it moves on (an owner that names the same file again is not asked for ever).
    while (!m_advanceFailedOn.isEmpty() && !sameFile(m_advanceFailedOn, m_advanceFrom) &&
           m_advanceFailedOn != m_advanceFrom) {
        m_advanceFrom = std::exchange(m_advanceFailedOn, QString());
        m_events.ended(m_advanceFrom);
    }
    m_advanceFailedOn.clear();
    m_advanceFrom = outerFrom;
}

void PlaybackSession::engineStateChanged(EngineState state)
{
    m_state = state;
    const Pending* opening = nullptr;
    for (const auto& [id, pending] : m_pending) {
        if (pending.kind == Kind::Open) {
            opening = &pending;
            break;
        }
    }
    switch (state) {
    case EngineState::NotOpen:
        m_hasFile = false;
        m_recording = false;
        m_ready = false;
        if (!opening)
            m_openFile.clear();
        break;
    case EngineState::Stopped:
        m_recording = false;
        if (opening)
            m_ready = opening->readyAfter; // a file is in; its opened answer follows
        break;
    case EngineState::Playing:
        m_recording = false;
        m_ready = false;
        break;
    case EngineState::Recording:
        m_recording = true;
        m_ready = false;
        break;
    case EngineState::Seeking:
    case EngineState::Paused:
        break;
    }
    announce();
}

void PlaybackSession::engineOpened(CommandId id, qint64 /*durationMs*/)
{
    const auto it = m_pending.find(id);
    bool readyAfter = true;
    if (it != m_pending.end()) {
        readyAfter = it->second.readyAfter;
        m_pending.erase(it);
    }
    m_hasFile = true;
    if (m_state == EngineState::Stopped)
        m_ready = readyAfter;
    announce();
}

void PlaybackSession::engineFailed(CommandId id, const QString& message)
{
    const auto it = m_pending.find(id);
    if (it == m_pending.end()) {
        engineFault(message); // forgotten long ago: still told, once
        return;
    }
    const Pending pending = it->second;
    m_pending.erase(it);
    if (pending.covered)
        return; // a play after an open that failed: the open said why
    if (pending.kind == Kind::Open) {
        if (const auto play = m_pending.find(pending.playAfter); play != m_pending.end())
            play->second.covered = true;
        if (!m_hasFile && !newestOpen() && sameFile(m_openFile, pending.file))
            m_openFile.clear(); // so that the next "PLAY" tries the file again
    }
    announce();
    fail({message, pending.origin.policy == HandlerPolicy::Reporting, pending.origin.handler});
    // An advance that landed on a file that cannot be played goes on past it.
    if (pending.kind == Kind::Open && pending.advance &&
        !sameFile(pending.file, pending.advanceFrom))
        advanceFrom(pending.file);
}

void PlaybackSession::engineFault(const QString& message)
{
    announce();
    fail({message, true, {}});
}

void PlaybackSession::engineEndOfMedia(CommandId id)
{
    const auto it = m_pending.find(id);
    QString file = m_openFile;
    if (it != m_pending.end()) {
        file = it->second.file;
        m_pending.erase(it);
    }
    advanceFrom(file);
}

void PlaybackSession::engineRecordingSaved(CommandId id, const QString& /*path*/,
                                           qint64 /*durationMs*/)
{
    m_pending.erase(id);
}

} // namespace Marlet::Transport
