#include <QtTest>

#include "Codec.h"
#include "DocumentComposer.h"
#include "TestPng.h"

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class tst_DocumentComposer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void writesByFormat_data();
    void writesByFormat();
    void failuresLeaveNoFile_data();
    void failuresLeaveNoFile();
    void failureKeepsExistingDocument();
    void replacesExistingDocument();
    void chinesePathsInLine();

private:
    SaveData saveData(const QString &docPath) const;
    QStringList leftovers() const;

    QTemporaryDir m_dir;
    QString m_picture;
};

void tst_DocumentComposer::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_picture = m_dir.filePath(QStringLiteral("report.png"));
    QVERIFY(writeAll(m_picture, TestPng::make(794, 1123)));
    QVERIFY(writeAll(m_dir.filePath(QStringLiteral("text.png")), "this is not a picture"));
    const QByteArray png = TestPng::make(100, 100);
    QVERIFY(writeAll(m_dir.filePath(QStringLiteral("half.png")), png.left(png.size() / 2)));
    QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("folder.docx")));
}

SaveData tst_DocumentComposer::saveData(const QString &docPath) const
{
    return {QStringLiteral("Title"), QStringLiteral("Header"), QStringLiteral("Footer"), m_picture, docPath};
}

// Files that a failed or finished write might have left behind in the test folder.
QStringList tst_DocumentComposer::leftovers() const
{
    return QDir(m_dir.path())
        .entryList(QDir::Files | QDir::Hidden)
        .filter(QRegularExpression(QStringLiteral("\\.(docx|doc|DOCX)|~|tmp")));
}

void tst_DocumentComposer::writesByFormat_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("magic");

    const QByteArray zip("PK\x03\x04", 4);
    const QByteArray compound("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
    QTest::newRow("docx") << QStringLiteral("a.docx") << zip;
    QTest::newRow("docx upper case") << QStringLiteral("b.DOCX") << zip;
    QTest::newRow("doc") << QStringLiteral("c.doc") << compound;
    QTest::newRow("no suffix") << QStringLiteral("report") << compound;
    QTest::newRow("docx only inside the name") << QStringLiteral("d.docx.bak") << compound;
}

void tst_DocumentComposer::writesByFormat()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, magic);
    const QString path = m_dir.filePath(name);
    const DocumentComposer::Outcome outcome = DocumentComposer::compose(saveData(path));
    QVERIFY2(outcome.saved, outcome.runLogLine.constData());
    QCOMPARE(outcome.runLogLine, "SaveDataToDoc Successful, Doc Path:" + path.toUtf8());
    QVERIFY(readAll(path).startsWith(magic));
    QVERIFY(QFile::remove(path));
}

void tst_DocumentComposer::failuresLeaveNoFile_data()
{
    QTest::addColumn<QString>("docPath");
    QTest::addColumn<QString>("picturePath");
    QTest::addColumn<QString>("expectedLine");

    const QString dir = m_dir.path();
    const QString docx = dir + QStringLiteral("/out.docx");
    const QString png = dir + QStringLiteral("/report.png");
    QTest::newRow("folder missing")
        << dir + QStringLiteral("/missing/out.docx") << png
        << QStringLiteral("SaveDataToDoc Error, Folder Missing, Doc Path:%1/missing/out.docx").arg(dir);
    QTest::newRow("folder is a file")
        << dir + QStringLiteral("/report.png/out.docx") << png
        << QStringLiteral("SaveDataToDoc Error, Folder Missing, Doc Path:%1/report.png/out.docx").arg(dir);
    // Writes into /proc fail even for root, unlike a folder without write permission.
    QTest::newRow("folder not writable")
        << QStringLiteral("/proc/quillet-test.docx") << png
        << QStringLiteral("SaveDataToDoc Error, Folder Not Writable, Reason:");
    QTest::newRow("doc path is a folder")
        << dir + QStringLiteral("/folder.docx") << png
        << QStringLiteral("SaveDataToDoc Error, Doc Path Is A Folder, Doc Path:%1/folder.docx").arg(dir);
    QTest::newRow("doc path empty") << QString() << png
                                    << QStringLiteral("SaveDataToDoc Error, Doc Path Empty");
    QTest::newRow("doc path relative")
        << QStringLiteral("out.docx") << png
        << QStringLiteral("SaveDataToDoc Error, Doc Path Not Absolute, Doc Path:out.docx");
    // 255 bytes fill kestrel's field: the path may have been cut.
    const QString fullField =
        dir + QLatin1Char('/') + QString(254 - dir.size() - 5, QLatin1Char('x')) + QStringLiteral(".docx");
    QTest::newRow("doc path fills its field")
        << fullField << png
        << QStringLiteral("SaveDataToDoc Error, Doc Path Too Long, Doc Path:") + fullField;
    const QString longName = dir + QLatin1Char('/') + QString(83, QChar(0x7535)) + QStringLiteral(".docx");
    QTest::newRow("file name too long for the file system")
        << longName << png << QStringLiteral("SaveDataToDoc Error, Doc Path Too Long, Doc Path:") + longName;
    QTest::newRow("picture missing")
        << docx << dir + QStringLiteral("/gone.png")
        << QStringLiteral("SaveDataToDoc Error, Picture Missing, Picture Path:%1/gone.png").arg(dir);
    QTest::newRow("picture empty path")
        << docx << QString() << QStringLiteral("SaveDataToDoc Error, Picture Path Empty");
    QTest::newRow("picture is a folder")
        << docx << dir + QStringLiteral("/folder.docx")
        << QStringLiteral("SaveDataToDoc Error, Picture Unreadable, Picture Path:%1/folder.docx").arg(dir);
    QTest::newRow("picture not png")
        << docx << dir + QStringLiteral("/text.png")
        << QStringLiteral("SaveDataToDoc Error, Picture Not PNG, Picture Path:%1/text.png").arg(dir);
    QTest::newRow("picture cut short")
        << docx << dir + QStringLiteral("/half.png")
        << QStringLiteral("SaveDataToDoc Error, Picture Truncated, Picture Path:%1/half.png").arg(dir);
    QTest::newRow("binary format, picture missing")
        << dir + QStringLiteral("/out.doc") << dir + QStringLiteral("/gone.png")
        << QStringLiteral("SaveDataToDoc Error, Picture Missing, Picture Path:%1/gone.png").arg(dir);
}

void tst_DocumentComposer::failuresLeaveNoFile()
{
    QFETCH(QString, docPath);
    QFETCH(QString, picturePath);
    QFETCH(QString, expectedLine);

    SaveData data = saveData(docPath);
    data.picturePath = picturePath;
    const QStringList before = leftovers();
    const DocumentComposer::Outcome outcome = DocumentComposer::compose(data);
    QVERIFY(!outcome.saved);
    QVERIFY2(Codec::toText(outcome.runLogLine).startsWith(expectedLine), outcome.runLogLine.constData());
    QVERIFY(!outcome.runLogLine.contains('\n'));
    QVERIFY(!QFileInfo(docPath).isFile());
    QCOMPARE(leftovers(), before);
}

void tst_DocumentComposer::failureKeepsExistingDocument()
{
    const QString path = m_dir.filePath(QStringLiteral("kept.docx"));
    QVERIFY(writeAll(path, "previous document"));
    SaveData data = saveData(path);
    data.picturePath = m_dir.filePath(QStringLiteral("text.png"));
    QVERIFY(!DocumentComposer::compose(data).saved);
    QCOMPARE(readAll(path), QByteArray("previous document"));
    QVERIFY(QFile::remove(path));
}

void tst_DocumentComposer::replacesExistingDocument()
{
    const QString path = m_dir.filePath(QStringLiteral("replaced.docx"));
    QVERIFY(writeAll(path, "previous document"));
    const QStringList before = QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden);
    QVERIFY(DocumentComposer::compose(saveData(path)).saved);
    QVERIFY(readAll(path).startsWith("PK\x03\x04"));
    // Only the document itself changed: no temporary file stays beside it.
    QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), before);
    QVERIFY(QFile::remove(path));
}

void tst_DocumentComposer::chinesePathsInLine()
{
    // The run-log line carries the path in GBK, the encoding of kestrel's log.
    const QString folder = m_dir.filePath(QStringLiteral(u"报告"));
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + QStringLiteral(u"/蓄电池.docx");
    const DocumentComposer::Outcome outcome = DocumentComposer::compose(saveData(path));
    QVERIFY(outcome.saved);
    QCOMPARE(outcome.runLogLine, QByteArray("SaveDataToDoc Successful, Doc Path:") + Codec::toBytes(path));
    QVERIFY(QFileInfo(path).isFile());
}

QTEST_GUILESS_MAIN(tst_DocumentComposer)
#include "tst_DocumentComposer.moc"
