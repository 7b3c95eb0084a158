#include <QTest>

#include "Codec.h"
#include "HistoryMessages.h"
#include "HistoryRecord.h"

// The rules that decide what is kept and how a kept test is summed up.
class tst_HistoryRecord : public QObject
{
    Q_OBJECT

private slots:
    void testerDataDecidesRecording_data();
    void testerDataDecidesRecording();
    void overallResult_data();
    void overallResult();
    void likePatternTakesTextLiterally_data();
    void likePatternTakesTextLiterally();
    void registrationBytesSurviveHex_data();
    void registrationBytesSurviveHex();
    void messagesCarryEveryField();
};

void tst_HistoryRecord::testerDataDecidesRecording_data()
{
    QTest::addColumn<int>("change");
    QTest::addColumn<bool>("recorded");
    QTest::newRow("nothing came") << 0 << false;
    QTest::newRow("values without a status") << 1 << false;
    QTest::newRow("a section status") << 2 << true;
    QTest::newRow("a date") << 3 << true;
    QTest::newRow("a registration") << 4 << true;
    QTest::newRow("a capacity") << 5 << true;
    QTest::newRow("negative status byte") << 6 << true;
}

void tst_HistoryRecord::testerDataDecidesRecording()
{
    QFETCH(int, change);
    QFETCH(bool, recorded);
    TestRecord record{};
    switch (change) {
    case 1: // a query cut short: values read, status never copied
        record.battery.voltage = 1250;
        record.charging2K.highVoltage = 1400;
        break;
    case 2:
        record.avg2K.status = 3;
        break;
    case 3:
        record.testDate.year = 1999;
        break;
    case 4:
        record.registrationNoInfo.registrationNo[0] = 'A';
        break;
    case 5:
        record.capacityInfo.capacity = 600;
        break;
    case 6:
        record.grounding.status = -1;
        break;
    default:
        break;
    }
    QCOMPARE(HistoryRules::hasTesterData(record), recorded);
}

void tst_HistoryRecord::overallResult_data()
{
    QTest::addColumn<int>("batteryStatus");
    QTest::addColumn<int>("batteryVoltage");
    QTest::addColumn<int>("avg2KStatus");
    QTest::addColumn<int>("avg2KVoltage");
    QTest::addColumn<QString>("overall");
    QTest::addColumn<QString>("batteryWord");
    QTest::newRow("no section") << 0 << 0 << 0 << 0 << "no result"
                                << "no result";
    QTest::newRow("good, in limits") << 1 << 1250 << 0 << 0 << "pass"
                                     << "pass";
    QTest::newRow("good, marked value") << 1 << 1199 << 0 << 0 << "attention"
                                        << "attention";
    QTest::newRow("bad picture") << 2 << 1250 << 0 << 0 << "attention"
                                 << "attention";
    QTest::newRow("replace picture") << 4 << 1250 << 0 << 0 << "attention"
                                     << "attention";
    QTest::newRow("status 3 shows values, no verdict") << 3 << 1250 << 0 << 0 << "no result"
                                                       << "no result";
    QTest::newRow("other section marked") << 1 << 1250 << 1 << 50 << "attention"
                                          << "pass";
    QTest::newRow("avg2K status 3 hides its value") << 1 << 1250 << 3 << 50 << "pass"
                                                    << "pass";
}

void tst_HistoryRecord::overallResult()
{
    QFETCH(int, batteryStatus);
    QFETCH(int, batteryVoltage);
    QFETCH(int, avg2KStatus);
    QFETCH(int, avg2KVoltage);
    QFETCH(QString, overall);
    QFETCH(QString, batteryWord);
    TestRecord record{};
    record.battery.status = static_cast<std::int16_t>(batteryStatus);
    record.battery.voltage = static_cast<std::uint16_t>(batteryVoltage);
    record.battery.percent = 80;
    record.avg2K.status = static_cast<std::int16_t>(avg2KStatus);
    record.avg2K.voltage = static_cast<std::uint16_t>(avg2KVoltage);
    QCOMPARE(HistoryRules::resultWord(HistoryRules::overallResult(record)), overall);
    QCOMPARE(HistoryRules::sectionResultWord(record, Section::Battery), batteryWord);
}

void tst_HistoryRecord::likePatternTakesTextLiterally_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("pattern");
    QTest::newRow("plain, folded") << "Ab1"
                                   << "%ab1%";
    QTest::newRow("percent") << "50%"
                             << "%50\\%%";
    QTest::newRow("underscore") << "a_b"
                                << "%a\\_b%";
    QTest::newRow("backslash") << "x\\y"
                               << "%x\\\\y%";
    QTest::newRow("quotes untouched") << "O'B\""
                                      << "%o'b\"%";
    QTest::newRow("chinese") << QString::fromUtf8("\u4EAC") << QString::fromUtf8("%\u4EAC%");
}

void tst_HistoryRecord::likePatternTakesTextLiterally()
{
    QFETCH(QString, text);
    QFETCH(QString, pattern);
    QCOMPARE(HistoryRules::containsPattern(text), pattern);
}

void tst_HistoryRecord::registrationBytesSurviveHex_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty") << QByteArray(16, '\0');
    QTest::newRow("short") << QByteArray("AK308").leftJustified(16, '\0');
    QTest::newRow("full, no zero") << QByteArray("ABCDEFGHIJKLMNOP");
    QTest::newRow("bytes after a zero") << QByteArray("AB\0CD\0\0\0\0\0\0\0\0\0\0\xFF", 16);
    QTest::newRow("gbk") << QByteArray("\xBE\xA9"
                                       "A5K308")
                                .leftJustified(16, '\0');
}

void tst_HistoryRecord::registrationBytesSurviveHex()
{
    QFETCH(QByteArray, bytes);
    RegistrationNoInfo info = makeRegistrationNoInfo();
    std::memcpy(info.registrationNo, bytes.constData(), 16);
    const RegistrationNoInfo back = HistoryRules::registrationFromHex(HistoryRules::registrationHex(info));
    QVERIFY(std::memcmp(&back, &info, sizeof(info)) == 0);
}

void tst_HistoryRecord::messagesCarryEveryField()
{
    Codec::install();
    HistoryRecord record;
    record.key = QUuid::createUuid();
    record.testedUtcMs = 1733800000123;
    record.utcOffsetSeconds = -5 * 3600;
    record.portName = QStringLiteral("/dev/ttyUSB3");
    record.customer = QString::fromUtf8("\u5F20\u4E09");
    record.batteryModel = QStringLiteral("6-QW-60");
    record.record.capacityInfo = makeCapacityInfo();
    record.record.capacityInfo.capacity = 650;
    const HistoryRecordMessage message = toMessage(record);
    QCOMPARE(message.header.id, MSG_HISTORY_RECORD);
    const HistoryRecord back = fromMessage(message, QStringLiteral("bay-1"));
    QCOMPARE(back.key, record.key);
    QCOMPARE(back.workstation, QStringLiteral("bay-1"));
    QCOMPARE(back.testedUtcMs, record.testedUtcMs);
    QCOMPARE(back.utcOffsetSeconds, record.utcOffsetSeconds);
    QCOMPARE(back.portName, record.portName);
    QCOMPARE(back.customer, record.customer);
    QCOMPARE(back.batteryModel, record.batteryModel);
    QVERIFY(std::memcmp(&back.record, &record.record, sizeof(TestRecord)) == 0);

    const HistoryEvent event{record.key,
                             HistoryEventKind::Saved,
                             42,
                             QString::fromUtf8("/\u6587/a.doc"),
                             QStringLiteral("/t/a.png"),
                             QStringLiteral("requested")};
    const HistoryEvent eventBack = fromMessage(toMessage(event));
    QCOMPARE(eventBack.key, event.key);
    QCOMPARE(eventBack.kind, event.kind);
    QCOMPARE(eventBack.utcMs, event.utcMs);
    QCOMPARE(eventBack.documentPath, event.documentPath);
    QCOMPARE(eventBack.picturePath, event.picturePath);
    QCOMPARE(eventBack.outcome, event.outcome);
}

QTEST_GUILESS_MAIN(tst_HistoryRecord)
#include "tst_HistoryRecord.moc"
