#include "transport_control.h"

#include "forms/runtime_error.h"
#include "transport/engine_loader.h"
#include "transport/transport_icons.h"

#include <QDir>
#include <QFileInfo>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMetaMethod>
#include <QStyleOptionFocusRect>
#include <QStylePainter>
#include <QTimer>
#include <QToolButton>

#include <array>

namespace Marlet::Transport {

using Audio::EngineState;
using Forms::RuntimeError;

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

} // namespace

struct TransportControl::Private
{
    explicit Private(EngineFactory factory) : session(std::move(factory)) {}

    PlaybackSession session;
    Playlist playlist;

    QString fileName;
    QString command;
    qint32 updateInterval = 0;
    qint16 shareable = 0;

    int reportedMode = ModeNotOpen; // as last announced by statusUpdate()
    QTimer* statusTimer = nullptr;
    std::array<TransportButton*, kButtonCount> buttons{};
    int current = 0; // the button Space presses
};

TransportControl::TransportControl(QWidget* parent, EngineFactory factory)
    : QWidget(parent),
      d(std::make_unique<Private>(factory ? std::move(factory) : EngineFactory(&loadEngine)))
{
    d->session.setEvents({
        [this] { updateMode(); },
        [this](const SessionFailure& failure) {
            Q_EMIT failed(failure.message, failure.reported, failure.handler);
        },
        [this](const QString& file) { sessionEnded(file); },
    });

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

TransportControl::~TransportControl() = default;

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
    return d->session.mode();
}

bool TransportControl::isBusy() const
{
    return d->session.isBusy();
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
    return d->session.position();
}

qint64 TransportControl::length() const
{
    return d->session.length();
}

QString TransportControl::openFile() const
{
    return d->session.openFile();
}

void TransportControl::press(Button button)
{
    d->buttons[size_t(button)]->click();
}

bool TransportControl::canPress(Button button) const
{
    return d->buttons[size_t(button)]->isEnabled();
}

void TransportControl::seekTo(qint64 positionMs)
{
    d->session.seekTo(positionMs);
}

void TransportControl::setPlaylist(Playlist playlist)
{
    d->playlist = std::move(playlist);
    updateButtons();
}

void TransportControl::playlistChanged()
{
    updateButtons();
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
    PlaybackSession& session = d->session;
    switch (word) {
    case Word::Open:
        if (d->fileName.isEmpty())
            return; // nothing named yet: nothing to open, and no reason to load the engine
        session.open(d->fileName);
        return;
    case Word::Play:
        session.play(d->fileName);
        return;
    case Word::Pause:
        session.pauseOrResume();
        return;
    case Word::Stop:
        session.stop();
        return;
    case Word::Prev:
        session.seekTo(0);
        return;
    case Word::Next:
        session.releaseHeldStop();
        Q_EMIT nextRequested(0);
        return;
    case Word::Back:
        session.seekBy(-kSkipMs);
        return;
    case Word::Step:
        session.seekBy(kSkipMs);
        return;
    case Word::Record:
        session.record(d->fileName);
        return;
    case Word::Eject:
    case Word::Close:
        session.close();
        return;
    case Word::Exit:
    case Word::End:
        session.releaseHeldStop();
        return;
    }
}

void TransportControl::sessionEnded(const QString& file)
{
    if (!d->playlist.follows || d->playlist.follows(file))
        Q_EMIT nextRequested(0);
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
                (d->session.hasFile() || !d->session.openFile().isEmpty() ||
                 !d->fileName.isEmpty()))
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
        // No handler sent it: the button's own failure is shown quietly.
        Q_EMIT failed(error.message(), false, {});
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

bool TransportControl::canPlay() const
{
    if (d->session.hasFile() || !d->session.openFile().isEmpty() || !d->fileName.isEmpty())
        return true;
    // The play request decides what plays, when the window answers it.
    return isSignalConnected(QMetaMethod::fromSignal(&TransportControl::playRequested)) &&
           d->playlist.hasEntries && d->playlist.hasEntries();
}

void TransportControl::updateButtons()
{
    const EngineState state = d->session.state();
    const bool hasFile = d->session.hasFile();
    const bool recording = d->session.recording();
    const bool canSeek = hasFile && !recording;
    const bool running = state == EngineState::Playing || state == EngineState::Paused ||
                         state == EngineState::Recording;
    const std::array<bool, kButtonCount> enabled{
        canSeek, true,       canPlay() && state != EngineState::Playing, running, canSeek, canSeek,
        running, !recording, state != EngineState::NotOpen || hasFile,
    };
    for (int i = 0; i < kButtonCount; ++i)
        d->buttons[size_t(i)]->setEnabled(enabled[size_t(i)]);
    Q_EMIT stateChanged();

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
