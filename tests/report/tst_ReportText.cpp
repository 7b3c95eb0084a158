#include <cstring>

#include <QTest>

#include "ReportText.h"

Q_DECLARE_METATYPE(Section)

namespace {

QString sp(int count)
{
    return QString(count, QLatin1Char(' '));
}

QByteArray bytesOf(const TestRecord &record)
{
    return QByteArray(reinterpret_cast<const char *>(&record), sizeof(record));
}

TestRecord recordOf(const QByteArray &bytes)
{
    TestRecord record;
    std::memcpy(&record, bytes.constData(), sizeof(record));
    return record;
}

BatteryResult battery(std::int16_t status, std::uint16_t voltage, std::uint16_t rating, std::int16_t standard,
                      std::uint16_t resistance, std::int16_t percent)
{
    BatteryResult result = makeBatteryResult();
    result.status = status;
    result.voltage = voltage;
    result.measuredRating = rating;
    result.ratingStandard = standard;
    result.resistance = resistance;
    result.percent = percent;
    return result;
}

// The edge records shared by both forms; each row names the section it shows.
struct Case
{
    const char *tag;
    Section section;
    TestRecord record;
};

QList<Case> cases()
{
    QList<Case> list;
    for (Section section : {Section::Battery, Section::Grounding, Section::Starter, Section::Charging3K,
                            Section::Charging2K, Section::Avg2K})
        list.append({nullptr, section, TestRecord{}});
    list[0].tag = "battery missing";
    list[1].tag = "grounding missing";
    list[2].tag = "starter missing";
    list[3].tag = "charging3K missing";
    list[4].tag = "charging2K missing";
    list[5].tag = "avg2K missing";

    Case c{"battery 1199 marked, SAE", Section::Battery, TestRecord{}};
    c.record.battery = battery(1, 1199, 600, 4, 512, 80);
    list.append(c);
    c = {"battery 1200 unmarked, percent 44 marked", Section::Battery, TestRecord{}};
    c.record.battery = battery(2, 1200, 12345, 2, 5, 44);
    list.append(c);
    c = {"battery percent 65535 unmarked, standard 5 is CCA", Section::Battery, TestRecord{}};
    c.record.battery = battery(1, 1300, 0, 5, 0, -1);
    list.append(c);
    c = {"battery status 3 shows values, standard -1 is CCA", Section::Battery, TestRecord{}};
    c.record.battery = battery(3, 1250, 500, -1, 450, 45);
    list.append(c);
    c = {"battery values but status 0 is missing", Section::Battery, TestRecord{}};
    c.record.battery = battery(0, 1250, 500, 2, 450, 45);
    list.append(c);

    c = {"grounding 3001 marked", Section::Grounding, TestRecord{}};
    c.record.grounding = makeGroundingResult();
    c.record.grounding.status = 2;
    c.record.grounding.resistance = 3001;
    list.append(c);
    c = {"grounding 5 unmarked", Section::Grounding, TestRecord{}};
    c.record.grounding = makeGroundingResult();
    c.record.grounding.status = 1;
    c.record.grounding.resistance = 5;
    list.append(c);
    c = {"grounding 4 marked", Section::Grounding, TestRecord{}};
    c.record.grounding = makeGroundingResult();
    c.record.grounding.status = 1;
    c.record.grounding.resistance = 4;
    list.append(c);

    c = {"starter 959 marked", Section::Starter, TestRecord{}};
    c.record.starter = makeStarterResult();
    c.record.starter.status = 2;
    c.record.starter.extraValue = 777;
    c.record.starter.crankingVoltage = 959;
    list.append(c);

    c = {"charging3K mean 13.65, 1500 unmarked", Section::Charging3K, TestRecord{}};
    c.record.charging3K = makeCharging3KResult();
    c.record.charging3K.status = 1;
    c.record.charging3K.highVoltage = 1400;
    c.record.charging3K.lowVoltage = 1331;
    list.append(c);
    c = {"charging3K 1501 and 1329 marked", Section::Charging3K, TestRecord{}};
    c.record.charging3K = makeCharging3KResult();
    c.record.charging3K.status = 2;
    c.record.charging3K.highVoltage = 1501;
    c.record.charging3K.lowVoltage = 1329;
    list.append(c);
    c = {"charging2K 1349 marked, 1250 unmarked", Section::Charging2K, TestRecord{}};
    c.record.charging2K = makeCharging2KResult();
    c.record.charging2K.status = 2;
    c.record.charging2K.highVoltage = 1349;
    c.record.charging2K.lowVoltage = 1250;
    list.append(c);
    c = {"charging2K 1350 unmarked, 1249 marked", Section::Charging2K, TestRecord{}};
    c.record.charging2K = makeCharging2KResult();
    c.record.charging2K.status = 1;
    c.record.charging2K.highVoltage = 1350;
    c.record.charging2K.lowVoltage = 1249;
    list.append(c);

    c = {"avg2K 49 unmarked", Section::Avg2K, TestRecord{}};
    c.record.avg2K = makeAvg2KResult();
    c.record.avg2K.status = 1;
    c.record.avg2K.voltage = 49;
    list.append(c);
    c = {"avg2K 50 marked", Section::Avg2K, TestRecord{}};
    c.record.avg2K = makeAvg2KResult();
    c.record.avg2K.status = 2;
    c.record.avg2K.voltage = 50;
    list.append(c);
    c = {"avg2K status 3 is missing", Section::Avg2K, TestRecord{}};
    c.record.avg2K = makeAvg2KResult();
    c.record.avg2K.status = 3;
    c.record.avg2K.voltage = 50;
    list.append(c);
    return list;
}

} // namespace

class tst_ReportText : public QObject
{
    Q_OBJECT

private:
    void addCaseColumns()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<Section>("section");
        QTest::addColumn<QString>("expected");
    }
    void addRow(const char *tag, const QString &expected)
    {
        for (const Case &c : cases()) {
            if (qstrcmp(c.tag, tag) == 0) {
                QTest::newRow(tag) << bytesOf(c.record) << c.section << expected;
                return;
            }
        }
        QFAIL(tag);
    }

private slots:
    void pageText_data();
    void pageText();
    void screenText_data();
    void screenText();
    void pictureFollowsStatus_data();
    void pictureFollowsStatus();
};

void tst_ReportText::pageText_data()
{
    addCaseColumns();
    const QString i18 = sp(18);
    const QString i10 = sp(10);
    addRow("battery missing",
           i18 + "------ V \n" + i18 + "------ CCA\n" + i18 + "------ mΩ\n" + i18 + "------ % ");
    addRow("grounding missing", i18 + "------ mΩ");
    addRow("starter missing", i18 + "------ V ");
    addRow("charging3K missing", i10 + "(V↓+V↑)/2 : ------ V\n" + i10 + "  V↑<15.0V : ------ V \n" + i10 +
                                     "  V↓<13.3V : ------ V ");
    addRow("charging2K missing", i10 + "(V↓+V↑)/2 : ------ V\n" + i10 + "  V↑<13.5V : ------ V \n" + i10 +
                                     "  V↓<12.5V : ------ V ");
    addRow("avg2K missing", i10 + "     <0.50V : ------ V ");

    addRow("battery 1199 marked, SAE",
           i18 + " 11.99 V **\n" + i18 + "   600 SAE\n" + i18 + "  5.12 mΩ\n" + i18 + "    80 % ");
    addRow("battery 1200 unmarked, percent 44 marked",
           i18 + " 12.00 V \n" + i18 + " 12345 DIN\n" + i18 + "  0.05 mΩ\n" + i18 + "    44 % **");
    addRow("battery percent 65535 unmarked, standard 5 is CCA",
           i18 + " 13.00 V \n" + i18 + "     0 CCA\n" + i18 + "  0.00 mΩ\n" + i18 + " 65535 % ");
    addRow("battery status 3 shows values, standard -1 is CCA",
           i18 + " 12.50 V \n" + i18 + "   500 CCA\n" + i18 + "  4.50 mΩ\n" + i18 + "    45 % ");
    addRow("battery values but status 0 is missing",
           i18 + "------ V \n" + i18 + "------ CCA\n" + i18 + "------ mΩ\n" + i18 + "------ % ");
    addRow("grounding 3001 marked", i18 + " 30.01 mΩ **");
    addRow("grounding 5 unmarked", i18 + "  0.05 mΩ");
    addRow("grounding 4 marked", i18 + "  0.04 mΩ **");
    addRow("starter 959 marked", i18 + "  9.59 V  **");
    addRow("charging3K mean 13.65, 1500 unmarked", i10 + "(V↓+V↑)/2 :  13.65 V\n" + i10 +
                                                       "  V↑<15.0V :  14.00 V \n" + i10 +
                                                       "  V↓<13.3V :  13.31 V ");
    addRow("charging3K 1501 and 1329 marked", i10 + "(V↓+V↑)/2 :  14.15 V\n" + i10 +
                                                  "  V↑<15.0V :  15.01 V  **\n" + i10 +
                                                  "  V↓<13.3V :  13.29 V  **");
    addRow("charging2K 1349 marked, 1250 unmarked", i10 + "(V↓+V↑)/2 :  12.99 V\n" + i10 +
                                                        "  V↑<13.5V :  13.49 V  **\n" + i10 +
                                                        "  V↓<12.5V :  12.50 V ");
    addRow("charging2K 1350 unmarked, 1249 marked", i10 + "(V↓+V↑)/2 :  12.99 V\n" + i10 +
                                                        "  V↑<13.5V :  13.50 V \n" + i10 +
                                                        "  V↓<12.5V :  12.49 V  **");
    addRow("avg2K 49 unmarked", i10 + "     <0.50V :   0.49 V ");
    addRow("avg2K 50 marked", i10 + "     <0.50V :   0.50 V  **");
    addRow("avg2K status 3 is missing", i10 + "     <0.50V : ------ V ");
}

void tst_ReportText::pageText()
{
    QFETCH(QByteArray, record);
    QFETCH(Section, section);
    QFETCH(QString, expected);
    QCOMPARE(ReportText::sectionText(recordOf(record), section, ReportText::Form::Page), expected);
}

void tst_ReportText::screenText_data()
{
    addCaseColumns();
    const QString missing = sp(9) + "------";
    addRow("battery missing",
           missing + " V    \n" + missing + " CCA\n" + missing + " mΩ\n" + missing + " %    ");
    addRow("grounding missing", missing + " mΩ   ");
    addRow("starter missing", missing + " V    ");
    addRow("charging3K missing", missing + " V      \n" + missing + " V    \n" + missing + " V    ");
    addRow("charging2K missing", missing + " V      \n" + missing + " V    \n" + missing + " V    ");
    addRow("avg2K missing", missing + " V    ");

    addRow("battery 1199 marked, SAE",
           sp(10) + "11.99 V    **\n" + sp(12) + "600 SAE\n" + sp(11) + "5.12 mΩ\n" + sp(13) + "80 %    ");
    addRow("battery 1200 unmarked, percent 44 marked",
           sp(10) + "12.00 V    \n" + sp(10) + "12345 DIN\n" + sp(11) + "0.05 mΩ\n" + sp(13) + "44 %    **");
    addRow("battery percent 65535 unmarked, standard 5 is CCA",
           sp(10) + "13.00 V    \n" + sp(14) + "0 CCA\n" + sp(11) + "0.00 mΩ\n" + sp(10) + "65535 %    ");
    addRow("battery values but status 0 is missing",
           missing + " V    \n" + missing + " CCA\n" + missing + " mΩ\n" + missing + " %    ");
    addRow("grounding 3001 marked", sp(10) + "30.01 mΩ   **");
    addRow("grounding 4 marked", sp(11) + "0.04 mΩ   **");
    addRow("starter 959 marked", sp(11) + "9.59 V    **");
    addRow("charging3K mean 13.65, 1500 unmarked",
           sp(10) + "13.65 V      \n" + sp(10) + "14.00 V    \n" + sp(10) + "13.31 V    ");
    addRow("charging3K 1501 and 1329 marked",
           sp(10) + "14.15 V      \n" + sp(10) + "15.01 V    **\n" + sp(10) + "13.29 V    **");
    addRow("charging2K 1349 marked, 1250 unmarked",
           sp(10) + "12.99 V      \n" + sp(10) + "13.49 V    **\n" + sp(10) + "12.50 V    ");
    addRow("avg2K 50 marked", sp(11) + "0.50 V    **");
    addRow("avg2K status 3 is missing", missing + " V    ");
}

void tst_ReportText::screenText()
{
    QFETCH(QByteArray, record);
    QFETCH(Section, section);
    QFETCH(QString, expected);
    QCOMPARE(ReportText::sectionText(recordOf(record), section, ReportText::Form::Screen), expected);
}

void tst_ReportText::pictureFollowsStatus_data()
{
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<Section>("section");
    QTest::addColumn<QString>("picture");

    TestRecord record{};
    QTest::newRow("new record, battery") << bytesOf(record) << Section::Battery << "1-0.png";
    QTest::newRow("new record, avg2K") << bytesOf(record) << Section::Avg2K << "6-0.png";
    record.battery.status = 4;
    record.charging3K.status = 3;
    record.charging2K.status = 1;
    record.grounding.status = 2;
    record.starter.status = 3;
    record.avg2K.status = 2;
    QTest::newRow("battery 4") << bytesOf(record) << Section::Battery << "1-4.png";
    QTest::newRow("grounding 2") << bytesOf(record) << Section::Grounding << "2-2.png";
    QTest::newRow("starter 3") << bytesOf(record) << Section::Starter << "3-0.png";
    QTest::newRow("charging3K 3") << bytesOf(record) << Section::Charging3K << "4-2.png";
    QTest::newRow("charging2K 1") << bytesOf(record) << Section::Charging2K << "5-1.png";
    QTest::newRow("avg2K 2") << bytesOf(record) << Section::Avg2K << "6-2.png";
}

void tst_ReportText::pictureFollowsStatus()
{
    QFETCH(QByteArray, record);
    QFETCH(Section, section);
    QFETCH(QString, picture);
    QCOMPARE(ReportText::sectionPicture(recordOf(record), section), picture);
}

QTEST_GUILESS_MAIN(tst_ReportText)
#include "tst_ReportText.moc"
