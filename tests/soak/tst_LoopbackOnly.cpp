#include <memory>

#include <QTcpServer>
#include <QTest>

#include "InterfaceManager.h"
#include "InterfaceTestKit.h"
#include "LogManager.h"
#include "TestAppDir.h"

using namespace InterfaceTestKit;

// The service must not be reachable from other machines. Every check stays on the loopback: the
// kernel's socket table names the addresses listened on, and 127.0.0.2 is refused unless the socket
// is bound to every address. Control listeners show that the check fails where it should.
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

    void reachableOnlyOverTheLoopback_data()
    {
        QTest::addColumn<bool>("service");
        QTest::addColumn<QHostAddress>("controlAddress");
        QTest::addColumn<bool>("loopbackOnly");
        QTest::newRow("the service") << true << QHostAddress() << true;
        QTest::newRow("control bound to 127.0.0.1") << false << QHostAddress(QHostAddress::LocalHost) << true;
        QTest::newRow("control bound to 0.0.0.0") << false << QHostAddress(QHostAddress::AnyIPv4) << false;
        QTest::newRow("control bound to every IPv4 and IPv6 address")
            << false << QHostAddress(QHostAddress::Any) << false;
        QTest::newRow("control bound to ::1") << false << QHostAddress(QHostAddress::LocalHostIPv6) << true;
    }

    void reachableOnlyOverTheLoopback()
    {
        QFETCH(bool, service);
        QFETCH(QHostAddress, controlAddress);
        QFETCH(bool, loopbackOnly);

        QTcpServer control;
        quint16 port = 0;
        if (service) {
            // The service answers on its port, so a refusal below is its listening address's doing.
            HelperClient client;
            QVERIFY(client.connectTo(manager()->listenPort()));
            QVERIFY(client.login());
            port = manager()->listenPort();
        } else {
            if (!control.listen(controlAddress))
                QSKIP(qPrintable(QStringLiteral("Cannot listen on %1: %2")
                                     .arg(controlAddress.toString(), control.errorString())));
            port = control.serverPort();
        }

        const QStringList faults = reachableBeyondLoopback(port);
        if (loopbackOnly)
            QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QStringLiteral("; "))));
        else
            QVERIFY2(!faults.isEmpty(), "a listener on every address passed the loopback check");
    }

private:
    std::unique_ptr<TestAppDir> m_app;
    FakeService m_service;
    // The fake service answers through the singleton.
    InterfaceManager *manager() { return InterfaceManager::instance(); }
};

QTEST_GUILESS_MAIN(tst_LoopbackOnly)
#include "tst_LoopbackOnly.moc"
