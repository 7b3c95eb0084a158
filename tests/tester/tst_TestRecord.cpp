#include <QTest>

#include <cstring>

#include "Codec.h"
#include "TestRecord.h"

using namespace TestRecordRules;

class tst_TestRecord : public QObject
{
    Q_OBJECT

private slots:
    void freshMessages();
    void be16_data();
    void be16();
    void signedByte_data();
    void signedByte();
    void date_data();
    void date();
    void registration_data();
    void registration();
    void ratingStandard_data();
    void ratingStandard();
    void pictures_data();
    void pictures();
    void missingValues_data();
    void missingValues();
    void limits_data();
    void limits();
    void derivedTexts();
};

void tst_TestRecord::freshMessages()
{
    struct Case
    {
        std::uint32_t size;
        std::uint32_t id;
        MessageHeader header;
    };
    const Case cases[] = {
        {20, 16, makeBatteryResult().header},    {12, 17, makeGroundingResult().header},
        {14, 18, makeStarterResult().header},    {14, 19, makeCharging3KResult().header},
        {14, 20, makeCharging2KResult().header}, {12, 21, makeAvg2KResult().header},
        {14, 22, makeTestDate().header},         {25, 23, makeRegistrationNoInfo().header},
        {10, 24, makeCapacityInfo().header},
    };
    for (const Case &c : cases) {
        QCOMPARE(c.header.size, c.size);
        QCOMPARE(c.header.id, c.id);
    }
    const BatteryResult battery = makeBatteryResult();
    const QByteArray payload(reinterpret_cast<const char *>(&battery) + 8, sizeof(battery) - 8);
    QCOMPARE(payload, QByteArray(12, '\0'));

    const TestRecord record{};
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(&record), sizeof(record)), QByteArray(135, '\0'));
}

void tst_TestRecord::be16_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("value");
    QTest::newRow("high byte first") << QByteArray::fromHex("aa05010104eea3") << true << 0x04ee;
    QTest::newRow("0xffff stays unsigned") << QByteArray::fromHex("aa050101ffff00") << true << 0xffff;
    QTest::newRow("one data byte is too short") << QByteArray::fromHex("aa04010104b4") << false << 0;
    QTest::newRow("header only") << QByteArray::fromHex("aa020101ae") << false << 0;
}

void tst_TestRecord::be16()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, ok);
    QFETCH(int, value);
    // The field takes bytes 4-5; in a 6-byte reply byte 5 is the checksum, not data.
    std::uint16_t read = 0;
    QCOMPARE(readBe16(reply, replyDataOffset, read), ok);
    QCOMPARE(int(read), value);
}

void tst_TestRecord::signedByte_data()
{
    QTest::addColumn<char>("byte");
    QTest::addColumn<int>("value");
    QTest::newRow("zero") << char(0x00) << 0;
    QTest::newRow("largest positive") << char(0x7f) << 127;
    QTest::newRow("0x80 is -128") << char(0x80) << -128;
    QTest::newRow("0xff is -1 (0xffff)") << char(0xff) << -1;
}

void tst_TestRecord::signedByte()
{
    QFETCH(char, byte);
    QFETCH(int, value);
    const QByteArray reply = QByteArray::fromHex("aa040105") + QByteArray(1, byte) + QByteArray(1, '\0');
    std::int16_t read = 0;
    QVERIFY(readSignedByte(reply, replyDataOffset, read));
    QCOMPARE(int(read), value);
    QCOMPARE(static_cast<std::uint16_t>(read), static_cast<std::uint16_t>(value & 0xffff));
    QVERIFY(!readSignedByte(QByteArray::fromHex("aa0201"), replyDataOffset, read));
}

void tst_TestRecord::date_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("text");
    QTest::newRow("07-03-2014") << QByteArray::fromHex("aa00000007030e00") << true
                                << QStringLiteral("07-03-2014");
    QTest::newRow("year byte 0xff is 1999")
        << QByteArray::fromHex("aa0000001f0cff00") << true << QStringLiteral("31-12-1999");
    QTest::newRow("year byte 0x80 is 1872")
        << QByteArray::fromHex("aa00000001018000") << true << QStringLiteral("01-01-1872");
    QTest::newRow("year byte 0 is 2000")
        << QByteArray::fromHex("aa00000001010000") << true << QStringLiteral("01-01-2000");
    QTest::newRow("checksum where the year would be")
        << QByteArray::fromHex("aa0000000703c0") << false << QStringLiteral("00-00-0000");
}

void tst_TestRecord::date()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, ok);
    QFETCH(QString, text);
    TestDate date = makeTestDate();
    QCOMPARE(readDate(reply, date), ok);
    QCOMPARE(dateText(date), text);
}

void tst_TestRecord::registration_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("16 characters, no zero")
        << QByteArray("ABCDEFGHIJKLMNOP") << QStringLiteral("ABCDEFGHIJKLMNOP");
    QTest::newRow("zero at reply byte 9") << QByteArray("ABCDE\0GHIJKLMNOP", 16) << QStringLiteral("ABCDE");
    QTest::newRow("all zero") << QByteArray(16, '\0') << QString();
    const QByteArray gbk = Codec::toBytes(u"沪A5K308");
    QTest::newRow("GBK text") << gbk + QByteArray(16 - gbk.size(), '\0') << QStringLiteral("沪A5K308");
}

void tst_TestRecord::registration()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, expected);
    if (!Codec::isGbk() && QByteArray(QTest::currentDataTag()) == "GBK text")
        QSKIP("No GBK converter on this platform");
    const QByteArray reply = QByteArray::fromHex("aa130801") + text + QByteArray(1, '\x55');
    RegistrationNoInfo info = makeRegistrationNoInfo();
    QVERIFY(readRegistrationNo(reply, info));
    QCOMPARE(info.terminator, '\0');
    QCOMPARE(registrationText(info), expected);

    RegistrationNoInfo untouched = makeRegistrationNoInfo();
    QVERIFY(!readRegistrationNo(reply.left(20), untouched));
    QCOMPARE(registrationText(untouched), QString());
}

void tst_TestRecord::ratingStandard_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("name");
    QTest::newRow("0") << 0 << QStringLiteral("CCA");
    QTest::newRow("1") << 1 << QStringLiteral("EN");
    QTest::newRow("2") << 2 << QStringLiteral("DIN");
    QTest::newRow("3") << 3 << QStringLiteral("IEC");
    QTest::newRow("4") << 4 << QStringLiteral("SAE");
    QTest::newRow("5") << 5 << QStringLiteral("CCA");
    QTest::newRow("127") << 127 << QStringLiteral("CCA");
    QTest::newRow("byte 0xff") << -1 << QStringLiteral("CCA");
    QTest::newRow("byte 0x80") << -128 << QStringLiteral("CCA");
}

void tst_TestRecord::ratingStandard()
{
    QFETCH(int, index);
    QFETCH(QString, name);
    QCOMPARE(ratingStandardName(static_cast<std::int16_t>(index)), name);
}

void tst_TestRecord::pictures_data()
{
    QTest::addColumn<int>("section");
    QTest::addColumn<QString>("pictures"); // for status 0, 1, 2, 3, 4, 5, -1
    QTest::newRow("battery") << 1 << QStringLiteral("1-0 1-1 1-2 1-0 1-4 1-0 1-0");
    QTest::newRow("grounding") << 2 << QStringLiteral("2-0 2-1 2-2 2-0 2-0 2-0 2-0");
    QTest::newRow("starter") << 3 << QStringLiteral("3-0 3-1 3-2 3-0 3-0 3-0 3-0");
    QTest::newRow("charging3K") << 4 << QStringLiteral("4-0 4-1 4-2 4-2 4-0 4-0 4-0");
    QTest::newRow("charging2K") << 5 << QStringLiteral("5-0 5-1 5-2 5-2 5-0 5-0 5-0");
    QTest::newRow("avg2K") << 6 << QStringLiteral("6-0 6-1 6-2 6-0 6-0 6-0 6-0");
}

void tst_TestRecord::pictures()
{
    QFETCH(int, section);
    QFETCH(QString, pictures);
    const std::int16_t statuses[] = {0, 1, 2, 3, 4, 5, -1};
    QStringList chosen;
    for (std::int16_t status : statuses)
        chosen << resultPicture(static_cast<Section>(section), status).chopped(4);
    QCOMPARE(chosen.join(QLatin1Char(' ')), pictures);
    QCOMPARE(resultPicture(static_cast<Section>(section), 1), QStringLiteral("%1-1.png").arg(section));
}

void tst_TestRecord::missingValues_data()
{
    QTest::addColumn<int>("section");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("missing");
    for (int section = 1; section <= 6; ++section) {
        const QByteArray name = QByteArray::number(section);
        QTest::newRow(name + " status 0") << section << 0 << true;
        QTest::newRow(name + " status 1") << section << 1 << false;
        QTest::newRow(name + " status 3") << section << 3 << (section == 6);
        QTest::newRow(name + " status -1") << section << -1 << false;
    }
}

void tst_TestRecord::missingValues()
{
    QFETCH(int, section);
    QFETCH(int, status);
    QFETCH(bool, missing);
    QCOMPARE(valuesMissing(static_cast<Section>(section), static_cast<std::int16_t>(status)), missing);
}

void tst_TestRecord::limits_data()
{
    QTest::addColumn<QString>("limit");
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("marked");
    QTest::newRow("battery voltage 1199") << "batteryVoltage" << 1199 << true;
    QTest::newRow("battery voltage 1200") << "batteryVoltage" << 1200 << false;
    QTest::newRow("battery percent 44") << "batteryPercent" << 44 << true;
    QTest::newRow("battery percent 45") << "batteryPercent" << 45 << false;
    QTest::newRow("battery percent byte 0xFF (65535)") << "batteryPercent" << -1 << false;
    QTest::newRow("grounding 4") << "grounding" << 4 << true;
    QTest::newRow("grounding 5") << "grounding" << 5 << false;
    QTest::newRow("grounding 3000") << "grounding" << 3000 << false;
    QTest::newRow("grounding 3001") << "grounding" << 3001 << true;
    QTest::newRow("cranking 959") << "cranking" << 959 << true;
    QTest::newRow("cranking 960") << "cranking" << 960 << false;
    QTest::newRow("charging3K high 1500") << "charging3KHigh" << 1500 << false;
    QTest::newRow("charging3K high 1501") << "charging3KHigh" << 1501 << true;
    QTest::newRow("charging3K low 1329") << "charging3KLow" << 1329 << true;
    QTest::newRow("charging3K low 1330") << "charging3KLow" << 1330 << false;
    QTest::newRow("charging2K high 1349") << "charging2KHigh" << 1349 << true;
    QTest::newRow("charging2K high 1350") << "charging2KHigh" << 1350 << false;
    QTest::newRow("charging2K low 1249") << "charging2KLow" << 1249 << true;
    QTest::newRow("charging2K low 1250") << "charging2KLow" << 1250 << false;
    QTest::newRow("avg2K 49") << "avg2K" << 49 << false;
    QTest::newRow("avg2K 50") << "avg2K" << 50 << true;
    QTest::newRow("avg2K 65535") << "avg2K" << 65535 << true;
}

void tst_TestRecord::limits()
{
    QFETCH(QString, limit);
    QFETCH(int, value);
    QFETCH(bool, marked);
    const auto u = static_cast<std::uint16_t>(value);
    const std::map<QString, bool> results = {
        {QStringLiteral("batteryVoltage"), isBatteryVoltageMarked(u)},
        {QStringLiteral("batteryPercent"), isBatteryPercentMarked(static_cast<std::int16_t>(value))},
        {QStringLiteral("grounding"), isGroundingResistanceMarked(u)},
        {QStringLiteral("cranking"), isStarterCrankingVoltageMarked(u)},
        {QStringLiteral("charging3KHigh"), isCharging3KHighVoltageMarked(u)},
        {QStringLiteral("charging3KLow"), isCharging3KLowVoltageMarked(u)},
        {QStringLiteral("charging2KHigh"), isCharging2KHighVoltageMarked(u)},
        {QStringLiteral("charging2KLow"), isCharging2KLowVoltageMarked(u)},
        {QStringLiteral("avg2K"), isAvg2KVoltageMarked(u)},
    };
    QCOMPARE(results.at(limit), marked);
}

void tst_TestRecord::derivedTexts()
{
    QCOMPARE(chargingMeanVolts(1462, 1389), 14.255);
    QCOMPARE(chargingMeanVolts(0, 0), 0.0);
    QCOMPARE(chargingMeanVolts(65535, 65535), 655.35);

    BatteryResult battery = makeBatteryResult();
    CapacityInfo capacity = makeCapacityInfo();
    QCOMPARE(capacityText(capacity, battery), QStringLiteral("0 CCA"));
    QCOMPARE(dateText(makeTestDate()), QStringLiteral("00-00-0000"));
    battery.ratingStandard = 4;
    battery.measuredRating = 640;
    capacity.capacity = 700;
    QCOMPARE(capacityText(capacity, battery), QStringLiteral("700 SAE"));
    QCOMPARE(ratingText(battery), QStringLiteral("640 SAE"));
    battery.ratingStandard = 2;
    capacity.capacity = 600;
    QCOMPARE(capacityText(capacity, battery), QStringLiteral("600 DIN"));
}

QTEST_GUILESS_MAIN(tst_TestRecord)
#include "tst_TestRecord.moc"
