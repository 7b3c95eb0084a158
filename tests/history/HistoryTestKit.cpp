#include "HistoryTestKit.h"

#include <cstring>

#include <QAtomicInt>

#include "Codec.h"
#include "PostgresServer.h"

namespace HistoryTestKit {

namespace {
std::unique_ptr<PostgresServer> s_server;
QString s_serverProblem;
QAtomicInt s_databaseNumber;
} // namespace

HistoryRecord makeRecord(int seed, const QString &registration, const QString &customer,
                         std::int64_t testedUtcMs)
{
    HistoryRecord history;
    history.key = QUuid::createUuid();
    history.workstation = QStringLiteral("bay-%1").arg(seed % 3);
    history.testedUtcMs = testedUtcMs;
    history.utcOffsetSeconds = 8 * 3600;
    history.portName = QStringLiteral("/dev/ttyUSB%1").arg(seed % 4);
    history.customer = customer;
    history.batteryModel = QStringLiteral("6-QW-%1").arg(40 + seed % 60);
    TestRecord &r = history.record;
    r.testDate = makeTestDate();
    r.testDate.year = static_cast<std::uint16_t>(2000 + seed % 30);
    r.testDate.month = static_cast<std::int16_t>(1 + seed % 12);
    r.testDate.day = static_cast<std::int16_t>(1 + seed % 28);
    r.registrationNoInfo = makeRegistrationNoInfo();
    const QByteArray registrationBytes =
        Codec::toBytes(registration).left(sizeof(r.registrationNoInfo.registrationNo));
    std::memcpy(r.registrationNoInfo.registrationNo, registrationBytes.constData(), registrationBytes.size());
    r.capacityInfo = makeCapacityInfo();
    r.capacityInfo.capacity = static_cast<std::uint16_t>(400 + seed);
    r.battery = makeBatteryResult();
    r.battery.status = static_cast<std::int16_t>(1 + seed % 4);
    r.battery.voltage = static_cast<std::uint16_t>(1150 + seed % 200);
    r.battery.measuredRating = static_cast<std::uint16_t>(500 + seed % 300);
    r.battery.ratingStandard = static_cast<std::int16_t>(seed % 7 - 1); // -1 (a byte 0xFF) to 5
    r.battery.resistance = static_cast<std::uint16_t>(300 + seed % 500);
    r.battery.percent = static_cast<std::int16_t>(seed % 101);
    r.grounding = makeGroundingResult();
    r.grounding.status = static_cast<std::int16_t>(seed % 3);
    r.grounding.resistance = static_cast<std::uint16_t>(65535 - seed % 10);
    r.starter = makeStarterResult();
    r.starter.status = static_cast<std::int16_t>(1 + seed % 2);
    r.starter.extraValue = static_cast<std::uint16_t>(40000 + seed);
    r.starter.crankingVoltage = static_cast<std::uint16_t>(900 + seed % 100);
    r.charging3K = makeCharging3KResult();
    r.charging3K.status = static_cast<std::int16_t>(seed % 4);
    r.charging3K.highVoltage = static_cast<std::uint16_t>(1450 + seed % 100);
    r.charging3K.lowVoltage = static_cast<std::uint16_t>(1300 + seed % 60);
    r.charging2K = makeCharging2KResult();
    r.charging2K.status = static_cast<std::int16_t>(1 + seed % 3);
    r.charging2K.highVoltage = static_cast<std::uint16_t>(1340 + seed % 20);
    r.charging2K.lowVoltage = static_cast<std::uint16_t>(1240 + seed % 20);
    r.avg2K = makeAvg2KResult();
    r.avg2K.status = static_cast<std::int16_t>(-1 + seed % 4); // a byte 0xFF too
    r.avg2K.voltage = static_cast<std::uint16_t>(40 + seed % 20);
    return history;
}

HistorySetting serverSetting(const PostgresServer &server, const QString &database)
{
    HistorySetting setting;
    setting.driver = QStringLiteral("QPSQL");
    setting.host = server.socketDir();
    setting.port = server.port();
    setting.database = database;
    setting.user = server.user();
    return setting;
}

PostgresServer *sharedServer(QString *whyNot)
{
    if (!s_server && s_serverProblem.isEmpty()) {
        s_serverProblem = PostgresServer::unavailableReason();
        if (s_serverProblem.isEmpty()) {
            auto server = std::make_unique<PostgresServer>();
            if (server->start())
                s_server = std::move(server);
            else
                s_serverProblem = QStringLiteral("PostgreSQL would not start: ") + server->errorString();
        }
    }
    if (!s_server && whyNot)
        *whyNot = s_serverProblem;
    return s_server.get();
}

void stopSharedServer()
{
    s_server.reset();
}

bool freshDatabase(const QString &driver, const QTemporaryDir &folder, HistorySetting *setting, QString *path,
                   QString *whyNot)
{
    const int number = s_databaseNumber.fetchAndAddRelaxed(1);
    *setting = HistorySetting{};
    setting->driver = driver;
    if (driver == QLatin1String("QSQLITE")) {
        *path = folder.filePath(QStringLiteral("history-%1.sqlite").arg(number));
        return true;
    }
    PostgresServer *server = sharedServer(whyNot);
    if (!server)
        return false;
    const QString name = QStringLiteral("history_%1").arg(number);
    if (!server->createDatabase(name)) {
        if (whyNot)
            *whyNot = server->errorString();
        return false;
    }
    *setting = serverSetting(*server, name);
    path->clear();
    return true;
}

} // namespace HistoryTestKit
