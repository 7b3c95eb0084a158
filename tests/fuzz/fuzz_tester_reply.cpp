// Tester replies: the frame checks of both exchange variants and the decoding of every result
// message from a reply that passed them (or not: the decoders must never read past the data).
#include <cstdint>
#include <cstring>

#include <QByteArray>

#include "FuzzSupport.h"
#include "TestRecord.h"
#include "TesterProtocol.h"

using namespace TesterProtocol;
using namespace TestRecordRules;

namespace {

bool hasData(const QByteArray &reply, qsizetype at, qsizetype count)
{
    return at >= replyDataOffset && at + count <= reply.size() - 1;
}

void checkFrame(const QByteArray &reply)
{
    const ReplyCheck query = checkReply(reply, Variant::Query);
    const ReplyCheck probe = checkReply(reply, Variant::Probe);
    if (query == ReplyCheck::Ok) {
        FUZZ_CHECK(reply.size() >= minimumReplySize);
        FUZZ_CHECK(reply.front() == replyStart);
        FUZZ_CHECK(checksum(QByteArrayView(reply).first(reply.size() - 1)) ==
                   static_cast<unsigned char>(reply.back()));
    }
    // The probe is the stricter of the two.
    if (probe == ReplyCheck::Ok)
        FUZZ_CHECK(query == ReplyCheck::Ok);
    if (reply.size() < minimumReplySize)
        FUZZ_CHECK(query == ReplyCheck::CommunicationError && probe == ReplyCheck::CommunicationError);
    FUZZ_CHECK(hexDump(reply).size() == reply.size() * 3);
    FUZZ_CHECK(!isValidRequest(reply) || reply.front() == requestStart);
}

void checkFields(const QByteArray &reply)
{
    // Every place a query reads from, and the edges around them.
    for (qsizetype at = replyDataOffset - 1; at <= replyDataOffset + 3; ++at) {
        std::uint16_t be = 0xBEEF;
        const bool beRead = readBe16(reply, at, be);
        FUZZ_CHECK(beRead == hasData(reply, at, 2));
        if (beRead)
            FUZZ_CHECK(be == ((static_cast<unsigned char>(reply[at]) << 8) | static_cast<unsigned char>(reply[at + 1])));
        else
            FUZZ_CHECK(be == 0xBEEF);

        std::int16_t signedByte = 0x7777;
        const bool byteRead = readSignedByte(reply, at, signedByte);
        FUZZ_CHECK(byteRead == hasData(reply, at, 1));
        if (byteRead)
            FUZZ_CHECK(signedByte == static_cast<std::int8_t>(reply[at]) && signedByte >= -128 && signedByte <= 127);
        else
            FUZZ_CHECK(signedByte == 0x7777);
    }

    TestDate date = makeTestDate();
    const TestDate freshDate = date;
    if (readDate(reply, date)) {
        FUZZ_CHECK(hasData(reply, replyDataOffset, 3));
        FUZZ_CHECK(date.day == static_cast<std::int8_t>(reply[4]) && date.month == static_cast<std::int8_t>(reply[5]));
        FUZZ_CHECK(date.year == yearFromByte(static_cast<std::int8_t>(reply[6])));
    } else {
        FUZZ_CHECK(std::memcmp(&date, &freshDate, sizeof(date)) == 0);
    }
    const QString dateShown = dateText(date);
    FUZZ_CHECK(dateShown.count(QLatin1Char('-')) >= 2);

    RegistrationNoInfo info = makeRegistrationNoInfo();
    const RegistrationNoInfo freshInfo = info;
    if (readRegistrationNo(reply, info)) {
        FUZZ_CHECK(hasData(reply, replyDataOffset, 16));
        FUZZ_CHECK(std::memcmp(info.registrationNo, reply.constData() + replyDataOffset, 16) == 0);
    } else {
        FUZZ_CHECK(std::memcmp(&info, &freshInfo, sizeof(info)) == 0);
    }
    FUZZ_CHECK(info.terminator == 0);
    // Up to the first zero byte only, never past the field.
    const QString registration = registrationText(info);
    FUZZ_CHECK(registration.size() <= 16);
}

// The report texts and marks of every result message built from the reply's bytes.
void checkMessages(const QByteArray &reply)
{
    auto be = [&reply](qsizetype at) {
        std::uint16_t value = 0;
        readBe16(reply, at, value);
        return value;
    };
    auto sb = [&reply](qsizetype at) {
        std::int16_t value = 0;
        readSignedByte(reply, at, value);
        return value;
    };

    BatteryResult battery = makeBatteryResult();
    battery.status = sb(4);
    battery.voltage = be(5);
    battery.measuredRating = be(7);
    battery.ratingStandard = sb(9);
    battery.resistance = be(10);
    battery.percent = sb(12);
    const QString standard = ratingStandardName(battery.ratingStandard);
    FUZZ_CHECK(standard == u"CCA" || standard == u"EN" || standard == u"DIN" || standard == u"IEC" ||
               standard == u"SAE");
    FUZZ_CHECK(ratingText(battery).endsWith(standard));
    CapacityInfo capacity = makeCapacityInfo();
    capacity.capacity = be(13);
    FUZZ_CHECK(capacityText(capacity, battery) == QString::number(capacity.capacity) + u' ' + standard);
    (void)isBatteryVoltageMarked(battery.voltage);
    (void)isBatteryPercentMarked(battery.percent);

    GroundingResult grounding = makeGroundingResult();
    grounding.resistance = be(6);
    (void)isGroundingResistanceMarked(grounding.resistance);
    StarterResult starter = makeStarterResult();
    starter.crankingVoltage = be(8);
    (void)isStarterCrankingVoltageMarked(starter.crankingVoltage);
    const std::uint16_t high = be(4);
    const std::uint16_t low = be(6);
    const double mean = chargingMeanVolts(high, low);
    FUZZ_CHECK(mean >= 0.0 && mean <= 655.35);
    (void)isCharging3KHighVoltageMarked(high);
    (void)isCharging3KLowVoltageMarked(low);
    (void)isCharging2KHighVoltageMarked(high);
    (void)isCharging2KLowVoltageMarked(low);
    (void)isAvg2KVoltageMarked(be(10));

    for (int section = static_cast<int>(Section::Battery); section <= static_cast<int>(Section::Avg2K); ++section) {
        const std::int16_t status = sb(4 + section);
        const QString picture = resultPicture(static_cast<Section>(section), status);
        FUZZ_CHECK(picture.startsWith(QString::number(section) + u'-') && picture.endsWith(u".png"));
        FUZZ_CHECK(!picture.contains(u'/') && !picture.contains(u'\\'));
        if (status == 0)
            FUZZ_CHECK(valuesMissing(static_cast<Section>(section), status));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzSupport::ensureApplication();
    const QByteArray reply(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    checkFrame(reply);
    checkFields(reply);
    checkMessages(reply);
    return 0;
}
