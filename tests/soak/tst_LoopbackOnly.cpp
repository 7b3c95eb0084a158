#include <memory>

#include <QNetworkInterface>
#include <QTcpSocket>
#include <QTest>

#include "InterfaceManager.h"
#include "InterfaceTestKit.h"
#include "LogManager.h"
#include "TestAppDir.h"

using namespace InterfaceTestKit;

// The service must not be reachable from other machines: from every address of this machine
// other than the loopback, IPv4 and IPv6 alike, a connection is refused.
class tst_LoopbackOnly : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_app = std::make_unique<TestAppDir>();
        QVERIFY(LogManager::instance()->initialize() && LogManager::instance()->active());
        // A free port, so that the test runs beside anything holding the service's own.
        manager()->setListenPort(0);
        manager()->setServiceReceiver(&m_service);
        QVERIFY(manager()->initialize() && manager()->active());
        QTRY_VERIFY(manager()->listenPort() != 0);
    }

    void cleanupTestCase()
    {
        QVERIFY(manager()->deactive() && manager()->exit());
        LogManager::instance()->deactive();
        LogManager::instance()->exit();
        m_app.reset();
    }

    void otherAddressesAreRefused_data()
    {
        QTest::addColumn<QHostAddress>("address");
        int rows = 0;
        for (const QHostAddress &address : QNetworkInterface::allAddresses()) {
            if (!address.isLoopback()) {
                QTest::newRow(qPrintable(address.toString())) << address;
                ++rows;
            }
        }
        if (rows == 0)
            QTest::newRow("none") << QHostAddress();
    }

    void otherAddressesAreRefused()
    {
        QFETCH(QHostAddress, address);
        if (address.isNull())
            QSKIP("No address besides the loopback to try from");
        // The loopback answers on the same port, so a refusal below is the listening address's doing.
        HelperClient client;
        QVERIFY(client.connectTo(manager()->listenPort()));
        QVERIFY(client.login());

        QTcpSocket stranger;
        stranger.connectToHost(address, manager()->listenPort());
        QVERIFY(!stranger.waitForConnected(waitMs));
        QCOMPARE(stranger.error(), QAbstractSocket::ConnectionRefusedError);
    }

private:
    std::unique_ptr<TestAppDir> m_app;
    FakeService m_service;
    // The fake service answers through the singleton.
    InterfaceManager *manager() { return InterfaceManager::instance(); }
};

QTEST_GUILESS_MAIN(tst_LoopbackOnly)
#include "tst_LoopbackOnly.moc"
