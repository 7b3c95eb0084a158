#include <QTest>

#include "TesterProtocol.h"

using namespace TesterProtocol;

Q_DECLARE_METATYPE(TesterProtocol::ReplyCheck)

class tst_TesterProtocol : public QObject
{
    Q_OBJECT

private slots:
    void commandFrames_data();
    void commandFrames();
    void checksum_data();
    void checksum();
    void requestValidation_data();
    void requestValidation();
    void replyValidation_data();
    void replyValidation();
    void replyFrameSize_data();
    void replyFrameSize();
    void hexDump_data();
    void hexDump();
};

void tst_TesterProtocol::commandFrames_data()
{
    QTest::addColumn<int>("group");
    QTest::addColumn<int>("item");
    QTest::addColumn<QByteArray>("frame");
    const char *table[][3] = {
        {"1", "1", "5503 01015a"}, {"1", "2", "5503 01025b"}, {"1", "3", "5503 01035c"},
        {"1", "4", "5503 01045d"}, {"1", "5", "5503 01055e"}, {"2", "1", "5503 02015b"},
        {"2", "2", "5503 02025c"}, {"3", "1", "5503 03015c"}, {"3", "2", "5503 03025d"},
        {"3", "3", "5503 03035e"}, {"4", "1", "5503 04015d"}, {"4", "2", "5503 04025e"},
        {"4", "3", "5503 04035f"}, {"5", "1", "5503 05015e"}, {"5", "2", "5503 05025f"},
        {"5", "3", "5503 050360"}, {"6", "1", "5503 06015f"}, {"6", "2", "5503 060260"},
        {"7", "1", "5503 070160"}, {"8", "1", "5503 080161"}, {"9", "1", "5503 090162"},
    };
    for (const auto &row : table)
        QTest::addRow("%s,%s", row[0], row[1])
            << atoi(row[0]) << atoi(row[1]) << QByteArray::fromHex(QByteArray(row[2]).replace(' ', ""));
}

void tst_TesterProtocol::commandFrames()
{
    QFETCH(int, group);
    QFETCH(int, item);
    QFETCH(QByteArray, frame);
    QByteArray built = request(group, item);
    QVERIFY(isValidRequest(built));
    built.append(static_cast<char>(TesterProtocol::checksum(built)));
    QCOMPARE(built, frame);
}

void tst_TesterProtocol::checksum_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("sum");
    QTest::newRow("empty") << QByteArray() << 0;
    QTest::newRow("date request") << QByteArray::fromHex("55030701") << 0x60;
    QTest::newRow("reply from the tester") << QByteArray::fromHex("aa000000020b0e") << 0xc5;
    QTest::newRow("wraps past 255") << QByteArray::fromHex("ffff02") << 0x00;
    QTest::newRow("high bytes count unsigned") << QByteArray::fromHex("80808001") << 0x81;
}

void tst_TesterProtocol::checksum()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, sum);
    QCOMPARE(int(TesterProtocol::checksum(bytes)), sum);
}

void tst_TesterProtocol::requestValidation_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<bool>("valid");
    QTest::newRow("date request") << QByteArray::fromHex("55030701") << true;
    QTest::newRow("shortest: 55 01") << QByteArray::fromHex("5501") << true;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("one byte") << QByteArray::fromHex("55") << false;
    QTest::newRow("wrong start byte") << QByteArray::fromHex("aa030701") << false;
    QTest::newRow("length byte too small") << QByteArray::fromHex("55020701") << false;
    QTest::newRow("length byte too large") << QByteArray::fromHex("55040701") << false;
    QTest::newRow("checksum already added") << QByteArray::fromHex("5503070160") << false;
    // A failed frame left in the buffer with the next request after it: 9 bytes, byte 1 still 3.
    QTest::newRow("9-byte buffer") << QByteArray::fromHex("550301055e55030101") << false;
    QTest::newRow("negative length byte") << QByteArray::fromHex("55ff0701") << false;
}

void tst_TesterProtocol::requestValidation()
{
    QFETCH(QByteArray, request);
    QFETCH(bool, valid);
    QCOMPARE(isValidRequest(request), valid);
}

void tst_TesterProtocol::replyValidation_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<ReplyCheck>("query");
    QTest::addColumn<ReplyCheck>("probe");
    const ReplyCheck ok = ReplyCheck::Ok;
    const ReplyCheck communication = ReplyCheck::CommunicationError;
    const ReplyCheck data = ReplyCheck::DataError;
    QTest::newRow("date reply") << QByteArray::fromHex("aa000000020b0ec5") << ok << ok;
    QTest::newRow("checksum off by one") << QByteArray::fromHex("aa000000020b0ec6") << data << data;
    QTest::newRow("start byte 55, checksum right") << QByteArray::fromHex("55000000020b0e70") << data << data;
    QTest::newRow("empty") << QByteArray() << communication << communication;
    QTest::newRow("one byte") << QByteArray::fromHex("aa") << communication << communication;
    QTest::newRow("two bytes") << QByteArray::fromHex("aaaa") << communication << communication;
    QTest::newRow("three bytes AA 0A B4") << QByteArray::fromHex("aa0ab4") << ok << ok;
    QTest::newRow("three bytes AA 00 AA") << QByteArray::fromHex("aa00aa") << ok << ok;
    QTest::newRow("length byte 0x0b") << QByteArray::fromHex("aa0b0000010b0ecf") << ok << communication;
    QTest::newRow("length byte 0x7f") << QByteArray::fromHex("aa7f29") << ok << communication;
    QTest::newRow("length byte 0x80 reads negative") << QByteArray::fromHex("aa802a") << ok << ok;
    QTest::newRow("length byte 0xff") << QByteArray::fromHex("aaffa9") << ok << ok;
    // Size and length byte are checked before the frame: a bad start byte then counts as neither.
    QTest::newRow("length byte 0x0b, bad start byte")
        << QByteArray::fromHex("550b60") << data << communication;
}

void tst_TesterProtocol::replyValidation()
{
    QFETCH(QByteArray, reply);
    QFETCH(ReplyCheck, query);
    QFETCH(ReplyCheck, probe);
    QCOMPARE(checkReply(reply, Variant::Query), query);
    QCOMPARE(checkReply(reply, Variant::Probe), probe);
}

void tst_TesterProtocol::replyFrameSize_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<qsizetype>("size");
    QTest::newRow("nothing yet") << QByteArray() << qsizetype(0);
    QTest::newRow("start byte only") << QByteArray::fromHex("aa") << qsizetype(0);
    // The length byte counts itself, group and item and the data, as in the requests.
    QTest::newRow("date reply: length 6") << QByteArray::fromHex("aa060701") << qsizetype(8);
    QTest::newRow("registration reply: length 0x13") << QByteArray::fromHex("aa13") << qsizetype(21);
    QTest::newRow("length 1: start, length, checksum") << QByteArray::fromHex("aa01") << qsizetype(3);
    QTest::newRow("length 0x0b") << QByteArray::fromHex("aa0b") << qsizetype(13);
    QTest::newRow("length 0xff counts unsigned") << QByteArray::fromHex("aaff") << qsizetype(257);
    QTest::newRow("length 0: no frame") << QByteArray::fromHex("aa00") << unframedReply;
    QTest::newRow("start byte 55: no frame") << QByteArray::fromHex("5506") << unframedReply;
    QTest::newRow("noise") << QByteArray::fromHex("000102") << unframedReply;
}

void tst_TesterProtocol::replyFrameSize()
{
    QFETCH(QByteArray, head);
    QFETCH(qsizetype, size);
    QCOMPARE(TesterProtocol::replyFrameSize(head), size);
}

void tst_TesterProtocol::hexDump_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QByteArray() << QString();
    QTest::newRow("date request") << QByteArray::fromHex("5503070160") << QStringLiteral("55 03 07 01 60 ");
    QTest::newRow("lowercase, unsigned") << QByteArray::fromHex("00abff80") << QStringLiteral("00 ab ff 80 ");
}

void tst_TesterProtocol::hexDump()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(TesterProtocol::hexDump(bytes), text);
}

QTEST_GUILESS_MAIN(tst_TesterProtocol)
#include "tst_TesterProtocol.moc"
