#pragma once

#include "audio/engine_interface.h"

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class QTimer;
class QToolButton;

namespace Marlet::Transport {

// Makes the engine the first time the control needs it; null with `error` set when the
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

// The transport control: a bar of multimedia buttons over one sound device. Takes
// command words and reports the device mode. The only part of the program that talks to
// the engine. GUI thread only.
//
// Failing commands throw Marlet::Forms::RuntimeError (see forms/runtime_error.h) to the
// caller, synchronously, for what can be known at once (an unknown word, no file named,
// a missing file); failures found later by the engine (a damaged file, no device) are
// emitted as failed() and show in Mode().
class TransportControl final : public QWidget, private Audio::EngineClient
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

Q_SIGNALS:
    // The four events the main window answers, in this order of the control's events.
    void playRequested(int reserved);   // the Play button
    void recordRequested(int reserved); // the Record button
    void statusUpdate();                // the mode may have changed (or the interval passed)
    void nextRequested(int reserved);   // the Next button, and the end of a track
    // A command failed after it was accepted; `message` names the file and the reason.
    void failed(const QString& message);

private:
    // EngineClient
    void engineStateChanged(Audio::EngineState state) override;
    void engineOpened(qint64 durationMs) override;
    void engineFailed(const QString& message) override;
    void engineEndOfMedia() override;
    void engineRecordingSaved(const QString& path, qint64 durationMs) override;

    // QWidget
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

    enum class Word;
    enum class Button;
    void run(Word word);
    // The engine, made on first use; throws RuntimeError when it cannot be made.
    Audio::Engine* engine();
    // Sends open(), or openNext() when `next`: the file follows the one that just ended.
    void openNamedFile(const QString& verb, bool next = false);
    // Sends the "STOP" held back while answering the end of a file, if any.
    void releaseHeldStop();
    void seekTo(qint64 positionMs);
    void seekBy(qint64 deltaMs);
    // A button's own action and event; never throws.
    void pressButton(int index);
    void moveCurrent(int direction);
    void updateButtons();
    void updateFocusMark();
    // Emits statusUpdate() when Mode() differs from the last one announced.
    void updateMode();
    void scheduleModeCheck();

    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace Marlet::Transport
