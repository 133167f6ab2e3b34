// "Show" and "Hide": the window grows until the playlist is visible and shrinks back.

#include "main_window/form1.h"

#include "forms/error_policy.h"
#include "forms/twips.h"

#include <QPushButton>
#include <QTimer>

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

bool Form1::setOuterHeightTwips(int height)
{
    // The window system owns the size of a minimized, maximized or full-screen window.
    if (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))
        return false;
    const int before = outerHeightTwips();
    const int frameTwips = (frameGeometry().height() - this->height()) * twipsPerPixel;
    const int clientHeight = height - frameTwips;
    if (clientHeight <= 0)
        return false;
    // Still a fixed size, so the frame cannot be dragged.
    setClientHeightTwips(clientHeight);
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
        if (outerHeightTwips() >= grownHeightTwips) {
            setTimerEnabled(m_tim, false);
            return;
        }
        // A height that does not take would only bring the same tick back forever.
        if (!setOuterHeightTwips(outerHeightTwips() + heightStepTwips)) {
            setTimerEnabled(m_tim, false);
            return;
        }
        setTimerEnabled(m_tim, true);
    });
}

// One loop that holds the thread until the window is short enough; it leaves the timer
// alone, so a "Show" still under way grows the window again afterwards.
void Form1::Command5_Click()
{
    const Forms::ResumeNext resume;
    for (;;) {
        bool done = false;
        resume.when([&] { return outerHeightTwips() < shrunkHeightTwips; }, [&] { done = true; });
        if (done)
            return;
        // A step that fails or does not take ends the loop: it would read the same height
        // again and again.
        bool took = false;
        resume.run([&] { took = setOuterHeightTwips(outerHeightTwips() - heightStepTwips); });
        if (!took)
            return;
    }
}

} // namespace Marlet::MainWindow
