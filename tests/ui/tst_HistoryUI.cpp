#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

#include "Codec.h"
#include "ConfigManager.h"
#include "HistoryCsv.h"
#include "HistoryManager.h"
#include "HistoryModel.h"
#include "HistoryStore.h"
#include "HistoryUI.h"
#include "MainUI.h"
#include "ServiceMessages.h"
#include "UiTestEnvironment.h"

namespace {

const QString chineseCustomer = QString::fromUtf8("\u5F20\u4E09\u6C7D\u4FEE, \"A\"");

// The nine result messages of one query, posted to the window in the order the service manager
// posts them: the date, the six sections, the registration and the capacity.
void postQuery(MainUI &window, const TestRecord &record)
{
    window.postMessage(&record.testDate, sizeof(record.testDate));
    window.postMessage(&record.battery, sizeof(record.battery));
    window.postMessage(&record.grounding, sizeof(record.grounding));
    window.postMessage(&record.starter, sizeof(record.starter));
    window.postMessage(&record.charging3K, sizeof(record.charging3K));
    window.postMessage(&record.charging2K, sizeof(record.charging2K));
    window.postMessage(&record.avg2K, sizeof(record.avg2K));
    window.postMessage(&record.registrationNoInfo, sizeof(record.registrationNoInfo));
    window.postMessage(&record.capacityInfo, sizeof(record.capacityInfo));
    const auto finished = makeMessage<QueryDataFinished>(MSG_QUERY_DATA_FINISHED);
    window.postMessage(&finished, sizeof(finished));
}

TestRecord sampleRecord(const char *registration, std::uint16_t voltage)
{
    TestRecord record{};
    record.testDate = makeTestDate();
    record.testDate.year = 2026;
    record.testDate.month = 12;
    record.testDate.day = 10;
    record.registrationNoInfo = makeRegistrationNoInfo();
    std::memcpy(record.registrationNoInfo.registrationNo, registration, std::strlen(registration));
    record.capacityInfo = makeCapacityInfo();
    record.capacityInfo.capacity = 600;
    record.battery = makeBatteryResult();
    record.battery.status = 1;
    record.battery.voltage = voltage;
    record.battery.measuredRating = 540;
    record.battery.ratingStandard = 2;
    record.battery.resistance = 455;
    record.battery.percent = 88;
    record.grounding = makeGroundingResult();
    record.starter = makeStarterResult();
    record.starter.status = 2;
    record.starter.crankingVoltage = 951;
    record.charging3K = makeCharging3KResult();
    record.charging2K = makeCharging2KResult();
    record.avg2K = makeAvg2KResult();
    return record;
}

// Every text the window shows for a report, and the page drawn for printing.
struct Shown
{
    QStringList texts;
    QImage page;
};

Shown shown(MainUI &window)
{
    Shown result;
    for (QLabel *label : window.findChildren<QLabel *>()) {
        if (label->objectName().endsWith(QLatin1String("TextLabel")))
            result.texts << label->objectName() + QLatin1Char('=') + label->text();
    }
    result.texts.sort();
    QPixmap page(ReportPage::pageSize);
    window.renderReport(page, QString());
    result.page = page.toImage();
    return result;
}

} // namespace

// The history window with the real history manager and the main window, on an SQLite file.
class tst_HistoryUI : public QObject
{
    Q_OBJECT

private slots:
    void queryIsFoundByRegistrationAndReopensAsItWas();
    void saveOutcomeStaysWithItsTest();
    void rowsArriveAsTheyAreScrolledTo();
    void exportWritesCsvForSpreadsheets();
    void exportOpensInCalcWithChinese();
    void deleteAsksFirst();
};

static void startHistory()
{
    HistoryManager *history = HistoryManager::instance();
    QVERIFY(history->initialize());
    QVERIFY(history->active());
    QTRY_COMPARE(history->state(), HistoryManager::State::Ready);
}

static void stopHistory()
{
    HistoryManager::instance()->deactive();
    HistoryManager::instance()->exit();
    HistoryManager::destroyInstance();
}

void tst_HistoryUI::queryIsFoundByRegistrationAndReopensAsItWas()
{
    UiTestEnvironment env;
    QVERIFY(env.isReady());
    env.writePictures();
    startHistory();
    {
        MainUI window;
        RecordingReceiver service;
        window.setServiceReceiver(&service);
        window.setHistoryReceiver(HistoryManager::instance());
        window.findChild<QLineEdit *>(QStringLiteral("customerEdit"))->setText(chineseCustomer);
        window.addReportClicked();

        postQuery(window, sampleRecord("\xBE\xA9"
                                       "A5K308",
                                       1188));
        QTRY_VERIFY(!window.historyKey().isNull());
        const QUuid firstKey = window.historyKey();
        const Shown first = shown(window);

        window.findChild<QLineEdit *>(QStringLiteral("customerEdit"))->setText(QStringLiteral("other"));
        window.addReportClicked();
        postQuery(window, sampleRecord("B99999", 1300));
        QTRY_VERIFY(window.historyKey() != firstKey && !window.historyKey().isNull());
        QVERIFY(shown(window).texts != first.texts);

        HistoryUI history(ConfigManager::instance()->historySetting(), &window);
        connect(&history, &HistoryUI::openRequested, &window, &MainUI::openHistoryRecord);
        history.show();
        auto *table = history.findChild<QTableView *>(QStringLiteral("historyTableView"));
        // Both tests are kept; the history manager writes on its own thread, so wait for them.
        QTRY_COMPARE(history.model()->rowCount(), 2);
        QTest::keyClick(&history, Qt::Key_F, Qt::ControlModifier);
        QTRY_VERIFY(history.findChild<QLineEdit *>(QStringLiteral("searchEdit"))->hasFocus());
        // Typed Chinese arrives through the input method as text, not as key presses.
        history.findChild<QLineEdit *>(QStringLiteral("searchEdit"))
            ->insert(QString::fromUtf8("\u4EAC"
                                       "a5k"));
        QTRY_COMPARE(history.model()->rowCount(), 1);
        QCOMPARE(history.model()->row(0).key, firstKey);
        QCOMPARE(history.model()->data(history.model()->index(0, HistoryModel::CustomerColumn)).toString(),
                 chineseCustomer);
        QCOMPARE(history.model()->data(history.model()->index(0, HistoryModel::ResultColumn)).toString(),
                 QStringLiteral("attention")); // 11.88 V is marked, the starter asks for attention

        table->setFocus();
        table->setCurrentIndex(history.model()->index(0, 0));
        QSignalSpy opened(&history, &HistoryUI::openRequested);
        QTest::keyClick(table, Qt::Key_Return);
        QTRY_COMPARE(opened.count(), 1);
        const Shown reopened = shown(window);
        QCOMPARE(reopened.texts, first.texts);
        QVERIFY(reopened.page == first.page);
        QCOMPARE(window.historyKey(), firstKey);
    }
    stopHistory();
    // The reopening is one of the test's events.
    HistoryStore store(QStringLiteral("check"));
    QCOMPARE(store.open(HistorySetting{}, HistoryManager::databasePath(), nullptr),
             HistoryStore::OpenResult::Ready);
    QCOMPARE(store.recordCount(), 2);
}

// An export's outcome arrives after the operator may have moved on to the next vehicle: it is
// kept with the test it was asked for, after the request, and the newer test gets none of it.
void tst_HistoryUI::saveOutcomeStaysWithItsTest()
{
    UiTestEnvironment env;
    QVERIFY(env.isReady());
    env.writePictures();
    startHistory();
    QUuid savedKey;
    QUuid laterKey;
    const QString docPath = env.dir().path(QString::fromUtf8("\u62A5\u544A.doc"));
    {
        MainUI window;
        RecordingReceiver service;
        window.setServiceReceiver(&service);
        window.setHistoryReceiver(HistoryManager::instance());
        postQuery(window, sampleRecord("A1", 1250));
        QTRY_VERIFY(!window.historyKey().isNull());
        savedKey = window.historyKey();
        window.setSaveFileChooser([&](QWidget *, MainUI::SaveDialogSetup &) { return docPath; });
        window.saveAsClicked();

        window.addReportClicked();
        postQuery(window, sampleRecord("B2", 1250));
        QTRY_VERIFY(window.historyKey() != savedKey && !window.historyKey().isNull());
        laterKey = window.historyKey();

        auto outcome = makeMessage<SaveDataOutcome>(MSG_SAVE_DATA_OUTCOME);
        outcome.outcome = static_cast<std::uint32_t>(SaveOutcome::EndedWithoutResult);
        Codec::toField(docPath, outcome.docPath, sizeof(outcome.docPath));
        window.postMessage(&outcome, sizeof(outcome));
        QTRY_COMPARE(window.statusText(),
                     QStringLiteral("Not saved: the document helper ended while writing the document"));
        // A second outcome for the same path (none was asked for again) adds nothing.
        window.postMessage(&outcome, sizeof(outcome));
        QTRY_COMPARE(window.statusText(),
                     QStringLiteral("Not saved: the document helper ended while writing the document"));
    }
    stopHistory();
    HistoryStore store(QStringLiteral("check"));
    QCOMPARE(store.open(HistorySetting{}, HistoryManager::databasePath(), nullptr),
             HistoryStore::OpenResult::Ready);
    const QList<HistoryEvent> events = store.events(savedKey);
    QCOMPARE(events.size(), 2);
    QCOMPARE(events[0].outcome, QStringLiteral("requested"));
    QCOMPARE(events[1].kind, HistoryEventKind::Saved);
    QCOMPARE(events[1].documentPath, docPath);
    QCOMPARE(events[1].picturePath, events[0].picturePath);
    QVERIFY(!events[1].picturePath.isEmpty());
    QCOMPARE(events[1].outcome, QStringLiteral("helper ended while writing"));
    QVERIFY(store.events(laterKey).isEmpty());
}

static void fill(int count, const QString &customer = QStringLiteral("c"))
{
    HistoryStore store(QStringLiteral("fill"));
    QDir().mkpath(HistoryManager::dataDir());
    QCOMPARE(store.open(HistorySetting{}, HistoryManager::databasePath(), nullptr),
             HistoryStore::OpenResult::Ready);
    QVERIFY(store.database().transaction());
    for (int i = 0; i < count; ++i) {
        HistoryRecord record;
        record.key = QUuid::createUuid();
        record.workstation = QStringLiteral("bay");
        record.testedUtcMs = 1700000000000 + i * 60000;
        record.customer = i % 2 ? customer : QStringLiteral("plain");
        record.record = sampleRecord(QByteArray("R").append(QByteArray::number(i)).constData(), 1250);
        QVERIFY(store.insertRecord(record));
    }
    QVERIFY(store.database().commit());
}

void tst_HistoryUI::rowsArriveAsTheyAreScrolledTo()
{
    UiTestEnvironment env;
    QVERIFY(env.isReady());
    fill(450);
    HistoryUI history(HistorySetting{});
    history.resize(900, 500);
    history.show();
    auto *table = history.findChild<QTableView *>(QStringLiteral("historyTableView"));
    QTRY_COMPARE(history.model()->rowCount(), HistoryModel::pageSize);
    QVERIFY(history.model()->canFetchMore(QModelIndex()));
    // Newest first.
    QVERIFY(history.model()->row(0).testedUtcMs > history.model()->row(1).testedUtcMs);
    table->scrollToBottom();
    QTRY_VERIFY(history.model()->rowCount() > HistoryModel::pageSize);
    QVERIFY(history.model()->rowCount() < 450);
    // Sorting by registration starts again from its first page, in that order.
    table->sortByColumn(HistoryModel::RegistrationColumn, Qt::AscendingOrder);
    QTRY_COMPARE(history.model()->rowCount(), HistoryModel::pageSize);
    QCOMPARE(history.model()->row(0).registration, QStringLiteral("R0"));
    QCOMPARE(history.model()->row(1).registration, QStringLiteral("R1"));
    QCOMPARE(history.model()->row(2).registration, QStringLiteral("R10"));
}

void tst_HistoryUI::exportWritesCsvForSpreadsheets()
{
    UiTestEnvironment env;
    QVERIFY(env.isReady());
    fill(5, chineseCustomer);
    HistoryUI history(HistorySetting{});
    const QString path = env.dir().path(QStringLiteral("export.csv"));
    history.setExportFileChooser([&path](QWidget *, const QString &) { return path; });
    history.show();
    QTRY_COMPARE(history.model()->rowCount(), 5);
    history.findChild<QLineEdit *>(QStringLiteral("searchEdit"))->setText(QString::fromUtf8("\u6C7D\u4FEE"));
    QTRY_COMPARE(history.model()->rowCount(), 2);
    QSignalSpy done(&history, &HistoryUI::exportFinished);
    history.exportRows();
    QTRY_COMPARE(done.count(), 1);
    QCOMPARE(done.first().at(0).toBool(), true);
    QCOMPARE(done.first().at(1).toInt(), 2);

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
    const QList<QByteArray> lines = bytes.mid(3).split('\n');
    QCOMPARE(lines.size(), 4); // header, two rows, the empty rest after the last CRLF
    for (int i = 0; i < 3; ++i)
        QVERIFY(lines[i].endsWith('\r'));
    QVERIFY(lines[0].startsWith("Date and time,UTC offset,Workstation"));
    // The customer holds a comma and quotes: one quoted field, quotes doubled.
    QVERIFY(lines[1].contains(QString::fromUtf8("\"\u5F20\u4E09\u6C7D\u4FEE, \"\"A\"\"\"").toUtf8()));
    QVERIFY(lines[1].contains(",12.50,540 DIN,4.55,88,no result,,attention,9.51,"));
}

// What the spreadsheet makes of the export: LibreOffice Calc reads it with the character set its
// import dialog picks for a file that starts with a UTF-8 byte-order mark, and writes the cells
// back out as plain UTF-8 CSV.
void tst_HistoryUI::exportOpensInCalcWithChinese()
{
    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (soffice.isEmpty())
        QSKIP("needs LibreOffice Calc (libreoffice-calc-nogui)");
    UiTestEnvironment env;
    QVERIFY(env.isReady());
    fill(3, chineseCustomer);
    HistoryUI history(HistorySetting{});
    const QString path = env.dir().path(QString::fromUtf8("\u5386\u53F2.csv"));
    history.setExportFileChooser([&path](QWidget *, const QString &) { return path; });
    history.show();
    QTRY_COMPARE(history.model()->rowCount(), 3);
    QSignalSpy done(&history, &HistoryUI::exportFinished);
    history.exportRows();
    QTRY_COMPARE(done.count(), 1);
    QCOMPARE(done.first().at(0).toBool(), true);

    QTemporaryDir profile;
    QTemporaryDir out;
    const QString utf8Csv = QStringLiteral("Text - txt - csv (StarCalc):44,34,76,1");
    QProcess calc;
    calc.start(soffice,
               {QStringLiteral("--headless"),
                QStringLiteral("-env:UserInstallation=") + QUrl::fromLocalFile(profile.path()).toString(),
                QStringLiteral("--infilter=") + utf8Csv, QStringLiteral("--convert-to"),
                QStringLiteral("csv:") + utf8Csv, QStringLiteral("--outdir"), out.path(), path});
    QVERIFY(calc.waitForFinished(300000));
    QFile cells(out.filePath(QFileInfo(path).fileName()));
    QVERIFY2(
        cells.open(QIODevice::ReadOnly),
        qPrintable(QStringLiteral("Calc did not read the export (is libreoffice-calc-nogui installed?) ") +
                   QString::fromLocal8Bit(calc.readAllStandardError())));
    const QStringList lines = QString::fromUtf8(cells.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    // The byte-order mark is taken as such, not as part of the first column's name.
    // (Calc quotes every text cell it writes.)
    QCOMPARE(lines[0].trimmed(),
             QLatin1Char('"') + HistoryCsv::headerFields().join(QStringLiteral("\",\"")) + QLatin1Char('"'));
    int chinese = 0;
    for (const QString &line : lines.mid(1))
        chinese += line.contains(QString::fromUtf8("\"\u5F20\u4E09\u6C7D\u4FEE, \"\"A\"\"\"")) ? 1 : 0;
    QCOMPARE(chinese, 1); // fill() gives every second test the Chinese customer
}

void tst_HistoryUI::deleteAsksFirst()
{
    UiTestEnvironment env;
    QVERIFY(env.isReady());
    fill(3);
    HistoryUI history(HistorySetting{});
    int asked = 0;
    bool answer = false;
    history.setDeleteConfirmer([&](QWidget *, int count) {
        ++asked;
        return count == 1 && answer;
    });
    history.show();
    auto *table = history.findChild<QTableView *>(QStringLiteral("historyTableView"));
    QTRY_COMPARE(history.model()->rowCount(), 3);
    table->setFocus();
    table->selectRow(1);
    const QUuid doomed = history.model()->row(1).key;
    QTest::keyClick(table, Qt::Key_Delete);
    QCOMPARE(asked, 1);
    QTest::qWait(200);
    QCOMPARE(history.model()->rowCount(), 3);

    answer = true;
    QSignalSpy deleted(&history, &HistoryUI::deleteFinished);
    QTest::keyClick(table, Qt::Key_Delete);
    QTRY_COMPARE(deleted.count(), 1);
    QTRY_COMPARE(history.model()->rowCount(), 2);
    for (int i = 0; i < 2; ++i)
        QVERIFY(history.model()->row(i).key != doomed);
}

QTEST_MAIN(tst_HistoryUI)
#include "tst_HistoryUI.moc"
