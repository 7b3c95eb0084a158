#include <QDir>
#include <QElapsedTimer>
#include <QTest>

#include "DocxXml.h"
#include "ExportRig.h"
#include "ProcessFigures.h"
#include "ZipEntries.h"

namespace {

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

    const QString title = QStringLiteral(u"蓄电池检测报告");
    ExportRig rig({title, QStringLiteral(u"张三汽修"), QStringLiteral(u"第 1 页")});
    QVERIFY2(rig.start(), qPrintable(rig.errorText()));
    UiTestEnvironment &env = rig.env();

    const QString folder = env.dir().path(QStringLiteral(u"报告"));
    QVERIFY(QDir().mkpath(folder));

    const ProcessFigures start = ProcessFigures::now();
    ProcessFigures warm;
    QElapsedTimer clock;
    clock.start();
    QStringList paths;
    for (int i = 0; i < count; ++i) {
        if (i == warmUp)
            warm = ProcessFigures::now();
        // Both formats, alternately.
        const QString docPath =
            folder + QStringLiteral("/%1.%2").arg(i, 5, 10, QLatin1Char('0')).arg(i % 2 ? "doc" : "docx");
        paths.append(docPath);
        QVERIFY2(rig.saveAs(docPath), qPrintable(rig.errorText()));
        const QString fault = documentFault(docPath, title);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        // The documents themselves are not what is measured.
        if (i + 1 < count)
            QFile::remove(docPath);
    }
    const qint64 elapsed = clock.elapsed();
    const ProcessFigures end = ProcessFigures::now();

    QVERIFY(rig.stop());

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
