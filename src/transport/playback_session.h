#pragma once

#include "audio/engine_interface.h"
#include "forms/handler_context.h"

#include <QString>

#include <functional>
#include <map>
#include <memory>

namespace Marlet::Transport {

// Makes the engine the first time the session needs it; null with `error` set when the
// audio stack cannot be loaded.
using EngineFactory =
    std::function<std::unique_ptr<Audio::Engine>(Audio::EngineClient* client, QString* error)>;

// Device mode codes, as the main window reads them through Mode().
enum ModeCode : int {
    ModeNotOpen = 524,
    ModeStopped = 525,
    ModePlaying = 526,
    ModeRecording = 527,
    ModeSeeking = 528,
    ModePaused = 529,
    ModeReady = 530,
};

// Whether two names are the same file (the same absolute path when either is missing).
bool sameFile(const QString& a, const QString& b);

// A failure, and how the user learns of it: a quiet one goes to the status and standard
// error, a reported one to the run-time error report.
struct SessionFailure
{
    QString message; // a sentence for the user, naming the file
    bool reported = true;
    QString handler; // the handler whose command failed; empty for none
};

// What one sound device is doing, as the commands sent and the engine's answers tell it:
// the one owner of that truth. Sends each command to the engine, remembers which handler
// sent it (and so how its failure is to be handled), and pairs every answer with its
// command by id. No widgets; GUI thread only.
//
// Commands throw Forms::RuntimeError for what can be known at once (no file named, a
// missing file, no engine); what the engine finds later comes back through the events.
class PlaybackSession final : private Audio::EngineClient
{
public:
    struct Events
    {
        std::function<void()> modeMayHaveChanged;
        std::function<void(const SessionFailure&)> failed;
        // `file` has been played to its end, or was the file an advance landed on and
        // could not be opened: the owner may move on to the next. Commands sent from here
        // on count as an advance (a "STOP" waits so the next file can join the tail).
        std::function<void(const QString& file)> ended;
    };

    explicit PlaybackSession(EngineFactory factory);
    ~PlaybackSession();
    PlaybackSession(const PlaybackSession&) = delete;
    PlaybackSession& operator=(const PlaybackSession&) = delete;

    void setEvents(Events events) { m_events = std::move(events); }

    // Opens `fileName` (any spelling of a path).
    void open(const QString& fileName);
    // Plays `fileName`, opening it first unless it is the open file; empty: the open file.
    void play(const QString& fileName);
    void pauseOrResume();
    void stop();
    void seekTo(qint64 positionMs);
    void seekBy(qint64 deltaMs);
    void close();
    void record(const QString& fileName);
    // Sends a "STOP" held back while answering the end of a file, if any.
    void releaseHeldStop();

    int mode() const;
    Audio::EngineState state() const { return m_state; }
    bool isBusy() const;
    bool hasFile() const { return m_hasFile; }
    bool recording() const { return m_recording; }
    // The file last sent to the engine to open, absolute; empty when none is open or opening.
    const QString& openFile() const { return m_openFile; }
    bool hasEngine() const { return m_engine != nullptr; }
    qint64 position() const;
    qint64 length() const;

private:
    enum class Kind { Open, Play, Record, Other };
    // A command sent to the engine and not yet answered for good.
    struct Pending
    {
        Kind kind = Kind::Other;
        QString file; // open: the file; play: the file it plays; record: the target
        Forms::HandlerContext origin;
        bool advance = false;           // sent while answering the end of a file
        QString advanceFrom;            // advance: the file that ended
        bool readyAfter = true;         // open: no play, stop or record was sent after it
        Audio::CommandId playAfter = 0; // open: the play sent after it
        bool covered = false;           // play: its open failed and said so
    };

    // EngineClient
    void engineStateChanged(Audio::EngineState state) override;
    void engineOpened(Audio::CommandId id, qint64 durationMs) override;
    void engineFailed(Audio::CommandId id, const QString& message) override;
    void engineFault(const QString& message) override;
    void engineEndOfMedia(Audio::CommandId id) override;
    void engineRecordingSaved(Audio::CommandId id, const QString& path, qint64 durationMs) override;

    // Sends open(), or openNext() when `next`: the file follows one that just ended.
    // `verb` says what for, in messages.
    void openNamed(const QString& fileName, const QString& verb, bool next);
    // The engine, made on first use; throws RuntimeError when it cannot be made.
    Audio::Engine* engine();
    Audio::CommandId sent(Audio::CommandId id, Kind kind, const QString& file = {});
    // The newest open still waiting for its answer; null when none.
    Pending* newestOpen();
    void noteNoLongerReady();
    void announce();
    void fail(const SessionFailure& failure);
    // Tells the owner that `file` ended, as an advance.
    void advanceFrom(const QString& file);

    EngineFactory m_factory;
    std::unique_ptr<Audio::Engine> m_engine;
    bool m_engineFailed = false; // the factory failed and that was told once
    Events m_events;

    Audio::EngineState m_state = Audio::EngineState::NotOpen; // as last reported
    bool m_hasFile = false;                                   // opened, and no NotOpen since
    bool m_recording = false;                                 // a recording runs or is paused
    bool m_ready = false; // opened and neither played nor stopped since
    QString m_openFile;
    std::map<Audio::CommandId, Pending> m_pending;

    bool m_advancing = false; // inside the owner's answer to an end
    bool m_stopHeld = false;
    QString m_advanceFrom;     // while advancing: the file that ended
    QString m_advanceFailedOn; // the file an advance could not send an open for
};

} // namespace Marlet::Transport
