#pragma once

#include "transport/playback_session.h"

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class QTimer;
class QToolButton;

namespace Marlet::Transport {

// The transport control: a bar of multimedia buttons over one sound device (a
// PlaybackSession, which keeps what the device is doing). Takes command words and reports
// the device mode. GUI thread only.
//
// Failing commands throw Marlet::Forms::RuntimeError (see forms/runtime_error.h) to the
// caller, synchronously, for what can be known at once (an unknown word, no file named,
// a missing file); failures found later by the engine (a damaged file, no device) are
// emitted as failed(), handled as the handler that sent the command handles failures,
// and show in Mode().
class TransportControl final : public QWidget
{
    Q_OBJECT

public:
    explicit TransportControl(QWidget* parent = nullptr, EngineFactory factory = {});
    ~TransportControl() override;

    // The file the next "OPEN", "PLAY" or "RECORD" acts on.
    QString FileName() const;
    void setFileName(const QString& fileName);
    // Sends one command word: "OPEN", "PLAY", "PAUSE", "STOP", "PREV", "NEXT", "BACK",
    // "STEP", "RECORD", "EJECT", "CLOSE", "EXIT", "END" (any case). Throws RuntimeError.
    void setCommand(const QString& command);
    QString Command() const;
    // The current mode code (ModeCode).
    int Mode() const;

    // Member 32: true while the device is playing, paused, recording or seeking, so a
    // "STOP" is due before another file opens.
    bool isBusy() const;
    // Member 39: interval of periodic status reports in ms; 0 reports mode changes only.
    void setUpdateInterval(qint32 ms);
    qint32 updateInterval() const;
    // Member 54: whether the device may be shared with other programs. No audible or
    // visible effect.
    void setShareable(qint16 value);
    qint16 shareable() const;

    // Position and length of the open file, in ms.
    qint64 position() const;
    qint64 length() const;
    // The file open or opening on the device, absolute; empty when none.
    QString openFile() const;

    // The bar's buttons, in bar order.
    enum class Button { Prev, Next, Play, Pause, Back, Step, Stop, Record, Eject };
    // Presses `button` as a click on it does; nothing when it is disabled.
    void press(Button button);
    bool canPress(Button button) const;
    // Moves the open file to `positionMs`, as Back and Step do; nothing while recording.
    void seekTo(qint64 positionMs);

    // What the window that answers the play and advance requests says of its playlist.
    struct Playlist
    {
        // The play request would find an entry to play.
        std::function<bool()> hasEntries;
        // `file`, which has just ended, is the entry the advance request moves on from.
        // Unset: every end raises the advance request.
        std::function<bool(const QString& file)> follows;
    };
    void setPlaylist(Playlist playlist);
    // The playlist changed: what the buttons can do may have changed.
    void playlistChanged();

Q_SIGNALS:
    // The four events the main window answers, in this order of the control's events.
    void playRequested(int reserved);   // the Play button
    void recordRequested(int reserved); // the Record button
    void statusUpdate();                // the mode may have changed (or the interval passed)
    void nextRequested(int reserved);   // the Next button, and the end of a track
    // The mode, the open file, its length or what the buttons can do may have changed.
    void stateChanged();
    // A command failed after it was accepted, or the device failed on its own. `message`
    // names the file and the reason; `reported` says it belongs in the run-time error
    // report (otherwise it is quiet: the status and standard error); `handler` is the
    // handler that sent the command, empty for none.
    void failed(const QString& message, bool reported, const QString& handler);

private:
    // QWidget
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

    enum class Word;
    void run(Word word);
    // A button's own action and event; never throws.
    void pressButton(int index);
    void moveCurrent(int direction);
    bool canPlay() const;
    void updateButtons();
    void updateFocusMark();
    // Emits statusUpdate() when Mode() differs from the last one announced.
    void updateMode();
    void scheduleModeCheck();
    void sessionEnded(const QString& file);

    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace Marlet::Transport
