#include "HistoryCsv.h"

#include <QDateTime>

namespace HistoryCsv {

namespace {

QString hundredths(int value)
{
    return QString::number(value / 100.0, 'f', 2);
}

QString quoted(const QString &field)
{
    if (!field.contains(QLatin1Char(',')) && !field.contains(QLatin1Char('"')) &&
        !field.contains(QLatin1Char('\n')) && !field.contains(QLatin1Char('\r')))
        return field;
    QString text = field;
    text.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

} // namespace

QByteArray byteOrderMark()
{
    return QByteArrayLiteral("\xEF\xBB\xBF");
}

QStringList headerFields()
{
    return {QStringLiteral("Date and time"),
            QStringLiteral("UTC offset"),
            QStringLiteral("Workstation"),
            QStringLiteral("Port"),
            QStringLiteral("Registration"),
            QStringLiteral("Customer"),
            QStringLiteral("Battery model"),
            QStringLiteral("Tester date"),
            QStringLiteral("Capacity"),
            QStringLiteral("Overall result"),
            QStringLiteral("Battery result"),
            QStringLiteral("Battery voltage (V)"),
            QStringLiteral("Measured rating"),
            QStringLiteral("Internal resistance (mOhm)"),
            QStringLiteral("Battery percent"),
            QStringLiteral("Grounding result"),
            QStringLiteral("Grounding resistance (mOhm)"),
            QStringLiteral("Starter result"),
            QStringLiteral("Cranking voltage (V)"),
            QStringLiteral("Charging 3K result"),
            QStringLiteral("Charging 3K high (V)"),
            QStringLiteral("Charging 3K low (V)"),
            QStringLiteral("Charging 2K result"),
            QStringLiteral("Charging 2K high (V)"),
            QStringLiteral("Charging 2K low (V)"),
            QStringLiteral("Avg 2K result"),
            QStringLiteral("Avg 2K voltage (V)")};
}

QStringList recordFields(const HistoryRecord &history)
{
    using namespace TestRecordRules;
    const TestRecord &r = history.record;
    const QDateTime time =
        QDateTime::fromMSecsSinceEpoch(history.testedUtcMs, Qt::OffsetFromUTC, history.utcOffsetSeconds);
    // Values of a section without values stay empty, as the report shows none.
    const auto shown = [](Section section, std::int16_t status, const QStringList &values) {
        return valuesMissing(section, status) ? QStringList(values.size(), QString()) : values;
    };
    QStringList fields{time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                       time.timeZoneAbbreviation(),
                       history.workstation,
                       history.portName,
                       registrationText(r.registrationNoInfo),
                       history.customer,
                       history.batteryModel,
                       dateText(r.testDate),
                       capacityText(r.capacityInfo, r.battery),
                       HistoryRules::resultWord(HistoryRules::overallResult(r))};
    fields << HistoryRules::sectionResultWord(r, Section::Battery)
           << shown(Section::Battery, r.battery.status,
                    {hundredths(r.battery.voltage), ratingText(r.battery), hundredths(r.battery.resistance),
                     QString::number(r.battery.percent)});
    fields << HistoryRules::sectionResultWord(r, Section::Grounding)
           << shown(Section::Grounding, r.grounding.status, {hundredths(r.grounding.resistance)});
    fields << HistoryRules::sectionResultWord(r, Section::Starter)
           << shown(Section::Starter, r.starter.status, {hundredths(r.starter.crankingVoltage)});
    fields << HistoryRules::sectionResultWord(r, Section::Charging3K)
           << shown(Section::Charging3K, r.charging3K.status,
                    {hundredths(r.charging3K.highVoltage), hundredths(r.charging3K.lowVoltage)});
    fields << HistoryRules::sectionResultWord(r, Section::Charging2K)
           << shown(Section::Charging2K, r.charging2K.status,
                    {hundredths(r.charging2K.highVoltage), hundredths(r.charging2K.lowVoltage)});
    fields << HistoryRules::sectionResultWord(r, Section::Avg2K)
           << shown(Section::Avg2K, r.avg2K.status, {hundredths(r.avg2K.voltage)});
    return fields;
}

QByteArray line(const QStringList &fields)
{
    QStringList quotedFields;
    quotedFields.reserve(fields.size());
    for (const QString &field : fields)
        quotedFields << quoted(field);
    return quotedFields.join(QLatin1Char(',')).toUtf8() + QByteArrayLiteral("\r\n");
}

} // namespace HistoryCsv
