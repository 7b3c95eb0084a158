#include <cstring>
#include <set>

#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include "Codec.h"
#include "HistorySchema.h"
#include "HistoryStore.h"
#include "HistoryTestKit.h"
#include "ReportText.h"

using namespace HistoryTestKit;

// The store on both databases: every test runs once on an SQLite file and once on a real
// PostgreSQL server started by the test program.
class tst_HistoryStore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void keepsEveryValueAsSent_data() { drivers(); }
    void keepsEveryValueAsSent();
    void secondDeliveryOfOneKeyIsHarmless_data() { drivers(); }
    void secondDeliveryOfOneKeyIsHarmless();
    void eventsAppendInOrderAndGoWithTheirTest_data() { drivers(); }
    void eventsAppendInOrderAndGoWithTheirTest();
    void searchFindsSubstringsAnyCase_data();
    void searchFindsSubstringsAnyCase();
    void pagesCoverEveryRowOnceInEveryOrder_data();
    void pagesCoverEveryRowOnceInEveryOrder();
    void dateRangeBoundsTheRows_data() { drivers(); }
    void dateRangeBoundsTheRows();
    void newerSchemaIsLeftUntouched_data() { drivers(); }
    void newerSchemaIsLeftUntouched();
    void reopeningMigratesNothingTwice_data() { drivers(); }
    void reopeningMigratesNothingTwice();

private:
    enum
    {
        opened,
        skipped,
        failed
    };
    static void drivers();
    int openFresh(HistoryStore &store, QString *whyNot);

    QTemporaryDir m_folder;
    HistorySetting m_setting;
    QString m_path;
};

void tst_HistoryStore::initTestCase()
{
    QVERIFY(m_folder.isValid());
    Codec::install();
}

void tst_HistoryStore::cleanupTestCase()
{
    stopSharedServer();
}

void tst_HistoryStore::drivers()
{
    QTest::addColumn<QString>("driver");
    QTest::newRow("sqlite") << QStringLiteral("QSQLITE");
    QTest::newRow("postgresql") << QStringLiteral("QPSQL");
}

int tst_HistoryStore::openFresh(HistoryStore &store, QString *whyNot)
{
    QFETCH(QString, driver);
    if (!freshDatabase(driver, m_folder, &m_setting, &m_path, whyNot))
        return driver == QLatin1String("QPSQL") ? skipped : failed;
    const auto result = store.open(m_setting, m_path, whyNot);
    return result == HistoryStore::OpenResult::Ready ? opened : failed;
}

// A fresh database of the row's kind; skips the PostgreSQL rows when no server can be started.
#define OPEN_FRESH(store)                                                                                    \
    HistoryStore store(QStringLiteral("test"));                                                              \
    {                                                                                                        \
        QString whyNot;                                                                                      \
        const int outcome = openFresh(store, &whyNot);                                                       \
        if (outcome == skipped)                                                                              \
            QSKIP(qPrintable(whyNot));                                                                       \
        QVERIFY2(outcome == opened, qPrintable(whyNot));                                                     \
    }

static QStringList reportTexts(const TestRecord &record)
{
    QStringList texts;
    for (Section section : {Section::Battery, Section::Grounding, Section::Starter, Section::Charging3K,
                            Section::Charging2K, Section::Avg2K}) {
        for (ReportText::Form form : {ReportText::Form::Page, ReportText::Form::Screen})
            texts << ReportText::sectionText(record, section, form);
        texts << ReportText::sectionPicture(record, section);
    }
    texts << TestRecordRules::dateText(record.testDate)
          << TestRecordRules::registrationText(record.registrationNoInfo)
          << TestRecordRules::capacityText(record.capacityInfo, record.battery);
    return texts;
}

void tst_HistoryStore::keepsEveryValueAsSent()
{
    OPEN_FRESH(store);
    const QString chinese = QString::fromUtf8("\u4EACA\u00B7 5K308");
    QList<HistoryRecord> records;
    for (int seed = 0; seed < 40; ++seed)
        records << makeRecord(seed, seed % 2 ? chinese : QStringLiteral("ABCDEFGHIJKLMNOP"),
                              QString::fromUtf8("\u5F20\u4E09 O'Brien \"%1\"").arg(seed),
                              1700000000000 + seed);
    // A registration with bytes after its first zero, and one of 16 bytes without a zero.
    records[3].record.registrationNoInfo.registrationNo[5] = 0;
    records[3].record.registrationNoInfo.registrationNo[9] = 'Z';
    for (const HistoryRecord &record : records)
        QVERIFY2(store.insertRecord(record), qPrintable(store.lastError()));

    for (const HistoryRecord &record : records) {
        bool ok = false;
        const std::optional<HistoryRecord> loaded = store.loadRecord(record.key, &ok);
        QVERIFY(ok);
        QVERIFY(loaded);
        QCOMPARE(loaded->key, record.key);
        QCOMPARE(loaded->workstation, record.workstation);
        QCOMPARE(loaded->testedUtcMs, record.testedUtcMs);
        QCOMPARE(loaded->utcOffsetSeconds, record.utcOffsetSeconds);
        QCOMPARE(loaded->portName, record.portName);
        QCOMPARE(loaded->customer, record.customer);
        QCOMPARE(loaded->batteryModel, record.batteryModel);
        // Byte for byte, headers included: the reopened test is the test as it was received.
        QVERIFY(std::memcmp(&loaded->record, &record.record, sizeof(TestRecord)) == 0);
        QCOMPARE(reportTexts(loaded->record), reportTexts(record.record));
    }
    QCOMPARE(store.recordCount(), records.size());
    QVERIFY(!store.loadRecord(QUuid::createUuid()));
}

void tst_HistoryStore::secondDeliveryOfOneKeyIsHarmless()
{
    OPEN_FRESH(store);
    HistoryRecord record = makeRecord(7, QStringLiteral("A12345"), QStringLiteral("first"), 1000);
    QVERIFY(store.insertRecord(record));
    HistoryRecord again = record;
    again.customer = QStringLiteral("second");
    QVERIFY2(store.insertRecord(again), qPrintable(store.lastError()));
    QCOMPARE(store.recordCount(), 1);
    QCOMPARE(store.loadRecord(record.key)->customer, QStringLiteral("first"));
}

void tst_HistoryStore::eventsAppendInOrderAndGoWithTheirTest()
{
    OPEN_FRESH(store);
    const HistoryRecord record = makeRecord(1, QStringLiteral("B1"), QStringLiteral("c"), 5000);
    QVERIFY(store.insertRecord(record));
    const QUuid savedKey = QUuid::createUuid();
    HistoryEvent saved{record.key,
                       HistoryEventKind::Saved,
                       6000,
                       QString::fromUtf8("/home/\u5F20/r.doc"),
                       QStringLiteral("/tmp/r.png"),
                       QStringLiteral("requested")};
    HistoryEvent printed{record.key, HistoryEventKind::Printed, 7000, {}, {}, {}};
    QVERIFY(store.appendEvent(saved, savedKey));
    QVERIFY(store.appendEvent(saved, savedKey)); // the same event sent twice is kept once
    QVERIFY(store.appendEvent(printed));
    // An event of a test that is not stored is dropped, not an error that would block an outbox.
    QVERIFY(
        store.appendEvent(HistoryEvent{QUuid::createUuid(), HistoryEventKind::Reopened, 8000, {}, {}, {}}));

    const QList<HistoryEvent> events = store.events(record.key);
    QCOMPARE(events.size(), 2);
    QCOMPARE(events[0].kind, HistoryEventKind::Saved);
    QCOMPARE(events[0].documentPath, saved.documentPath);
    QCOMPARE(events[0].picturePath, saved.picturePath);
    QCOMPARE(events[0].outcome, saved.outcome);
    QCOMPARE(events[1].kind, HistoryEventKind::Printed);

    QVERIFY(store.removeRecord(record.key));
    QVERIFY(!store.loadRecord(record.key));
    QSqlQuery count(store.database());
    QVERIFY(count.exec(QStringLiteral("SELECT COUNT(*) FROM test_event")) && count.next());
    QCOMPARE(count.value(0).toInt(), 0);
}

void tst_HistoryStore::searchFindsSubstringsAnyCase_data()
{
    QTest::addColumn<QString>("driver");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("expected"); // customers of the rows found, newest first
    const struct
    {
        const char *tag;
        QString text;
        QStringList expected;
    } rows[] = {
        {"registration middle, other case",
         QStringLiteral("k30"),
         {QStringLiteral("Mei"), QStringLiteral("Acme")}},
        {"customer, other case", QStringLiteral("ACME"), {QStringLiteral("Acme")}},
        {"chinese registration", QString::fromUtf8("\u4EAC"), {QStringLiteral("Mei")}},
        {"chinese customer", QString::fromUtf8("\u738B"), {QString::fromUtf8("\u738B\u5C0F\u660E")}},
        {"percent is a character", QStringLiteral("50%"), {QStringLiteral("50% off")}},
        {"underscore is a character", QStringLiteral("a_b"), {QStringLiteral("a_b")}},
        {"backslash is a character", QStringLiteral("x\\y"), {QStringLiteral("x\\y")}},
        {"quotes are characters", QStringLiteral("O'Brien \"Jr\""), {QStringLiteral("O'Brien \"Jr\"")}},
        {"glob characters are characters", QStringLiteral("[b]*c?"), {QStringLiteral("a[b]*c?")}},
        {"injection attempt finds nothing", QStringLiteral("' OR '1'='1"), {}},
        {"empty finds all",
         QString(),
         {QStringLiteral("a[b]*c?"), QStringLiteral("x\\y"), QStringLiteral("a_b"),
          QStringLiteral("O'Brien \"Jr\""), QStringLiteral("50% off"),
          QString::fromUtf8("\u738B\u5C0F\u660E"), QStringLiteral("Mei"), QStringLiteral("Acme")}},
    };
    for (const char *driver : {"QSQLITE", "QPSQL"}) {
        for (const auto &row : rows)
            QTest::addRow("%s %s", driver == QByteArray("QSQLITE") ? "sqlite" : "postgresql", row.tag)
                << QString::fromLatin1(driver) << row.text << row.expected;
    }
}

void tst_HistoryStore::searchFindsSubstringsAnyCase()
{
    QFETCH(QString, text);
    QFETCH(QStringList, expected);
    OPEN_FRESH(store);
    const QList<std::pair<QString, QString>> tests = {
        {QStringLiteral("AK308"), QStringLiteral("Acme")},
        {QString::fromUtf8("\u4EAC"
                           "Bk309"),
         QStringLiteral("Mei")},
        {QStringLiteral("Z1"), QString::fromUtf8("\u738B\u5C0F\u660E")},
        {QStringLiteral("Z2"), QStringLiteral("50% off")},
        {QStringLiteral("Z3"), QStringLiteral("O'Brien \"Jr\"")},
        {QStringLiteral("Z4"), QStringLiteral("a_b")},
        {QStringLiteral("Z5"), QStringLiteral("x\\y")},
        {QStringLiteral("Z8"), QStringLiteral("a[b]*c?")},
    };
    int seed = 0;
    for (const auto &[registration, customer] : tests) {
        QVERIFY(store.insertRecord(makeRecord(seed, registration, customer, 1000 + seed)));
        ++seed;
    }
    // Decoys that only an unescaped pattern would match.
    QVERIFY(store.insertRecord(makeRecord(50, QStringLiteral("Z6"), QStringLiteral("50 off"), 1)));
    QVERIFY(store.insertRecord(makeRecord(51, QStringLiteral("Z7"), QStringLiteral("axb"), 2)));
    QVERIFY(store.insertRecord(makeRecord(52, QStringLiteral("Z9"), QStringLiteral("ab]xc!"), 3)));

    HistoryFilter filter;
    filter.text = text;
    bool ok = false;
    const QList<HistoryRow> rows = store.search(filter, std::nullopt, 100, &ok);
    QVERIFY2(ok, qPrintable(store.lastError()));
    QStringList customers;
    for (const HistoryRow &row : rows)
        customers << row.customer;
    if (text.isEmpty())
        customers = customers.mid(0, expected.size());
    QCOMPARE(customers, expected);
}

void tst_HistoryStore::pagesCoverEveryRowOnceInEveryOrder_data()
{
    QTest::addColumn<QString>("driver");
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("descending");
    for (const char *driver : {"QSQLITE", "QPSQL"}) {
        const char *name = driver == QByteArray("QSQLITE") ? "sqlite" : "postgresql";
        for (int column = 0; column <= 5; ++column) {
            for (bool descending : {true, false})
                QTest::addRow("%s column %d %s", name, column, descending ? "descending" : "ascending")
                    << QString::fromLatin1(driver) << column << descending;
        }
    }
}

void tst_HistoryStore::pagesCoverEveryRowOnceInEveryOrder()
{
    QFETCH(int, column);
    QFETCH(bool, descending);
    OPEN_FRESH(store);
    // Many equal sort values, so the pages must break ties by the key.
    QVERIFY(store.database().transaction());
    for (int seed = 0; seed < 230; ++seed)
        QVERIFY(store.insertRecord(makeRecord(seed, QStringLiteral("R%1").arg(seed % 7),
                                              QStringLiteral("C%1").arg(seed % 5), 1000 + seed % 11)));
    QVERIFY(store.database().commit());

    HistoryFilter filter;
    filter.sortColumn = static_cast<HistoryFilter::Column>(column);
    filter.descending = descending;
    std::set<QUuid> seen;
    std::optional<HistoryRow> last;
    QList<HistoryRow> all;
    for (;;) {
        bool ok = false;
        const QList<HistoryRow> page = store.search(filter, last, 17, &ok);
        QVERIFY2(ok, qPrintable(store.lastError()));
        if (page.isEmpty())
            break;
        for (const HistoryRow &row : page)
            QVERIFY2(seen.insert(row.key).second, "a row came twice");
        all << page;
        last = page.last();
    }
    QCOMPARE(all.size(), 230);
    // The order is the one asked for.
    const auto value = [column](const HistoryRow &row) -> QVariant {
        switch (column) {
        case 0:
            return QVariant::fromValue(row.testedUtcMs);
        case 1:
            return row.registration;
        case 2:
            return row.customer;
        case 3:
            return row.batteryModel;
        case 4:
            return static_cast<int>(row.result);
        default:
            return row.workstation;
        }
    };
    for (int i = 1; i < all.size(); ++i) {
        const QPartialOrdering order = QVariant::compare(value(all[i - 1]), value(all[i]));
        QVERIFY(descending ? order != QPartialOrdering::Less : order != QPartialOrdering::Greater);
    }
}

void tst_HistoryStore::dateRangeBoundsTheRows()
{
    OPEN_FRESH(store);
    for (int seed = 0; seed < 10; ++seed)
        QVERIFY(store.insertRecord(
            makeRecord(seed, QStringLiteral("D%1").arg(seed), QStringLiteral("c"), seed * 100)));
    HistoryFilter filter;
    filter.fromUtcMs = 300;
    filter.toUtcMs = 700;
    const QList<HistoryRow> rows = store.search(filter, std::nullopt, 100);
    QCOMPARE(rows.size(), 4);
    QCOMPARE(rows.first().testedUtcMs, 600);
    QCOMPARE(rows.last().testedUtcMs, 300);
}

void tst_HistoryStore::newerSchemaIsLeftUntouched()
{
    {
        OPEN_FRESH(store);
        QVERIFY(store.insertRecord(makeRecord(1, QStringLiteral("F1"), QStringLiteral("c"), 1)));
        QSqlQuery query(store.database());
        query.prepare(QStringLiteral("INSERT INTO schema_version (version) VALUES (?)"));
        query.addBindValue(HistorySchema::latestVersion() + 1);
        QVERIFY(query.exec());
    }
    HistoryStore again(QStringLiteral("again"));
    QCOMPARE(again.open(m_setting, m_path, nullptr), HistoryStore::OpenResult::FromFuture);
    QVERIFY(!again.isOpen());
    // Still there, still at the newer version.
    QSqlDatabase raw = QSqlDatabase::addDatabase(m_setting.driver, QStringLiteral("raw"));
    raw.setDatabaseName(m_path.isEmpty() ? m_setting.database : m_path);
    raw.setHostName(m_setting.host);
    raw.setPort(m_setting.port);
    raw.setUserName(m_setting.user);
    QVERIFY(raw.open());
    QCOMPARE(HistorySchema::currentVersion(raw), HistorySchema::latestVersion() + 1);
    QSqlQuery count(raw);
    QVERIFY(count.exec(QStringLiteral("SELECT COUNT(*) FROM test_record")) && count.next());
    QCOMPARE(count.value(0).toInt(), 1);
    count = QSqlQuery();
    raw.close();
    raw = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("raw"));
}

void tst_HistoryStore::reopeningMigratesNothingTwice()
{
    {
        OPEN_FRESH(store);
        QVERIFY(store.insertRecord(makeRecord(2, QStringLiteral("M1"), QStringLiteral("c"), 1)));
    }
    HistoryStore again(QStringLiteral("again"));
    QString error;
    QCOMPARE(again.open(m_setting, m_path, &error), HistoryStore::OpenResult::Ready);
    QCOMPARE(again.recordCount(), 1);
    QSqlQuery versions(again.database());
    QVERIFY(versions.exec(QStringLiteral("SELECT COUNT(*) FROM schema_version")) && versions.next());
    QCOMPARE(versions.value(0).toInt(), HistorySchema::latestVersion());
}

QTEST_GUILESS_MAIN(tst_HistoryStore)
#include "tst_HistoryStore.moc"
