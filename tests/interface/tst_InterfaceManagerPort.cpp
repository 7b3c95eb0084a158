#include <memory>

#include <QDeadlineTimer>
#include <QTcpServer>
#include <QTest>

#include "InterfaceManager.h"
#include "InterfaceTestKit.h"
#include "LogManager.h"
#include "TestAppDir.h"

using namespace HelperProtocol;
using namespace InterfaceTestKit;

// The service's real port, 35671. Runs alone (resource lock), since every test here needs it.
class tst_InterfaceManagerPort : public QObject
{
    Q_OBJECT

private:
    InterfaceManager *manager() { return InterfaceManager::instance(); }

    std::unique_ptr<TestAppDir> m_app;
    FakeService m_service;

private Q_SLOTS:
    void initTestCase()
    {
        m_app = std::make_unique<TestAppDir>();
        QVERIFY(LogManager::instance()->initialize());
        QVERIFY(LogManager::instance()->active());
        manager()->setServiceReceiver(&m_service);
        QVERIFY(manager()->initialize());
    }

    void cleanup() { QVERIFY(manager()->deactive()); }

    void cleanupTestCase()
    {
        QVERIFY(manager()->exit());
        LogManager::instance()->deactive();
        LogManager::instance()->exit();
        m_app.reset();
    }

    void listensOnTheLoopbackOnly()
    {
        QVERIFY(manager()->active());
        QDeadlineTimer deadline(waitMs);
        while (manager()->listenPort() == 0 && !deadline.hasExpired())
            QTest::qWait(10);
        QCOMPARE(manager()->listenPort(), HelperProtocol::port);
        QCOMPARE(
            waitForRunLine(*m_app, QStringLiteral("InterfaceManager Create Tcp Server Listen Successful.")),
            QStringLiteral(
                "InterfaceManager Create Tcp Server Listen Successful. Code Type:1, Listen Port:35671"));

        HelperClient client;
        QVERIFY(client.connectTo(35671));
        QVERIFY(client.login());

        // Bound to the loopback alone: the kernel lists no other address for the port, and 127.0.0.2
        // (taken by a socket bound to every address) is refused.
        const QStringList faults = reachableBeyondLoopback(HelperProtocol::port);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QStringLiteral("; "))));
    }

    void portTakenByAnotherProgram()
    {
        // Whether this blocker or some other program holds the port, the service cannot have it.
        QTcpServer blocker;
        blocker.listen(QHostAddress::LocalHost, 35671);

        QVERIFY(manager()->active());
        const QString line =
            waitForRunLine(*m_app, QStringLiteral("InterfaceManager Create Tcp Server Listen Failed."));
        QVERIFY(
            line.startsWith(QStringLiteral("InterfaceManager Create Tcp Server Listen Failed. Code Type:1, "
                                           "Listen Port:35671, Socket Error:%1, Error:")
                                .arg(int(QAbstractSocket::AddressInUseError))));
        QCOMPARE(manager()->listenPort(), quint16(0));

        // kestrel keeps running: the manager still handles its messages.
        QVERIFY(manager()->isRunning());
        auto answer = make<SetSaveResultResponse>(SetSaveResultResponseId);
        answer.header.interfaceId = 10;
        QVERIFY(manager()->postMessage(&answer, sizeof(answer)));
        QVERIFY(!waitForRunLine(*m_app, QStringLiteral("InterfaceManager onSendMsgToInterface Failed"))
                     .isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_InterfaceManagerPort)
#include "tst_InterfaceManagerPort.moc"
