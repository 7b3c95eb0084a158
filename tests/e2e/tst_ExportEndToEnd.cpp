#include <QComboBox>
#include <QDir>
#include <QPushButton>
#include <QTest>

#include "ConfigManager.h"
#include "DocxXml.h"
#include "InterfaceManager.h"
#include "MainUI.h"
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

QStringList paragraphTexts(const QByteArray &xml)
{
    QStringList texts;
    for (const DocxXml::Paragraph &paragraph : DocxXml::paragraphs(xml))
        texts.append(paragraph.text);
    return texts;
}

} // namespace

class tst_ExportEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { MainUI::installFonts(); }
    void saveAsWritesTheDocument();
};

void tst_ExportEndToEnd::saveAsWritesTheDocument()
{
    UiTestEnvironment env({QStringLiteral("SaveDataProcess=quillet")});
    QVERIFY(env.isReady());
    env.writePictures();
    const QString helper = env.dir().binDir() + QStringLiteral("/quillet");
    QVERIFY(QFile::copy(QStringLiteral(QUILLET_PROGRAM), helper));

    const DocSetting setting{QStringLiteral(u"蓄电池检测报告"),
                             QStringLiteral(u"张三汽修 Zhang's Garage\nTel 010-1234 & <Fax>"),
                             QStringLiteral(u"第 1 页")};
    ConfigManager::instance()->setDocSetting(setting);

    TesterSim sim;
    QVERIFY2(sim.start(env.portPath(3), {QStringLiteral("--no-pacing")}), qPrintable(sim.errorText()));

    MainUI window;
    ServiceManager service;
    InterfaceManager interface;
    // A free port instead of the fixed one, so that the test runs beside other kestrels; the helper
    // inherits the port from this process's environment.
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
    const QString docPath = folder + QStringLiteral(u"/沪A5K308.docx");
    window.setSaveFileChooser([&](QWidget *, const QString &, const QString &) { return docPath; });
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("saveAsButton")), Qt::LeftButton);

    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(docPath).isFile(), 60000);
    QTRY_VERIFY_WITH_TIMEOUT(!programRunning(helper), 60000);

    QVERIFY(service.deactive() && interface.deactive());
    service.exit();
    interface.exit();
    qunsetenv("QUILLET_TEST_PORT");

    // kestrel's run log holds the helper's outcome line, written under the path chosen in Save As.
    const QStringList runLog = env.runLogLines();
    const QString expectedLine = QStringLiteral("SaveDataToDoc Successful, Doc Path:") + docPath;
    QVERIFY2(std::any_of(runLog.cbegin(), runLog.cend(),
                         [&](const QString &line) { return line.endsWith(expectedLine); }),
             qPrintable(runLog.join(QLatin1Char('\n'))));

    // With KESTREL_SCREENSHOT_DIR set, the exported document is kept there for a look.
    const QString keepDir = qEnvironmentVariable("KESTREL_SCREENSHOT_DIR");
    if (!keepDir.isEmpty()) {
        QFile::remove(keepDir + QStringLiteral("/exported.docx"));
        QFile::copy(docPath, keepDir + QStringLiteral("/exported.docx"));
    }

    QFile document(docPath);
    QVERIFY(document.open(QIODevice::ReadOnly));
    const QMap<QString, QByteArray> entries = zipEntries(document.readAll());
    QCOMPARE(
        paragraphTexts(entries.value(QStringLiteral("word/header1.xml"))),
        (QStringList{QStringLiteral(u"张三汽修 Zhang's Garage"), QStringLiteral("Tel 010-1234 & <Fax>")}));
    QCOMPARE(paragraphTexts(entries.value(QStringLiteral("word/footer1.xml"))), QStringList{setting.footer});
    const QList<DocxXml::Paragraph> body =
        DocxXml::paragraphs(entries.value(QStringLiteral("word/document.xml")));
    QCOMPARE(body.size(), 2);
    QCOMPARE(body.first().text, setting.title);
    QCOMPARE(body.last().pictureIds.size(), 1);

    // The embedded picture is the report page the window saved for this export.
    const QStringList saved =
        QDir(env.dir().path(QStringLiteral("Temp"))).entryList({QStringLiteral("*.png")}, QDir::Files);
    QCOMPARE(saved.size(), 1);
    QFile page(env.dir().path(QStringLiteral("Temp/")) + saved.first());
    QVERIFY(page.open(QIODevice::ReadOnly));
    QCOMPARE(entries.value(QStringLiteral("word/media/image1.png")), page.readAll());
}

QTEST_MAIN(tst_ExportEndToEnd)
#include "tst_ExportEndToEnd.moc"
