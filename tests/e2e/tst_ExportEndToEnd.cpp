#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <QTranslator>

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

QString squeezed(QString text)
{
    static const QRegularExpression space(QStringLiteral("\\s"),
                                          QRegularExpression::UseUnicodePropertiesOption);
    return text.remove(space);
}

// The Chinese captions of the report's sections and header, as the translation gives them.
QString captions(std::initializer_list<const char *> sources)
{
    QStringList texts;
    for (const char *source : sources)
        texts << QCoreApplication::translate("MainUI", source);
    return texts.join(QStringLiteral(u"、"));
}

} // namespace

class tst_ExportEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { MainUI::installFonts(); }
    void saveAsWritesTheDocument();
    void chineseCaptionsSurviveGbk_data();
    void chineseCaptionsSurviveGbk();
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

void tst_ExportEndToEnd::chineseCaptionsSurviveGbk_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::newRow("docx") << "docx";
    QTest::newRow("doc") << "doc";
}

void tst_ExportEndToEnd::chineseCaptionsSurviveGbk()
{
    QFETCH(QString, suffix);
    // The captions travel to the helper as GBK and come back out of the document it writes.
    QTranslator chinese;
    QVERIFY(chinese.load(QStringLiteral(KESTREL_BINARY_DIR "/Translations/kestrel_zh_CN.qm")));
    QVERIFY(QCoreApplication::installTranslator(&chinese));
    const DocSetting setting{captions({"Battery", "Grounding", "Starter", "Charging 3K", "Average 2K"}),
                             captions({"Customer", "Reg. No.", "Battery Model", "Capacity"}) +
                                 QStringLiteral("\n") + captions({"Test Date"}),
                             captions({"pass", "attention", "replace"})};
    QCoreApplication::removeTranslator(&chinese);
    QCOMPARE(setting.title, QStringLiteral(u"蓄电池、接地、启动、充电 3K、纹波 2K"));

    ExportRig rig(setting);
    QVERIFY2(rig.start(), qPrintable(rig.errorText()));
    const QString docPath = rig.env().dir().path(QStringLiteral(u"蓄电池报告.") + suffix);
    QVERIFY2(rig.saveAs(docPath), qPrintable(rig.errorText()));
    QVERIFY(rig.stop());

    QFile document(docPath);
    QVERIFY(document.open(QIODevice::ReadOnly));
    const QByteArray bytes = document.readAll();
    if (suffix == QLatin1String("docx")) {
        const QMap<QString, QByteArray> entries = zipEntries(bytes);
        QCOMPARE(paragraphTexts(entries.value(QStringLiteral("word/header1.xml"))),
                 setting.header.split(QLatin1Char('\n')));
        QCOMPARE(paragraphTexts(entries.value(QStringLiteral("word/footer1.xml"))),
                 QStringList{setting.footer});
        QCOMPARE(paragraphTexts(entries.value(QStringLiteral("word/document.xml"))).value(0), setting.title);
        return;
    }
    // The Word 97 document, read by catdoc, an independent reader.
    const QString catdoc = QStandardPaths::findExecutable(QStringLiteral("catdoc"));
    if (catdoc.isEmpty())
        QSKIP("catdoc is not installed: scripts/deps.sh test");
    QProcess reader;
    reader.start(catdoc, {QStringLiteral("-d"), QStringLiteral("utf-8"), docPath});
    QVERIFY(reader.waitForFinished(60000));
    QCOMPARE(reader.exitCode(), 0);
    const QString text = squeezed(QString::fromUtf8(reader.readAllStandardOutput()));
    for (const QString &expected : {setting.title, setting.header, setting.footer})
        QVERIFY2(text.contains(squeezed(expected)), qPrintable(text));
}

QTEST_MAIN(tst_ExportEndToEnd)
#include "tst_ExportEndToEnd.moc"
