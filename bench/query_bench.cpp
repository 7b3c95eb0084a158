// A full tester query against the simulator at 9600 baud with a 10 ms read window, compared with the
// physical lower bound: the wire time of every request and reply byte plus one silent window per
// exchange. Prints the median of several runs.
#include <algorithm>
#include <cstdio>
#include <memory>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include "ConfigManager.h"
#include "LogManager.h"
#include "MessageHeader.h"
#include "MessageReceiver.h"
#include "ServiceManager.h"
#include "TestAppDir.h"

namespace {

constexpr int readWindowMs = 10;
constexpr double byteSeconds = 10.0 / 9600.0; // 8N1: start, eight data bits, stop
constexpr int runs = 9;

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

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString simulator = QStringLiteral(KESTREL_BINARY_DIR "/bin/testersim");
    if (!QFileInfo::exists(simulator)) {
        std::fprintf(stderr, "testersim not built\n");
        return 1;
    }
    QTemporaryDir links;
    TestAppDir appDir;
    const QString link = links.path() + QStringLiteral("/ttyUSB1");
    appDir.writeFile(QStringLiteral("Config/main.ini"),
                     "[Basic]\r\nQueryDataTimeout=" + QByteArray::number(readWindowMs) +
                         "\r\nSerialPortName=" + links.path().toLocal8Bit() + "/ttyUSB%1\r\n");

    QProcess sim;
    sim.start(simulator, {link});
    if (!sim.waitForStarted() || !sim.waitForReadyRead(10000)) {
        std::fprintf(stderr, "simulator did not start\n");
        return 1;
    }

    LogManager::instance()->initialize();
    ConfigManager::instance()->initialize();
    ConfigManager::instance()->active();
    QElapsedTimer clock;
    clock.start();
    FinishClock window(clock);
    ServiceManager service;
    service.setWindowReceiver(&window);
    service.initialize();
    service.active();

    std::vector<double> measured;
    std::vector<double> bounds;
    std::vector<double> ratios;
    int completeRuns = 0;
    qsizetype debugLines = 0;
    for (int run = 0; run < runs; ++run) {
        LogManager::instance()->active();
        window.reset();
        auto request = makeMessage<QueryDataRequest>(MSG_QUERY_DATA_REQUEST);
        request.portNumber = 1;
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
        const double bound = double(bytes) * byteSeconds + dumps.size() / 2 * readWindowMs / 1000.0;
        measured.push_back(seconds);
        bounds.push_back(bound);
        ratios.push_back(seconds / bound);
        completeRuns += dumps.size() == 42 ? 1 : 0;
        std::printf("run %d: %.4f s, %lld bytes on the line, %lld exchanges, bound %.4f s\n", run + 1,
                    seconds, static_cast<long long>(bytes), static_cast<long long>(dumps.size() / 2), bound);
    }

    service.deactive();
    service.exit();
    ConfigManager::instance()->deactive();
    ConfigManager::instance()->exit();
    LogManager::instance()->exit();
    sim.terminate();
    sim.waitForFinished();

    // A run in which the loaded machine delayed a reply past the window has fewer exchanges and its
    // own, smaller bound; the ratio is taken per run.
    const double ratio = median(ratios);
    std::printf(
        "full query, 9600 baud, QueryDataTimeout %d: median %.4f s, median bound %.4f s, median ratio %.3f "
        "(limit 1.15); %d of %d runs with all 21 exchanges\n",
        readWindowMs, median(measured), median(bounds), ratio, completeRuns, runs);
    return ratio <= 1.15 ? 0 : 2;
}
