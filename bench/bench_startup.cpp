// Start-up measurements of the program on an X display: from process start until the
// main window is exposed (median of 10 runs), and resident memory 3 s later, idle. A bare
// Qt window started the same way is measured in the same run as the reference. Then, from
// the start of `marlet FILE` until the file's first sample reaches the device (SDL's disk
// driver, engine module loaded cold), and, with one player running, how long a later
// `marlet FILE` takes to hand its file over and end (medians of 10).
//
// Uses $DISPLAY when set; otherwise starts its own Xvfb (no window manager).

#include "support/tone_files.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

namespace {

constexpr int kRuns = 10;
constexpr int kTimeoutMs = 20000;

struct Run
{
    double shownMs = 0;
    double rssMb = 0;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

// Starts the program with the start-up probe and waits for its two reports.
std::optional<Run> measureOnce(const QString& program, const QProcessEnvironment& env)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer clock;
    clock.start();
    process.start(program, {});
    Run run;
    QByteArray output;
    while (clock.elapsed() < kTimeoutMs) {
        if (!process.waitForReadyRead(kTimeoutMs))
            break;
        output += process.readAllStandardOutput();
        if (run.shownMs == 0 && output.contains("shown\n"))
            run.shownMs = double(clock.nsecsElapsed()) / 1e6;
        const qsizetype at = output.indexOf("rss_kb: ");
        if (at >= 0 && output.indexOf('\n', at) > at) {
            run.rssMb = output.mid(at + 8, output.indexOf('\n', at) - at - 8).toDouble() / 1024;
            break;
        }
    }
    process.waitForFinished(kTimeoutMs);
    if (run.shownMs == 0)
        return std::nullopt;
    return run;
}

void report(const char* name, const QString& program, const QProcessEnvironment& env,
            double* shownMedian, double* rssMedian)
{
    std::vector<double> shown;
    std::vector<double> rss;
    QString runs;
    for (int i = 0; i < kRuns; ++i) {
        const std::optional<Run> run = measureOnce(program, env);
        if (!run)
            continue;
        shown.push_back(run->shownMs);
        rss.push_back(run->rssMb);
        runs += QStringLiteral(" %1").arg(run->shownMs, 0, 'f', 1);
    }
    *shownMedian = median(shown);
    *rssMedian = median(rss);
    std::printf("%s_runs_ms:%s\n", name, qPrintable(runs));
}

// `program FILE` started cold, each run until the first sample of FILE (which has no
// silent samples) is in the file that SDL's disk driver writes; in ms from process start.
struct Launches
{
    std::vector<double> firstSampleMs;
    std::vector<double> playingRssMb; // 3 s after the window showed, while FILE plays
};
Launches launchesToFirstSample(const QString& program, QProcessEnvironment env, const QString& tone,
                               const QString& output)
{
    env.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("disk"));
    env.insert(QStringLiteral("SDL_DISKAUDIOFILE"), output);
    Launches runs;
    for (int i = 0; i < kRuns; ++i) {
        QFile::remove(output);
        QProcess process;
        process.setProcessEnvironment(env);
        QElapsedTimer clock;
        clock.start();
        process.start(program, {tone});
        QFile device(output);
        bool heard = false;
        while (!heard && clock.elapsed() < kTimeoutMs && process.state() != QProcess::NotRunning) {
            if (device.isOpen() || device.open(QIODevice::ReadOnly)) {
                const QByteArray bytes = device.readAll();
                heard = std::any_of(bytes.cbegin(), bytes.cend(), [](char c) { return c != 0; });
            }
            if (!heard)
                QThread::usleep(500);
        }
        if (heard)
            runs.firstSampleMs.push_back(double(clock.nsecsElapsed()) / 1e6);
        if (!process.waitForFinished(kTimeoutMs)) // the probe ends it 3 s after it shows
            process.kill();
        process.waitForFinished(kTimeoutMs);
        const QByteArray printed = process.readAllStandardOutput();
        const qsizetype at = printed.indexOf("rss_kb: ");
        if (at >= 0)
            runs.playingRssMb.push_back(printed.mid(at + 8).split('\n').value(0).toDouble() / 1024);
    }
    return runs;
}

// Later launches with `file` while one player runs, each ended by itself once the player
// took the file; none when the player does not listen within the time-out.
std::vector<double> laterLaunches(const QString& program, QProcessEnvironment env,
                                  const QString& file)
{
    env.remove(QStringLiteral("MARLET_STARTUP_PROBE"));
    QProcess player;
    player.setProcessEnvironment(env);
    player.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    player.start(program, {});
    const QDir runtime(env.value(QStringLiteral("XDG_RUNTIME_DIR")));
    QElapsedTimer clock;
    clock.start();
    while (runtime.entryList({QStringLiteral("marlet-*")}, QDir::System).isEmpty() &&
           clock.elapsed() < kTimeoutMs)
        QThread::msleep(10);
    std::vector<double> runs;
    for (int i = 0; i < kRuns && clock.elapsed() < kTimeoutMs; ++i) {
        QProcess later;
        later.setProcessEnvironment(env);
        QElapsedTimer lasted;
        lasted.start();
        later.start(program, {file});
        if (!later.waitForFinished(kTimeoutMs) || later.exitCode() != 0)
            break;
        runs.push_back(double(lasted.nsecsElapsed()) / 1e6);
    }
    player.terminate();
    if (!player.waitForFinished(kTimeoutMs))
        player.kill();
    return runs;
}

QString freeDisplay()
{
    for (int n = 90; n < 140; ++n) {
        if (!QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)) &&
            !QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)))
            return QStringLiteral(":%1").arg(n);
    }
    return {};
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QProcess xvfb;
    if (env.value(QStringLiteral("DISPLAY")).isEmpty()) {
        const QString display = freeDisplay();
        xvfb.start(QStringLiteral("Xvfb"), {display, QStringLiteral("-screen"), QStringLiteral("0"),
                                            QStringLiteral("1280x800x24"),
                                            QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        const QString socket = QStringLiteral("/tmp/.X11-unix/X") + display.mid(1);
        for (int i = 0; i < 100 && !QFileInfo::exists(socket); ++i)
            QThread::msleep(50);
        if (!QFileInfo::exists(socket)) {
            std::fprintf(stderr, "bench_startup: cannot start Xvfb\n");
            return 0;
        }
        env.insert(QStringLiteral("DISPLAY"), display);
    }
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("MARLET_STARTUP_PROBE"), QStringLiteral("1"));
    env.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("dummy"));
    // The program stores what its folder picker shows: keep that out of the user's settings.
    QTemporaryDir settings;
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), settings.path());
    // And its socket out of a player the user may be running.
    QTemporaryDir runtime;
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());

    double bareShown = 0;
    double bareRss = 0;
    double shown = 0;
    double rss = 0;
    report("bare_qt_window", QStringLiteral(MARLET_BARE_WINDOW_PATH), env, &bareShown, &bareRss);
    report("startup_to_shown", QStringLiteral(MARLET_APP_PATH), env, &shown, &rss);
    std::printf("bare_qt_window_shown_ms: %.1f\n", bareShown);
    std::printf("bare_qt_window_rss_mb: %.1f\n", bareRss);
    std::printf("startup_to_shown_ms: %.1f\n", shown);
    std::printf("startup_vs_bare_qt_ratio: %.2f\n", bareShown > 0 ? shown / bareShown : 0.0);
    std::printf("main_window_rss_mb: %.1f\n", rss);
    std::printf("target: startup_to_shown_ms < 150\ntarget: main_window_rss_mb < 35\n");

    QTemporaryDir sounds;
    // An MP3 of 20 s (LAME, from the test packages), or its WAV without LAME.
    QString tone = sounds.filePath(QStringLiteral("tone.wav"));
    Marlet::Testing::writeToneWav(tone, 44100, 20 * 44100, 8192);
    const QString mp3 = sounds.filePath(QStringLiteral("tone.mp3"));
    if (QProcess::execute(QStringLiteral("lame"), {QStringLiteral("--silent"), tone, mp3}) == 0)
        tone = mp3;
    const Launches launches = launchesToFirstSample(QStringLiteral(MARLET_APP_PATH), env, tone,
                                                    sounds.filePath(QStringLiteral("device.raw")));
    std::printf("launch_with_file_to_first_sample_ms: %.1f (%zu runs of %s; startup_to_shown_ms "
                "%.1f)\n",
                median(launches.firstSampleMs), launches.firstSampleMs.size(),
                qPrintable(QFileInfo(tone).fileName()), shown);
    std::printf("target: launch_with_file_to_first_sample_ms < 150\n");
    std::printf("playing_rss_mb: %.1f (bare_qt_window_rss_mb %.1f)\n",
                median(launches.playingRssMb), bareRss);
    std::printf("target: playing_rss_mb <= 36\n");

    const std::vector<double> later = laterLaunches(QStringLiteral(MARLET_APP_PATH), env, tone);
    std::printf("second_launch_handoff_ms: %.1f (%zu runs)\n", median(later), later.size());
    std::printf("target: second_launch_handoff_ms < 100\n");

    if (xvfb.state() != QProcess::NotRunning) {
        xvfb.terminate();
        xvfb.waitForFinished(5000);
    }
    return 0;
}
