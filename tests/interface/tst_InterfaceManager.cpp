#include <cstring>
#include <memory>
#include <vector>

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <unistd.h>

#include "InterfaceManager.h"
#include "InterfaceTestKit.h"
#include "LogManager.h"
#include "QuilletInterface.h"
#include "TestAppDir.h"

using namespace HelperProtocol;
using namespace InterfaceTestKit;

namespace {

QString loopback()
{
    return QStringLiteral("127.0.0.1");
}

// A byte pattern that is plain ASCII, so the run log shows it unchanged.
QByteArray asciiText(qsizetype length, char first = 'a')
{
    QByteArray text(length, '\0');
    for (qsizetype i = 0; i < length; ++i)
        text[i] = static_cast<char>(first + i % 26);
    return text;
}

} // namespace

class tst_InterfaceManager : public QObject
{
    Q_OBJECT

private:
    InterfaceManager *manager() { return InterfaceManager::instance(); }

    quint16 port() const { return InterfaceManager::instance()->listenPort(); }

    bool waitForListening()
    {
        QDeadlineTimer deadline(waitMs);
        while (port() == 0 && !deadline.hasExpired())
            QTest::qWait(10);
        return port() != 0;
    }

    // Every one of the ten links takes a connection and logs in: none was lost.
    void verifyWholePoolUsable()
    {
        std::vector<std::unique_ptr<HelperClient>> clients;
        for (std::uint32_t i = 0; i < InterfaceManager::poolSize; ++i) {
            clients.push_back(std::make_unique<HelperClient>());
            QVERIFY(clients.back()->connectTo(port()));
            QVERIFY2(clients.back()->login(), qPrintable(QStringLiteral("link %1").arg(i)));
        }
    }

    std::unique_ptr<TestAppDir> m_app;
    FakeService m_service;

private Q_SLOTS:
    void initTestCase()
    {
        m_app = std::make_unique<TestAppDir>();
        QVERIFY(m_app->isValid());
        QVERIFY(LogManager::instance()->initialize());
        QVERIFY(LogManager::instance()->active());
        manager()->setServiceReceiver(&m_service);
        manager()->setListenPort(0);
        QVERIFY(manager()->initialize());
    }

    void init()
    {
        m_service.clear();
        QVERIFY(manager()->active());
        QVERIFY(waitForListening());
    }

    void cleanup()
    {
        QVERIFY(manager()->deactive());
        QCOMPARE(port(), quint16(0));
    }

    void cleanupTestCase()
    {
        QVERIFY(manager()->exit());
        LogManager::instance()->deactive();
        LogManager::instance()->exit();
        m_app.reset();
    }

    void getSaveDataWithEmptyQueueLogsIn()
    {
        HelperClient client;
        QVERIFY(client.connectTo(port()));
        QVERIFY(client.send(getSaveDataRequest()));
        const QByteArray answer = client.receive(3544);
        QCOMPARE(answer.size(), 3544);
        GetSaveDataResponse response;
        QVERIFY(decode(answer, response));
        QCOMPARE(response.result, 1u);
        QCOMPARE(answer.mid(16), QByteArray(3544 - 16, '\0'));

        // The service saw the request in host order with the link's id written in.
        QCOMPARE(m_service.receivedCount(GetSaveDataRequestId), 1);
        Header seen;
        std::memcpy(&seen, m_service.received().first().constData(), sizeof(seen));
        QCOMPARE(seen.msgLength, 16u);
        QCOMPARE(seen.interfaceId, response.header.interfaceId);

        // Linked: an ordinary request is answered now.
        QVERIFY(client.send(writeRunLogRequest("after login")));
        QCOMPARE(client.receive(12), rawHeader(12, 38, 0));
        const QString line =
            waitForRunLine(*m_app, QStringLiteral("TcpInterface Login Successful, Code Type:1, "));
        QCOMPARE(line,
                 QStringLiteral(
                     "TcpInterface Login Successful, Code Type:1, Remote Addr:%1(%2), Local Addr:%1(%3), "
                     "Interface Id:%4")
                     .arg(loopback())
                     .arg(client.socket().localPort())
                     .arg(port())
                     .arg(response.header.interfaceId));
    }

    void getSaveDataHandsOutTheJob()
    {
        m_service.addJob({QString(300, QLatin1Char('T')), QStringLiteral("head"), QStringLiteral("foot"),
                          QStringLiteral("/tmp/Temp/1.png"), QStringLiteral("/home/u/report.doc")});
        HelperClient client;
        QVERIFY(client.connectTo(port()));
        GetSaveDataResponse response;
        QVERIFY(client.login(response));
        QCOMPARE(response.result, 2u);
        QCOMPARE(QByteArray(response.title), QByteArray(199, 'T'));
        QCOMPARE(QByteArray(response.pageHeader), QByteArray("head"));
        QCOMPARE(QByteArray(response.pageFooter), QByteArray("foot"));
        QCOMPARE(QByteArray(response.picturePath), QByteArray("/tmp/Temp/1.png"));
        QCOMPARE(QByteArray(response.docPath), QByteArray("/home/u/report.doc"));
    }

    void answersGoBackToTheLinkThatAsked()
    {
        HelperClient first;
        HelperClient second;
        QVERIFY(first.connectTo(port()));
        QVERIFY(second.connectTo(port()));
        QVERIFY(second.login());
        QVERIFY(first.login());
        // Each SetSaveResult answer carries the id of its own link.
        QVERIFY(first.send(setSaveResultRequest()));
        QVERIFY(second.send(setSaveResultRequest()));
        const QByteArray firstClose = first.receive(12);
        const QByteArray secondClose = second.receive(12);
        Header a;
        Header b;
        QVERIFY(peekHeader(firstClose, a));
        QVERIFY(peekHeader(secondClose, b));
        QCOMPARE(a.msgCommandId, 36u);
        QCOMPARE(b.msgCommandId, 36u);
        QVERIFY(a.interfaceId != b.interfaceId);
        QVERIFY(a.interfaceId < 10 && b.interfaceId < 10);
    }

    void wrongAccessCodeFailsLoginAndClosesAfterTheAnswer()
    {
        HelperClient client;
        QVERIFY(client.connectTo(port()));
        const quint16 clientPort = client.socket().localPort();
        GetSaveDataResponse response;
        QVERIFY(client.login(response, 0x12345678));
        QCOMPARE(response.result, 0u);
        QVERIFY(client.waitForDisconnect());
        const QString line = waitForRunLine(*m_app, QStringLiteral("TcpInterface Login Failed, "));
        QCOMPARE(line, QStringLiteral(
                           "TcpInterface Login Failed, Code Type:1, Remote Addr:%1(%2), Local Addr:%1(%3), "
                           "Interface Id:%4")
                           .arg(loopback())
                           .arg(clientPort)
                           .arg(port())
                           .arg(response.header.interfaceId));
    }

    void requestSplitOverSegments_data()
    {
        QTest::addColumn<QList<int>>("cuts");
        QTest::newRow("inside the length word") << QList<int>{2};
        QTest::newRow("header, then the access word") << QList<int>{12};
        QTest::newRow("byte by byte") << QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    }

    void requestSplitOverSegments()
    {
        QFETCH(QList<int>, cuts);
        const QByteArray request = getSaveDataRequest();
        HelperClient client;
        QVERIFY(client.connectTo(port()));
        int from = 0;
        for (int cut : cuts) {
            QVERIFY(client.send(request.mid(from, cut - from)));
            from = cut;
            // Gives each piece its own segment; nothing is asserted about the pause.
            QTest::qWait(20);
            QCOMPARE(client.socket().bytesAvailable(), 0);
        }
        QCOMPARE(m_service.receivedCount(GetSaveDataRequestId), 0);
        QVERIFY(client.send(request.mid(from)));
        GetSaveDataResponse response;
        QVERIFY(decode(client.receive(3544), response));
        QCOMPARE(response.result, 1u);
        QCOMPARE(m_service.receivedCount(GetSaveDataRequestId), 1);
    }

    void twoRequestsInOneSegmentAreBothAnswered()
    {
        HelperClient client;
        QVERIFY(client.connectTo(port()));
        QVERIFY(client.login());
        QVERIFY(client.send(writeRunLogRequest("one segment") + setSaveResultRequest()));
        QCOMPARE(client.receive(12), rawHeader(12, 38, 0));
        const QByteArray close = client.receive(12);
        QCOMPARE(close.size(), 12);
        QCOMPARE(close.mid(0, 8), rawHeader(12, 36).first(8));
        QVERIFY(client.waitForDisconnect());
    }

    void secondLoginRequestInTheSameSegmentIsDropped()
    {
        // Both would otherwise reach the service, and the second would take another export job.
        m_service.addJob({QStringLiteral("first"), {}, {}, {}, {}});
        m_service.addJob({QStringLiteral("second"), {}, {}, {}, {}});
        HelperClient client;
        QVERIFY(client.connectTo(port()));
        QVERIFY(client.send(getSaveDataRequest() + getSaveDataRequest()));
        GetSaveDataResponse response;
        QVERIFY(decode(client.receive(3544), response));
        QCOMPARE(QByteArray(response.title), QByteArray("first"));
        QVERIFY(client.send(writeRunLogRequest("still linked")));
        QCOMPARE(client.receive(12), rawHeader(12, 38, 0));
        QCOMPARE(m_service.receivedCount(GetSaveDataRequestId), 1);
    }

    void secondGetSaveDataOnLinkedLinkIsDropped()
    {
        HelperClient client;
        QVERIFY(client.connectTo(port()));
        QVERIFY(client.login());
        QVERIFY(client.send(getSaveDataRequest()));
        QVERIFY(client.send(writeRunLogRequest("after the dropped one")));
        // The first thing back is the WriteRunLog answer; the GetSaveData never reached the service.
        QCOMPARE(client.receive(12), rawHeader(12, 38, 0));
        QCOMPARE(m_service.receivedCount(GetSaveDataRequestId), 1);
        QCOMPARE(client.socket().bytesAvailable(), 0);
    }

    void writeRunLogIsLoggedAndAnswered()
    {
        const QByteArray text = "long line " + asciiText(1023 - 10);
        QCOMPARE(text.size(), 1023);
        HelperClient client;
        QVERIFY(client.connectTo(port()));
        QVERIFY(client.login());
        QVERIFY(client.send(writeRunLogRequest(text)));
        QCOMPARE(client.receive(12), rawHeader(12, 38, 0));
        const QString line = waitForRunLine(*m_app, QStringLiteral("long line "));
        // A run-log record holds 1023 bytes including its 25-byte time stamp.
        const qsizetype kept = std::min<qsizetype>(text.size(), LogManager::maxRecordBytes - 25);
        QCOMPARE(line, QString::fromLatin1(text.left(kept)));
    }

    void writeRunLogTextStaysOneRecord()
    {
        HelperClient client;
        QVERIFY(client.connectTo(port()));
        QVERIFY(client.login());
        QVERIFY(client.send(
            writeRunLogRequest("quillet failed: access denied.\r\n2024-01-01 00:00:00.000  forged\r\n")));
        QCOMPARE(client.receive(12), rawHeader(12, 38, 0));
        QCOMPARE(waitForRunLine(*m_app, QStringLiteral("quillet failed")),
                 QStringLiteral("quillet failed: access denied.\\r\\n2024-01-01 00:00:00.000  forged"));
        QVERIFY(!flushedRunLog(*m_app).contains(QStringLiteral("forged")));
    }

    void writeRunLogBeforeLoginIsDropped()
    {
        HelperClient client;
        QVERIFY(client.connectTo(port()));
        QVERIFY(client.send(writeRunLogRequest("too early to be logged")));
        // The first answer is the login's: the WriteRunLog got none.
        GetSaveDataResponse response;
        QVERIFY(client.login(response));
        QCOMPARE(response.result, 1u);
        QVERIFY(client.send(writeRunLogRequest("in time")));
        QCOMPARE(client.receive(12), rawHeader(12, 38, 0));
        const QStringList log = flushedRunLog(*m_app);
        QVERIFY(log.contains(QStringLiteral("in time")));
        QVERIFY(!log.contains(QStringLiteral("too early to be logged")));
    }

    void unknownCommandIsConsumedAndLogged()
    {
        HelperClient client;
        QVERIFY(client.connectTo(port()));
        QVERIFY(client.send(rawHeader(20, 99) + QByteArray(8, 'x') + getSaveDataRequest()));
        GetSaveDataResponse response;
        QVERIFY(decode(client.receive(3544), response));
        QCOMPARE(response.result, 1u);
        QCOMPARE(waitForRunLine(*m_app, QStringLiteral("QuilletInterface::decode, Invalid Meesage")),
                 QStringLiteral("QuilletInterface::decode, Invalid Meesage, CommandID:99"));
    }

    void impossibleLengthClosesTheLink_data()
    {
        QTest::addColumn<quint32>("length");
        QTest::addColumn<QByteArray>("behind");
        // Behind the bad length come whole requests: a link that guessed where the next message
        // starts would answer them.
        const QByteArray requests = getSaveDataRequest() + writeRunLogRequest("never framed");
        QTest::newRow("0") << 0u << requests;
        QTest::newRow("11") << 11u << requests;
        QTest::newRow("10241 with its whole body")
            << 10241u << (requests + QByteArray(10241 - 12, '\x21')).first(10241 - 12);
        QTest::newRow("0xFFFFFFFF") << 0xFFFFFFFFu << requests.repeated(50);
    }

    void impossibleLengthClosesTheLink()
    {
        QFETCH(quint32, length);
        QFETCH(QByteArray, behind);
        HelperClient client;
        QVERIFY(client.connectTo(port()));
        const quint16 clientPort = client.socket().localPort();
        QVERIFY(client.send(rawHeader(length, GetSaveDataRequestId) + behind));
        QCOMPARE(waitForRunLine(*m_app,
                                QStringLiteral("QuilletInterface::decode Error, msgLength:%1").arg(length)),
                 QStringLiteral("QuilletInterface::decode Error, msgLength:%1").arg(length));
        // The stream cannot be framed again: the link closes without answering anything after it.
        QVERIFY(client.waitForDisconnect());
        QCOMPARE(client.socket().bytesAvailable(), 0);
        QCOMPARE(m_service.receivedCount(GetSaveDataRequestId), 0);
        QVERIFY(!waitForRunLine(*m_app,
                                QStringLiteral("TcpInterface Closer, Code Type:1, Interface State:2, "
                                               "Remote Addr:127.0.0.1(%1)")
                                    .arg(clientPort),
                                QStringLiteral("Security"))
                     .isEmpty());
        verifyWholePoolUsable();
    }

    // TCP is a byte stream: requests that arrive together are each answered, in order, the ones
    // behind the login once it has been answered.
    void requestsInOneWriteAreAllAnsweredInOrder()
    {
        m_service.addJob({QStringLiteral("job"), {}, {}, {}, {}});
        HelperClient client;
        QVERIFY(client.connectTo(port()));
        QVERIFY(
            client.send(getSaveDataRequest() + writeRunLogRequest("in one write") + setSaveResultRequest()));
        GetSaveDataResponse response;
        QVERIFY(decode(client.receive(3544), response));
        QCOMPARE(response.result, 2u);
        QCOMPARE(client.receive(12), rawHeader(12, 38, 0));
        QCOMPARE(client.receive(12), rawHeader(12, 36, response.header.interfaceId));
        QVERIFY(client.waitForDisconnect());
        QVERIFY(flushedRunLog(*m_app).contains(QStringLiteral("in one write")));
        QCOMPARE(m_service.receivedCount(SetSaveResultRequestId), 1);
    }

    void wrongLengthForItsCommandIsDropped()
    {
        HelperClient client;
        QVERIFY(client.connectTo(port()));
        QVERIFY(client.send(rawHeader(12, GetSaveDataRequestId) + getSaveDataRequest()));
        GetSaveDataResponse response;
        QVERIFY(decode(client.receive(3544), response));
        QCOMPARE(response.result, 1u);
        QCOMPARE(m_service.receivedCount(GetSaveDataRequestId), 1);
        QCOMPARE(m_service.received().first().size(), 16);
        QCOMPARE(waitForRunLine(*m_app, QStringLiteral("QuilletInterface::decode Error, msgLength:12")),
                 QStringLiteral("QuilletInterface::decode Error, msgLength:12, CommandID:33"));
    }

    // Ten connections that never log in hold every link, but only for the login limit: a helper
    // that comes after them gets in and completes its export.
    void idleConnectionsCannotKeepAHelperOut()
    {
        m_service.addJob({QStringLiteral("after the idle ones"), {}, {}, {}, {}});
        std::vector<std::unique_ptr<HelperClient>> idle;
        QList<quint16> idlePorts;
        for (std::uint32_t i = 0; i < InterfaceManager::poolSize; ++i) {
            idle.push_back(std::make_unique<HelperClient>());
            QVERIFY(idle.back()->connectTo(port()));
            idlePorts << idle.back()->socket().localPort();
        }
        QElapsedTimer held;
        held.start();
        QDeadlineTimer deadline(waitMs);
        std::unique_ptr<HelperClient> helper;
        GetSaveDataResponse response;
        while (!deadline.hasExpired()) {
            helper = std::make_unique<HelperClient>();
            if (helper->connectTo(port()) && helper->login(response))
                break;
            helper.reset();
            QTest::qWait(100);
        }
        QVERIFY(helper);
        qInfo("a helper got a link %lld ms after ten idle connections took them all", held.elapsed());
        QCOMPARE(response.result, 2u);
        QCOMPARE(QByteArray(response.title), QByteArray("after the idle ones"));
        QVERIFY(helper->send(writeRunLogRequest("export done")));
        QCOMPARE(helper->receive(12), rawHeader(12, 38, 0));
        QVERIFY(helper->send(setSaveResultRequest()));
        QCOMPARE(helper->receive(12), rawHeader(12, 36, response.header.interfaceId));

        for (auto &client : idle)
            QVERIFY(client->waitForDisconnect());
        const QStringList security = flushedRunLog(*m_app, QStringLiteral("Security"));
        for (const quint16 idlePort : idlePorts) {
            const QString prefix =
                QStringLiteral("TcpInterface Wait Login Requst Timeout, Code Type:1, Interface State:4, "
                               "Remote Addr:127.0.0.1(%1)")
                    .arg(idlePort);
            QVERIFY2(std::any_of(security.begin(), security.end(),
                                 [&prefix](const QString &line) { return line.startsWith(prefix); }),
                     qPrintable(prefix));
        }
    }

    // A byte every 1.5 s keeps a connection from ever being silent; the message it never finishes
    // ends it all the same.
    void tricklingClientIsClosed()
    {
        const QByteArray request = getSaveDataRequest();
        HelperClient client;
        QVERIFY(client.connectTo(port()));
        const quint16 clientPort = client.socket().localPort();
        QElapsedTimer clock;
        clock.start();
        qsizetype sent = 0;
        while (sent < request.size() && client.socket().state() == QAbstractSocket::ConnectedState) {
            client.send(request.mid(sent, 1));
            ++sent;
            client.waitForDisconnect(1500);
        }
        const qint64 closedAfter = clock.elapsed();
        qInfo("a client sending a byte every 1.5 s was closed after %lld ms, %lld bytes", closedAfter,
              qint64(sent));
        QCOMPARE(client.socket().state(), QAbstractSocket::UnconnectedState);
        QVERIFY(sent < request.size());
        QVERIFY(closedAfter >= InterfaceManager::partialMessageLimit * 1000);
        QCOMPARE(m_service.receivedCount(GetSaveDataRequestId), 0);
        QVERIFY(!waitForRunLine(
                     *m_app,
                     QStringLiteral("TcpInterface Partial Message Timeout, Code Type:1, Interface State:2, "
                                    "Remote Addr:127.0.0.1(%1)")
                         .arg(clientPort),
                     QStringLiteral("Security"))
                     .isEmpty());
    }

    // Past its budget a link's WriteRunLog lines are answered but not written, and counted in one
    // record; many such links together cannot roll the run log over.
    void writeRunLogFloodLeavesTheRunLogInPlace()
    {
        const QString marker = QStringLiteral("before the flood");
        LogManager::instance()->writeRunLog(marker);
        LogManager::instance()->requestWriteOut();
        QVERIFY(!waitForRunLine(*m_app, marker).isEmpty());

        // More than the ten run-log files hold, spread over every link at once.
        constexpr int perLink = 10300;
        constexpr int chunk = 100;
        const QByteArray line = asciiText(1023 - 12, 'A');
        std::vector<std::unique_ptr<HelperClient>> clients;
        for (std::uint32_t i = 0; i < InterfaceManager::poolSize; ++i) {
            clients.push_back(std::make_unique<HelperClient>());
            QVERIFY(clients.back()->connectTo(port()));
            QVERIFY(clients.back()->login());
        }
        QByteArray requests;
        for (int i = 0; i < chunk; ++i)
            requests +=
                writeRunLogRequest("flood " + QByteArray::number(i).rightJustified(3, '0') + ' ' + line);
        const QByteArray answers = rawHeader(12, 38, 0).repeated(chunk);
        for (int sent = 0; sent < perLink; sent += chunk) {
            for (auto &client : clients)
                QVERIFY(client->send(requests));
            // Every request is answered, written or not.
            for (auto &client : clients)
                QCOMPARE(client->receive(answers.size()), answers);
        }
        for (auto &client : clients)
            client->socket().disconnectFromHost();
        for (auto &client : clients)
            QVERIFY(client->waitForDisconnect());

        const QString limitPrefix = QStringLiteral("QuilletInterface WriteRunLog limit exceeded, dropped ");
        QStringList log;
        QDeadlineTimer deadline(waitMs);
        qint64 written = 0;
        qint64 dropped = 0;
        while (!deadline.hasExpired()) {
            log = flushedRunLog(*m_app);
            written = 0;
            dropped = 0;
            for (const QString &text : log) {
                if (text.startsWith(QStringLiteral("flood ")))
                    ++written;
                else if (text.startsWith(limitPrefix))
                    dropped += text.mid(limitPrefix.size()).section(QLatin1Char(' '), 0, 0).toLongLong();
            }
            if (written + dropped == qint64(perLink) * InterfaceManager::poolSize)
                break;
            QTest::qWait(100);
        }
        qInfo("WriteRunLog flood: %lld lines offered, %lld written, %lld counted as dropped",
              qint64(perLink) * InterfaceManager::poolSize, written, dropped);
        QCOMPARE(written + dropped, qint64(perLink) * InterfaceManager::poolSize);
        QVERIFY(written <= qint64(QuilletInterface::runLogLinesPerSession) * InterfaceManager::poolSize);
        QVERIFY(log.contains(marker));
    }

    // Only a program of kestrel's own user may use the service.
    void otherUsersAreRefused()
    {
        if (::geteuid() != 0)
            QSKIP("connecting as another user needs root (setuid in the child); the refusal is untested");
        QProcess other;
        other.setChildProcessModifier([] {
            // nobody:nogroup
            if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(90);
        });
        // The request is a whole GetSaveData; the answer's length is printed (0: closed unanswered).
        const QString script =
            QStringLiteral("exec 3<>/dev/tcp/127.0.0.1/%1 || exit 3; "
                           "printf '\\x10\\x00\\x00\\x00\\x21\\x00\\x00\\x00\\x00\\x00\\x00\\x00"
                           "\\xc3\\x19\\x7a\\x4e' >&3; timeout 10 head -c 3544 <&3 | wc -c")
                .arg(port());
        other.start(QStringLiteral("/bin/bash"), {QStringLiteral("-c"), script});
        QVERIFY(other.waitForFinished(waitMs));
        QCOMPARE(other.exitCode(), 0);
        QCOMPARE(other.readAllStandardOutput().trimmed(), QByteArray("0"));
        QCOMPARE(m_service.receivedCount(GetSaveDataRequestId), 0);
        const QString line = waitForRunLine(*m_app, QStringLiteral("InterfaceManager Accept Refused"),
                                            QStringLiteral("Security"));
        QVERIFY2(
            line.startsWith(QStringLiteral("InterfaceManager Accept Refused, Peer User:65534, Own User:0, "
                                           "Remote Addr:127.0.0.1(")),
            qPrintable(line));
        // The own user is served as before.
        verifyWholePoolUsable();
    }

    void setSaveResultIsAnsweredAndTheLinkClosed()
    {
        HelperClient client;
        QVERIFY(client.connectTo(port()));
        GetSaveDataResponse response;
        QVERIFY(client.login(response));
        QVERIFY(client.send(setSaveResultRequest()));
        QCOMPARE(client.receive(12), rawHeader(12, 36, response.header.interfaceId));
        QVERIFY(client.waitForDisconnect());
        QCOMPARE(m_service.receivedCount(SetSaveResultRequestId), 1);
    }

    void eleventhConnectionIsDroppedUntilALinkFrees()
    {
        std::vector<std::unique_ptr<HelperClient>> clients;
        for (int i = 0; i < 10; ++i) {
            clients.push_back(std::make_unique<HelperClient>());
            QVERIFY(clients.back()->connectTo(port()));
            QVERIFY(clients.back()->login());
        }
        HelperClient eleventh;
        QVERIFY(eleventh.connectTo(port()));
        QVERIFY(eleventh.waitForDisconnect());
        const QString dropped =
            QStringLiteral("InterfaceManager Accept Failed, Get Nonuse Tcp Interface Failed, Listen Port:%1, "
                           "Code Type:1")
                .arg(port());
        QCOMPARE(waitForRunLine(*m_app, dropped), dropped);

        clients[3]->socket().disconnectFromHost();
        // The link frees once the service has seen the close; until then a newcomer may be dropped.
        QDeadlineTimer deadline(waitMs);
        bool accepted = false;
        while (!accepted && !deadline.hasExpired()) {
            HelperClient late;
            QVERIFY(late.connectTo(port()));
            accepted = late.login();
        }
        QVERIFY(accepted);
        // The other nine were not disturbed.
        for (int i = 0; i < 10; ++i) {
            if (i == 3)
                continue;
            QVERIFY(clients[i]->send(writeRunLogRequest("still here")));
            QCOMPARE(clients[i]->receive(12), rawHeader(12, 38, 0));
        }
    }

    void answerForNoUsableLink_data()
    {
        QTest::addColumn<quint32>("interfaceId");
        QTest::addColumn<QString>("expected");
        QTest::newRow("id 10") << 10u
                               << QStringLiteral(
                                      "InterfaceManager onSendMsgToInterface Failed, interfaceId Invalid, "
                                      "interfaceId:10");
        QTest::newRow("id 0xFFFFFFFF")
            << 0xFFFFFFFFu
            << QStringLiteral("InterfaceManager onSendMsgToInterface Failed, interfaceId "
                              "Invalid, interfaceId:4294967295");
        QTest::newRow("free link 9") << 9u
                                     << QStringLiteral(
                                            "TcpInterface Send Failed, Interface Unlink, Interface Id:9, "
                                            "Code Type:0");
    }

    void answerForNoUsableLink()
    {
        QFETCH(quint32, interfaceId);
        QFETCH(QString, expected);
        auto answer = make<SetSaveResultResponse>(SetSaveResultResponseId);
        answer.header.interfaceId = interfaceId;
        QVERIFY(manager()->postMessage(&answer, sizeof(answer)));
        QCOMPARE(waitForRunLine(*m_app, expected), expected);
        verifyWholePoolUsable();
    }

    void deactivateAndReactivateReopensThePort()
    {
        HelperClient connected;
        QVERIFY(connected.connectTo(port()));
        QVERIFY(connected.login());
        const quint16 before = port();
        QVERIFY(manager()->deactive());
        QCOMPARE(port(), quint16(0));
        // The pool went with the thread, and the port is closed.
        QVERIFY(connected.waitForDisconnect());
        HelperClient refused;
        refused.socket().connectToHost(QHostAddress(QHostAddress::LocalHost), before);
        QVERIFY(!refused.socket().waitForConnected(waitMs) || refused.waitForDisconnect());

        QVERIFY(manager()->active());
        QVERIFY(waitForListening());
        verifyWholePoolUsable();
    }

    void badPeersLeaveNothingBehind_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QByteArray garbage(5000, '\0');
        for (int i = 0; i < garbage.size(); ++i)
            garbage[i] = static_cast<char>((i * 7919) % 251);
        QTest::newRow("garbage") << garbage;
        QTest::newRow("truncated header") << rawHeader(16, 33).first(7);
        QTest::newRow("never sends") << QByteArray();
        QTest::newRow("gone mid-message") << (writeRunLogRequest("cut off")).first(600);
        QTest::newRow("length 0xFFFFFFFF and more") << rawHeader(0xFFFFFFFF, 37) + QByteArray(20000, 'z');
        QTest::newRow("login then half a request") << getSaveDataRequest() + setSaveResultRequest().first(9);
    }

    void badPeersLeaveNothingBehind()
    {
        QFETCH(QByteArray, bytes);
        HelperClient bystander;
        QVERIFY(bystander.connectTo(port()));
        QVERIFY(bystander.login());

        std::vector<std::unique_ptr<HelperClient>> bad;
        for (std::uint32_t i = 0; i < InterfaceManager::poolSize - 1; ++i) {
            bad.push_back(std::make_unique<HelperClient>());
            QVERIFY(bad.back()->connectTo(port()));
            if (!bytes.isEmpty())
                QVERIFY(bad.back()->send(bytes));
        }
        QVERIFY(bystander.send(writeRunLogRequest("bystander")));
        QCOMPARE(bystander.receive(12), rawHeader(12, 38, 0));
        for (auto &client : bad)
            client->socket().abort();
        bystander.socket().disconnectFromHost();

        // Every link was freed when its peer went away.
        QDeadlineTimer deadline(waitMs);
        bool whole = false;
        while (!whole && !deadline.hasExpired()) {
            std::vector<std::unique_ptr<HelperClient>> clients;
            whole = true;
            for (std::uint32_t i = 0; i < InterfaceManager::poolSize && whole; ++i) {
                clients.push_back(std::make_unique<HelperClient>());
                whole = clients.back()->connectTo(port()) && clients.back()->login();
            }
        }
        QVERIFY(whole);
    }
};

QTEST_GUILESS_MAIN(tst_InterfaceManager)
#include "tst_InterfaceManager.moc"
