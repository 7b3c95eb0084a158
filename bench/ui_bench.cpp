// The window's figures: drawing the report page of a full record (printed form and saved PNG),
// building the main window with its port search over 100 absent devices, and the resident memory
// of a started window.
#include <algorithm>
#include <cstdio>
#include <vector>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPixmap>
#include <QTest>

#include "MainUI.h"
#include "UiTestEnvironment.h"

namespace {

// Offscreen unless the caller chose a platform: the figures should not depend on a display.
inline void useOffscreenPlatform()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

// The built artwork, so the pictures are decoded at their real sizes.
inline int copyArtwork(UiTestEnvironment &env)
{
    const QDir artwork(QStringLiteral(KESTREL_BINARY_DIR "/Image"));
    int copied = 0;
    for (const QString &name : artwork.entryList({QStringLiteral("*.png")}, QDir::Files))
        copied +=
            QFile::copy(artwork.filePath(name), env.dir().path(QStringLiteral("Image/") + name)) ? 1 : 0;
    return copied;
}

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

// Resident set size of this process in KiB (Linux), 0 where unknown.
inline long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return 0;
}

constexpr int renderRuns = 31;
constexpr int constructionRuns = 15;

template <typename Message> void post(MainUI &window, const Message &message)
{
    window.postMessage(&message, sizeof(message));
}

void feedFullRecord(MainUI &window)
{
    auto date = makeTestDate();
    date.year = 2026;
    date.month = 3;
    date.day = 7;
    post(window, date);
    auto battery = makeBatteryResult();
    battery.status = 1;
    battery.voltage = 1199;
    battery.measuredRating = 640;
    battery.resistance = 458;
    battery.percent = 92;
    post(window, battery);
    auto grounding = makeGroundingResult();
    grounding.status = 2;
    grounding.resistance = 3001;
    post(window, grounding);
    auto starter = makeStarterResult();
    starter.status = 1;
    starter.crankingVoltage = 1043;
    post(window, starter);
    auto charging3K = makeCharging3KResult();
    charging3K.status = 1;
    charging3K.highVoltage = 1462;
    charging3K.lowVoltage = 1388;
    post(window, charging3K);
    auto charging2K = makeCharging2KResult();
    charging2K.status = 2;
    charging2K.highVoltage = 1341;
    charging2K.lowVoltage = 1286;
    post(window, charging2K);
    auto avg2K = makeAvg2KResult();
    avg2K.status = 1;
    avg2K.voltage = 12;
    post(window, avg2K);
    auto capacity = makeCapacityInfo();
    capacity.capacity = 700;
    post(window, capacity);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::User);
}

void benchRenderReport(UiTestEnvironment &env)
{
    MainUI window;
    feedFullRecord(window);
    std::vector<double> printed;
    std::vector<double> saved;
    const QString savePath = env.dir().path(QStringLiteral("Temp/bench.png"));
    for (int run = 0; run < renderRuns; ++run) {
        QPixmap page(ReportPage::pageSize);
        QElapsedTimer timer;
        timer.start();
        window.renderReport(page, QString());
        printed.push_back(double(timer.nsecsElapsed()) / 1e6);

        QPixmap savedPage(ReportPage::pageSize);
        timer.restart();
        window.renderReport(savedPage, savePath);
        saved.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::printf(
        "renderReport, full record, print form (no file): median %.2f ms over %d runs (limit 30 ms)\n",
        median(printed), renderRuns);
    std::printf("renderReport, full record, saved as PNG: median %.2f ms over %d runs\n", median(saved),
                renderRuns);
}

void benchConstruction()
{
    std::vector<double> times;
    for (int run = 0; run < constructionRuns; ++run) {
        QElapsedTimer timer;
        timer.start();
        MainUI window;
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::printf("MainUI construction with port search over 100 absent devices: median %.2f ms over %d runs "
                "(limit 300 ms)\n",
                median(times), constructionRuns);
}

} // namespace

int main(int argc, char *argv[])
{
    useOffscreenPlatform();
    QApplication app(argc, argv);
    MainUI::installFonts();
    // SerialPortName points into the temporary tree, where none of the 100 devices exists.
    UiTestEnvironment env;
    if (!env.isReady()) {
        std::fprintf(stderr, "could not start the run log and the configuration store\n");
        return 1;
    }
    const int pictures = copyArtwork(env);
    std::printf("(%d artwork pictures in Image/)\n", pictures);
    const long before = residentKiB();

    MainUI window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        std::fprintf(stderr, "the window was not exposed\n");
    QCoreApplication::processEvents();
    std::printf("resident memory: %ld KiB before the window, %ld KiB with the started window shown\n", before,
                residentKiB());

    benchRenderReport(env);
    benchConstruction();
    return 0;
}
