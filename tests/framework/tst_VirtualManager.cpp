#include <QMutex>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <cstring>

#include <atomic>
#include <vector>

#include "VirtualManager.h"

namespace {

constexpr std::int32_t probeId = 100;
constexpr std::int32_t gateId = 101;

#pragma pack(push, 1)
struct ProbeMessage
{
    MessageHeader header;
    std::int32_t sequence = 0;
};
#pragma pack(pop)

ProbeMessage probe(std::int32_t sequence)
{
    auto message = makeMessage<ProbeMessage>(probeId);
    message.sequence = sequence;
    return message;
}

// Records what its handlers saw, and on which thread.
class RecordingManager final : public VirtualManager
{
public:
    // A test that fails midway still stops the thread before the handlers' state goes.
    ~RecordingManager() override
    {
        gate.release();
        VirtualManager::deactive();
    }
    bool initialize() override
    {
        if (!VirtualManager::initialize())
            return false;
        registerMessageHandler(probeId, &RecordingManager::onProbe);
        registerMessageHandler(gateId, &RecordingManager::onGate);
        registerTimerHandler(7, &RecordingManager::onTimer);
        return true;
    }

    void onProbe(const ProbeMessage *message)
    {
        QMutexLocker locker(&lock);
        sequences.push_back(message->sequence);
        handlerThreads.push_back(QThread::currentThread());
    }
    // Blocks the manager's thread until the test opens the gate.
    void onGate(const MessageHeader *) { gate.acquire(); }
    void onTimer(std::int32_t key)
    {
        QMutexLocker locker(&lock);
        timerKeys.push_back(key);
    }

    void onThreadStopping(const MessageHeader *message) override
    {
        {
            QMutexLocker locker(&lock);
            handledBeforeStop = static_cast<int>(sequences.size());
            stoppingThread = QThread::currentThread();
        }
        VirtualManager::onThreadStopping(message);
    }

    std::vector<std::int32_t> snapshot()
    {
        QMutexLocker locker(&lock);
        return sequences;
    }
    int timerCount()
    {
        QMutexLocker locker(&lock);
        return static_cast<int>(timerKeys.size());
    }
    void clearTimers()
    {
        QMutexLocker locker(&lock);
        timerKeys.clear();
    }

    QMutex lock;
    std::vector<std::int32_t> sequences;
    std::vector<QThread *> handlerThreads;
    std::vector<std::int32_t> timerKeys;
    int handledBeforeStop = -1;
    QThread *stoppingThread = nullptr;
    QSemaphore gate;
};

} // namespace

class tst_VirtualManager : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void activeBeforeInitializeFails()
    {
        RecordingManager manager;
        QVERIFY(!manager.active());
        QVERIFY(!manager.isRunning());
        auto message = probe(1);
        QVERIFY(!manager.postMessage(&message, sizeof(message)));
    }

    void handlersRunOnManagerThreadInOrder()
    {
        RecordingManager manager;
        QVERIFY(manager.initialize());
        QVERIFY(manager.active());
        QVERIFY(manager.active()); // a second call changes nothing
        for (int i = 0; i < 500; ++i) {
            auto message = probe(i);
            QVERIFY(manager.postMessage(&message, sizeof(message)));
        }
        QVERIFY(manager.deactive());
        QCOMPARE(manager.sequences.size(), std::size_t(500));
        for (int i = 0; i < 500; ++i)
            QCOMPARE(manager.sequences[std::size_t(i)], i);
        for (QThread *thread : manager.handlerThreads)
            QVERIFY(thread != QThread::currentThread());
        QCOMPARE(manager.handledBeforeStop, 500);
        QVERIFY(manager.stoppingThread != QThread::currentThread());
        QCOMPARE(manager.thread(), QThread::currentThread()); // handed back for a later active()
        QVERIFY(manager.exit());
    }

    void postAfterDeactiveIsRefused()
    {
        RecordingManager manager;
        QVERIFY(manager.initialize());
        QVERIFY(manager.active());
        QVERIFY(manager.deactive());
        QVERIFY(manager.deactive()); // not running: succeeds without effect
        auto message = probe(1);
        QVERIFY(!manager.postMessage(&message, sizeof(message)));
        QCOMPARE(manager.pendingMessages(), 0u);
    }

    void reactivationRunsHandlersAgain()
    {
        RecordingManager manager;
        QVERIFY(manager.initialize());
        for (int round = 0; round < 3; ++round) {
            QVERIFY(manager.active());
            auto message = probe(round);
            QVERIFY(manager.postMessage(&message, sizeof(message)));
            QVERIFY(manager.deactive());
        }
        QCOMPARE(manager.snapshot(), (std::vector<std::int32_t>{0, 1, 2}));
    }

    void malformedMessagesAreRefusedOrDropped_data()
    {
        QTest::addColumn<quint32>("declaredSize");
        QTest::addColumn<quint32>("length");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("size matches") << quint32(sizeof(ProbeMessage)) << quint32(sizeof(ProbeMessage)) << true;
        QTest::newRow("size disagrees with length") << quint32(100) << quint32(sizeof(ProbeMessage)) << false;
        QTest::newRow("shorter than a header") << quint32(4) << quint32(4) << false;
        QTest::newRow("header only, handler needs more") << quint32(8) << quint32(8) << true;
    }

    void malformedMessagesAreRefusedOrDropped()
    {
        QFETCH(quint32, declaredSize);
        QFETCH(quint32, length);
        QFETCH(bool, accepted);
        RecordingManager manager;
        QVERIFY(manager.initialize());
        QVERIFY(manager.active());
        auto message = probe(42);
        message.header.size = declaredSize;
        QCOMPARE(manager.postMessage(&message, length), accepted);
        QVERIFY(manager.deactive());
        // Only a whole message reaches the typed handler.
        QCOMPARE(manager.sequences.size(), std::size_t(accepted && declaredSize == sizeof(ProbeMessage) ? 1 : 0));
        QCOMPARE(manager.pendingMessages(), 0u);
    }

    void pendingLimitRefusesAndRecovers()
    {
        RecordingManager manager;
        QVERIFY(manager.initialize());
        QVERIFY(manager.active());
        QTRY_COMPARE(manager.pendingMessages(), 0u); // the thread-started message holds a slot until handled
        MessageHeader gate{sizeof(MessageHeader), std::uint32_t(gateId)};
        QVERIFY(manager.postMessage(&gate, sizeof(gate)));
        std::uint32_t accepted = 1;
        for (std::uint32_t i = 1; i < manager.maxPendingMessages(); ++i) {
            auto message = probe(std::int32_t(i));
            if (manager.postMessage(&message, sizeof(message)))
                ++accepted;
        }
        QCOMPARE(accepted, manager.maxPendingMessages());
        auto extra = probe(-1);
        QVERIFY(!manager.postMessage(&extra, sizeof(extra)));

        manager.gate.release(); // the gate handler returns, freeing slots
        // Posted once only: the retry must not fill the slot it waits for.
        bool posted = false;
        QTRY_VERIFY(posted || (posted = manager.postMessage(&extra, sizeof(extra))));
        QVERIFY(manager.deactive());
        QCOMPARE(manager.pendingMessages(), 0u);
    }

    // The stop message must get through a full queue, or deactive would wait forever.
    void deactiveWithFullQueueDrainsAndStops()
    {
        RecordingManager manager;
        QVERIFY(manager.initialize());
        QVERIFY(manager.active());
        MessageHeader gate{sizeof(MessageHeader), std::uint32_t(gateId)};
        QVERIFY(manager.postMessage(&gate, sizeof(gate)));
        int accepted = 0;
        for (std::uint32_t i = 1; i < manager.maxPendingMessages(); ++i) {
            auto message = probe(std::int32_t(i));
            accepted += manager.postMessage(&message, sizeof(message)) ? 1 : 0;
        }
        QThread *opener = QThread::create([&manager] {
            QThread::msleep(50);
            manager.gate.release();
        });
        opener->start();
        QVERIFY(manager.deactive());
        opener->wait();
        delete opener;
        QCOMPARE(int(manager.sequences.size()), accepted);
        QCOMPARE(manager.handledBeforeStop, accepted);
        QVERIFY(!manager.isRunning());
    }

    void messageWithoutHandlerFreesItsSlot()
    {
        RecordingManager manager;
        QVERIFY(manager.initialize());
        QVERIFY(manager.active());
        MessageHeader unknown{sizeof(MessageHeader), 999};
        QTRY_COMPARE(manager.pendingMessages(), 0u); // the thread-started message is handled
        for (std::uint32_t i = 0; i < manager.maxPendingMessages(); ++i)
            QVERIFY(manager.postMessage(&unknown, sizeof(unknown)));
        QTRY_COMPARE(manager.pendingMessages(), 0u);
        auto message = probe(1);
        QVERIFY(manager.postMessage(&message, sizeof(message)));
        QVERIFY(manager.deactive());
        QCOMPARE(manager.snapshot().size(), std::size_t(1));
        QCOMPARE(manager.pendingMessages(), 0u);
    }

    void keyedTimerRepeatCount_data()
    {
        QTest::addColumn<quint32>("repeat");
        QTest::newRow("three") << 3u;
        QTest::newRow("one") << 1u;
    }

    void keyedTimerRepeatCount()
    {
        QFETCH(quint32, repeat);
        RecordingManager manager;
        QVERIFY(manager.initialize());
        QVERIFY(manager.active());
        manager.startKeyTimer(7, 5, repeat);
        QTRY_COMPARE(manager.timerCount(), int(repeat));
        QTest::qWait(60); // stopped timers stay silent
        QCOMPARE(manager.timerCount(), int(repeat));

        // Starting the key again restarts the count.
        manager.clearTimers();
        manager.startKeyTimer(7, 5, repeat);
        QTRY_COMPARE(manager.timerCount(), int(repeat));
        QVERIFY(manager.deactive());
    }

    void stopKeyTimerStopsUnlimitedTimer()
    {
        RecordingManager manager;
        QVERIFY(manager.initialize());
        QVERIFY(manager.active());
        manager.stopKeyTimer(12345); // never started: nothing happens
        manager.startKeyTimer(7, 5, 0);
        QTRY_VERIFY(manager.timerCount() >= 3);
        manager.stopKeyTimer(7);
        // The stop is handled in order; after the following probe nothing more fires.
        auto message = probe(1);
        QVERIFY(manager.postMessage(&message, sizeof(message)));
        QTRY_COMPARE(manager.snapshot().size(), std::size_t(1));
        const int fired = manager.timerCount();
        QTest::qWait(50);
        QCOMPARE(manager.timerCount(), fired);
        QVERIFY(manager.deactive());
    }
};

QTEST_GUILESS_MAIN(tst_VirtualManager)
#include "tst_VirtualManager.moc"
