#include "HistoryCsv.h"

#include <QCoreApplication>
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
    // Column names in the chosen language; the values below them keep one form in every language.
    static const char *const names[] = {
        QT_TRANSLATE_NOOP("HistoryCsv", "Date and time"),
        QT_TRANSLATE_NOOP("HistoryCsv", "UTC offset"),
        QT_TRANSLATE_NOOP("HistoryCsv", "Workstation"),
        QT_TRANSLATE_NOOP("HistoryCsv", "Port"),
        QT_TRANSLATE_NOOP("HistoryCsv", "Registration"),
        QT_TRANSLATE_NOOP("HistoryCsv", "Customer"),
        QT_TRANSLATE_NOOP("HistoryCsv", "Battery model"),
        QT_TRANSLATE_NOOP("HistoryCsv", "Tester date"),
        QT_TRANSLATE_NOOP("HistoryCsv", "Capacity"),
        QT_TRANSLATE_NOOP("HistoryCsv", "Overall result"),
        QT_TRANSLATE_NOOP("HistoryCsv", "Battery result"),
        QT_TRANSLATE_NOOP("HistoryCsv", "Battery voltage (V)"),
        QT_TRANSLATE_NOOP("HistoryCsv", "Measured rating"),
        QT_TRANSLATE_NOOP("HistoryCsv", "Internal resistance (mOhm)"),
        QT_TRANSLATE_NOOP("HistoryCsv", "Battery percent"),
        QT_TRANSLATE_NOOP("HistoryCsv", "Grounding result"),
        QT_TRANSLATE_NOOP("HistoryCsv", "Grounding resistance (mOhm)"),
        QT_TRANSLATE_NOOP("HistoryCsv", "Starter result"),
        QT_TRANSLATE_NOOP("HistoryCsv", "Cranking voltage (V)"),
        QT_TRANSLATE_NOOP("HistoryCsv", "Charging 3K result"),
        QT_TRANSLATE_NOOP("HistoryCsv", "Charging 3K high (V)"),
        QT_TRANSLATE_NOOP("HistoryCsv", "Charging 3K low (V)"),
        QT_TRANSLATE_NOOP("HistoryCsv", "Charging 2K result"),
        QT_TRANSLATE_NOOP("HistoryCsv", "Charging 2K high (V)"),
        QT_TRANSLATE_NOOP("HistoryCsv", "Charging 2K low (V)"),
        QT_TRANSLATE_NOOP("HistoryCsv", "Avg 2K result"),
        QT_TRANSLATE_NOOP("HistoryCsv", "Avg 2K voltage (V)"),
    };
    QStringList fields;
    for (const char *name : names)
        fields << QCoreApplication::translate("HistoryCsv", name);
    return fields;
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
