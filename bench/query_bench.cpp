// A full tester query against the simulator at 9600 baud, paced in both directions (a reply starts
// once the request would have crossed the line, and each byte takes its wire time), compared with
// the wire time of every request and reply byte. Replies end by their length byte, so the read
// time-out should cost nothing on a sound line: the figure is taken for QueryDataTimeout 10 and 50.
// Then the stop: how long the service manager's deactive takes while a query waits on a silent
// tester with QueryDataTimeout 3600. Prints medians of several runs.
#include <algorithm>
#include <cstdio>
#include <vector>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include "ConfigManager.h"
#include "LogManager.h"
#include "MessageHeader.h"
#include "MessageReceiver.h"
#include "ServiceManager.h"
#include "TestAppDir.h"
#include "TesterPort.h"

namespace {

constexpr double byteSeconds = 10.0 / 9600.0; // 8N1: start, eight data bits, stop
constexpr int runs = 9;
constexpr double ratioLimit = 1.10;
constexpr int answeringPort = 1;
constexpr int silentPort = 2;

// Notes the moment the query's end arrives.
class FinishClock final : public MessageReceiver
{
public:
    explicit FinishClock(const QElapsedTimer &clock) : m_clock(clock) {}
    bool postMessage(const void *message, std::uint32_t) override
    {
        if (static_cast<const MessageHeader *>(message)->id == MSG_QUERY_DATA_FINISHED)
            m_finishedAt.storeRelease(m_clock.nsecsElapsed());
        return true;
    }
    qint64 finishedAt() const { return m_finishedAt.loadAcquire(); }
    void reset() { m_finishedAt.storeRelease(-1); }

private:
    const QElapsedTimer &m_clock;
    QAtomicInteger<qint64> m_finishedAt = -1;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// main.ini with this time-out, read afresh by the configuration store.
void useTimeout(const TestAppDir &appDir, const QString &linkFolder, int timeout)
{
    ConfigManager *config = ConfigManager::instance();
    if (config->isInitialized()) {
        config->deactive();
        config->exit();
    }
    appDir.writeFile(QStringLiteral("Config/main.ini"),
                     "[Basic]\r\nQueryDataTimeout=" + QByteArray::number(timeout) +
                         "\r\nSerialPortName=" + linkFolder.toLocal8Bit() + "/ttyUSB%1\r\n");
    config->initialize();
    config->active();
}

bool startSimulator(QProcess &sim, const QString &link, const QStringList &options)
{
    sim.start(QStringLiteral(KESTREL_BINARY_DIR "/bin/testersim"), QStringList(options) << link);
    return sim.waitForStarted() && sim.waitForReadyRead(10000);
}

struct QueryFigures
{
    double seconds = 0;
    double wireSeconds = 0;
    double ratio = 0;
    int completeRuns = 0;
};

QueryFigures measureQuery(ServiceManager &service, FinishClock &window, const QElapsedTimer &clock,
                          const TestAppDir &appDir, int timeout)
{
    std::vector<double> measured;
    std::vector<double> wire;
    std::vector<double> ratios;
    int complete = 0;
    qsizetype debugLines = appDir.logLines(QStringLiteral("Debug")).size();
    for (int run = 0; run < runs; ++run) {
        LogManager::instance()->active();
        window.reset();
        auto request = makeMessage<QueryDataRequest>(MSG_QUERY_DATA_REQUEST);
        request.portNumber = answeringPort;
        const qint64 start = clock.nsecsElapsed();
        service.postMessage(&request, sizeof(request));
        const QDeadlineTimer deadline(60000);
        while (window.finishedAt() < 0 && !deadline.hasExpired())
            QThread::usleep(200);
        const double seconds = double(window.finishedAt() - start) / 1e9;
        LogManager::instance()->deactive();

        // The bytes that really crossed the line, from this run's dumps.
        const QStringList lines = appDir.logLines(QStringLiteral("Debug"));
        const QStringList dumps =
            lines.mid(debugLines).filter(QRegularExpression(QStringLiteral("(Write|Read) Serial Port Data")));
        debugLines = lines.size();
        qsizetype bytes = 0;
        for (const QString &dump : dumps)
            bytes += dump.section(QStringLiteral("Data: "), -1).count(QLatin1Char(' '));
        const double bound = double(bytes) * byteSeconds;
        measured.push_back(seconds);
        wire.push_back(bound);
        ratios.push_back(seconds / bound);
        complete += dumps.size() == 42 ? 1 : 0;
        std::printf("  T %d, run %d: %.4f s, %lld bytes on the line (%.4f s), %lld exchanges, ratio %.3f\n",
                    timeout, run + 1, seconds, static_cast<long long>(bytes), bound,
                    static_cast<long long>(dumps.size() / 2), seconds / bound);
    }
    return QueryFigures{median(measured), median(wire), median(ratios), complete};
}

// deactive() while a query waits on a silent tester; the query is started afresh for every run.
double medianStopMs(ServiceManager &service)
{
    std::vector<double> stops;
    for (int run = 0; run < runs; ++run) {
        service.active();
        auto request = makeMessage<QueryDataRequest>(MSG_QUERY_DATA_REQUEST);
        request.portNumber = silentPort;
        service.postMessage(&request, sizeof(request));
        // Somewhere inside the first 3600 ms wait.
        QThread::msleep(200 + QRandomGenerator::global()->bounded(300));
        QElapsedTimer timer;
        timer.start();
        service.deactive();
        stops.push_back(double(timer.nsecsElapsed()) / 1e6);
        std::printf("  stop run %d: %.2f ms\n", run + 1, stops.back());
    }
    return median(stops);
}

// The fixed part of every query: opening the port (the library's lock file included) and closing it.
double medianOpenCloseMs()
{
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        openTesterPort(answeringPort).reset();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    return median(times);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (!QFileInfo::exists(QStringLiteral(KESTREL_BINARY_DIR "/bin/testersim"))) {
        std::fprintf(stderr, "testersim not built\n");
        return 1;
    }
    QTemporaryDir links;
    TestAppDir appDir;
    QProcess answering;
    QProcess silent;
    if (!startSimulator(answering, links.path() + QStringLiteral("/ttyUSB%1").arg(answeringPort), {}) ||
        !startSimulator(silent, links.path() + QStringLiteral("/ttyUSB%1").arg(silentPort),
                        {QStringLiteral("--silent-after"), QStringLiteral("0")})) {
        std::fprintf(stderr, "simulator did not start\n");
        return 1;
    }

    LogManager::instance()->initialize();
    QElapsedTimer clock;
    clock.start();
    FinishClock window(clock);
    ServiceManager service;
    service.setWindowReceiver(&window);
    service.initialize();
    service.active();

    bool withinLimit = true;
    for (int timeout : {10, 50}) {
        useTimeout(appDir, links.path(), timeout);
        const QueryFigures figures = measureQuery(service, window, clock, appDir, timeout);
        std::printf(
            "full query, 9600 baud, QueryDataTimeout %d: median %.4f s, wire time of all bytes %.4f s, "
            "median ratio %.3f (limit %.2f); %d of %d runs with all 21 exchanges\n",
            timeout, figures.seconds, figures.wireSeconds, figures.ratio, ratioLimit, figures.completeRuns,
            runs);
        withinLimit = withinLimit && figures.ratio <= ratioLimit;
    }
    std::printf("port open and close (part of every query): median %.2f ms\n", medianOpenCloseMs());
    service.deactive();

    LogManager::instance()->active();
    useTimeout(appDir, links.path(), 3600);
    const double stopMs = medianStopMs(service);
    std::printf("stop during a query waiting on a silent tester, QueryDataTimeout 3600: median %.2f ms "
                "(limit 50 ms)\n",
                stopMs);
    LogManager::instance()->deactive();

    service.exit();
    ConfigManager::instance()->deactive();
    ConfigManager::instance()->exit();
    LogManager::instance()->exit();
    answering.terminate();
    silent.terminate();
    answering.waitForFinished();
    silent.waitForFinished();
    return withinLimit && stopMs <= 50 ? 0 : 2;
}
