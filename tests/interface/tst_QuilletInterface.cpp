#include <cstring>

#include <QTest>

#include "HelperProtocol.h"
#include "InterfaceTestKit.h"
#include "MessageReceiver.h"
#include "QuilletInterface.h"

using namespace HelperProtocol;
using namespace InterfaceTestKit;

namespace {

class Recorder final : public MessageReceiver
{
public:
    bool postMessage(const void *message, std::uint32_t length) override
    {
        posted.append(QByteArray(static_cast<const char *>(message), length));
        return true;
    }
    QList<QByteArray> posted;
};

QByteArray hostBytes(const void *message, qsizetype length)
{
    return QByteArray(static_cast<const char *>(message), length);
}

} // namespace

class tst_QuilletInterface : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void decodeFramesRequests_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("consumed");
        QTest::addColumn<int>("messageClass");
        QTest::addColumn<bool>("error");

        const QByteArray login = getSaveDataRequest();
        QTest::newRow("nothing") << QByteArray() << 0 << 7 << false;
        QTest::newRow("header incomplete") << login.first(11) << 0 << 7 << false;
        QTest::newRow("body incomplete") << login.first(15) << 0 << 7 << false;
        QTest::newRow("GetSaveData") << login << 16 << 1 << false;
        QTest::newRow("SetSaveResult") << setSaveResultRequest() << 16 << 3 << false;
        QTest::newRow("WriteRunLog") << writeRunLogRequest("x") << 1036 << 7 << false;
        QTest::newRow("two held, first taken") << login + writeRunLogRequest("x") << 16 << 1 << false;
        QTest::newRow("a response is not a request") << rawHeader(12, 36) << 12 << 7 << true;
        QTest::newRow("unknown command") << rawHeader(12, 99) + "rest" << 12 << 7 << true;
        QTest::newRow("GetSaveData too short") << rawHeader(12, 33) + login << 12 << 7 << true;
        QTest::newRow("WriteRunLog too long")
            << rawHeader(1040, 37) + QByteArray(1028, 'w') << 1040 << 7 << true;
        QTest::newRow("length 0: all held dropped") << rawHeader(0, 33) + login << 28 << 7 << true;
        QTest::newRow("length 11") << rawHeader(11, 33) << 12 << 7 << true;
        QTest::newRow("length 10241 seen at once") << rawHeader(10241, 37) + "ab" << 14 << 7 << true;
        QTest::newRow("length 0xFFFFFFFF") << rawHeader(0xFFFFFFFF, 37) << 12 << 7 << true;
        QTest::newRow("largest length, incomplete") << rawHeader(10240, 37) << 0 << 7 << false;
    }

    void decodeFramesRequests()
    {
        QFETCH(QByteArray, input);
        QFETCH(int, consumed);
        QFETCH(int, messageClass);
        QFETCH(bool, error);
        QuilletInterface link(6, nullptr);
        QByteArray message;
        int decodedClass = 0;
        bool decodeError = false;
        QCOMPARE(link.decode(input, message, decodedClass, decodeError), consumed);
        QCOMPARE(decodedClass, messageClass);
        QCOMPARE(decodeError, error);
        if (consumed > 0 && !error) {
            // Host order, the link's id written over what the peer sent.
            QCOMPARE(message.size(), consumed);
            Header header;
            std::memcpy(&header, message.constData(), sizeof(header));
            QCOMPARE(header.msgLength, std::uint32_t(consumed));
            QCOMPARE(header.interfaceId, 6u);
            QCOMPARE(message.mid(12), input.mid(12, consumed - 12));
        }
    }

    void codeSendsOnlyWholeAnswers_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<bool>("coded");
        QTest::addColumn<int>("messageClass");

        auto login = make<GetSaveDataResponse>(GetSaveDataResponseId);
        login.header.interfaceId = 3;
        login.result = ResultSaveDataFollows;
        std::strcpy(login.title, "title");
        auto close = make<SetSaveResultResponse>(SetSaveResultResponseId);
        close.header.interfaceId = 3;
        const auto logged = make<WriteRunLogResponse>(WriteRunLogResponseId);
        auto request = make<GetSaveDataRequest>(GetSaveDataRequestId);
        QByteArray shortAnswer = hostBytes(&login, sizeof(login)).first(3000);
        const std::uint32_t shortLength = 3000;
        std::memcpy(shortAnswer.data(), &shortLength, 4);

        QTest::newRow("GetSaveData answer") << hostBytes(&login, sizeof(login)) << true << 2;
        QTest::newRow("SetSaveResult answer") << hostBytes(&close, sizeof(close)) << true << 4;
        QTest::newRow("WriteRunLog answer") << hostBytes(&logged, sizeof(logged)) << true << 7;
        QTest::newRow("a request") << hostBytes(&request, sizeof(request)) << false << 7;
        QTest::newRow("answer cut short") << shortAnswer << false << 7;
        QTest::newRow("length below a header") << hostBytes(&close, sizeof(close)).first(8) << false << 7;
    }

    void codeSendsOnlyWholeAnswers()
    {
        QFETCH(QByteArray, message);
        QFETCH(bool, coded);
        QFETCH(int, messageClass);
        QuilletInterface link(3, nullptr);
        QByteArray bytes;
        int codedClass = 0;
        QCOMPARE(link.code(message, bytes, codedClass), coded);
        QCOMPARE(codedClass, messageClass);
        if (coded) {
            // Little-endian on the wire, whatever the host.
            QByteArray expected = message;
            wordsToWire(expected.data(), static_cast<std::uint32_t>(expected.size()));
            QCOMPARE(bytes, expected);
            Header header;
            QVERIFY(peekHeader(bytes, header));
            Header host;
            std::memcpy(&host, message.constData(), sizeof(host));
            QCOMPARE(header.msgLength, std::uint32_t(message.size()));
            QCOMPARE(header.interfaceId, host.interfaceId);
        }
    }

    void requestsForTheServiceArePostedUnchanged()
    {
        Recorder service;
        QuilletInterface link(8, &service);
        QByteArray message;
        int messageClass = 0;
        bool error = false;
        const QByteArray wire = getSaveDataRequest();
        QCOMPARE(link.decode(wire, message, messageClass, error), 16);
        QVERIFY(link.onDecodeMessage(message));
        QCOMPARE(service.posted.size(), 1);
        GetSaveDataRequest posted;
        QCOMPARE(service.posted.first().size(), qsizetype(sizeof(posted)));
        std::memcpy(&posted, service.posted.first().constData(), sizeof(posted));
        QCOMPARE(posted.header.msgLength, 16u);
        QCOMPARE(posted.header.msgCommandId, 33u);
        QCOMPARE(posted.header.interfaceId, 8u);
        QCOMPARE(posted.accessCode, accessCode);

        // Anything else is not for the service.
        const auto answer = make<SetSaveResultResponse>(SetSaveResultResponseId);
        QVERIFY(!link.onDecodeMessage(hostBytes(&answer, sizeof(answer))));
        QVERIFY(!link.onDecodeMessage(hostBytes(&answer, 8)));
        QCOMPARE(service.posted.size(), 1);
    }
};

QTEST_GUILESS_MAIN(tst_QuilletInterface)
#include "tst_QuilletInterface.moc"
