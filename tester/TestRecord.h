#pragma once

#include <cstddef>
#include <cstdint>

#include <QByteArrayView>
#include <QString>

#include "MessageHeader.h"

// The decoded tester data. The service manager posts the nine result messages to the window, which
// copies each over its slot of its one TestRecord. Values are integers as the tester sends them:
// voltages and resistances in hundredths (0.01 V, 0.01 mOhm), ratings and capacity whole numbers.
// Two-byte tester values are big-endian on the wire and stored unsigned; one-byte values are signed
// and sign-extended, so those fields are std::int16_t. A status of 0 means "no data".
#pragma pack(push, 1)
struct BatteryResult
{
    MessageHeader header;
    std::int16_t status = 0;
    std::uint16_t voltage = 0;
    std::uint16_t measuredRating = 0;
    std::int16_t ratingStandard = 0;
    std::uint16_t resistance = 0;
    std::int16_t percent = 0;
};

struct GroundingResult
{
    MessageHeader header;
    std::int16_t status = 0;
    std::uint16_t resistance = 0;
};

struct StarterResult
{
    MessageHeader header;
    std::int16_t status = 0;
    std::uint16_t extraValue = 0; // kept, shown in no report
    std::uint16_t crankingVoltage = 0;
};

struct Charging3KResult
{
    MessageHeader header;
    std::int16_t status = 0;
    std::uint16_t highVoltage = 0;
    std::uint16_t lowVoltage = 0;
};

struct Charging2KResult
{
    MessageHeader header;
    std::int16_t status = 0;
    std::uint16_t highVoltage = 0;
    std::uint16_t lowVoltage = 0;
};

struct Avg2KResult
{
    MessageHeader header;
    std::int16_t status = 0;
    std::uint16_t voltage = 0;
};

struct TestDate
{
    MessageHeader header;
    std::uint16_t year = 0; // signed byte + 2000, kept to 16 bits; 0 when never read
    std::int16_t month = 0;
    std::int16_t day = 0;
};

struct RegistrationNoInfo
{
    MessageHeader header;
    char registrationNo[16] = {}; // GBK bytes as sent, not necessarily terminated
    char terminator = 0;          // always 0, so the field reads as a C string
};

struct CapacityInfo
{
    MessageHeader header;
    std::uint16_t capacity = 0; // in the units of the battery's rating standard
};

// The nine messages back to back, each with its own header, in this order.
struct TestRecord
{
    TestDate testDate;
    RegistrationNoInfo registrationNoInfo;
    CapacityInfo capacityInfo;
    BatteryResult battery;
    GroundingResult grounding;
    StarterResult starter;
    Charging3KResult charging3K;
    Charging2KResult charging2K;
    Avg2KResult avg2K;
};
#pragma pack(pop)

static_assert(sizeof(BatteryResult) == 20 && offsetof(BatteryResult, header) == 0);
static_assert(sizeof(GroundingResult) == 12 && offsetof(GroundingResult, header) == 0);
static_assert(sizeof(StarterResult) == 14 && offsetof(StarterResult, header) == 0);
static_assert(sizeof(Charging3KResult) == 14 && offsetof(Charging3KResult, header) == 0);
static_assert(sizeof(Charging2KResult) == 14 && offsetof(Charging2KResult, header) == 0);
static_assert(sizeof(Avg2KResult) == 12 && offsetof(Avg2KResult, header) == 0);
static_assert(sizeof(TestDate) == 14 && offsetof(TestDate, header) == 0);
static_assert(sizeof(RegistrationNoInfo) == 25 && offsetof(RegistrationNoInfo, header) == 0);
static_assert(offsetof(RegistrationNoInfo, registrationNo) == 8);
static_assert(sizeof(CapacityInfo) == 10 && offsetof(CapacityInfo, header) == 0);
static_assert(sizeof(TestRecord) == 135);
static_assert(offsetof(TestRecord, testDate) == 0 && offsetof(TestRecord, registrationNoInfo) == 14);
static_assert(offsetof(TestRecord, capacityInfo) == 39 && offsetof(TestRecord, battery) == 49);
static_assert(offsetof(TestRecord, grounding) == 69 && offsetof(TestRecord, starter) == 81);
static_assert(offsetof(TestRecord, charging3K) == 95 && offsetof(TestRecord, charging2K) == 109);
static_assert(offsetof(TestRecord, avg2K) == 123);

// Fresh messages: header set, payload zero. A default TestRecord is zero in every byte.
BatteryResult makeBatteryResult();
GroundingResult makeGroundingResult();
StarterResult makeStarterResult();
Charging3KResult makeCharging3KResult();
Charging2KResult makeCharging2KResult();
Avg2KResult makeAvg2KResult();
TestDate makeTestDate();
RegistrationNoInfo makeRegistrationNoInfo();
CapacityInfo makeCapacityInfo();

// The six report sections, numbered as the pictures are ("<section>-<n>.png").
enum class Section : int
{
    Battery = 1,
    Grounding = 2,
    Starter = 3,
    Charging3K = 4,
    Charging2K = 5,
    Avg2K = 6,
};

namespace TestRecordRules {

// Tester replies carry their data from this byte on; bytes 0-3 are the frame header.
constexpr qsizetype replyDataOffset = 4;

// Reading data bytes of a whole reply frame (checksum included). Each returns false, leaving the
// target alone, when the data bytes before the checksum do not reach as far as the field needs.
bool readBe16(QByteArrayView reply, qsizetype at, std::uint16_t &value);
bool readSignedByte(QByteArrayView reply, qsizetype at, std::int16_t &value);
// The year byte is signed, then 2000 is added and the sum kept to 16 bits (0xFF gives 1999).
std::uint16_t yearFromByte(std::int8_t yearByte);
// Date from reply bytes 4 (day), 5 (month), 6 (year).
bool readDate(QByteArrayView reply, TestDate &date);
// Registration text: reply bytes 4 to 19 as they are.
bool readRegistrationNo(QByteArrayView reply, RegistrationNoInfo &info);

// Display text of the registration number: up to its first zero byte, decoded as GBK.
QString registrationText(const RegistrationNoInfo &info);

// "CCA", "EN", "DIN", "IEC", "SAE" for 0 to 4; every other index (negative ones too) is "CCA".
QString ratingStandardName(std::int16_t ratingStandard);

// Result picture file name of a section for its status, e.g. "1-0.png".
QString resultPicture(Section section, std::int16_t status);

// A section's values are missing when its status is 0, and for avg2K also when it is 3.
bool valuesMissing(Section section, std::int16_t status);

// Limits, compared on the stored integers: true when the value is marked.
bool isBatteryVoltageMarked(std::uint16_t voltage);            // < 1200
bool isBatteryPercentMarked(std::int16_t percent);             // < 45
bool isGroundingResistanceMarked(std::uint16_t resistance);    // < 5 or > 3000
bool isStarterCrankingVoltageMarked(std::uint16_t voltage);    // < 960
bool isCharging3KHighVoltageMarked(std::uint16_t highVoltage); // > 1500
bool isCharging3KLowVoltageMarked(std::uint16_t lowVoltage);   // < 1330
bool isCharging2KHighVoltageMarked(std::uint16_t highVoltage); // < 1350
bool isCharging2KLowVoltageMarked(std::uint16_t lowVoltage);   // < 1250
bool isAvg2KVoltageMarked(std::uint16_t voltage);              // >= 50

// Derived values.
// Mean of the two charging voltages in volts, in floating point (an odd sum keeps its half).
double chargingMeanVolts(std::uint16_t highVoltage, std::uint16_t lowVoltage);
// "%1-%2-%3": day and month two digits, year four digits, zero-filled ("07-03-2014"); in the
// chosen language's order (Chinese: "2014-03-07").
QString dateText(const TestDate &date);
// "%1 %2": capacity, then the rating-standard name of the battery result ("600 DIN").
QString capacityText(const CapacityInfo &capacity, const BatteryResult &battery);
// "%1 %2": measured rating, then its rating-standard name.
QString ratingText(const BatteryResult &battery);

} // namespace TestRecordRules
