#include "transport_control.h"

#include "engine_loader.h"
#include "forms/runtime_error.h"
#include "transport_icons.h"

#include <QDir>
#include <QFileInfo>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMetaMethod>
#include <QScopeGuard>
#include <QStyleOptionFocusRect>
#include <QStylePainter>
#include <QTimer>
#include <QToolButton>

#include <array>
#include <deque>

namespace Marlet::Transport {

using Audio::EngineState;
using Forms::RuntimeError;

enum class TransportControl::Button { Prev, Next, Play, Pause, Back, Step, Stop, Record, Eject };

enum class TransportControl::Word {
    Open,
    Play,
    Pause,
    Stop,
    Prev,
    Next,
    Back,
    Step,
    Record,
    Eject,
    Close,
    Exit,
    End
};

namespace {

constexpr int kButtonCount = 9;
constexpr qint64 kSkipMs = 5000;

struct ButtonInfo
{
    const char* objectName;
    const char* toolTip;
    Glyph glyph;
};

// In bar order, indexed by TransportControl::Button.
constexpr std::array<ButtonInfo, kButtonCount> kButtons{{
    {"prev", "Previous", Glyph::Prev},
    {"next", "Next", Glyph::Next},
    {"play", "Play", Glyph::Play},
    {"pause", "Pause", Glyph::Pause},
    {"back", "Back 5 seconds", Glyph::Back},
    {"step", "Step 5 seconds", Glyph::Step},
    {"stop", "Stop", Glyph::Stop},
    {"record", "Record", Glyph::Record},
    {"eject", "Eject", Glyph::Eject},
}};

// A bar button that can show the control's focus: the buttons themselves never take it.
class TransportButton final : public QToolButton
{
public:
    using QToolButton::QToolButton;

    void setFocusShown(bool shown)
    {
        if (shown == m_focusShown)
            return;
        m_focusShown = shown;
        update();
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QToolButton::paintEvent(event);
        if (!m_focusShown)
            return;
        QStylePainter painter(this);
        QStyleOptionFocusRect option;
        option.initFrom(this);
        // Shown whenever the control has the focus, however it got there.
        option.state |= QStyle::State_HasFocus | QStyle::State_KeyboardFocusChange;
        option.rect = rect().adjusted(3, 3, -3, -3);
        option.backgroundColor = palette().color(QPalette::Button);
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, option);
    }

private:
    bool m_focusShown = false;
};

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

} // namespace

struct TransportControl::Private
{
    // An open() sent to the engine and not yet answered by opened or failed.
    struct PendingOpen
    {
        bool playFollows = false; // a play() was sent after it
        bool readyAfter = true;   // no play, stop or record was sent after it
    };

    EngineFactory factory;
    std::unique_ptr<Audio::Engine> engine; // made on the first command that needs it

    QString fileName;
    QString command;
    qint32 updateInterval = 0;
    qint16 shareable = 0;

    // As last reported by the engine.
    EngineState state = EngineState::NotOpen;
    bool hasFile = false;   // opened, and no NotOpen since
    bool recording = false; // a recording is running or paused
    // Opened and neither played nor stopped since: Stopped reads as ModeReady.
    bool ready = false;

    // The file last sent to open(), absolute; empty when none is open or opening.
    QString openFile;
    std::deque<PendingOpen> pendingOpens;
    // A play() that followed a failed open() fails too; its message says nothing new.
    int failuresToDrop = 0;

    // Inside the answer to the end of a file: a "STOP" there is held back, so that a
    // "PLAY" of the next file can follow the tail the device still plays.
    bool advancing = false;
    bool stopHeld = false;

    int reportedMode = ModeNotOpen; // as last announced by statusUpdate()
    QTimer* statusTimer = nullptr;
    std::array<TransportButton*, kButtonCount> buttons{};
    int current = 0; // the button Space presses
};

TransportControl::TransportControl(QWidget* parent, EngineFactory factory)
    : QWidget(parent), d(std::make_unique<Private>())
{
    d->factory = factory ? std::move(factory) : EngineFactory(&loadEngine);

    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    for (int i = 0; i < kButtonCount; ++i) {
        auto* button = new TransportButton(this);
        const ButtonInfo& info = kButtons[size_t(i)];
        const QString toolTip = QString::fromLatin1(info.toolTip);
        button->setObjectName(QString::fromLatin1(info.objectName));
        button->setToolTip(toolTip);
        button->setAccessibleName(toolTip);
        button->setIcon(glyphIcon(info.glyph));
        button->setFocusPolicy(Qt::NoFocus);
        connect(button, &QAbstractButton::clicked, this, [this, i] {
            d->current = i;
            updateFocusMark();
            pressButton(i);
        });
        d->buttons[size_t(i)] = button;
    }

    d->statusTimer = new QTimer(this);
    connect(d->statusTimer, &QTimer::timeout, this, &TransportControl::statusUpdate);

    updateButtons();
}

TransportControl::~TransportControl()
{
    // Before anything it may report to goes; completes a recording in progress.
    d->engine.reset();
}

QString TransportControl::FileName() const
{
    return d->fileName;
}

void TransportControl::setFileName(const QString& fileName)
{
    d->fileName = fileName;
    updateButtons();
}

QString TransportControl::Command() const
{
    return d->command;
}

void TransportControl::setCommand(const QString& command)
{
    d->command = command;
    struct WordName
    {
        const char* name;
        Word word;
    };
    static constexpr std::array<WordName, 13> kWords{{
        {"OPEN", Word::Open},
        {"PLAY", Word::Play},
        {"PAUSE", Word::Pause},
        {"STOP", Word::Stop},
        {"PREV", Word::Prev},
        {"NEXT", Word::Next},
        {"BACK", Word::Back},
        {"STEP", Word::Step},
        {"RECORD", Word::Record},
        {"EJECT", Word::Eject},
        {"CLOSE", Word::Close},
        {"EXIT", Word::Exit},
        {"END", Word::End},
    }};
    const QString key = command.trimmed().toUpper();
    for (const WordName& entry : kWords) {
        if (key == QLatin1String(entry.name)) {
            run(entry.word);
            return;
        }
    }
    throw RuntimeError(QStringLiteral("Unknown command \"%1\".").arg(command));
}

int TransportControl::Mode() const
{
    switch (d->state) {
    case EngineState::NotOpen:
        return ModeNotOpen;
    case EngineState::Stopped:
        return d->ready ? ModeReady : ModeStopped;
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

bool TransportControl::isBusy() const
{
    switch (d->state) {
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

void TransportControl::setUpdateInterval(qint32 ms)
{
    d->updateInterval = qMax(0, ms);
    if (d->updateInterval > 0)
        d->statusTimer->start(d->updateInterval);
    else
        d->statusTimer->stop();
}

qint32 TransportControl::updateInterval() const
{
    return d->updateInterval;
}

void TransportControl::setShareable(qint16 value)
{
    d->shareable = value;
}

qint16 TransportControl::shareable() const
{
    return d->shareable;
}

qint64 TransportControl::position() const
{
    if (!d->engine || (!d->hasFile && !d->recording))
        return 0;
    return qMax<qint64>(0, d->engine->positionMs());
}

qint64 TransportControl::length() const
{
    if (!d->engine || !d->hasFile)
        return 0;
    return qMax<qint64>(0, d->engine->durationMs());
}

QSize TransportControl::sizeHint() const
{
    return {273, 33};
}

QSize TransportControl::minimumSizeHint() const
{
    return {kButtonCount * 12, 16};
}

// Commands

void TransportControl::run(Word word)
{
    if (word != Word::Play && word != Word::Stop)
        releaseHeldStop();
    switch (word) {
    case Word::Open:
        if (d->fileName.isEmpty())
            return; // nothing named yet: nothing to open, and no reason to load the engine
        openNamedFile(QStringLiteral("open"));
        return;
    case Word::Play:
        if (!d->fileName.isEmpty() && !sameFile(d->fileName, d->openFile)) {
            openNamedFile(QStringLiteral("play"), d->advancing);
        } else if (d->openFile.isEmpty() && !d->hasFile) {
            throw RuntimeError(QStringLiteral("Cannot play: no file was named."));
        }
        d->stopHeld = false; // after the end, play starts over anyway
        engine()->play();
        if (!d->pendingOpens.empty()) {
            d->pendingOpens.back().playFollows = true;
            d->pendingOpens.back().readyAfter = false;
        }
        return;
    case Word::Pause:
        if (!d->engine)
            return;
        if (d->state == EngineState::Paused)
            d->engine->resume();
        else
            d->engine->pause();
        return;
    case Word::Stop:
        if (!d->engine)
            return;
        if (d->advancing && d->state == EngineState::Stopped)
            d->stopHeld = true;
        else
            d->engine->stop();
        // Stopping a file that was only opened changes no engine state: only the mode.
        d->ready = false;
        if (!d->pendingOpens.empty())
            d->pendingOpens.back().readyAfter = false;
        scheduleModeCheck();
        return;
    case Word::Prev:
        seekTo(0);
        return;
    case Word::Next:
        Q_EMIT nextRequested(0);
        return;
    case Word::Back:
        seekBy(-kSkipMs);
        return;
    case Word::Step:
        seekBy(kSkipMs);
        return;
    case Word::Record: {
        if (d->fileName.isEmpty())
            throw RuntimeError(QStringLiteral("Cannot record: no file was named."));
        const QFileInfo info(d->fileName);
        if (info.isDir()) {
            throw RuntimeError(QStringLiteral("Cannot record into \"%1\": it is a folder, not a "
                                              "file.")
                                   .arg(QDir::toNativeSeparators(d->fileName)));
        }
        engine()->record(info.absoluteFilePath());
        if (!d->pendingOpens.empty())
            d->pendingOpens.back().readyAfter = false;
        return;
    }
    case Word::Eject:
    case Word::Close:
        if (!d->engine)
            return;
        d->engine->close();
        d->openFile.clear();
        d->ready = false;
        return;
    case Word::Exit:
    case Word::End:
        return;
    }
}

Audio::Engine* TransportControl::engine()
{
    if (d->engine)
        return d->engine.get();
    QString error;
    d->engine = d->factory(this, &error);
    if (!d->engine) {
        throw RuntimeError(error.isEmpty() ? QStringLiteral("The sound engine cannot be loaded.")
                                           : error);
    }
    return d->engine.get();
}

void TransportControl::releaseHeldStop()
{
    if (!d->stopHeld)
        return;
    d->stopHeld = false;
    if (d->engine)
        d->engine->stop();
}

void TransportControl::openNamedFile(const QString& verb, bool next)
{
    const QFileInfo info(d->fileName);
    const QString name = QDir::toNativeSeparators(d->fileName);
    if (!info.exists()) {
        throw RuntimeError(
            QStringLiteral("Cannot %1 \"%2\": the file does not exist.").arg(verb, name));
    }
    if (info.isDir()) {
        throw RuntimeError(
            QStringLiteral("Cannot %1 \"%2\": it is a folder, not a file.").arg(verb, name));
    }
    Audio::Engine* device = engine();
    d->openFile = info.absoluteFilePath();
    d->pendingOpens.push_back({});
    if (next)
        device->openNext(d->openFile);
    else
        device->open(d->openFile);
}

// The engine ignores a seek with no file open; a seek would end a recording.
void TransportControl::seekTo(qint64 positionMs)
{
    if (d->engine && !d->recording)
        d->engine->seek(qMax<qint64>(0, positionMs));
}

void TransportControl::seekBy(qint64 deltaMs)
{
    if (!d->engine || d->recording)
        return;
    qint64 target = d->engine->positionMs() + deltaMs;
    const qint64 duration = d->engine->durationMs();
    if (duration >= 0)
        target = qMin(target, duration);
    seekTo(target);
}

// Buttons

void TransportControl::pressButton(int index)
{
    try {
        switch (Button(index)) {
        case Button::Play:
            // When the program answers the play request, that request alone decides what
            // plays; otherwise the button plays what the control holds.
            if (!isSignalConnected(QMetaMethod::fromSignal(&TransportControl::playRequested)) &&
                (d->hasFile || !d->openFile.isEmpty() || !d->fileName.isEmpty()))
                run(Word::Play);
            break;
        case Button::Record:
        case Button::Next:
            break;
        case Button::Prev:
            run(Word::Prev);
            break;
        case Button::Pause:
            run(Word::Pause);
            break;
        case Button::Back:
            run(Word::Back);
            break;
        case Button::Step:
            run(Word::Step);
            break;
        case Button::Stop:
            run(Word::Stop);
            break;
        case Button::Eject:
            run(Word::Eject);
            break;
        }
    } catch (const RuntimeError& error) {
        Q_EMIT failed(error.message());
    }
    switch (Button(index)) {
    case Button::Play:
        Q_EMIT playRequested(0);
        break;
    case Button::Record:
        Q_EMIT recordRequested(0);
        break;
    case Button::Next:
        Q_EMIT nextRequested(0);
        break;
    default:
        break;
    }
}

void TransportControl::updateButtons()
{
    const EngineState state = d->state;
    const bool hasFile = d->hasFile;
    const bool canSeek = hasFile && !d->recording;
    const bool running = state == EngineState::Playing || state == EngineState::Paused ||
                         state == EngineState::Recording;
    const std::array<bool, kButtonCount> enabled{
        canSeek,
        true,
        (hasFile || !d->fileName.isEmpty()) && state != EngineState::Playing,
        running,
        canSeek,
        canSeek,
        running,
        !d->recording,
        state != EngineState::NotOpen || hasFile,
    };
    for (int i = 0; i < kButtonCount; ++i)
        d->buttons[size_t(i)]->setEnabled(enabled[size_t(i)]);

    if (!enabled[size_t(d->current)]) {
        // The nearest enabled button, looking right first.
        for (int step = 1; step < kButtonCount; ++step) {
            if (d->current + step < kButtonCount && enabled[size_t(d->current + step)]) {
                d->current += step;
                break;
            }
            if (d->current - step >= 0 && enabled[size_t(d->current - step)]) {
                d->current -= step;
                break;
            }
        }
    }
    updateFocusMark();
}

void TransportControl::updateFocusMark()
{
    for (int i = 0; i < kButtonCount; ++i)
        d->buttons[size_t(i)]->setFocusShown(i == d->current && hasFocus());
}

void TransportControl::moveCurrent(int direction)
{
    for (int i = d->current + direction; i >= 0 && i < kButtonCount; i += direction) {
        if (d->buttons[size_t(i)]->isEnabled()) {
            d->current = i;
            updateFocusMark();
            return;
        }
    }
}

// Mode reports

void TransportControl::updateMode()
{
    updateButtons();
    const int mode = Mode();
    if (mode == d->reportedMode)
        return;
    d->reportedMode = mode;
    Q_EMIT statusUpdate();
}

void TransportControl::scheduleModeCheck()
{
    QMetaObject::invokeMethod(this, &TransportControl::updateMode, Qt::QueuedConnection);
}

void TransportControl::engineStateChanged(Audio::EngineState state)
{
    d->state = state;
    switch (state) {
    case EngineState::NotOpen:
        d->hasFile = false;
        d->recording = false;
        d->ready = false;
        if (d->pendingOpens.empty())
            d->openFile.clear();
        break;
    case EngineState::Stopped:
        d->recording = false;
        if (!d->pendingOpens.empty())
            d->ready = d->pendingOpens.front().readyAfter; // a file is in; opened() follows
        break;
    case EngineState::Playing:
        d->recording = false;
        d->ready = false;
        break;
    case EngineState::Recording:
        d->recording = true;
        d->ready = false;
        break;
    case EngineState::Seeking:
    case EngineState::Paused:
        break;
    }
    updateMode();
}

void TransportControl::engineOpened(qint64 /*durationMs*/)
{
    bool readyAfter = true;
    if (!d->pendingOpens.empty()) {
        readyAfter = d->pendingOpens.front().readyAfter;
        d->pendingOpens.pop_front();
    }
    d->hasFile = true;
    if (d->state == EngineState::Stopped)
        d->ready = readyAfter;
    updateMode();
}

void TransportControl::engineFailed(const QString& message)
{
    if (d->failuresToDrop > 0) {
        --d->failuresToDrop;
        return;
    }
    if (!d->pendingOpens.empty()) {
        if (d->pendingOpens.front().playFollows)
            ++d->failuresToDrop;
        d->pendingOpens.pop_front();
        if (d->pendingOpens.empty() && !d->hasFile)
            d->openFile.clear(); // so that the next "PLAY" tries the file again
    }
    updateMode();
    Q_EMIT failed(message);
}

void TransportControl::engineEndOfMedia()
{
    d->advancing = true;
    const auto done = qScopeGuard([this] {
        d->advancing = false;
        releaseHeldStop(); // no "PLAY" came: the stop applies, and cuts the tail
    });
    Q_EMIT nextRequested(0);
}

void TransportControl::engineRecordingSaved(const QString& /*path*/, qint64 /*durationMs*/) {}

// Events

void TransportControl::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    const int w = width();
    const int h = height();
    int left = 0;
    for (int i = 0; i < kButtonCount; ++i) {
        const int right = (i + 1) * w / kButtonCount;
        d->buttons[size_t(i)]->setGeometry(left, 0, right - left, h);
        left = right;
    }
    const int side = qMax(8, qMin(w / kButtonCount, h) / 2);
    for (TransportButton* button : d->buttons)
        button->setIconSize({side, side});
}

void TransportControl::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Left:
        moveCurrent(-1);
        return;
    case Qt::Key_Right:
        moveCurrent(1);
        return;
    case Qt::Key_Space:
        if (!event->isAutoRepeat() && d->buttons[size_t(d->current)]->isEnabled())
            d->buttons[size_t(d->current)]->click();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void TransportControl::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    updateFocusMark();
}

void TransportControl::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    updateFocusMark();
}

} // namespace Marlet::Transport
