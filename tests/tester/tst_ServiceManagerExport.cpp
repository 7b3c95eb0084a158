#include <QTest>

#include <algorithm>
#include <cstring>
#include <memory>

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include "Codec.h"
#include "ConfigManager.h"
#include "HelperProtocol.h"
#include "LogManager.h"
#include "MessageRecorder.h"
#include "ServiceManager.h"
#include "TestAppDir.h"

namespace {

const QString title = QString(300, QLatin1Char('T'));
const QString header = QStringLiteral("Header ") + QString(1500, QLatin1Char('h'));
const QString footer = QStringLiteral("Footer ") + QString(1500, QLatin1Char('f'));

SaveDataRequest saveRequest(const QString &picturePath, const QString &docPath)
{
    auto request = makeMessage<SaveDataRequest>(MSG_SAVE_DATA_REQUEST);
    Codec::toField(picturePath, request.picturePath, sizeof(request.picturePath));
    Codec::toField(docPath, request.docPath, sizeof(request.docPath));
    return request;
}

QByteArray field(const char *bytes, qsizetype size)
{
    return QByteArray(bytes, size);
}

// A field holding exactly `text` followed by zero bytes up to its size.
QByteArray filled(const QByteArray &text, qsizetype size)
{
    return text + QByteArray(size - text.size(), '\0');
}

} // namespace

class tst_ServiceManagerExport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void jobsAreHandedOutOldestFirst();
    void wrongAccessCodeLeavesQueue();
    void setSaveResultIsAnswered();
    void missingHelperDropsJob();
    void emptyProcessNameDropsJob();
    void outcomeReachesWindow_data();
    void outcomeReachesWindow();

private:
    void writeConfig(const QString &saveDataProcess);
    HelperProtocol::GetSaveDataResponse getSaveData(std::uint32_t interfaceId, std::uint32_t accessCode);
    QStringList newRunLines();
    QString helperPath() const { return m_app->binDir() + QStringLiteral("/quillet helper"); }
    int helperStarts() const;
    // The outcomes posted to the window for this document path, in order.
    QList<SaveOutcome> outcomesFor(const QString &docPath) const;

    std::unique_ptr<TestAppDir> m_app;
    MessageRecorder m_interface;
    MessageRecorder m_window;
    ServiceManager m_service;
    qsizetype m_runBefore = 0;
};

void tst_ServiceManagerExport::writeConfig(const QString &saveDataProcess)
{
    const QByteArray ini = "[Basic]\r\nSaveDataProcess=" + Codec::toBytes(saveDataProcess) +
                           "\r\n[Doc Setting]\r\nTitle=" + ConfigManager::hexEncode(title).toLatin1() +
                           "\r\nHeader=" + ConfigManager::hexEncode(header).toLatin1() +
                           "\r\nFooter=" + ConfigManager::hexEncode(footer).toLatin1() + "\r\n";
    QVERIFY(m_app->writeFile(QStringLiteral("Config/main.ini"), ini));
}

void tst_ServiceManagerExport::initTestCase()
{
    m_app = std::make_unique<TestAppDir>();
    // The application folder has spaces in its path, and so has the helper's name.
    QVERIFY(m_app->root().contains(QLatin1Char(' ')));
    // The helper stays alive a while, as a real one does until it has asked for its job: a job
    // whose helper has ended unasked is dropped.
    // How long it lives is read from lifetime.txt beside it when that exists.
    const QByteArray script =
        "#!/bin/sh\nhere=\"$(dirname \"$0\")\"\necho started >> \"$here/starts.txt\"\n"
        "lifetime=20\n[ -f \"$here/lifetime.txt\" ] && lifetime=$(cat \"$here/lifetime.txt\")\n"
        "exec sleep \"$lifetime\" </dev/null >/dev/null 2>&1\n";
    QVERIFY(m_app->writeFile(QStringLiteral("bin/quillet helper"), script));
    QVERIFY(QFile::setPermissions(helperPath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    writeConfig(QStringLiteral("quillet helper"));

    QVERIFY(LogManager::instance()->initialize());
    QVERIFY(ConfigManager::instance()->initialize());
    QVERIFY(ConfigManager::instance()->active());
    QCOMPARE(ConfigManager::instance()->docSetting().title, title);
    m_service.setInterfaceReceiver(&m_interface);
    m_service.setWindowReceiver(&m_window);
    QVERIFY(m_service.initialize());
    QVERIFY(m_service.active());
}

void tst_ServiceManagerExport::init()
{
    m_runBefore = m_app->logLines(QStringLiteral("Run")).size();
    QVERIFY(LogManager::instance()->active());
    m_interface.clear();
}

void tst_ServiceManagerExport::cleanup()
{
    LogManager::instance()->deactive();
}

void tst_ServiceManagerExport::cleanupTestCase()
{
    QVERIFY(m_service.deactive());
    QVERIFY(m_service.exit());
    ConfigManager::instance()->deactive();
    ConfigManager::instance()->exit();
    LogManager::instance()->exit();
    m_app.reset();
}

QStringList tst_ServiceManagerExport::newRunLines()
{
    LogManager::instance()->deactive();
    return m_app->logLines(QStringLiteral("Run")).mid(m_runBefore);
}

int tst_ServiceManagerExport::helperStarts() const
{
    return int(m_app->readFile(QStringLiteral("bin/starts.txt")).count("started"));
}

HelperProtocol::GetSaveDataResponse tst_ServiceManagerExport::getSaveData(std::uint32_t interfaceId,
                                                                          std::uint32_t accessCode)
{
    auto request =
        HelperProtocol::make<HelperProtocol::GetSaveDataRequest>(HelperProtocol::GetSaveDataRequestId);
    request.header.interfaceId = interfaceId;
    request.accessCode = accessCode;
    const qsizetype before = m_interface.messages().size();
    m_service.postMessage(&request, sizeof(request));
    auto response = std::make_unique<HelperProtocol::GetSaveDataResponse>();
    [&] { QTRY_COMPARE_WITH_TIMEOUT(m_interface.messages().size(), before + 1, 20000); }();
    const QByteArray bytes = m_interface.messages().value(before);
    if (bytes.size() == qsizetype(sizeof(*response)))
        std::memcpy(response.get(), bytes.constData(), sizeof(*response));
    return *response;
}

void tst_ServiceManagerExport::jobsAreHandedOutOldestFirst()
{
    const QByteArray longPicture = "/pictures/" + QByteArray(1013, 'p');
    const QByteArray longDoc = "/docs/" + QByteArray(249, 'd');
    const SaveDataRequest first =
        saveRequest(QString::fromLatin1(longPicture + "-ignored"), QString::fromLatin1(longDoc + "-ignored"));
    const SaveDataRequest second =
        saveRequest(QStringLiteral("/tmp/second.png"), QStringLiteral("/tmp/second.doc"));
    QVERIFY(m_service.postMessage(&first, sizeof(first)));
    QVERIFY(m_service.postMessage(&second, sizeof(second)));
    // One helper per export, each started from the full path with spaces.
    QTRY_COMPARE_WITH_TIMEOUT(helperStarts(), 2, 20000);

    const HelperProtocol::GetSaveDataResponse older = getSaveData(41, HelperProtocol::accessCode);
    QCOMPARE(older.header.msgLength, 3544u);
    QCOMPARE(older.header.msgCommandId, 34u);
    QCOMPARE(older.header.interfaceId, 41u);
    QCOMPARE(older.result, 2u);
    QCOMPARE(field(older.title, 200), filled(title.toLatin1().left(199), 200));
    QCOMPARE(field(older.pageHeader, 1024), filled(header.toLatin1().left(1023), 1024));
    QCOMPARE(field(older.pageFooter, 1024), filled(footer.toLatin1().left(1023), 1024));
    QCOMPARE(field(older.picturePath, 1024), filled(longPicture, 1024));
    QCOMPARE(field(older.docPath, 256), filled(longDoc, 256));

    const HelperProtocol::GetSaveDataResponse newer = getSaveData(42, HelperProtocol::accessCode);
    QCOMPARE(newer.header.interfaceId, 42u);
    QCOMPARE(newer.result, 2u);
    QCOMPARE(field(newer.picturePath, 1024), filled("/tmp/second.png", 1024));
    QCOMPARE(field(newer.docPath, 256), filled("/tmp/second.doc", 256));

    const HelperProtocol::GetSaveDataResponse none = getSaveData(43, HelperProtocol::accessCode);
    QCOMPARE(none.header.interfaceId, 43u);
    QCOMPARE(none.result, 1u);
    QCOMPARE(field(none.title, 200), QByteArray(200, '\0'));
    QCOMPARE(field(none.picturePath, 1024), QByteArray(1024, '\0'));
    QCOMPARE(newRunLines().filter(QStringLiteral("Save Data To Doc")), QStringList());
}

void tst_ServiceManagerExport::wrongAccessCodeLeavesQueue()
{
    const SaveDataRequest job = saveRequest(QStringLiteral("/tmp/kept.png"), QStringLiteral("/tmp/kept.doc"));
    QVERIFY(m_service.postMessage(&job, sizeof(job)));

    const HelperProtocol::GetSaveDataResponse denied = getSaveData(5, HelperProtocol::accessCode ^ 1u);
    QCOMPARE(denied.header.interfaceId, 5u);
    QCOMPARE(denied.result, 0u);
    QCOMPARE(field(denied.picturePath, 1024), QByteArray(1024, '\0'));
    QCOMPARE(field(denied.title, 200), QByteArray(200, '\0'));

    const HelperProtocol::GetSaveDataResponse granted = getSaveData(6, HelperProtocol::accessCode);
    QCOMPARE(granted.result, 2u);
    QCOMPARE(field(granted.picturePath, 1024), filled("/tmp/kept.png", 1024));
}

void tst_ServiceManagerExport::setSaveResultIsAnswered()
{
    const SaveDataRequest job =
        saveRequest(QStringLiteral("/tmp/still.png"), QStringLiteral("/tmp/still.doc"));
    QVERIFY(m_service.postMessage(&job, sizeof(job)));
    auto request =
        HelperProtocol::make<HelperProtocol::SetSaveResultRequest>(HelperProtocol::SetSaveResultRequestId);
    request.header.interfaceId = 9;
    QVERIFY(m_service.postMessage(&request, sizeof(request)));
    QTRY_COMPARE_WITH_TIMEOUT(m_interface.messages().size(), 1, 20000);
    const QByteArray response = m_interface.messages().first();
    HelperProtocol::SetSaveResultResponse expected =
        HelperProtocol::make<HelperProtocol::SetSaveResultResponse>(HelperProtocol::SetSaveResultResponseId);
    expected.header.interfaceId = 9;
    QCOMPARE(response, QByteArray(reinterpret_cast<const char *>(&expected), sizeof(expected)));
    // The queue is not touched.
    QCOMPARE(getSaveData(10, HelperProtocol::accessCode).result, 2u);
}

void tst_ServiceManagerExport::missingHelperDropsJob()
{
    QVERIFY(QFile::rename(helperPath(), helperPath() + QStringLiteral(".away")));
    const SaveDataRequest job = saveRequest(QStringLiteral("/tmp/lost.png"), QStringLiteral("/tmp/lost.doc"));
    QVERIFY(m_service.postMessage(&job, sizeof(job)));
    QCOMPARE(getSaveData(11, HelperProtocol::accessCode).result, 1u);
    QVERIFY(QFile::rename(helperPath() + QStringLiteral(".away"), helperPath()));
    const QStringList lines = newRunLines().filter(QStringLiteral("Save Data To Doc"));
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.first().endsWith(
                 QStringLiteral("Save Data To Doc failed, Process not exist, Process Path:") + helperPath()),
             qPrintable(lines.first()));
}

void tst_ServiceManagerExport::emptyProcessNameDropsJob()
{
    writeConfig(QString());
    // The store notices a changed file by its time stamp; make the change visible at once.
    QFile ini(m_app->path(QStringLiteral("Config/main.ini")));
    QVERIFY(ini.open(QIODevice::ReadWrite));
    QVERIFY(ini.setFileTime(QDateTime::currentDateTime().addSecs(5), QFileDevice::FileModificationTime));
    ini.close();
    QTRY_COMPARE_WITH_TIMEOUT(ConfigManager::instance()->saveDataProcess(), QString(), 20000);

    const SaveDataRequest job =
        saveRequest(QStringLiteral("/tmp/folder.png"), QStringLiteral("/tmp/folder.doc"));
    QVERIFY(m_service.postMessage(&job, sizeof(job)));
    QCOMPARE(getSaveData(12, HelperProtocol::accessCode).result, 1u);
    const QStringList lines = newRunLines().filter(QStringLiteral("Save Data To Doc"));
    QCOMPARE(lines.size(), 1);
    QVERIFY2(
        lines.first().endsWith(QStringLiteral("Save Data To Doc failed, startDetached Error, Process Path:") +
                               m_app->binDir() + QLatin1Char('/')),
        qPrintable(lines.first()));
}

QList<SaveOutcome> tst_ServiceManagerExport::outcomesFor(const QString &docPath) const
{
    QList<SaveOutcome> outcomes;
    for (const QByteArray &bytes : m_window.messages()) {
        SaveDataOutcome message;
        if (bytes.size() != qsizetype(sizeof(message)))
            continue;
        std::memcpy(&message, bytes.constData(), sizeof(message));
        if (message.header.id == MSG_SAVE_DATA_OUTCOME &&
            Codec::fromField(message.docPath, sizeof(message.docPath)) == docPath)
            outcomes << static_cast<SaveOutcome>(message.outcome);
    }
    return outcomes;
}

enum class HelperStep
{
    None,         // the helper never asks for its job
    Take,         // it takes the job and never closes it
    CloseWithout, // it takes the job and closes it, no document written
    CloseWritten, // it takes the job, writes the document and closes it
};
Q_DECLARE_METATYPE(HelperStep)
Q_DECLARE_METATYPE(SaveOutcome)

void tst_ServiceManagerExport::outcomeReachesWindow_data()
{
    QTest::addColumn<QString>("lifetime"); // of the helper process, in seconds
    QTest::addColumn<HelperStep>("step");
    QTest::addColumn<bool>("documentBefore"); // an older document already at the path
    QTest::addColumn<int>("limitMs");
    QTest::addColumn<SaveOutcome>("expected");
    QTest::addColumn<QString>("expectedLine"); // the run-log line, without the path
    QTest::addColumn<int>("withinMs");         // from the helper's end (or the bound) to the outcome

    QTest::newRow("helper ends before taking the job")
        << "0" << HelperStep::None << false << 120000 << SaveOutcome::EndedBeforeJob
        << "Save Data To Doc failed, Process ended before taking the job, Doc Path:" << 1000;
    QTest::newRow("helper takes the job and ends without closing it")
        << "1" << HelperStep::Take << false << 120000 << SaveOutcome::EndedWithoutResult
        << "Save Data To Doc failed, Process ended without SetSaveResult, Doc Path:" << 1000;
    QTest::newRow("helper never asks within the bound")
        << "20" << HelperStep::None << false << 1500 << SaveOutcome::NoResultInTime
        << "Save Data To Doc failed, No result within the time limit, Limit:1500 ms, Doc Path:" << 1000;
    QTest::newRow("helper holds its job past the bound")
        << "20" << HelperStep::Take << false << 1500 << SaveOutcome::NoResultInTime
        << "Save Data To Doc failed, No result within the time limit, Limit:1500 ms, Doc Path:" << 1000;
    QTest::newRow("helper closes its job with a new document")
        << "20" << HelperStep::CloseWritten << false << 120000 << SaveOutcome::Saved << QString() << 1000;
    QTest::newRow("helper replaces an older document")
        << "20" << HelperStep::CloseWritten << true << 120000 << SaveOutcome::Saved << QString() << 1000;
    QTest::newRow("helper closes its job but wrote nothing")
        << "20" << HelperStep::CloseWithout << false << 120000 << SaveOutcome::NotSaved
        << "Save Data To Doc failed, No new document, Doc Path:" << 1000;
    QTest::newRow("helper closes its job and the older document is left")
        << "20" << HelperStep::CloseWithout << true << 120000 << SaveOutcome::NotSaved
        << "Save Data To Doc failed, No new document, Doc Path:" << 1000;
}

void tst_ServiceManagerExport::outcomeReachesWindow()
{
    QFETCH(QString, lifetime);
    QFETCH(HelperStep, step);
    QFETCH(bool, documentBefore);
    QFETCH(int, limitMs);
    QFETCH(SaveOutcome, expected);
    QFETCH(QString, expectedLine);
    QFETCH(int, withinMs);

    // Earlier tests may have emptied SaveDataProcess; the store sees the change by the file's time.
    if (ConfigManager::instance()->saveDataProcess() != QStringLiteral("quillet helper")) {
        writeConfig(QStringLiteral("quillet helper"));
        QFile ini(m_app->path(QStringLiteral("Config/main.ini")));
        QVERIFY(ini.open(QIODevice::ReadWrite));
        QVERIFY(ini.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
        ini.close();
        QTRY_COMPARE_WITH_TIMEOUT(ConfigManager::instance()->saveDataProcess(),
                                  QStringLiteral("quillet helper"), 20000);
    }
    QVERIFY(m_app->writeFile(QStringLiteral("bin/lifetime.txt"), lifetime.toLatin1()));
    m_service.setHelperTimeLimit(limitMs);
    const QString docPath = m_app->path(QStringLiteral("docs/%1.docx").arg(QTest::currentDataTag()));
    QVERIFY(QDir().mkpath(QFileInfo(docPath).absolutePath()));
    if (documentBefore) {
        QVERIFY(m_app->writeFile(QStringLiteral("docs/%1.docx").arg(QTest::currentDataTag()), "older"));
        QTest::qWait(20); // a rewrite must show in the file's times
    }
    const int startsBefore = helperStarts();
    QElapsedTimer clock;
    clock.start();
    const SaveDataRequest job = saveRequest(QStringLiteral("/tmp/picture.png"), docPath);
    QVERIFY(m_service.postMessage(&job, sizeof(job)));
    QTRY_COMPARE_WITH_TIMEOUT(helperStarts(), startsBefore + 1, 20000);

    std::uint32_t interfaceId = 700 + static_cast<std::uint32_t>(startsBefore);
    if (step != HelperStep::None) {
        const HelperProtocol::GetSaveDataResponse response =
            getSaveData(interfaceId, HelperProtocol::accessCode);
        QCOMPARE(response.result, 2u);
        QCOMPARE(Codec::fromField(response.docPath, sizeof(response.docPath)), docPath);
    }
    if (step == HelperStep::CloseWritten)
        QVERIFY(
            m_app->writeFile(QStringLiteral("docs/%1.docx").arg(QTest::currentDataTag()), "new document"));
    if (step == HelperStep::CloseWithout || step == HelperStep::CloseWritten) {
        auto request = HelperProtocol::make<HelperProtocol::SetSaveResultRequest>(
            HelperProtocol::SetSaveResultRequestId);
        request.header.interfaceId = interfaceId;
        QVERIFY(m_service.postMessage(&request, sizeof(request)));
    }

    // The window hears within a second of the helper's end, or of the bound, or of the close.
    const int due = step == HelperStep::CloseWithout || step == HelperStep::CloseWritten
                        ? 0
                        : (expected == SaveOutcome::NoResultInTime ? limitMs : lifetime.toInt() * 1000);
    QTRY_VERIFY_WITH_TIMEOUT(!outcomesFor(docPath).isEmpty(), due + 10000);
    const qint64 took = clock.elapsed();
    QVERIFY2(took <= due + withinMs + 300, qPrintable(QStringLiteral("%1 ms after the start").arg(took)));
    QCOMPARE(outcomesFor(docPath), QList<SaveOutcome>{expected});

    const QStringList lines = newRunLines().filter(QStringLiteral("Save Data To Doc"));
    if (expectedLine.isEmpty())
        QVERIFY2(lines.filter(docPath).isEmpty(), qPrintable(lines.join(QLatin1Char('\n'))));
    else
        QVERIFY2(std::any_of(lines.cbegin(), lines.cend(),
                             [&](const QString &line) { return line.endsWith(expectedLine + docPath); }),
                 qPrintable(lines.join(QLatin1Char('\n'))));
    // One outcome per export: nothing more arrives once the helper is gone.
    QTest::qWait(400);
    QCOMPARE(outcomesFor(docPath).size(), 1);
    QFile::remove(m_app->path(QStringLiteral("bin/lifetime.txt")));
    m_service.setHelperTimeLimit(ServiceManager::helperTimeLimitMs);
}

QTEST_GUILESS_MAIN(tst_ServiceManagerExport)
#include "tst_ServiceManagerExport.moc"
