// bench_history [tests] [runs]: fills an SQLite file and a PostgreSQL database (a server the
// benchmark starts itself) with `tests` kept tests (default 1,000,000), then measures, as medians
// of `runs` (default 7): storing one more test, the first screenful of a registration search,
// the history window from construction to its first rows painted, and the bytes per test.
#include <algorithm>
#include <cstdio>
#include <memory>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>

#include "Codec.h"
#include "HistoryModel.h"
#include "HistoryReader.h"
#include "HistoryStore.h"
#include "HistoryTestKit.h"
#include "HistoryUI.h"
#include "PostgresServer.h"

namespace {

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values[values.size() / 2];
}

HistoryRecord makeTest(int number, std::int64_t time)
{
    HistoryRecord history;
    history.key = QUuid::createUuid();
    history.workstation = QStringLiteral("bay-%1").arg(number % 4);
    history.testedUtcMs = time;
    history.utcOffsetSeconds = 8 * 3600;
    history.portName = QStringLiteral("/dev/ttyUSB0");
    static const QString customers[] = {QString::fromUtf8("\u5F20\u4E09\u6C7D\u4FEE"),
                                        QStringLiteral("Acme Motors"),
                                        QString::fromUtf8("\u738B\u5C0F\u660E"), QStringLiteral("Fleet 7")};
    history.customer = customers[number % 4];
    history.batteryModel = QStringLiteral("6-QW-%1").arg(45 + number % 40);
    TestRecord &r = history.record;
    r.testDate = makeTestDate();
    r.testDate.year = 2026;
    r.testDate.month = static_cast<std::int16_t>(1 + number % 12);
    r.testDate.day = static_cast<std::int16_t>(1 + number % 28);
    r.registrationNoInfo = makeRegistrationNoInfo();
    // Chinese province character and seven letters and digits, as on a plate.
    const QByteArray plate = QByteArray("\xBE\xA9") +
                             QByteArray::number(100000 + std::int64_t(number) * 7919 % 900000) +
                             QByteArray(1, static_cast<char>('A' + number % 26));
    std::memcpy(r.registrationNoInfo.registrationNo, plate.constData(),
                std::min<qsizetype>(plate.size(), 16));
    r.capacityInfo = makeCapacityInfo();
    r.capacityInfo.capacity = static_cast<std::uint16_t>(400 + number % 400);
    r.battery = makeBatteryResult();
    r.battery.status = static_cast<std::int16_t>(1 + number % 4);
    r.battery.voltage = static_cast<std::uint16_t>(1150 + number % 200);
    r.battery.measuredRating = static_cast<std::uint16_t>(400 + number % 500);
    r.battery.ratingStandard = static_cast<std::int16_t>(number % 5);
    r.battery.resistance = static_cast<std::uint16_t>(300 + number % 400);
    r.battery.percent = static_cast<std::int16_t>(number % 101);
    r.grounding = makeGroundingResult();
    r.grounding.status = static_cast<std::int16_t>(number % 3);
    r.grounding.resistance = static_cast<std::uint16_t>(number % 3000);
    r.starter = makeStarterResult();
    r.starter.status = 1;
    r.starter.crankingVoltage = static_cast<std::uint16_t>(900 + number % 200);
    r.charging3K = makeCharging3KResult();
    r.charging3K.status = 1;
    r.charging3K.highVoltage = static_cast<std::uint16_t>(1400 + number % 150);
    r.charging3K.lowVoltage = static_cast<std::uint16_t>(1300 + number % 100);
    r.charging2K = makeCharging2KResult();
    r.charging2K.status = 1;
    r.charging2K.highVoltage = static_cast<std::uint16_t>(1340 + number % 100);
    r.charging2K.lowVoltage = static_cast<std::uint16_t>(1240 + number % 100);
    r.avg2K = makeAvg2KResult();
    r.avg2K.status = 1;
    r.avg2K.voltage = static_cast<std::uint16_t>(number % 80);
    return history;
}

struct Figures
{
    double storeMs = 0;
    double searchRareMs = 0;
    double searchCommonMs = 0;
    double windowMs = 0;     // a history window with a reader of its own, opened cold
    double keptReaderMs = 0; // as the main window opens it: on the reader it keeps open
    double bytesPerTest = 0;
    double fillSeconds = 0;
};

// The bulk of the history is made by the database itself from a number series (a million single
// inserts through a driver would take most of an hour here); the shape of the rows is kestrel's.
bool fill(HistoryStore &store, bool server, int tests, double *seconds)
{
    QElapsedTimer timer;
    timer.start();
    const QString series = server
                               ? QStringLiteral("generate_series(CAST(1 AS BIGINT), %1) AS s(n)").arg(tests)
                               : QStringLiteral("s");
    const QString prefix =
        server ? QString()
               : QStringLiteral("WITH RECURSIVE s(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM s "
                                "WHERE n < %1) ")
                     .arg(tests);
    const QString key =
        server ? QStringLiteral("lpad(to_hex(n), 8, '0') || '-0000-4000-8000-' || lpad(to_hex(n), 12, '0')")
               : QStringLiteral("printf('%08x-0000-4000-8000-%012x', n, n)");
    const QString letter =
        server ? QStringLiteral("chr(CAST(65 + n % 26 AS INTEGER))") : QStringLiteral("char(65 + n % 26)");
    const QString plate = QStringLiteral("('\u4EAC' || (100000 + n * 7919 % 900000) || %1)").arg(letter);
    const QString customer =
        QStringLiteral("(CASE n % 4 WHEN 0 THEN '\u5F20\u4E09\u6C7D\u4FEE' WHEN 1 THEN "
                       "'Acme Motors' WHEN 2 THEN '\u738B\u5C0F\u660E' ELSE 'Fleet 7' END)");
    const QString sql =
        prefix +
        QStringLiteral(
            "INSERT INTO test_record (record_key, workstation, tested_utc_ms, utc_offset_s, port_name, "
            "customer,"
            " battery_model, registration, registration_hex, search_text, overall_result, date_year, "
            "date_month,"
            " date_day, capacity, battery_status, battery_voltage, battery_rating, battery_rating_standard,"
            " battery_resistance, battery_percent, grounding_status, grounding_resistance, starter_status,"
            " starter_extra, starter_cranking_voltage, charging3k_status, charging3k_high, charging3k_low,"
            " charging2k_status, charging2k_high, charging2k_low, avg2k_status, avg2k_voltage)"
            " SELECT %1, 'bay-' || (n % 4), 1700000000000 + n * 30000, 28800, '/dev/ttyUSB0', %2,"
            " '6-QW-' || (45 + n % 40), %3, 'bea931303030303041', lower(%3) || char_nl || lower(%2), 1 + n % "
            "2,"
            " 2026, 1 + n % 12, 1 + n % 28, 400 + n % 400, 1 + n % 4, 1150 + n % 200, 400 + n % 500, n % 5,"
            " 300 + n % 400, n % 101, n % 3, n % 3000, 1, 0, 900 + n % 200, 1, 1400 + n % 150, 1300 + n % "
            "100,"
            " 1, 1340 + n % 100, 1240 + n % 100, 1, n % 80 FROM %4")
            .arg(key, customer, plate, series)
            .replace(QStringLiteral("char_nl"),
                     server ? QStringLiteral("chr(10)") : QStringLiteral("char(10)"));
    QSqlQuery query(store.database());
    if (!query.exec(sql)) {
        std::fprintf(stderr, "fill failed: %s\n", qPrintable(query.lastError().text()));
        return false;
    }
    *seconds = timer.elapsed() / 1000.0;
    return true;
}

Figures measure(const HistorySetting &setting, const QString &path, int tests, int runs,
                const QString &sizeOf)
{
    Figures figures;
    HistoryStore store(QStringLiteral("bench"));
    QString error;
    if (store.open(setting, path, &error) != HistoryStore::OpenResult::Ready) {
        std::fprintf(stderr, "open failed: %s\n", qPrintable(error));
        return figures;
    }
    if (!fill(store, setting.isServer(), tests, &figures.fillSeconds))
        return figures;
    if (setting.isServer()) {
        QSqlQuery analyse(store.database());
        analyse.exec(QStringLiteral("VACUUM ANALYZE test_record"));
    }

    QList<double> store1;
    for (int run = 0; run < std::max(runs, 25); ++run) {
        const HistoryRecord record = makeTest(tests + run, 1700000000000 + std::int64_t(tests + run) * 30000);
        QElapsedTimer timer;
        timer.start();
        store.insertRecord(record);
        store1 << timer.nsecsElapsed() / 1e6;
    }
    figures.storeMs = median(store1);

    const auto search = [&](const QString &text) {
        QList<double> times;
        HistoryFilter filter;
        filter.text = text;
        for (int run = 0; run < runs; ++run) {
            QElapsedTimer timer;
            timer.start();
            const QList<HistoryRow> rows = store.search(filter, std::nullopt, HistoryModel::pageSize);
            times << timer.nsecsElapsed() / 1e6;
            if (run == 0)
                std::fprintf(stderr, "search \"%s\": %lld rows in the first page\n", qPrintable(text),
                             static_cast<long long>(rows.size()));
        }
        return median(times);
    };
    // A plate number's tail that a handful of tests share, and a frequent customer.
    const QString plate = QString::number(100000 + std::int64_t(tests / 2) * 7919 % 900000);
    figures.searchRareMs = search(plate.mid(1, 5));
    figures.searchCommonMs = search(QStringLiteral("acme"));

    // From the window's construction to its first screenful painted.
    const auto openWindow = [&](HistoryReader *kept) {
        QElapsedTimer timer;
        timer.start();
        std::unique_ptr<HistoryUI> ui =
            kept ? std::make_unique<HistoryUI>(kept) : std::make_unique<HistoryUI>(setting, nullptr, path);
        ui->resize(900, 560);
        ui->show();
        auto *table = ui->findChild<QTableView *>(QStringLiteral("historyTableView"));
        while (ui->model()->rowCount() == 0 && timer.elapsed() < 30000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        table->viewport()->repaint();
        return timer.nsecsElapsed() / 1e6;
    };
    QList<double> window;
    for (int run = 0; run < runs; ++run)
        window << openWindow(nullptr);
    figures.windowMs = median(window);

    // The main window makes its reader at start-up (and opens a server connection then); each
    // History click makes a new window on it.
    HistoryReader kept(setting, path);
    kept.prepare();
    {
        HistoryUI first(&kept);
        while (first.model()->rowCount() == 0)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    QList<double> keptWindow;
    for (int run = 0; run < runs; ++run)
        keptWindow << openWindow(&kept);
    figures.keptReaderMs = median(keptWindow);

    if (!setting.isServer()) {
        QSqlQuery checkpoint(store.database());
        checkpoint.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
        figures.bytesPerTest = double(QFileInfo(path).size()) / (tests + store1.size());
    } else {
        QSqlQuery size(store.database());
        size.prepare(QStringLiteral("SELECT pg_database_size(?)"));
        size.addBindValue(sizeOf);
        if (size.exec() && size.next())
            figures.bytesPerTest = size.value(0).toDouble() / (tests + store1.size());
    }
    return figures;
}

void print(const char *name, const Figures &f)
{
    std::printf(
        "%-11s fill %.1f s | store one %.3f ms | search rare %.2f ms, common %.2f ms | window %.1f ms cold, "
        "%.1f ms on the kept reader | %.0f bytes per test\n",
        name, f.fillSeconds, f.storeMs, f.searchRareMs, f.searchCommonMs, f.windowMs, f.keptReaderMs,
        f.bytesPerTest);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    Codec::install();
    const int tests = argc > 1 ? QByteArray(argv[1]).toInt() : 1000000;
    const int runs = argc > 2 ? QByteArray(argv[2]).toInt() : 7;
    std::printf("bench_history: %d tests, medians of %d runs\n", tests, runs);

    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("history.sqlite"));
    print("SQLite", measure(HistorySetting{}, path, tests, runs, QString()));

    const QString whyNot = PostgresServer::unavailableReason();
    if (!whyNot.isEmpty()) {
        std::printf("PostgreSQL  skipped: %s\n", qPrintable(whyNot));
        return 0;
    }
    PostgresServer server;
    if (!server.start() || !server.createDatabase(QStringLiteral("bench"))) {
        std::printf("PostgreSQL  skipped: %s\n", qPrintable(server.errorString()));
        return 0;
    }
    const HistorySetting setting = HistoryTestKit::serverSetting(server, QStringLiteral("bench"));
    print("PostgreSQL", measure(setting, QString(), tests, runs, QStringLiteral("bench")));
    return 0;
}
