// Drives the real executable inside the desktop session, from outside, as a user would:
// xdotool for keys and clicks, xprop and xwininfo to read windows, pactl for sound.
#pragma once

#include <QDeadlineTimer>
#include <QProcess>
#include <QTest>
#include <QThread>

#include <functional>
#include <memory>

namespace Desktop {

// Runs a tool to its end (at most 20 s) and gives what it printed; empty if it failed.
inline QString tool(const QString& program, const QStringList& args)
{
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(20000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        process.kill();
        process.waitForFinished(2000);
        return {};
    }
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

inline bool waitUntil(const std::function<bool()>& done, int ms = 10000)
{
    const QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
    return true;
}

// The player, started for one test and stopped (killed if need be) when it goes.
class Player
{
public:
    // Starts it in `folder` (empty: this process's working folder).
    explicit Player(const QStringList& args = {}, const QString& folder = {})
    {
        m_process.setProcessChannelMode(QProcess::ForwardedOutputChannel);
        m_process.setWorkingDirectory(folder);
        m_process.start(QStringLiteral(MARLET_EXECUTABLE), args);
    }
    ~Player()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    QProcess& process() { return m_process; }
    // Standard error so far (run-time errors and quiet failures are written there).
    QString errors()
    {
        m_errors += QString::fromLocal8Bit(m_process.readAllStandardError());
        return m_errors;
    }

private:
    QProcess m_process;
    QString m_errors;
};

// The first visible window with this exact title, or 0 once 15 s have gone by.
inline qulonglong window(const QString& title)
{
    qulonglong id = 0;
    waitUntil(
        [&] {
            const QString found = tool(QStringLiteral("xdotool"),
                                       {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                        QStringLiteral("--name"), u'^' + title + u'$'});
            id = found.section(u'\n', 0, 0).toULongLong();
            return id != 0;
        },
        15000);
    return id;
}

inline QString xdotool(const QStringList& args)
{
    return tool(QStringLiteral("xdotool"), args);
}

inline QString prop(qulonglong window, const QString& name)
{
    return tool(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(window), name});
}

inline qulonglong activeWindow()
{
    return xdotool({QStringLiteral("getactivewindow")}).toULongLong();
}

// The window's inside size in pixels, as the X server has it.
inline QSize clientSize(qulonglong window)
{
    const QString info =
        tool(QStringLiteral("xwininfo"), {QStringLiteral("-id"), QString::number(window)});
    const auto value = [&](const QString& key) {
        const qsizetype at = info.indexOf(key);
        return at < 0 ? -1 : info.mid(at + key.size()).section(u'\n', 0, 0).trimmed().toInt();
    };
    return {value(QStringLiteral("Width:")), value(QStringLiteral("Height:"))};
}

// Real key strokes (XTEST) to whatever window has the keyboard focus.
inline void key(const QString& keys)
{
    xdotool({QStringLiteral("key"), keys});
}

} // namespace Desktop
