#include "ReportText.h"

#include <cstdint>

#include <QCoreApplication>

namespace ReportText {

namespace {

// The format strings belong to the window's translation context; both forms are its report.
constexpr char context[] = "MainUI";

struct Style
{
    int width;            // field width of every value
    const char16_t *mark; // appended after a value outside its limit (sections 2 to 6)
};

// The page writes the battery's marks without the leading space the other sections use.
constexpr char16_t pageBatteryMark[] = u"**";

Style styleOf(Form form)
{
    return form == Form::Page ? Style{6, u" **"} : Style{15, u"**"};
}

QString translated(const char *format)
{
    return QCoreApplication::translate(context, format);
}

QString blank(int width)
{
    return QString(width, QLatin1Char(' '));
}

QString field(const QString &content, int width)
{
    return content.rightJustified(width, QLatin1Char(' '));
}

QString hundredths(double value, int width)
{
    return field(QString::number(value / 100.0, 'f', 2), width);
}

QString whole(std::uint32_t value, int width)
{
    return field(QString::number(value), width);
}

QString missing(int width)
{
    return field(QString::fromUtf16(missingValue), width);
}

QString markIf(bool marked, const char16_t *mark)
{
    return marked ? QString::fromUtf16(mark) : QString();
}

constexpr int pageIndentNarrow = 18; // sections 1 to 3
constexpr int pageIndentWide = 10;   // sections 4 to 6

QString chargingText(Section section, std::int16_t status, std::uint16_t highVoltage,
                     std::uint16_t lowVoltage, bool highMarked, bool lowMarked, Form form)
{
    const Style style = styleOf(form);
    QString mean = missing(style.width);
    QString high = mean;
    QString low = mean;
    QString highMark;
    QString lowMark;
    if (!TestRecordRules::valuesMissing(section, status)) {
        mean = field(QString::number(TestRecordRules::chargingMeanVolts(highVoltage, lowVoltage), 'f', 2),
                     style.width);
        high = hundredths(highVoltage, style.width);
        low = hundredths(lowVoltage, style.width);
        highMark = markIf(highMarked, style.mark);
        lowMark = markIf(lowMarked, style.mark);
    }
    if (form == Form::Screen)
        return translated(QT_TRANSLATE_NOOP("MainUI", "%1 V      \n%2 V    %4\n%3 V    %5"))
            .arg(mean, high, low, highMark, lowMark);

    const QString indent = blank(pageIndentWide);
    const char *format =
        section == Section::Charging3K
            ? QT_TRANSLATE_NOOP("MainUI",
                                "%6(V↓+V↑)/2 : %1 V\n%7  V↑<15.0V : %2 V %4\n%8  V↓<13.3V : %3 V %5")
            : QT_TRANSLATE_NOOP("MainUI",
                                "%6(V↓+V↑)/2 : %1 V\n%7  V↑<13.5V : %2 V %4\n%8  V↓<12.5V : %3 V %5");
    return translated(format).arg(mean, high, low, highMark, lowMark, indent, indent, indent);
}

} // namespace

QString batteryText(const BatteryResult &result, Form form)
{
    const Style style = styleOf(form);
    QString voltage = missing(style.width);
    QString rating = voltage;
    QString resistance = voltage;
    QString percent = voltage;
    QString voltageMark;
    QString percentMark;
    QString standard = TestRecordRules::ratingStandardName(0);
    if (!TestRecordRules::valuesMissing(Section::Battery, result.status)) {
        const char16_t *mark = form == Form::Page ? pageBatteryMark : style.mark;
        voltage = hundredths(result.voltage, style.width);
        rating = whole(result.measuredRating, style.width);
        resistance = hundredths(result.resistance, style.width);
        // A byte 0xFF from the tester is stored as 0xFFFF; the stored 16 bits are what is shown.
        percent = whole(static_cast<std::uint16_t>(result.percent), style.width);
        voltageMark = markIf(TestRecordRules::isBatteryVoltageMarked(result.voltage), mark);
        // As stored 16 bits a sign-extended byte is 65408 or more, so it is never below the limit.
        percentMark =
            markIf(TestRecordRules::isBatteryPercentMarked(result.percent), mark);
        standard = TestRecordRules::ratingStandardName(result.ratingStandard);
    }
    if (form == Form::Screen)
        return translated(QT_TRANSLATE_NOOP("MainUI", "%1 V    %5\n%2 %6\n%3 mΩ\n%4 %    %7"))
            .arg(voltage, rating, resistance, percent, voltageMark, standard, percentMark);
    const QString indent = blank(pageIndentNarrow);
    return translated(QT_TRANSLATE_NOOP("MainUI", "%8%1 V %5\n%9%2 %6\n%10%3 mΩ\n%11%4 % %7"))
        .arg(voltage, rating, resistance, percent, voltageMark, standard, percentMark, indent, indent, indent,
             indent);
}

QString groundingText(const GroundingResult &result, Form form)
{
    const Style style = styleOf(form);
    QString resistance = missing(style.width);
    QString mark;
    if (!TestRecordRules::valuesMissing(Section::Grounding, result.status)) {
        resistance = hundredths(result.resistance, style.width);
        mark = markIf(TestRecordRules::isGroundingResistanceMarked(result.resistance), style.mark);
    }
    if (form == Form::Screen)
        return translated(QT_TRANSLATE_NOOP("MainUI", "%1 mΩ   %2")).arg(resistance, mark);
    return translated(QT_TRANSLATE_NOOP("MainUI", "%3%1 mΩ%2"))
        .arg(resistance, mark, blank(pageIndentNarrow));
}

QString starterText(const StarterResult &result, Form form)
{
    const Style style = styleOf(form);
    QString voltage = missing(style.width);
    QString mark;
    if (!TestRecordRules::valuesMissing(Section::Starter, result.status)) {
        voltage = hundredths(result.crankingVoltage, style.width);
        mark = markIf(TestRecordRules::isStarterCrankingVoltageMarked(result.crankingVoltage), style.mark);
    }
    // The starter's formats have no %1 or %4; contents go to the placeholders in increasing order.
    if (form == Form::Screen)
        return translated(QT_TRANSLATE_NOOP("MainUI", "%2 V    %3")).arg(voltage, mark);
    return translated(QT_TRANSLATE_NOOP("MainUI", "%5%2 V %3")).arg(voltage, mark, blank(pageIndentNarrow));
}

QString charging3KText(const Charging3KResult &result, Form form)
{
    return chargingText(Section::Charging3K, result.status, result.highVoltage, result.lowVoltage,
                        TestRecordRules::isCharging3KHighVoltageMarked(result.highVoltage),
                        TestRecordRules::isCharging3KLowVoltageMarked(result.lowVoltage), form);
}

QString charging2KText(const Charging2KResult &result, Form form)
{
    return chargingText(Section::Charging2K, result.status, result.highVoltage, result.lowVoltage,
                        TestRecordRules::isCharging2KHighVoltageMarked(result.highVoltage),
                        TestRecordRules::isCharging2KLowVoltageMarked(result.lowVoltage), form);
}

QString avg2KText(const Avg2KResult &result, Form form)
{
    const Style style = styleOf(form);
    QString voltage = missing(style.width);
    QString mark;
    if (!TestRecordRules::valuesMissing(Section::Avg2K, result.status)) {
        voltage = hundredths(result.voltage, style.width);
        mark = markIf(TestRecordRules::isAvg2KVoltageMarked(result.voltage), style.mark);
    }
    if (form == Form::Screen)
        return translated(QT_TRANSLATE_NOOP("MainUI", "%1 V    %2")).arg(voltage, mark);
    return translated(QT_TRANSLATE_NOOP("MainUI", "%3     <0.50V : %1 V %2"))
        .arg(voltage, mark, blank(pageIndentWide));
}

QString sectionText(const TestRecord &record, Section section, Form form)
{
    switch (section) {
    case Section::Battery:
        return batteryText(record.battery, form);
    case Section::Grounding:
        return groundingText(record.grounding, form);
    case Section::Starter:
        return starterText(record.starter, form);
    case Section::Charging3K:
        return charging3KText(record.charging3K, form);
    case Section::Charging2K:
        return charging2KText(record.charging2K, form);
    case Section::Avg2K:
        return avg2KText(record.avg2K, form);
    }
    return QString();
}

QString sectionPicture(const TestRecord &record, Section section)
{
    std::int16_t status = 0;
    switch (section) {
    case Section::Battery:
        status = record.battery.status;
        break;
    case Section::Grounding:
        status = record.grounding.status;
        break;
    case Section::Starter:
        status = record.starter.status;
        break;
    case Section::Charging3K:
        status = record.charging3K.status;
        break;
    case Section::Charging2K:
        status = record.charging2K.status;
        break;
    case Section::Avg2K:
        status = record.avg2K.status;
        break;
    }
    return TestRecordRules::resultPicture(section, status);
}

} // namespace ReportText
