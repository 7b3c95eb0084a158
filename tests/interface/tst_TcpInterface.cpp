#include <memory>

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QPointer>
#include <QTest>

#include "InterfaceTestKit.h"
#include "LogManager.h"
#include "TcpInterface.h"
#include "TestAppDir.h"

using namespace InterfaceTestKit;

namespace {

// A one-byte protocol that shows the link machinery on its own: each byte is a message whose
// value is its class; what is handled and sent is recorded.
class ProbeInterface final : public TcpInterface
{
public:
    using TcpInterface::onTick;
    using TcpInterface::TcpInterface;

    qsizetype decode(QByteArrayView input, QByteArray &message, int &messageClass, bool &error) override
    {
        if (input.isEmpty())
            return 0;
        message = input.first(1).toByteArray();
        messageClass = input[0] - '0';
        error = input[0] == 'x';
        return 1;
    }
    bool code(const QByteArray &message, QByteArray &bytes, int &messageClass) override
    {
        messageClass = 7;
        bytes = message;
        return !message.isEmpty();
    }
    bool onDecodeMessage(const QByteArray &message) override
    {
        handled += message;
        return true;
    }
    bool onSendCodeMessage(const QByteArray &bytes) override
    {
        return socket() && socket()->write(bytes) == bytes.size();
    }
    void sendShakeHand() override { ++shakeHands; }

    QByteArray handled;
    int shakeHands = 0;
};

} // namespace

class tst_TcpInterface : public QObject
{
    Q_OBJECT

private:
    // A connected pair: the client end for the test, the server end given to the link.
    bool connectPair(std::unique_ptr<QTcpSocket> &client, QTcpSocket *&serverSide)
    {
        client = std::make_unique<QTcpSocket>();
        client->connectToHost(QHostAddress(QHostAddress::LocalHost), m_server.serverPort());
        if (!m_server.waitForNewConnection(waitMs))
            return false;
        serverSide = m_server.nextPendingConnection();
        return serverSide != nullptr && client->waitForConnected(waitMs);
    }

    std::unique_ptr<TestAppDir> m_app;
    QTcpServer m_server;

private Q_SLOTS:
    void initTestCase()
    {
        m_app = std::make_unique<TestAppDir>();
        QVERIFY(LogManager::instance()->initialize());
        QVERIFY(LogManager::instance()->active());
        QVERIFY(m_server.listen(QHostAddress::LocalHost, 0));
    }

    void cleanupTestCase()
    {
        LogManager::instance()->deactive();
        LogManager::instance()->exit();
        m_app.reset();
    }

    void baseProtocolOperationsLogAndFail()
    {
        TcpInterface link(0);
        QByteArray message(20, 'm');
        QByteArray bytes;
        int messageClass = 0;
        bool error = false;
        QCOMPARE(link.decode(QByteArray(5, 'i'), message, messageClass, error), 0);
        QVERIFY(!link.code(message, bytes, messageClass));
        QVERIFY(!link.onDecodeMessage(message));
        QVERIFY(!link.onSendCodeMessage(message));
        const QStringList log = flushedRunLog(*m_app);
        QVERIFY(log.contains(QStringLiteral("TcpInterface Decode Failed, inData Size:5, outData Size:20")));
        QVERIFY(log.contains(QStringLiteral("TcpInterface Code Failed, inData Size:20, outData Size:0")));
        QVERIFY(log.contains(QStringLiteral("TcpInterface SendDeCodeMessage Failed, Data Size:20")));
        QVERIFY(log.contains(QStringLiteral("TcpInterface SendCodeMessage Failed, Data Size:20")));
    }

    void acceptRefusesNoSocketAndABusyLink()
    {
        ProbeInterface link(3);
        QVERIFY(!link.accept(nullptr, true, false, 10, 1));
        QVERIFY(!link.inUse());

        std::unique_ptr<QTcpSocket> client;
        QTcpSocket *serverSide = nullptr;
        QVERIFY(connectPair(client, serverSide));
        QVERIFY(link.accept(serverSide, true, false, 10, 1));
        QCOMPARE(link.state(), TcpInterface::WaitLoginRequest);

        std::unique_ptr<QTcpSocket> otherClient;
        QTcpSocket *otherSide = nullptr;
        QVERIFY(connectPair(otherClient, otherSide));
        std::unique_ptr<QTcpSocket> notTaken(otherSide);
        QVERIFY(!link.accept(otherSide, false, false, 10, 1));
        QCOMPARE(link.state(), TcpInterface::WaitLoginRequest);
        QVERIFY(otherSide->parent() != &link);

        // The link still serves its own connection.
        client->write("1");
        QTRY_COMPARE(link.handled, QByteArray("1"));

        const QStringList log = flushedRunLog(*m_app);
        QVERIFY(log.contains(
            QStringLiteral("TcpInterface Accept Failed, Socket:0, Use Flag:0, Code Type:0, Interface Id:3")));
        QVERIFY(log.contains(
            QStringLiteral("TcpInterface Accept Failed, Socket:%1, Use Flag:1, Code Type:1, Interface Id:3")
                .arg(reinterpret_cast<quintptr>(otherSide))));
    }

    void classesAcceptedByState_data()
    {
        QTest::addColumn<bool>("loginExpected");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArray>("handled");
        QTest::newRow("waiting: only a login request") << true << QByteArray("72341") << QByteArray("1");
        QTest::newRow("waiting: one login request at a time") << true << QByteArray("11") << QByteArray("1");
        QTest::newRow("waiting: decode errors dropped") << true << QByteArray("x1") << QByteArray("1");
        QTest::newRow("linked: all but login request and ack")
            << false << QByteArray("1273435") << QByteArray("73435");
    }

    void classesAcceptedByState()
    {
        QFETCH(bool, loginExpected);
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, handled);
        ProbeInterface link(0);
        std::unique_ptr<QTcpSocket> client;
        QTcpSocket *serverSide = nullptr;
        QVERIFY(connectPair(client, serverSide));
        QVERIFY(link.accept(serverSide, loginExpected, false, 10, 1));
        client->write(sent);
        // A closing marker that every state handles tells when all bytes have been seen.
        QTRY_VERIFY(link.handled == handled);
        client->write("1");
        QTest::qWait(50);
        QCOMPARE(link.handled, handled);
    }

    void loginSuccessfulLinksAndLoginFailedCloses()
    {
        ProbeInterface link(2);
        std::unique_ptr<QTcpSocket> client;
        QTcpSocket *serverSide = nullptr;
        QVERIFY(connectPair(client, serverSide));
        QVERIFY(link.accept(serverSide, true, false, 10, 1));
        client->write("1");
        QTRY_COMPARE(link.handled, QByteArray("1"));
        link.loginSuccessful();
        QCOMPARE(link.state(), TcpInterface::Linked);
        client->write("7");
        QTRY_COMPARE(link.handled, QByteArray("17"));
        QVERIFY(link.send("r"));
        QTRY_COMPARE(client->bytesAvailable(), 1);
        QCOMPARE(client->readAll(), QByteArray("r"));

        link.loginFailed();
        QTRY_COMPARE(client->state(), QAbstractSocket::UnconnectedState);
        QTRY_VERIFY(!link.inUse());
        QCOMPARE(link.state(), TcpInterface::Unlinked);
    }

    void peerGoingAwayFreesTheLink()
    {
        ProbeInterface link(1);
        std::unique_ptr<QTcpSocket> client;
        QTcpSocket *serverSide = nullptr;
        QVERIFY(connectPair(client, serverSide));
        QVERIFY(link.accept(serverSide, true, false, 10, 1));
        QPointer<QTcpSocket> socket(serverSide);
        const quint16 peerPort = client->localPort();
        client->disconnectFromHost();
        QTRY_VERIFY(!link.inUse());
        QCOMPARE(link.state(), TcpInterface::Unlinked);
        QTRY_VERIFY(socket.isNull());
        QVERIFY(!link.send("late"));

        // Free again: the next connection is accepted.
        std::unique_ptr<QTcpSocket> next;
        QTcpSocket *nextSide = nullptr;
        QVERIFY(connectPair(next, nextSide));
        QVERIFY(link.accept(nextSide, true, false, 10, 1));

        const QStringList security = flushedRunLog(*m_app, QStringLiteral("Security"));
        QVERIFY(security.contains(
            QStringLiteral("TcpInterface Disconnect, Code Type:1, Interface State:2, "
                           "Remote Addr:127.0.0.1(%1), Local Addr:127.0.0.1(%2), Interface Id:1")
                .arg(peerPort)
                .arg(m_server.serverPort())));
        QVERIFY(flushedRunLog(*m_app).contains(
            QStringLiteral("TcpInterface Send Failed, Interface Unlink, Interface Id:1, Code Type:1")));
    }

    void withoutTimeChecksALinkWaitsIndefinitely()
    {
        ProbeInterface link(0);
        std::unique_ptr<QTcpSocket> client;
        QTcpSocket *serverSide = nullptr;
        QVERIFY(connectPair(client, serverSide));
        QVERIFY(link.accept(serverSide, true, false, 1, 1));
        for (int i = 0; i < 100; ++i)
            link.onTick();
        QCOMPARE(link.state(), TcpInterface::WaitLoginRequest);
        QVERIFY(link.inUse());
    }

    void loginRequestTimesOut()
    {
        ProbeInterface link(5);
        std::unique_ptr<QTcpSocket> client;
        QTcpSocket *serverSide = nullptr;
        QVERIFY(connectPair(client, serverSide));
        QVERIFY(link.accept(serverSide, true, true, 3, 1));
        for (int i = 0; i < 3; ++i)
            link.onTick();
        QCOMPARE(link.state(), TcpInterface::WaitLoginRequest);
        link.onTick();
        QTRY_COMPARE(client->state(), QAbstractSocket::UnconnectedState);
        QTRY_VERIFY(!link.inUse());
        QVERIFY(!waitForRunLine(*m_app, QStringLiteral("TcpInterface Wait Login Requst Timeout, Code Type:1, "
                                                       "Interface State:4, Remote Addr:127.0.0.1("))
                     .isEmpty());
    }

    void linkedWithoutTrafficShakesHandsThenTimesOut()
    {
        ProbeInterface link(6);
        std::unique_ptr<QTcpSocket> client;
        QTcpSocket *serverSide = nullptr;
        QVERIFY(connectPair(client, serverSide));
        QVERIFY(link.accept(serverSide, false, true, 2, 1));
        link.onTick();
        link.onTick();
        QCOMPARE(link.shakeHands, 0);
        link.onTick(); // a period without traffic
        QCOMPARE(link.shakeMisses(), 1u);
        QCOMPARE(link.shakeHands, 1);

        // Traffic ends the misses.
        client->write("7");
        QTRY_COMPARE(link.handled, QByteArray("7"));
        QCOMPARE(link.shakeMisses(), 0u);
        for (int i = 0; i < 3; ++i)
            link.onTick();
        QCOMPARE(link.shakeMisses(), 1u);
        QCOMPARE(link.state(), TcpInterface::Linked);
        for (int i = 0; i < 3; ++i)
            link.onTick();
        QTRY_COMPARE(client->state(), QAbstractSocket::UnconnectedState);
        QTRY_VERIFY(!link.inUse());
        QVERIFY(
            !waitForRunLine(
                 *m_app, QStringLiteral("TcpInterface Shake Hand Timeout, Code Type:1, Interface State:7, "))
                 .isEmpty());
    }

    // What follows a login request waits until the login is answered, then is handled in order.
    void messagesBehindALoginWaitForItsAnswer()
    {
        ProbeInterface link(7);
        std::unique_ptr<QTcpSocket> client;
        QTcpSocket *serverSide = nullptr;
        QVERIFY(connectPair(client, serverSide));
        QVERIFY(link.accept(serverSide, true, false, 10, 1));
        client->write("1737");
        QTRY_COMPARE(link.handled, QByteArray("1"));
        QTest::qWait(50);
        QCOMPARE(link.handled, QByteArray("1"));
        link.loginSuccessful();
        QTRY_COMPARE(link.handled, QByteArray("1737"));
    }

    void timeLimitsOfALink_data()
    {
        QTest::addColumn<QByteArray>("sentAtStart");
        QTest::addColumn<bool>("logsIn");
        QTest::addColumn<bool>("talksEachTick");
        QTest::addColumn<int>("ticksKept");
        QTest::addColumn<QString>("line");
        // Login limit 3 ticks, quiet limit 5.
        const QString loginTimeout =
            QStringLiteral("TcpInterface Wait Login Requst Timeout, Code Type:1, Interface State:4, ");
        QTest::newRow("never logs in") << QByteArray() << false << false << 3 << loginTimeout;
        // Traffic that is no login request does not stop the login clock.
        QTest::newRow("talks but never logs in") << QByteArray() << false << true << 3 << loginTimeout;
        // Once the request is in, the link waits for its own answer as long as the peer would.
        QTest::newRow("login waits for its answer") << QByteArray("1") << false << false << 5 << loginTimeout;
        QTest::newRow("silent once linked")
            << QByteArray("1") << true << false << 5
            << QStringLiteral("TcpInterface Shake Hand Timeout, Code Type:1, Interface State:7, ");
    }

    // Ticks are driven by hand: the link stays through ticksKept ticks and is closed with its
    // line at the next one.
    void timeLimitsOfALink()
    {
        QFETCH(QByteArray, sentAtStart);
        QFETCH(bool, logsIn);
        QFETCH(bool, talksEachTick);
        QFETCH(int, ticksKept);
        QFETCH(QString, line);
        ProbeInterface link(8);
        link.setTimeLimits(3, 5);
        std::unique_ptr<QTcpSocket> client;
        QTcpSocket *serverSide = nullptr;
        QVERIFY(connectPair(client, serverSide));
        QVERIFY(link.accept(serverSide, true, true, 3, 1));
        if (!sentAtStart.isEmpty()) {
            client->write(sentAtStart);
            QTRY_COMPARE(link.handled, sentAtStart);
        }
        if (logsIn)
            link.loginSuccessful();
        for (int i = 0; i < ticksKept; ++i) {
            if (talksEachTick) {
                client->write("7");
                QVERIFY(client->waitForBytesWritten(waitMs));
                QTest::qWait(20);
            }
            link.onTick();
        }
        QVERIFY(link.inUse());
        QCOMPARE(client->state(), QAbstractSocket::ConnectedState);
        link.onTick();
        QTRY_COMPARE(client->state(), QAbstractSocket::UnconnectedState);
        QTRY_VERIFY(!link.inUse());
        QCOMPARE(waitForRunLine(*m_app, line).left(line.size()), line);
    }

    void destroyingABusyLinkClosesItsSocket()
    {
        auto link = std::make_unique<ProbeInterface>(4);
        std::unique_ptr<QTcpSocket> client;
        QTcpSocket *serverSide = nullptr;
        QVERIFY(connectPair(client, serverSide));
        QVERIFY(link->accept(serverSide, true, false, 10, 1));
        QPointer<QTcpSocket> socket(serverSide);
        link.reset();
        QVERIFY(socket.isNull());
        QTRY_COMPARE(client->state(), QAbstractSocket::UnconnectedState);
    }
};

QTEST_GUILESS_MAIN(tst_TcpInterface)
#include "tst_TcpInterface.moc"
