// Ten helper clients at once, each running complete export sessions (connect, GetSaveData,
// WriteRunLog, SetSaveResult, close) against a service whose queue never runs dry. Prints the
// sessions per second, the sessions that failed and the resident memory before and after.
//
//   bench_interface_sessions [clients=10] [sessions per client=500] [rounds=5] [nolog]

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <vector>

#include <malloc.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include "InterfaceManager.h"
#include "InterfaceTestKit.h"
#include "LogManager.h"
#include "PeerUser.h"
#include "TestAppDir.h"

using namespace HelperProtocol;
using namespace InterfaceTestKit;

namespace {

qint64 residentKiB();

// Resident memory once the log has caught up and freed heap went back to the system, so that
// what is measured is memory still in use, not allocator slack of the client threads.
qint64 settledResidentKiB()
{
    QDeadlineTimer deadline(10000);
    while (LogManager::instance()->pendingMessages() > 0 && !deadline.hasExpired())
        QThread::msleep(10);
    malloc_trim(0);
    return residentKiB();
}

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
    const int rounds = std::max(1, argc > 3 ? QByteArray(argv[3]).toInt() : 5);

    TestAppDir appDir;
    // "nolog" leaves the run log stopped, to tell the service's own memory from the log's buffers.
    const bool withLog = !(argc > 4 && QByteArray(argv[4]) == "nolog");
    LogManager::instance()->initialize();
    if (withLog)
        LogManager::instance()->active();
    FakeService service;
    service.setAlwaysHasJob({QStringLiteral("Battery test report"), QStringLiteral("Workshop header"),
                             QStringLiteral("Workshop footer"),
                             appDir.path(QStringLiteral("Temp/report.png")),
                             appDir.path(QStringLiteral("Temp/report.doc"))});
    service.setRecording(false);
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

    // What the owner check costs each accepted connection: lookups of one live connection.
    double lookupMicros = -1;
    {
        HelperClient probe;
        if (probe.connectTo(port)) {
            constexpr int lookups = 2000;
            QElapsedTimer timer;
            timer.start();
            int found = 0;
            for (int i = 0; i < lookups; ++i)
                found += PeerUser::ownerOf(probe.socket().localAddress(), probe.socket().localPort(),
                                           probe.socket().peerAddress(), probe.socket().peerPort())
                             .has_value();
            lookupMicros = found == lookups ? timer.nsecsElapsed() / 1000.0 / lookups : -1;
        }
    }

    const qint64 rssStart = settledResidentKiB();
    // A short warm-up round so that one-time allocations (threads, pools, codecs) are not counted.
    int failures = runRound(port, clients, 20, logLine);
    const qint64 rssBefore = settledResidentKiB();

    // Several full rounds: each must answer every session, and memory must level off, not climb.
    std::vector<double> rates;
    std::vector<qint64> rss;
    std::vector<std::uint32_t> logBacklog;
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        failures += runRound(port, clients, perClient, logLine);
        const qint64 elapsedMs = std::max<qint64>(1, timer.elapsed());
        rates.push_back(clients * perClient * 1000.0 / elapsedMs);
        logBacklog.push_back(LogManager::instance()->pendingMessages());
        rss.push_back(settledResidentKiB());
    }

    manager->deactive();
    manager->exit();
    LogManager::instance()->deactive();
    LogManager::instance()->exit();

    std::printf("clients: %d, sessions per client: %d, rounds: %d\n", clients, perClient, rounds);
    std::printf("failed sessions (all rounds): %d\n", failures);
    std::printf("sessions/s per round:");
    for (double rate : rates)
        std::printf(" %.0f", rate);
    std::vector<double> sorted = rates;
    std::sort(sorted.begin(), sorted.end());
    std::printf("  (median %.0f)\n", sorted[sorted.size() / 2]);
    std::printf("resident memory (KiB): start %lld, after warm-up %lld, after each round:",
                static_cast<long long>(rssStart), static_cast<long long>(rssBefore));
    for (qint64 value : rss)
        std::printf(" %lld", static_cast<long long>(value));
    std::printf("\npeer owner lookup: %.1f us per connection\n", lookupMicros);
    std::printf("log records still queued at the end of each round:");
    for (std::uint32_t value : logBacklog)
        std::printf(" %u", value);
    std::printf("\n");
    return failures == 0 ? 0 : 2;
}
