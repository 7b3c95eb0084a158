#include <cstring>
#include <memory>

#include <QTest>
#include <QtEndian>

#include "HelperProtocol.h"

using namespace HelperProtocol;

namespace {

// Wire bytes written out by hand: a little-endian u32.
QByteArray le(std::uint32_t value)
{
    QByteArray bytes;
    for (int i = 0; i < 4; ++i)
        bytes.append(static_cast<char>((value >> (8 * i)) & 0xFF));
    return bytes;
}

QByteArray wireHeader(std::uint32_t length, std::uint32_t command, std::uint32_t interfaceId)
{
    return le(length) + le(command) + le(interfaceId);
}

// A text field of the given size: the text, then zeros.
QByteArray field(const QByteArray &text, qsizetype size)
{
    QByteArray bytes = text;
    bytes.resize(size, '\0');
    return bytes;
}

QByteArray getSaveDataResponseWire(std::uint32_t interfaceId, std::uint32_t result)
{
    return wireHeader(3544, 34, interfaceId) + le(result) + field("Title", 200) +
           field("Header \x01\x02\x03\x04", 1024) + field("Footer", 1024) +
           field("C:/Temp/20240101.png", 1024) + field("C:/docs/report.doc", 256);
}

template <typename M> QByteArray roundTrip(const QByteArray &wire, bool &decoded)
{
    M message;
    decoded = decode(wire, message);
    return decoded ? encode(message) : QByteArray();
}

// Decodes the wire bytes as the message their command names and encodes the result again.
QByteArray roundTripByCommand(const QByteArray &wire, bool &decoded)
{
    Header header;
    decoded = false;
    if (!peekHeader(wire, header))
        return {};
    switch (header.msgCommandId) {
    case GetSaveDataRequestId:
        return roundTrip<GetSaveDataRequest>(wire, decoded);
    case GetSaveDataResponseId:
        return roundTrip<GetSaveDataResponse>(wire, decoded);
    case SetSaveResultRequestId:
        return roundTrip<SetSaveResultRequest>(wire, decoded);
    case SetSaveResultResponseId:
        return roundTrip<SetSaveResultResponse>(wire, decoded);
    case WriteRunLogRequestId:
        return roundTrip<WriteRunLogRequest>(wire, decoded);
    case WriteRunLogResponseId:
        return roundTrip<WriteRunLogResponse>(wire, decoded);
    default:
        return {};
    }
}

} // namespace

class tst_HelperProtocol : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void encodePutsEveryFieldAtItsWireOffset()
    {
        auto response = make<GetSaveDataResponse>(GetSaveDataResponseId);
        response.header.interfaceId = 9;
        response.result = ResultSaveDataFollows;
        std::strcpy(response.title, "Title");
        std::strcpy(response.pageHeader, "Header \x01\x02\x03\x04");
        std::strcpy(response.pageFooter, "Footer");
        std::strcpy(response.picturePath, "C:/Temp/20240101.png");
        std::strcpy(response.docPath, "C:/docs/report.doc");
        QCOMPARE(encode(response), getSaveDataResponseWire(9, 2));

        auto request = make<GetSaveDataRequest>(GetSaveDataRequestId);
        request.accessCode = accessCode;
        const QByteArray expected = QByteArray::fromHex("10000000"
                                                        "21000000"
                                                        "00000000"
                                                        "c3197a4e");
        QCOMPARE(encode(request), expected);

        auto runLog = make<WriteRunLogRequest>(WriteRunLogRequestId);
        std::strcpy(runLog.text, "line");
        QCOMPARE(encode(runLog), wireHeader(1036, 37, 0) + field("line", 1024));
    }

    void decodeReadsHandBuiltWire()
    {
        GetSaveDataResponse response;
        QVERIFY(decode(getSaveDataResponseWire(3, 1), response));
        QCOMPARE(response.header.msgLength, 3544u);
        QCOMPARE(response.header.msgCommandId, 34u);
        QCOMPARE(response.header.interfaceId, 3u);
        QCOMPARE(response.result, 1u);
        QCOMPARE(QByteArray(response.title), QByteArray("Title"));
        QCOMPARE(QByteArray(response.pageHeader), QByteArray("Header \x01\x02\x03\x04"));
        QCOMPARE(QByteArray(response.pageFooter), QByteArray("Footer"));
        QCOMPARE(QByteArray(response.picturePath), QByteArray("C:/Temp/20240101.png"));
        QCOMPARE(QByteArray(response.docPath), QByteArray("C:/docs/report.doc"));

        GetSaveDataRequest request;
        QVERIFY(decode(QByteArray::fromHex("10000000"
                                           "21000000"
                                           "00000000"
                                           "c3197a4e"),
                       request));
        QCOMPARE(request.accessCode, accessCode);
    }

    void wireRoundTrip_data()
    {
        QTest::addColumn<QByteArray>("wire");
        QTest::newRow("GetSaveData request") << wireHeader(16, 33, 0) + le(accessCode);
        QTest::newRow("GetSaveData response") << getSaveDataResponseWire(7, 2);
        QTest::newRow("SetSaveResult request") << wireHeader(16, 35, 0) + le(0);
        QTest::newRow("SetSaveResult response") << wireHeader(12, 36, 4);
        QTest::newRow("WriteRunLog request") << wireHeader(1036, 37, 0) + field("\xb2\xe2\xca\xd4 ok", 1024);
        QTest::newRow("WriteRunLog response") << wireHeader(12, 38, 0);
    }

    void wireRoundTrip()
    {
        QFETCH(QByteArray, wire);
        bool decoded = false;
        QCOMPARE(roundTripByCommand(wire, decoded), wire);
        QVERIFY(decoded);

        // The in-place helpers agree with decode/encode and leave the texts alone.
        QByteArray host = wire;
        wordsToHost(host.data(), static_cast<std::uint32_t>(host.size()));
        Header header;
        std::memcpy(&header, host.constData(), sizeof(header));
        Header wireWords;
        QVERIFY(peekHeader(wire, wireWords));
        QCOMPARE(header.msgLength, wireWords.msgLength);
        QCOMPARE(header.msgCommandId, wireWords.msgCommandId);
        QCOMPARE(header.interfaceId, wireWords.interfaceId);
        QCOMPARE(host.mid(16), wire.mid(16));
        wordsToWire(host.data(), static_cast<std::uint32_t>(host.size()));
        QCOMPARE(host, wire);
    }

    void decodeRefusesWrongBytes_data()
    {
        QTest::addColumn<QByteArray>("wire");
        const QByteArray request = wireHeader(16, 33, 0) + le(accessCode);
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("header only") << wireHeader(16, 33, 0);
        QTest::newRow("one byte short") << request.first(15);
        QTest::newRow("one byte long") << request + '\0';
        QTest::newRow("other command") << wireHeader(16, 35, 0) + le(accessCode);
        QTest::newRow("length word disagrees") << wireHeader(20, 33, 0) + le(accessCode);
        QTest::newRow("length word big-endian") << QByteArray::fromHex("00000010"
                                                                       "21000000"
                                                                       "00000000") +
                                                       le(accessCode);
    }

    void decodeRefusesWrongBytes()
    {
        QFETCH(QByteArray, wire);
        GetSaveDataRequest message;
        message.accessCode = 1;
        QVERIFY(!decode(wire, message));
        QCOMPARE(message.accessCode, 1u);
    }

    void peekHeaderNeedsTwelveBytes()
    {
        Header header;
        QVERIFY(!peekHeader(wireHeader(12, 36, 2).first(11), header));
        QVERIFY(peekHeader(wireHeader(0xFFFFFFFF, 0x12345678, 9) + "rest", header));
        QCOMPARE(header.msgLength, 0xFFFFFFFFu);
        QCOMPARE(header.msgCommandId, 0x12345678u);
        QCOMPARE(header.interfaceId, 9u);
    }

    void wordHelpersStayInsideShortMessages_data()
    {
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<int>("convertedWords");
        QTest::newRow("too short for a header") << QByteArray::fromHex("0700000021000000").first(7) << 0;
        QTest::newRow("header words only") << wireHeader(10, 33, 0).first(10) << 2;
        QTest::newRow("request cut before its last word")
            << (wireHeader(14, 33, 5) + le(accessCode)).first(14) << 3;
    }

    void wordHelpersStayInsideShortMessages()
    {
        QFETCH(QByteArray, wire);
        QFETCH(int, convertedWords);
        // Exactly the message's bytes on the heap, so a read or write past them is caught by ASan.
        std::unique_ptr<char[]> message(new char[static_cast<size_t>(wire.size())]);
        std::memcpy(message.get(), wire.constData(), static_cast<size_t>(wire.size()));
        const auto length = static_cast<std::uint32_t>(wire.size());
        wordsToHost(message.get(), length);
        for (int i = 0; i < convertedWords; ++i) {
            std::uint32_t word = 0;
            std::memcpy(&word, message.get() + 4 * i, 4);
            QCOMPARE(word, qFromLittleEndian<std::uint32_t>(wire.constData() + 4 * i));
        }
        QCOMPARE(QByteArray(message.get() + 4 * convertedWords, wire.size() - 4 * convertedWords),
                 wire.mid(4 * convertedWords));
        wordsToWire(message.get(), length);
        QCOMPARE(QByteArray(message.get(), wire.size()), wire);
    }
};

QTEST_GUILESS_MAIN(tst_HelperProtocol)
#include "tst_HelperProtocol.moc"
