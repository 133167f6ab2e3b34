// Playlist figures: 100,000 entries appended one at a time to the main window's list, the
// way folders are added, against the same appends to a bare list widget in the same run;
// then, through the engine module on SDL's disk driver, the silence between two files when
// the playlist moves on by itself, and the time from a double-click to the first sample.

#include "main_window/form1.h"
#include "support/tone_files.h"
#include "transport/engine_loader.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

using Marlet::MainWindow::Form1;

namespace {

constexpr int kEntries = 100'000;
constexpr int kRate = 44100; // of the tone files, and so of the device
constexpr int kAdvanceRuns = 3;
constexpr int kClickRuns = 7;
constexpr int kTimeoutMs = 20000;

double appendMs(QListWidget* list)
{
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < kEntries; ++i)
        list->addItem(QStringLiteral("/home/user/Music/Album %1/Track %2.mp3").arg(i / 12).arg(i));
    QCoreApplication::processEvents();
    return double(clock.nsecsElapsed()) / 1e6;
}

qint64 steadyNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Runs the event loop until `done` holds or `timeoutMs` has passed.
template <typename Predicate>
bool runUntil(Predicate done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents();
        QThread::msleep(1);
    }
    return true;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? -1.0 : values[values.size() / 2];
}

void printRuns(const char* name, const std::vector<double>& runs)
{
    std::printf("%s_runs:", name);
    for (const double run : runs)
        std::printf(" %.1f", run);
    std::printf("\n%s: %.1f\n", name, median(runs));
    std::fflush(stdout);
}

// A main window over the engine module; `engine` is set to its engine once made.
std::unique_ptr<Form1> windowOverEngine(Marlet::Audio::Engine** engine)
{
    return std::make_unique<Form1>([engine](Marlet::Audio::EngineClient* client, QString* error) {
        auto made = Marlet::Transport::loadEngine(client, error);
        *engine = made.get();
        return made;
    });
}

// Silence in ms between a 1 s tone and the 0.5 s tone after it, when the first ends and
// the playlist moves on by itself; -1 when the output does not hold both whole.
double advanceGapMs(const QTemporaryDir& dir, int run)
{
    const QString first = dir.filePath(QStringLiteral("first.wav"));
    const QString second = dir.filePath(QStringLiteral("second.wav"));
    const QString output = dir.filePath(QStringLiteral("advance%1.raw").arg(run));
    qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(output));
    {
        Marlet::Audio::Engine* engine = nullptr;
        const auto form = windowOverEngine(&engine);
        form->flist()->addItems({first, second});
        form->flist()->setCurrentRow(0);
        int ends = 0;
        QObject::connect(form->mmc(), &Marlet::Transport::TransportControl::nextRequested,
                         form.get(), [&] { ++ends; });
        form->flist_DblClick();
        if (!runUntil([&] { return ends == 2; }, kTimeoutMs))
            return -1;
        runUntil([] { return false; }, 1000); // the device plays the tail
    }                                         // the device closes, which completes the file
    QFile file(output);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray bytes = file.readAll();
    std::vector<float> samples(size_t(bytes.size()) / sizeof(float));
    std::memcpy(samples.data(), bytes.constData(), samples.size() * sizeof(float));
    const auto handover = Marlet::Testing::measureHandover(samples, 0.25f, 0.5f);
    if (!handover.inOrder || handover.firstFrames != kRate || handover.secondFrames < kRate / 3)
        return -1;
    return double(handover.gapFrames) * 1000.0 / kRate;
}

// From a double-click on the selected entry to its first sample handed to the device, in
// ms, once per run after one run that loads the engine.
std::vector<double> doubleClickMs(const QTemporaryDir& dir)
{
    const QString tone = dir.filePath(QStringLiteral("long.wav"));
    qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(dir.filePath(QStringLiteral("click.raw"))));
    std::vector<double> runs;
    Marlet::Audio::Engine* engine = nullptr;
    const auto form = windowOverEngine(&engine);
    form->flist()->addItem(tone);
    form->flist()->setCurrentRow(0);
    for (int run = 0; run <= kClickRuns; ++run) {
        const qint64 startNs = steadyNowNs();
        form->flist_DblClick();
        if (!runUntil([&] { return engine && engine->firstSampleSteadyNs() > startNs; },
                      kTimeoutMs))
            return {};
        if (run > 0)
            runs.push_back(double(engine->firstSampleSteadyNs() - startNs) / 1e6);
        runUntil([] { return false; }, 200);
    }
    return runs;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QListWidget bare;
    bare.show();
    const double reference = appendMs(&bare);

    Marlet::MainWindow::Form1 form;
    form.show();
    const double playlist = appendMs(form.flist());

    std::printf("bare_list_100k_append_ms: %.1f\n", reference);
    std::printf("playlist_100k_append_ms: %.1f\n", playlist);
    std::printf("playlist_vs_bare_list_ratio: %.2f\n", reference > 0 ? playlist / reference : 0.0);
    std::printf("target: playlist_100k_append_ms < 1000\n");
    std::fflush(stdout);

    QTemporaryDir dir;
    qputenv("SDL_AUDIODRIVER", "disk");
    if (!dir.isValid() ||
        !Marlet::Testing::writeToneWav(dir.filePath(QStringLiteral("first.wav")), kRate, kRate,
                                       8192) ||
        !Marlet::Testing::writeToneWav(dir.filePath(QStringLiteral("second.wav")), kRate, kRate / 2,
                                       16384) ||
        !Marlet::Testing::writeToneWav(dir.filePath(QStringLiteral("long.wav")), kRate, 10 * kRate,
                                       8192)) {
        std::fprintf(stderr, "bench_playlist: cannot write the tone files\n");
        return 0;
    }
    std::vector<double> gaps;
    for (int run = 0; run < kAdvanceRuns; ++run) {
        const double gap = advanceGapMs(dir, run);
        if (gap < 0)
            std::fprintf(stderr, "bench_playlist: advance run %d did not play both files\n", run);
        else
            gaps.push_back(gap);
    }
    printRuns("advance_gap_ms", gaps);
    printRuns("double_click_to_first_sample_ms", doubleClickMs(dir));
    std::printf("target: advance_gap_ms < 50\n");
    std::printf("target: double_click_to_first_sample_ms < 30\n");
    return 0;
}
