// Engine measurements. Prints one `name: value` line per figure, plus the reference
// figures measured in the same run. Always exits 0 unless it cannot measure at all;
// the targets are for reading, not for failing a build.
//
// Run from anywhere with SDL_AUDIODRIVER=dummy. The test file (10 min, 128 kbit/s stereo
// 44.1 kHz MP3) is made once with ffmpeg and kept in bench-data/ next to the executable.

#include "audio/audio_engine.h"
#include "audio/decoder.h"
#include "audio/engine_worker.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#include <sys/time.h>
#endif

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <limits>
#include <optional>
#include <vector>

using Marlet::Audio::AudioEngine;
using Marlet::Audio::Decoder;

namespace {

constexpr int kMediaSeconds = 600;
constexpr qint64 kMinMediaBytes = 9'000'000; // 128 kbit/s * 600 s is about 9.6 MB
constexpr int kDecodeRuns = 3;
constexpr int kLatencyRuns = 5;
constexpr int kDefaultPlaySeconds = 20;
constexpr qint64 kChunkFrames = 4096;
constexpr int kEngineTimeoutMs = 10000;
const char* const kIdleRssArg = "--idle-rss";
const char* const kBareRssArg = "--bare-rss";

void printLine(const char* name, const QString& value)
{
    std::printf("%s: %s\n", name, qPrintable(value));
    std::fflush(stdout);
}

void printFigure(const char* name, double value, int decimals)
{
    printLine(name, QString::number(value, 'f', decimals));
}

void printNote(const QString& message)
{
    std::fprintf(stderr, "bench_engine: %s\n", qPrintable(message));
}

double wallSeconds(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e9;
}

// CPU seconds (user + sys) of every thread of this process.
double selfCpuSeconds()
{
#ifdef Q_OS_UNIX
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
#else
    return double(std::clock()) / CLOCKS_PER_SEC;
#endif
}

// CPU seconds (user + sys) of the children waited for so far; nullopt where unknown.
std::optional<double> childCpuSeconds()
{
#ifdef Q_OS_UNIX
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
#else
    return std::nullopt;
#endif
}

// Resident memory of this process, in MB: all of it, anonymous, and file-backed
// (mostly shared library pages).
struct Resident
{
    double total = 0;
    double anon = 0;
    double file = 0;
};

// Nullopt where unknown.
std::optional<Resident> residentMb()
{
#ifdef Q_OS_LINUX
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return std::nullopt;
    Resident resident;
    bool haveTotal = false;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        const qsizetype colon = line.indexOf(':');
        const QByteArray key = line.left(colon);
        double* field = key == "VmRSS"     ? &resident.total
                        : key == "RssAnon" ? &resident.anon
                        : key == "RssFile" ? &resident.file
                                           : nullptr;
        if (!field)
            continue;
        bool ok = false;
        const double kb = line.mid(colon + 1).trimmed().split(' ').value(0).toDouble(&ok);
        if (!ok)
            return std::nullopt;
        *field = kb / 1024.0;
        haveTotal = haveTotal || field == &resident.total;
    }
    if (haveTotal)
        return resident;
#endif
    return std::nullopt;
}

QString mediaPath()
{
    return QCoreApplication::applicationDirPath() +
           QStringLiteral("/bench-data/mix_600s_128k_stereo_44100.mp3");
}

// Makes the test file unless a complete one is already there. A tone with pink noise
// mixed differently into each channel, so that the decoder does real work.
bool ensureMedia(const QString& path)
{
    if (QFileInfo(path).size() >= kMinMediaBytes)
        return true;
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QString partial = path + QStringLiteral(".part");
    const QString seconds = QString::number(kMediaSeconds);
    QProcess ffmpeg;
    ffmpeg.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    ffmpeg.setStandardOutputFile(QProcess::nullDevice());
    printNote(QStringLiteral("making %1").arg(QDir::toNativeSeparators(path)));
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {QStringLiteral("-nostdin"),
                  QStringLiteral("-hide_banner"),
                  QStringLiteral("-loglevel"),
                  QStringLiteral("error"),
                  QStringLiteral("-y"),
                  QStringLiteral("-f"),
                  QStringLiteral("lavfi"),
                  QStringLiteral("-i"),
                  QStringLiteral("sine=f=440:r=44100:d=%1").arg(seconds),
                  QStringLiteral("-f"),
                  QStringLiteral("lavfi"),
                  QStringLiteral("-i"),
                  QStringLiteral("anoisesrc=r=44100:c=pink:a=0.2:seed=1:d=%1").arg(seconds),
                  QStringLiteral("-filter_complex"),
                  QStringLiteral("[0:a][1:a]amerge=inputs=2,"
                                 "pan=stereo|c0=0.6*c0+0.4*c1|c1=0.3*c0+0.7*c1"),
                  QStringLiteral("-ac"),
                  QStringLiteral("2"),
                  QStringLiteral("-ar"),
                  QStringLiteral("44100"),
                  QStringLiteral("-c:a"),
                  QStringLiteral("libmp3lame"),
                  QStringLiteral("-b:a"),
                  QStringLiteral("128k"),
                  QStringLiteral("-f"),
                  QStringLiteral("mp3"),
                  partial});
    if (!ffmpeg.waitForStarted(-1) || !ffmpeg.waitForFinished(-1) ||
        ffmpeg.exitStatus() != QProcess::NormalExit || ffmpeg.exitCode() != 0) {
        printNote(
            QStringLiteral("cannot make the test file with ffmpeg: %1").arg(ffmpeg.errorString()));
        QFile::remove(partial);
        return false;
    }
    QFile::remove(path);
    return QFile::rename(partial, path);
}

// Runs the event loop until `engine` reaches `state`, fails, or `timeoutMs` passes.
bool waitForState(AudioEngine& engine, AudioEngine::State state, int timeoutMs)
{
    if (engine.state() == state)
        return true;
    QEventLoop loop;
    QObject::connect(&engine, &AudioEngine::stateChanged, &loop,
                     [&loop, state](AudioEngine::State now) {
                         if (now == state)
                             loop.quit();
                     });
    QObject::connect(&engine, &AudioEngine::failed, &loop,
                     [&loop](Marlet::Audio::CommandId, const QString& message) {
                         printNote(message);
                         loop.quit();
                     });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return engine.state() == state;
}

bool openAndWait(AudioEngine& engine, const QString& path)
{
    engine.open(path);
    return waitForState(engine, AudioEngine::State::Stopped, kEngineTimeoutMs);
}

void idle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// Child modes: resident memory with an engine created and a file opened, before
// anything else has grown the heap; or with the libraries loaded and nothing else done,
// for reference. Prints "total anon file" (MB) alone on stdout.
int runRssChild(const QString& path)
{
    std::optional<AudioEngine> engine;
    if (!path.isEmpty()) {
        engine.emplace();
        if (!openAndWait(*engine, path))
            return 1;
        idle(200); // let the engine thread settle
    }
    const std::optional<Resident> rss = residentMb();
    if (!rss)
        return 1;
    std::printf("%.1f %.1f %.1f\n", rss->total, rss->anon, rss->file);
    return 0;
}

#ifdef Q_OS_LINUX
// Runs this program in a child mode; the figures it printed, or nullopt.
std::optional<Resident> childRss(const QStringList& args)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), args);
    if (!child.waitForFinished(kEngineTimeoutMs * 2) ||
        child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0) {
        printNote(QStringLiteral("memory child failed: %1").arg(child.errorString()));
        return std::nullopt;
    }
    const QList<QByteArray> words = child.readAllStandardOutput().simplified().split(' ');
    Resident rss;
    bool ok[3] = {false, false, false};
    if (words.size() == 3) {
        rss.total = words[0].toDouble(&ok[0]);
        rss.anon = words[1].toDouble(&ok[1]);
        rss.file = words[2].toDouble(&ok[2]);
    }
    if (!ok[0] || !ok[1] || !ok[2])
        return std::nullopt;
    return rss;
}
#endif

void measureIdleRss(const QString& path)
{
#ifdef Q_OS_LINUX
    const std::optional<Resident> opened = childRss({QString::fromLatin1(kIdleRssArg), path});
    const std::optional<Resident> bare = childRss({QString::fromLatin1(kBareRssArg)});
    if (!opened) {
        printLine("opened_rss_mb", QStringLiteral("n/a"));
        return;
    }
    printFigure("opened_rss_mb", opened->total, 1);
    printFigure("opened_rss_anon_mb", opened->anon, 1);
    printFigure("opened_rss_file_mb", opened->file, 1);
    if (bare)
        printFigure("libraries_only_rss_mb", bare->total, 1);
#else
    Q_UNUSED(path);
    printLine("opened_rss_mb", QStringLiteral("n/a"));
#endif
}

struct Cost
{
    double cpu = std::numeric_limits<double>::infinity();
    double wall = std::numeric_limits<double>::infinity();
};

// Decoder throughput against `ffmpeg -f null`. Compared on CPU time (user + sys of the
// whole process, this one or the ffmpeg child): it counts the same work on both sides
// whatever ffmpeg spreads over threads, and leaves out process start-up waits and
// scheduling noise. ffmpeg's figure still includes its start-up and probing, so the
// engine side includes Decoder::open(). Wall times are printed for reference; where
// child CPU time is unknown the ratio falls back to wall time.
bool measureDecode(const QString& path)
{
    Cost engine;
    qint64 frames = 0;
    int rate = 0;
    for (int run = 0; run < kDecodeRuns; ++run) {
        const double cpu0 = selfCpuSeconds();
        QElapsedTimer wall;
        wall.start();
        QString error;
        const std::unique_ptr<Decoder> decoder = Decoder::open(path, &error);
        if (!decoder) {
            printNote(error);
            return false;
        }
        std::vector<float> chunk(size_t(kChunkFrames) * size_t(decoder->outputChannels()));
        qint64 total = 0;
        for (qint64 got; (got = decoder->read(chunk.data(), kChunkFrames)) > 0;)
            total += got;
        engine.wall = std::min(engine.wall, wallSeconds(wall));
        engine.cpu = std::min(engine.cpu, selfCpuSeconds() - cpu0);
        frames = total;
        rate = decoder->outputRate();
    }

    Cost ffmpeg;
    bool haveChildCpu = true;
    for (int run = 0; run < kDecodeRuns; ++run) {
        QProcess process;
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const std::optional<double> cpu0 = childCpuSeconds();
        QElapsedTimer wall;
        wall.start();
        process.start(QStringLiteral("ffmpeg"),
                      {QStringLiteral("-nostdin"), QStringLiteral("-hide_banner"),
                       QStringLiteral("-nostats"), QStringLiteral("-loglevel"),
                       QStringLiteral("error"), QStringLiteral("-i"), path, QStringLiteral("-f"),
                       QStringLiteral("null"), QStringLiteral("-")});
        if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
            process.exitCode() != 0) {
            printNote(QStringLiteral("ffmpeg failed: %1").arg(process.errorString()));
            return false;
        }
        ffmpeg.wall = std::min(ffmpeg.wall, wallSeconds(wall));
        const std::optional<double> cpu1 = childCpuSeconds();
        if (cpu0 && cpu1)
            ffmpeg.cpu = std::min(ffmpeg.cpu, *cpu1 - *cpu0);
        else
            haveChildCpu = false;
    }

    printFigure("decoded_audio_seconds", rate > 0 ? double(frames) / rate : 0.0, 3);
    printFigure("engine_decode_seconds", engine.cpu, 3);
    printFigure("engine_decode_wall_seconds", engine.wall, 3);
    if (haveChildCpu)
        printFigure("ffmpeg_decode_seconds", ffmpeg.cpu, 3);
    printFigure("ffmpeg_decode_wall_seconds", ffmpeg.wall, 3);
    // Same file on both sides, so the throughput ratio is the inverse ratio of costs.
    const double ratio = haveChildCpu ? ffmpeg.cpu / engine.cpu : ffmpeg.wall / engine.wall;
    printFigure("decode_speed_ratio_vs_ffmpeg", ratio, 3);
    return true;
}

bool measureOpenToFirstSample(AudioEngine& engine, const QString& path)
{
    std::vector<double> runs;
    QString list;
    for (int run = 0; run < kLatencyRuns; ++run) {
        engine.close();
        if (!waitForState(engine, AudioEngine::State::NotOpen, kEngineTimeoutMs))
            return false;
        const qint64 startNs = Marlet::Audio::steadyNowNs();
        engine.open(path);
        engine.play();
        if (!waitForState(engine, AudioEngine::State::Playing, kEngineTimeoutMs))
            return false;
        const qint64 firstNs = engine.firstSampleSteadyNs();
        if (firstNs < startNs) {
            printNote(QStringLiteral("no first sample time after play()"));
            return false;
        }
        const double ms = double(firstNs - startNs) / 1e6;
        runs.push_back(ms);
        list += (list.isEmpty() ? QString() : QStringLiteral(" ")) + QString::number(ms, 'f', 2);
    }
    engine.close();
    waitForState(engine, AudioEngine::State::NotOpen, kEngineTimeoutMs);
    printLine("open_to_first_sample_runs_ms", list);
    printFigure("open_to_first_sample_ms", median(runs), 2);
    return true;
}

bool measurePlaybackCpu(AudioEngine& engine, const QString& path)
{
    bool ok = false;
    int seconds = qEnvironmentVariableIntValue("BENCH_PLAY_SECONDS", &ok);
    if (!ok || seconds <= 0)
        seconds = kDefaultPlaySeconds;
    if (!openAndWait(engine, path))
        return false;

    QElapsedTimer wall;
    wall.start();
    const double cpu0 = selfCpuSeconds();
    engine.play();
    idle(seconds * 1000);
    const double cpu = selfCpuSeconds() - cpu0;
    const double played = wallSeconds(wall);
    const qint64 positionMs = engine.positionMs();
    const bool playing = engine.state() == AudioEngine::State::Playing;
    engine.stop();
    waitForState(engine, AudioEngine::State::Stopped, kEngineTimeoutMs);
    // SDL's dummy device takes audio slightly slower than the clock; the figure is per
    // minute of audio actually played, or of wall time if that is less.
    const double audioSeconds = std::min(played, double(positionMs) / 1000.0);
    if (!playing || audioSeconds <= 0) {
        printNote(QStringLiteral("playback did not last the whole window"));
        return false;
    }

    printFigure("playback_window_seconds", played, 3);
    printFigure("playback_position_seconds", double(positionMs) / 1000.0, 3);
    printFigure("playback_cpu_seconds", cpu, 3);
    printFigure("playback_cpu_seconds_per_audio_minute", cpu * 60.0 / audioSeconds, 4);
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 3 && args.at(1) == QString::fromLatin1(kIdleRssArg))
        return runRssChild(args.at(2));
    if (args.size() == 2 && args.at(1) == QString::fromLatin1(kBareRssArg))
        return runRssChild(QString());

    if (qEnvironmentVariable("SDL_AUDIODRIVER") != QStringLiteral("dummy"))
        printNote(QStringLiteral("SDL_AUDIODRIVER is not \"dummy\"; a real device is used"));

    const QString path = mediaPath();
    if (!ensureMedia(path))
        return 1;

    // Memory first, in a fresh process, so that nothing measured later inflates it.
    measureIdleRss(path);

    bool complete = measureDecode(path);
    {
        AudioEngine engine;
        complete = measureOpenToFirstSample(engine, path) && complete;
        complete = measurePlaybackCpu(engine, path) && complete;
    }
    if (!complete)
        printNote(QStringLiteral("some figures could not be measured"));

    printLine("target", QStringLiteral("decode_speed_ratio_vs_ffmpeg >= 1.0"));
    printLine("target", QStringLiteral("playback_cpu_seconds_per_audio_minute <= 0.10"));
    printLine("target", QStringLiteral("open_to_first_sample_ms <= 20"));
    return 0;
}
