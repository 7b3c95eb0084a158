#include "TestRecord.h"

#include <array>
#include <cstring>

#include <QCoreApplication>

#include "Codec.h"

BatteryResult makeBatteryResult()
{
    return makeMessage<BatteryResult>(MSG_BATTERY_RESULT);
}
GroundingResult makeGroundingResult()
{
    return makeMessage<GroundingResult>(MSG_GROUNDING_RESULT);
}
StarterResult makeStarterResult()
{
    return makeMessage<StarterResult>(MSG_STARTER_RESULT);
}
Charging3KResult makeCharging3KResult()
{
    return makeMessage<Charging3KResult>(MSG_CHARGING3K_RESULT);
}
Charging2KResult makeCharging2KResult()
{
    return makeMessage<Charging2KResult>(MSG_CHARGING2K_RESULT);
}
Avg2KResult makeAvg2KResult()
{
    return makeMessage<Avg2KResult>(MSG_AVG2K_RESULT);
}
TestDate makeTestDate()
{
    return makeMessage<TestDate>(MSG_TEST_DATE);
}
RegistrationNoInfo makeRegistrationNoInfo()
{
    return makeMessage<RegistrationNoInfo>(MSG_REGISTRATION_NO_INFO);
}
CapacityInfo makeCapacityInfo()
{
    return makeMessage<CapacityInfo>(MSG_CAPACITY_INFO);
}

namespace TestRecordRules {

namespace {

// Data bytes run from byte 4 up to, not including, the checksum that ends every reply.
bool hasDataBytes(QByteArrayView reply, qsizetype at, qsizetype count)
{
    return at >= replyDataOffset && reply.size() - 1 >= at + count;
}

} // namespace

bool readBe16(QByteArrayView reply, qsizetype at, std::uint16_t &value)
{
    if (!hasDataBytes(reply, at, 2))
        return false;
    const auto high = static_cast<unsigned char>(reply[at]);
    const auto low = static_cast<unsigned char>(reply[at + 1]);
    value = static_cast<std::uint16_t>((high << 8) | low);
    return true;
}

bool readSignedByte(QByteArrayView reply, qsizetype at, std::int16_t &value)
{
    if (!hasDataBytes(reply, at, 1))
        return false;
    value = static_cast<std::int8_t>(reply[at]);
    return true;
}

std::uint16_t yearFromByte(std::int8_t yearByte)
{
    return static_cast<std::uint16_t>(static_cast<std::int16_t>(yearByte) + 2000);
}

bool readDate(QByteArrayView reply, TestDate &date)
{
    std::int16_t day = 0;
    std::int16_t month = 0;
    std::int16_t year = 0;
    if (!readSignedByte(reply, replyDataOffset, day) || !readSignedByte(reply, replyDataOffset + 1, month) ||
        !readSignedByte(reply, replyDataOffset + 2, year))
        return false;
    date.day = day;
    date.month = month;
    date.year = yearFromByte(static_cast<std::int8_t>(year));
    return true;
}

bool readRegistrationNo(QByteArrayView reply, RegistrationNoInfo &info)
{
    constexpr qsizetype length = sizeof(info.registrationNo);
    if (!hasDataBytes(reply, replyDataOffset, length))
        return false;
    std::memcpy(info.registrationNo, reply.data() + replyDataOffset, length);
    info.terminator = 0;
    return true;
}

QString registrationText(const RegistrationNoInfo &info)
{
    return Codec::fromField(info.registrationNo, sizeof(info.registrationNo));
}

QString ratingStandardName(std::int16_t ratingStandard)
{
    static constexpr std::array<const char *, 5> names = {"CCA", "EN", "DIN", "IEC", "SAE"};
    if (ratingStandard < 0 || ratingStandard >= static_cast<std::int16_t>(names.size()))
        return QString::fromLatin1(names[0]);
    return QString::fromLatin1(names[static_cast<std::size_t>(ratingStandard)]);
}

QString resultPicture(Section section, std::int16_t status)
{
    // Picture number per status 1..4; any other status shows picture 0.
    static constexpr int pictures[6][4] = {
        {1, 2, 0, 4}, // battery
        {1, 2, 0, 0}, // grounding
        {1, 2, 0, 0}, // starter
        {1, 2, 2, 0}, // charging3K
        {1, 2, 2, 0}, // charging2K
        {1, 2, 0, 0}, // avg2K
    };
    const int sectionNumber = static_cast<int>(section);
    int picture = 0;
    if (sectionNumber >= 1 && sectionNumber <= 6 && status >= 1 && status <= 4)
        picture = pictures[sectionNumber - 1][status - 1];
    return QStringLiteral("%1-%2.png").arg(sectionNumber).arg(picture);
}

bool valuesMissing(Section section, std::int16_t status)
{
    return status == 0 || (section == Section::Avg2K && status == 3);
}

bool isBatteryVoltageMarked(std::uint16_t voltage)
{
    return voltage < 1200;
}
bool isBatteryPercentMarked(std::int16_t percent)
{
    // Compared as the stored 16 bits: a byte 0xFF is 65535 on the report, far from too low.
    return static_cast<std::uint16_t>(percent) < 45;
}
bool isGroundingResistanceMarked(std::uint16_t resistance)
{
    return resistance < 5 || resistance > 3000;
}
bool isStarterCrankingVoltageMarked(std::uint16_t voltage)
{
    return voltage < 960;
}
bool isCharging3KHighVoltageMarked(std::uint16_t highVoltage)
{
    return highVoltage > 1500;
}
bool isCharging3KLowVoltageMarked(std::uint16_t lowVoltage)
{
    return lowVoltage < 1330;
}
bool isCharging2KHighVoltageMarked(std::uint16_t highVoltage)
{
    return highVoltage < 1350;
}
bool isCharging2KLowVoltageMarked(std::uint16_t lowVoltage)
{
    return lowVoltage < 1250;
}
bool isAvg2KVoltageMarked(std::uint16_t voltage)
{
    return voltage >= 50;
}

double chargingMeanVolts(std::uint16_t highVoltage, std::uint16_t lowVoltage)
{
    return (static_cast<double>(highVoltage) + static_cast<double>(lowVoltage)) / 2.0 / 100.0;
}

QString dateText(const TestDate &date)
{
    const QChar zero(u'0');
    // The tester's day-month-year in English; Chinese reads year-month-day ("%3-%2-%1").
    return QCoreApplication::translate("TestRecordRules", "%1-%2-%3", "day, month, year of the tester's date")
        .arg(date.day, 2, 10, zero)
        .arg(date.month, 2, 10, zero)
        .arg(date.year, 4, 10, zero);
}

QString capacityText(const CapacityInfo &capacity, const BatteryResult &battery)
{
    return QStringLiteral("%1 %2").arg(capacity.capacity).arg(ratingStandardName(battery.ratingStandard));
}

QString ratingText(const BatteryResult &battery)
{
    return QStringLiteral("%1 %2")
        .arg(battery.measuredRating)
        .arg(ratingStandardName(battery.ratingStandard));
}

} // namespace TestRecordRules
