#include "HistoryRecord.h"

#include <algorithm>
#include <cstring>

#include <QCoreApplication>
#include <QRegularExpression>

namespace HistoryRules {

namespace {

constexpr Section allSections[] = {Section::Battery,    Section::Grounding,  Section::Starter,
                                   Section::Charging3K, Section::Charging2K, Section::Avg2K};

std::int16_t sectionStatus(const TestRecord &record, Section section)
{
    switch (section) {
    case Section::Battery:
        return record.battery.status;
    case Section::Grounding:
        return record.grounding.status;
    case Section::Starter:
        return record.starter.status;
    case Section::Charging3K:
        return record.charging3K.status;
    case Section::Charging2K:
        return record.charging2K.status;
    case Section::Avg2K:
        return record.avg2K.status;
    }
    return 0;
}

// Whether a section shows a value outside its limits (only sections whose values are shown).
bool anyValueMarked(const TestRecord &record, Section section)
{
    using namespace TestRecordRules;
    if (valuesMissing(section, sectionStatus(record, section)))
        return false;
    switch (section) {
    case Section::Battery:
        return isBatteryVoltageMarked(record.battery.voltage) ||
               isBatteryPercentMarked(record.battery.percent);
    case Section::Grounding:
        return isGroundingResistanceMarked(record.grounding.resistance);
    case Section::Starter:
        return isStarterCrankingVoltageMarked(record.starter.crankingVoltage);
    case Section::Charging3K:
        return isCharging3KHighVoltageMarked(record.charging3K.highVoltage) ||
               isCharging3KLowVoltageMarked(record.charging3K.lowVoltage);
    case Section::Charging2K:
        return isCharging2KHighVoltageMarked(record.charging2K.highVoltage) ||
               isCharging2KLowVoltageMarked(record.charging2K.lowVoltage);
    case Section::Avg2K:
        return isAvg2KVoltageMarked(record.avg2K.voltage);
    }
    return false;
}

} // namespace

bool hasTesterData(const TestRecord &record)
{
    for (Section section : allSections) {
        if (sectionStatus(record, section) != 0)
            return true;
    }
    return record.testDate.year != 0 || record.registrationNoInfo.registrationNo[0] != 0 ||
           record.capacityInfo.capacity != 0;
}

int sectionPictureNumber(const TestRecord &record, Section section)
{
    // "<section>-<n>.png": the picture rule of the report is the one authority.
    static const QRegularExpression number(QStringLiteral("^\\d+-(\\d+)\\.png$"));
    const QString name = TestRecordRules::resultPicture(section, sectionStatus(record, section));
    const QRegularExpressionMatch match = number.match(name);
    return match.hasMatch() ? match.captured(1).toInt() : 0;
}

static HistoryResult sectionResult(const TestRecord &record, Section section)
{
    const int picture = sectionPictureNumber(record, section);
    if (picture == 2 || picture == 4 || anyValueMarked(record, section))
        return HistoryResult::Attention;
    if (picture == 1)
        return HistoryResult::Pass;
    return HistoryResult::NoResult;
}

QString sectionResultWord(const TestRecord &record, Section section)
{
    return resultWord(sectionResult(record, section));
}

HistoryResult overallResult(const TestRecord &record)
{
    HistoryResult overall = HistoryResult::NoResult;
    for (Section section : allSections) {
        const HistoryResult result = sectionResult(record, section);
        if (result == HistoryResult::Attention)
            return result;
        if (result == HistoryResult::Pass)
            overall = result;
    }
    return overall;
}

QString resultWord(HistoryResult result)
{
    switch (result) {
    // The History window and the CSV export show the word in the chosen language.
    case HistoryResult::Pass:
        return QCoreApplication::translate("HistoryRules", "pass");
    case HistoryResult::Attention:
        return QCoreApplication::translate("HistoryRules", "attention");
    case HistoryResult::NoResult:
        break;
    }
    return QCoreApplication::translate("HistoryRules", "no result");
}

QString searchText(const QString &registration, const QString &customer)
{
    return registration.toCaseFolded() + QLatin1Char('\n') + customer.toCaseFolded();
}

QString containsPattern(const QString &text)
{
    QString pattern;
    pattern.reserve(text.size() + 4);
    pattern += QLatin1Char('%');
    for (QChar ch : text.toCaseFolded()) {
        if (ch == QLatin1Char('%') || ch == QLatin1Char('_') || ch == QLatin1Char('\\'))
            pattern += QLatin1Char('\\');
        pattern += ch;
    }
    pattern += QLatin1Char('%');
    return pattern;
}

QString containsGlob(const QString &text)
{
    QString pattern = QStringLiteral("*");
    for (QChar ch : text.toCaseFolded()) {
        if (ch == QLatin1Char('*') || ch == QLatin1Char('?') || ch == QLatin1Char('['))
            pattern += QLatin1Char('[') + ch + QLatin1Char(']');
        else
            pattern += ch;
    }
    return pattern + QLatin1Char('*');
}

QString registrationHex(const RegistrationNoInfo &info)
{
    qsizetype length = sizeof(info.registrationNo);
    while (length > 0 && info.registrationNo[length - 1] == 0)
        --length;
    return QString::fromLatin1(QByteArray(info.registrationNo, length).toHex());
}

RegistrationNoInfo registrationFromHex(const QString &hex)
{
    RegistrationNoInfo info = makeRegistrationNoInfo();
    const QByteArray bytes = QByteArray::fromHex(hex.toLatin1());
    std::memcpy(info.registrationNo, bytes.constData(),
                std::min<std::size_t>(bytes.size(), sizeof(info.registrationNo)));
    return info;
}

} // namespace HistoryRules
