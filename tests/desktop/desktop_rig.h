// Drives the real executable inside the desktop session, from outside, as a user would:
// xdotool for keys and clicks, xprop and xwininfo to read windows, pactl for sound.
#pragma once

#include <QtTest> // with the whole of QtCore, for every desktop test

#include <functional>

namespace Desktop {

using namespace Qt::StringLiterals;

inline const QString mainTitle = u"Quendel's Marlet"_s;

// Runs a tool to its end (at most 20 s) and gives what it printed; empty if it failed.
inline QString tool(const QString& program, const QStringList& args)
{
    QProcess process;
    process.start(program, args);
    const bool ok = process.waitForFinished(20000) &&
                    process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (!ok) {
        process.kill();
        process.waitForFinished(2000);
    }
    return ok ? QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed() : QString();
}

inline bool waitUntil(const std::function<bool()>& done, int ms = 10000)
{
    return QTest::qWaitFor(done, ms);
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
    QProcess& process() { return m_process; }
    // Standard error so far (run-time errors and quiet failures are written there).
    QString errors()
    {
        return m_errors += QString::fromLocal8Bit(m_process.readAllStandardError());
    }

private:
    QProcess m_process;
    QString m_errors;
};

inline QString xdotool(const QStringList& args)
{
    return tool(u"xdotool"_s, args);
}

// The first visible window with this exact title, or 0 once 15 s have gone by.
inline qulonglong window(const QString& title)
{
    qulonglong id = 0;
    waitUntil(
        [&] {
            const QString found =
                xdotool({u"search"_s, u"--onlyvisible"_s, u"--name"_s, u'^' + title + u'$'});
            return (id = found.section(u'\n', 0, 0).toULongLong()) != 0;
        },
        15000);
    return id;
}

inline QString prop(qulonglong window, const QString& name)
{
    return tool(u"xprop"_s, {u"-id"_s, QString::number(window), name});
}

inline qulonglong activeWindow()
{
    return xdotool({u"getactivewindow"_s}).toULongLong();
}

// The window's inside size in pixels, as the X server has it.
inline QSize clientSize(qulonglong window)
{
    const QString info = tool(u"xwininfo"_s, {u"-id"_s, QString::number(window)});
    const auto value = [&](const QString& key) {
        return info.section(key, 1).section(u'\n', 0, 0).trimmed().toInt();
    };
    return {value(u"Width:"_s), value(u"Height:"_s)};
}

} // namespace Desktop
