#include <QDir>
#include <QTest>

#include "DocxXml.h"
#include "ExportRig.h"
#include "ZipEntries.h"

namespace {

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
    const DocSetting setting{QStringLiteral(u"蓄电池检测报告"),
                             QStringLiteral(u"张三汽修 Zhang's Garage\nTel 010-1234 & <Fax>"),
                             QStringLiteral(u"第 1 页")};
    ExportRig rig(setting);
    QVERIFY2(rig.start(), qPrintable(rig.errorText()));
    UiTestEnvironment &env = rig.env();

    const QString folder = env.dir().path(QStringLiteral(u"报告"));
    QVERIFY(QDir().mkpath(folder));
    const QString docPath = folder + QStringLiteral(u"/沪A5K308.docx");
    QVERIFY2(rig.saveAs(docPath), qPrintable(rig.errorText()));
    QVERIFY(rig.stop());

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
