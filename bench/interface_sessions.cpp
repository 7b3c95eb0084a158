// Ten helper clients at once, each running complete export sessions (connect, GetSaveData,
// WriteRunLog, SetSaveResult, close) against a service whose queue never runs dry. Prints the
// sessions per second, the sessions that failed and the resident memory before and after.
//
//   bench_interface_sessions [clients=10] [sessions per client=500]

#include <atomic>
#include <cstdio>
#include <memory>
#include <vector>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include "InterfaceManager.h"
#include "InterfaceTestKit.h"
#include "LogManager.h"
#include "TestAppDir.h"

using namespace HelperProtocol;
using namespace InterfaceTestKit;

namespace {

qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

bool runSession(quint16 port, const QByteArray &logLine)
{
    HelperClient client;
    if (!client.connectTo(port))
        return false;
    GetSaveDataResponse response;
    if (!client.login(response) || response.result != ResultSaveDataFollows)
        return false;
    if (!client.send(logLine) || client.receive(12) != rawHeader(12, WriteRunLogResponseId, 0))
        return false;
    if (!client.send(setSaveResultRequest()))
        return false;
    const QByteArray closing = client.receive(12);
    Header header;
    if (!peekHeader(closing, header) || header.msgCommandId != SetSaveResultResponseId ||
        header.interfaceId != response.header.interfaceId)
        return false;
    return client.waitForDisconnect();
}

// Runs `perClient` sessions on each of `clients` threads; returns the failures.
int runRound(quint16 port, int clients, int perClient, const QByteArray &logLine)
{
    std::atomic<int> failures{0};
    std::vector<std::unique_ptr<QThread>> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back(QThread::create([&, port] {
            for (int s = 0; s < perClient; ++s) {
                if (!runSession(port, logLine))
                    failures.fetch_add(1);
            }
        }));
        threads.back()->start();
    }
    for (auto &thread : threads)
        thread->wait();
    return failures.load();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int clients = argc > 1 ? QByteArray(argv[1]).toInt() : 10;
    const int perClient = argc > 2 ? QByteArray(argv[2]).toInt() : 500;

    TestAppDir appDir;
    LogManager::instance()->initialize();
    LogManager::instance()->active();
    FakeService service;
    service.setAlwaysHasJob({QStringLiteral("Battery test report"), QStringLiteral("Workshop header"),
                             QStringLiteral("Workshop footer"), appDir.path(QStringLiteral("Temp/report.png")),
                             appDir.path(QStringLiteral("Temp/report.doc"))});
    InterfaceManager *manager = InterfaceManager::instance();
    manager->setServiceReceiver(&service);
    manager->setListenPort(0);
    manager->initialize();
    manager->active();
    QDeadlineTimer deadline(10000);
    while (manager->listenPort() == 0 && !deadline.hasExpired())
        QThread::msleep(5);
    const quint16 port = manager->listenPort();
    if (port == 0) {
        std::fprintf(stderr, "the service did not start listening\n");
        return 1;
    }
    const QByteArray logLine = writeRunLogRequest("quillet: document written, pages:1");

    const qint64 rssStart = residentKiB();
    // A short warm-up round so that one-time allocations (threads, pools, codecs) are not counted.
    const int warmupFailures = runRound(port, clients, 20, logLine);
    const qint64 rssBefore = residentKiB();

    QElapsedTimer timer;
    timer.start();
    const int failures = runRound(port, clients, perClient, logLine);
    const qint64 elapsedMs = timer.elapsed();
    const qint64 rssAfter = residentKiB();

    // A second full round: memory must stay where it was.
    const int failuresAgain = runRound(port, clients, perClient, logLine);
    const qint64 rssAfterSecond = residentKiB();

    manager->deactive();
    manager->exit();
    LogManager::instance()->deactive();
    LogManager::instance()->exit();

    const int sessions = clients * perClient;
    std::printf("clients: %d, sessions per client: %d, sessions: %d\n", clients, perClient, sessions);
    std::printf("failed sessions: warm-up %d, round 1 %d, round 2 %d\n", warmupFailures, failures, failuresAgain);
    std::printf("round 1: %lld ms, %.1f sessions/s\n", static_cast<long long>(elapsedMs),
                elapsedMs > 0 ? sessions * 1000.0 / elapsedMs : 0.0);
    std::printf("resident memory (KiB): start %lld, after warm-up %lld, after round 1 %lld, after round 2 %lld\n",
                static_cast<long long>(rssStart), static_cast<long long>(rssBefore),
                static_cast<long long>(rssAfter), static_cast<long long>(rssAfterSecond));
    return (warmupFailures + failures + failuresAgain) == 0 ? 0 : 2;
}
