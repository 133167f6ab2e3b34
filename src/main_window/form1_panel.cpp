// "Show" and "Hide": the window grows until the playlist is visible and shrinks back.

#include "main_window/form1.h"

#include "forms/error_policy.h"
#include "forms/twips.h"

#include <QEventLoop>
#include <QPushButton>
#include <QTimer>

#include <utility>

namespace Marlet::MainWindow {

namespace {

constexpr int heightStepTwips = 20;
constexpr int grownHeightTwips = 6500;  // "Show" stops at the first height at least this
constexpr int shrunkHeightTwips = 3200; // "Hide" stops at the first height below this
constexpr int growIntervalMs = 1;

constexpr int twipsPerPixel = 15;

// A timer's Enabled flag: enabling a running timer leaves its countdown alone.
void setTimerEnabled(QTimer* timer, bool enabled)
{
    if (!enabled)
        timer->stop();
    else if (!timer->isActive())
        timer->start();
}

} // namespace

void Form1::connectPanel()
{
    connect(m_command4, &QPushButton::clicked, this, &Form1::Command4_Click);
    connect(m_command5, &QPushButton::clicked, this, &Form1::Command5_Click);
    connect(m_tim, &QTimer::timeout, this, &Form1::tim_Timer);
}

int Form1::outerHeightTwips() const
{
    return frameGeometry().height() * twipsPerPixel;
}

bool Form1::requestOuterHeightTwips(int height)
{
    // The window system owns the size of a minimized, maximized or full-screen window.
    if (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))
        return false;
    const int frameTwips = (frameGeometry().height() - this->height()) * twipsPerPixel;
    const int clientHeight = height - frameTwips;
    if (clientHeight <= 0)
        return false;
    // Still a fixed size, so the frame cannot be dragged.
    setClientHeightTwips(clientHeight);
    return true;
}

void Form1::awaitResize(std::function<void()> answered)
{
    if (!m_resizeDeadline) {
        m_resizeDeadline = new QTimer(this);
        m_resizeDeadline->setSingleShot(true);
        m_resizeDeadline->setInterval(resizeAnswerMs);
        connect(m_resizeDeadline, &QTimer::timeout, this, [this] {
            if (auto late = std::exchange(m_resizeAnswered, nullptr))
                late();
        });
    }
    m_resizeAnswered = std::move(answered);
    m_resizeDeadline->start();
}

// A window manager applies a size some time after it was asked for, or never: the height
// is read back once it has answered, or not at all.
bool Form1::setOuterHeightTwips(int height)
{
    const int before = outerHeightTwips();
    if (!requestOuterHeightTwips(height))
        return false;
    if (outerHeightTwips() == before) {
        QEventLoop answer;
        awaitResize([&answer] { answer.quit(); });
        answer.exec(QEventLoop::ExcludeUserInputEvents);
    }
    return outerHeightTwips() != before;
}

void Form1::Command4_Click()
{
    Forms::runReporting(QStringLiteral("Command4_Click"), [&] {
        m_tim->setInterval(growIntervalMs);
        setTimerEnabled(m_tim, true);
    });
}

void Form1::tim_Timer()
{
    Forms::runReporting(QStringLiteral("tim_Timer"), [&] {
        if (m_resizeAnswered) { // the previous step's answer restarts the timer
            setTimerEnabled(m_tim, false);
            return;
        }
        const int before = outerHeightTwips();
        if (before >= grownHeightTwips) {
            setTimerEnabled(m_tim, false);
            return;
        }
        if (!requestOuterHeightTwips(before + heightStepTwips)) {
            setTimerEnabled(m_tim, false);
            return;
        }
        if (outerHeightTwips() != before) {
            setTimerEnabled(m_tim, true);
            return;
        }
        // A height that does not take would only bring the same tick back forever.
        setTimerEnabled(m_tim, false);
        awaitResize([this, before] {
            if (outerHeightTwips() != before)
                setTimerEnabled(m_tim, true);
            else // refused so far; on a busy machine the answer may still come
                m_growthAwaitsLateResize = true;
        });
    });
}

// One loop that holds the thread until the window is short enough. A "Show" under way
// waits meanwhile and grows the window again afterwards.
void Form1::Command5_Click()
{
    const bool showing = m_tim->isActive() || m_resizeAnswered;
    m_resizeAnswered = nullptr;
    m_growthAwaitsLateResize = false;
    setTimerEnabled(m_tim, false);
    const Forms::ResumeNext resume;
    for (;;) {
        bool done = false;
        resume.when([&] { return outerHeightTwips() < shrunkHeightTwips; }, [&] { done = true; });
        if (done)
            break;
        // A step that fails or does not take ends the loop: it would read the same height
        // again and again.
        bool took = false;
        resume.run([&] { took = setOuterHeightTwips(outerHeightTwips() - heightStepTwips); });
        if (!took)
            break;
    }
    if (showing)
        setTimerEnabled(m_tim, true);
}

} // namespace Marlet::MainWindow
