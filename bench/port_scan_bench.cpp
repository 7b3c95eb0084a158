// The port search over numbers 0 to 99: with no device at all, and with one device that stays silent.
#include <algorithm>
#include <cstdio>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include "LogManager.h"
#include "TestAppDir.h"
#include "TesterPortSearch.h"

namespace {

constexpr int readWindowMs = 10;
constexpr int runs = 9;

double medianScanMs(const QString &pattern, QList<int> *found)
{
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        *found = scanTesterPorts(pattern, readWindowMs);
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    TestAppDir appDir;
    LogManager::instance()->initialize();
    LogManager::instance()->active();
    QTemporaryDir links;
    const QString pattern = links.path() + QStringLiteral("/ttyUSB%1");

    QList<int> found;
    const double empty = medianScanMs(pattern, &found);
    std::printf("port search, no device: median %.2f ms (limit 50 ms), found %lld\n", empty,
                static_cast<long long>(found.size()));

    QProcess sim;
    sim.start(
        QStringLiteral(KESTREL_BINARY_DIR "/bin/testersim"),
        {QStringLiteral("--silent-after"), QStringLiteral("0"), links.path() + QStringLiteral("/ttyUSB42")});
    if (!sim.waitForStarted() || !sim.waitForReadyRead(10000)) {
        std::fprintf(stderr, "simulator did not start\n");
        return 1;
    }
    const double silent = medianScanMs(pattern, &found);
    std::printf("port search, one silent device: median %.2f ms (limit %d ms = 60 ms + T), found %lld\n",
                silent, 60 + readWindowMs, static_cast<long long>(found.size()));
    sim.terminate();
    sim.waitForFinished();
    LogManager::instance()->deactive();
    LogManager::instance()->exit();
    return empty < 50 && silent < 60 + readWindowMs ? 0 : 2;
}
