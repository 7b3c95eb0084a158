#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>

#include "ConfigManager.h"
#include "DocxXml.h"
#include "InterfaceManager.h"
#include "MainUI.h"
#include "ProcessFigures.h"
#include "ServiceManager.h"
#include "TesterSim.h"
#include "UiTestEnvironment.h"
#include "ZipEntries.h"

namespace {

// Whether a process is running the program at this path (the helper is started detached, so it
// is nobody's child here).
bool programRunning(const QString &program)
{
    const QString target = QFileInfo(program).canonicalFilePath();
    const QStringList processes = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pid : processes) {
        bool number = false;
        pid.toInt(&number);
        if (number && QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).canonicalFilePath() == target)
            return true;
    }
    return false;
}

// A cheap check of one exported document: the archive opens and its body starts with the title;
// for the binary format, a whole compound file holding the title's UTF-16 text.
QString documentFault(const QString &path, const QString &title)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot open ") + path;
    const QByteArray bytes = file.readAll();
    if (path.endsWith(QLatin1String(".docx"))) {
        const QByteArray body = zipEntries(bytes).value(QStringLiteral("word/document.xml"));
        const QList<DocxXml::Paragraph> paragraphs = DocxXml::paragraphs(body);
        if (paragraphs.isEmpty() || paragraphs.first().text != title)
            return QStringLiteral("no title in ") + path;
        return {};
    }
    static const QByteArray signature = QByteArray::fromHex("d0cf11e0a1b11ae1");
    if (!bytes.startsWith(signature) || bytes.size() % 512 != 0)
        return QStringLiteral("not a whole compound file: ") + path;
    const QByteArray utf16(reinterpret_cast<const char *>(title.utf16()), title.size() * 2);
    if (!bytes.contains(utf16))
        return QStringLiteral("no title in ") + path;
    return {};
}

} // namespace

// Exports one after another through the real helper against one kestrel (window and managers in
// this process): every document complete, memory and descriptors flat after warm-up.
// KESTREL_SOAK_EXPORTS sets the count.
class tst_ExportSoak : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { MainUI::installFonts(); }
    void exportsInARow();
};

void tst_ExportSoak::exportsInARow()
{
    const int count = soakCount("KESTREL_SOAK_EXPORTS", 100);
    const int warmUp = std::max(1, count / 10);

    UiTestEnvironment env({QStringLiteral("SaveDataProcess=quillet")});
    QVERIFY(env.isReady());
    env.writePictures();
    const QString helper = env.dir().binDir() + QStringLiteral("/quillet");
    QVERIFY(QFile::copy(QStringLiteral(QUILLET_PROGRAM), helper));
    const QString title = QStringLiteral(u"蓄电池检测报告");
    ConfigManager::instance()->setDocSetting(
        {title, QStringLiteral(u"张三汽修"), QStringLiteral(u"第 1 页")});

    TesterSim sim;
    QVERIFY2(sim.start(env.portPath(3), {QStringLiteral("--no-pacing")}), qPrintable(sim.errorText()));

    MainUI window;
    ServiceManager service;
    InterfaceManager interface;
    // A free port, so that the run does not meet other kestrels; the helper takes it from the
    // environment it inherits.
    interface.setListenPort(0);
    interface.setServiceReceiver(&service);
    service.setWindowReceiver(&window);
    service.setInterfaceReceiver(&interface);
    QVERIFY(interface.initialize() && service.initialize());
    QVERIFY(interface.active() && service.active());
    QTRY_VERIFY(interface.listenPort() != 0);
    qputenv("QUILLET_TEST_PORT", QByteArray::number(interface.listenPort()));
    window.setServiceReceiver(&service);

    auto *queryButton = window.findChild<QPushButton *>(QStringLiteral("queryDataButton"));
    QTest::mouseClick(queryButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(queryButton->isEnabled(), 60000);

    const QString folder = env.dir().path(QStringLiteral(u"报告"));
    QVERIFY(QDir().mkpath(folder));
    QString docPath;
    window.setSaveFileChooser([&](QWidget *, const QString &, const QString &) { return docPath; });
    auto *saveAsButton = window.findChild<QPushButton *>(QStringLiteral("saveAsButton"));

    const ProcessFigures start = ProcessFigures::now();
    ProcessFigures warm;
    QElapsedTimer clock;
    clock.start();
    QStringList paths;
    for (int i = 0; i < count; ++i) {
        if (i == warmUp)
            warm = ProcessFigures::now();
        // Both formats, alternately.
        docPath =
            folder + QStringLiteral("/%1.%2").arg(i, 5, 10, QLatin1Char('0')).arg(i % 2 ? "doc" : "docx");
        paths.append(docPath);
        QTest::mouseClick(saveAsButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(docPath).isFile(), 60000);
        QTRY_VERIFY_WITH_TIMEOUT(!programRunning(helper), 60000);
        const QString fault = documentFault(docPath, title);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        // The documents themselves are not what is measured.
        if (i + 1 < count)
            QFile::remove(docPath);
    }
    const qint64 elapsed = clock.elapsed();
    const ProcessFigures end = ProcessFigures::now();

    QVERIFY(service.deactive() && interface.deactive());
    service.exit();
    interface.exit();
    sim.stop();
    qunsetenv("QUILLET_TEST_PORT");

    const int pictures = int(QDir(env.dir().path(QStringLiteral("Temp")))
                                 .entryList({QStringLiteral("*.png")}, QDir::Files)
                                 .size());
    qInfo("%d exports in %lld ms; start %s; after %d: %s; end %s; %d report pictures left in Temp", count,
          elapsed, qPrintable(start.text()), warmUp, qPrintable(warm.text()), qPrintable(end.text()),
          pictures);

    // The helper reported every document as written, each under its own path.
    const QStringList runLog = env.runLogLines();
    const QString success = QStringLiteral("SaveDataToDoc Successful, Doc Path:");
    int reported = 0;
    for (const QString &path : paths)
        reported += runLog.filter(success + path).size() == 1 ? 1 : 0;
    QCOMPARE(reported, count);

    QVERIFY2(memoryFlat(warm, end), qPrintable(end.text()));
    QCOMPARE(end.openFds, warm.openFds);
}

QTEST_MAIN(tst_ExportSoak)
#include "tst_ExportSoak.moc"
