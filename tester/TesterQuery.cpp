#include "TesterQuery.h"

#include <optional>

#include <QByteArray>
#include <QCoreApplication>

#include "LogManager.h"
#include "MessageReceiver.h"
#include "TestRecord.h"
#include "TesterExchange.h"
#include "TesterPort.h"
#include "TesterProtocol.h"

namespace {

using namespace TestRecordRules;

// One request/reply on the query's shared request buffer. A reply that passes the frame checks but
// lacks the bytes its field needs counts as a failed exchange.
class QueryExchange final
{
public:
    explicit QueryExchange(TesterPort &port) : m_port(port) {}

    bool ask(int group, int item)
    {
        m_request.append(TesterProtocol::request(group, item));
        return exchangeFrame(m_port, m_request, m_reply);
    }
    const QByteArray &reply() const { return m_reply; }

    std::nullopt_t tooShort()
    {
        LogManager::instance()->writeRunLog(QStringLiteral("Serial Port Data too short, Port:%1, Size:%2")
                                                .arg(m_port.name())
                                                .arg(m_reply.size()));
        return std::nullopt;
    }
    // The value of a one-field request, or nothing when the exchange failed.
    std::optional<std::uint16_t> be16(int group, int item)
    {
        std::uint16_t value = 0;
        if (!ask(group, item))
            return std::nullopt;
        if (!readBe16(m_reply, replyDataOffset, value))
            return tooShort();
        return value;
    }
    std::optional<std::int16_t> signedByte(int group, int item)
    {
        std::int16_t value = 0;
        if (!ask(group, item))
            return std::nullopt;
        if (!readSignedByte(m_reply, replyDataOffset, value))
            return tooShort();
        return value;
    }

private:
    TesterPort &m_port;
    QByteArray m_request;
    QByteArray m_reply;
};

template <typename Message> void post(MessageReceiver &window, const Message &message)
{
    window.postMessage(&message, sizeof(message));
}

// Status first; the values only when it is not 0 (and, for avg2K, not 3); status stored last, so a
// non-zero status always means every value was read. Fields are stored as their replies arrive.
BatteryResult queryBattery(QueryExchange &exchange)
{
    BatteryResult result = makeBatteryResult();
    const std::optional<std::int16_t> status = exchange.signedByte(1, 5);
    if (!status || *status == 0)
        return result;
    const std::optional<std::uint16_t> voltage = exchange.be16(1, 1);
    if (!voltage)
        return result;
    result.voltage = *voltage;
    if (!exchange.ask(1, 2))
        return result;
    std::uint16_t rating = 0;
    std::int16_t standard = 0;
    if (!readBe16(exchange.reply(), replyDataOffset, rating) ||
        !readSignedByte(exchange.reply(), replyDataOffset + 2, standard)) {
        exchange.tooShort();
        return result;
    }
    result.measuredRating = rating;
    result.ratingStandard = standard;
    const std::optional<std::uint16_t> resistance = exchange.be16(1, 3);
    if (!resistance)
        return result;
    result.resistance = *resistance;
    const std::optional<std::int16_t> percent = exchange.signedByte(1, 4);
    if (!percent)
        return result;
    result.percent = *percent;
    result.status = *status;
    return result;
}

GroundingResult queryGrounding(QueryExchange &exchange)
{
    GroundingResult result = makeGroundingResult();
    const std::optional<std::int16_t> status = exchange.signedByte(2, 1);
    if (!status || *status == 0)
        return result;
    const std::optional<std::uint16_t> resistance = exchange.be16(2, 2);
    if (!resistance)
        return result;
    result.resistance = *resistance;
    result.status = *status;
    return result;
}

StarterResult queryStarter(QueryExchange &exchange)
{
    StarterResult result = makeStarterResult();
    const std::optional<std::int16_t> status = exchange.signedByte(3, 3);
    if (!status || *status == 0)
        return result;
    const std::optional<std::uint16_t> extraValue = exchange.be16(3, 1);
    if (!extraValue)
        return result;
    result.extraValue = *extraValue;
    const std::optional<std::uint16_t> crankingVoltage = exchange.be16(3, 2);
    if (!crankingVoltage)
        return result;
    result.crankingVoltage = *crankingVoltage;
    result.status = *status;
    return result;
}

Avg2KResult queryAvg2K(QueryExchange &exchange)
{
    Avg2KResult result = makeAvg2KResult();
    const std::optional<std::int16_t> status = exchange.signedByte(6, 2);
    if (!status || *status == 0 || *status == 3)
        return result;
    const std::optional<std::uint16_t> voltage = exchange.be16(6, 1);
    if (!voltage)
        return result;
    result.voltage = *voltage;
    result.status = *status;
    return result;
}

template <typename Charging> Charging queryCharging(QueryExchange &exchange, Charging result, int group)
{
    const std::optional<std::int16_t> status = exchange.signedByte(group, 3);
    if (!status || *status == 0)
        return result;
    const std::optional<std::uint16_t> highVoltage = exchange.be16(group, 1);
    if (!highVoltage)
        return result;
    result.highVoltage = *highVoltage;
    const std::optional<std::uint16_t> lowVoltage = exchange.be16(group, 2);
    if (!lowVoltage)
        return result;
    result.lowVoltage = *lowVoltage;
    result.status = *status;
    return result;
}

TestDate queryDate(QueryExchange &exchange)
{
    TestDate date = makeTestDate();
    if (exchange.ask(7, 1) && !readDate(exchange.reply(), date))
        exchange.tooShort();
    return date;
}

RegistrationNoInfo queryRegistrationNo(QueryExchange &exchange)
{
    RegistrationNoInfo info = makeRegistrationNoInfo();
    if (exchange.ask(8, 1) && !readRegistrationNo(exchange.reply(), info))
        exchange.tooShort();
    return info;
}

CapacityInfo queryCapacity(QueryExchange &exchange)
{
    CapacityInfo info = makeCapacityInfo();
    if (const std::optional<std::uint16_t> capacity = exchange.be16(9, 1))
        info.capacity = *capacity;
    return info;
}

} // namespace

void runTesterQuery(TesterPort &port, MessageReceiver &window)
{
    // After a stop nothing more reaches the window; after an unplug the remaining messages still
    // come, empty, without any exchange being tried.
    const auto deliver = [&port, &window](const auto &message) {
        if (port.state() != TesterPort::State::Stopped)
            post(window, message);
    };
    // Each message starts from an empty request buffer, so a failed frame is never sent again.
    {
        QueryExchange exchange(port);
        deliver(queryDate(exchange));
    }
    {
        QueryExchange exchange(port);
        deliver(queryBattery(exchange));
    }
    {
        QueryExchange exchange(port);
        deliver(queryGrounding(exchange));
    }
    {
        QueryExchange exchange(port);
        deliver(queryStarter(exchange));
    }
    {
        QueryExchange exchange(port);
        deliver(queryAvg2K(exchange));
    }
    {
        QueryExchange exchange(port);
        deliver(queryCharging(exchange, makeCharging3KResult(), 4));
    }
    {
        QueryExchange exchange(port);
        deliver(queryCharging(exchange, makeCharging2KResult(), 5));
    }
    {
        QueryExchange exchange(port);
        deliver(queryRegistrationNo(exchange));
    }
    {
        QueryExchange exchange(port);
        deliver(queryCapacity(exchange));
    }
}
