#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "DocumentFile.h"

class tst_DocumentFile : public QObject
{
    Q_OBJECT

private slots:
    void refusesPathsThatCannotTakeADocument_data();
    void refusesPathsThatCannotTakeADocument();
    void replacesWholeAndLeavesNothingBeside();
};

void tst_DocumentFile::refusesPathsThatCannotTakeADocument_data()
{
    QTest::addColumn<QString>("relativePath"); // below the temporary folder; "" stays empty
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty") << QString() << QStringLiteral("SaveDataToDoc Error, Doc Path Empty");
    QTest::newRow("relative")
        << QStringLiteral("@relative/report.pdf")
        << QStringLiteral("SaveDataToDoc Error, Doc Path Not Absolute, Doc Path:relative/report.pdf");
    QTest::newRow("folder missing")
        << QStringLiteral("missing/report.pdf")
        << QStringLiteral("SaveDataToDoc Error, Folder Missing, Doc Path:%1/missing/report.pdf");
    QTest::newRow("a folder") << QStringLiteral("folder")
                              << QStringLiteral(
                                     "SaveDataToDoc Error, Doc Path Is A Folder, Doc Path:%1/folder");
    QTest::newRow("name too long") << QString(300, QLatin1Char('n'))
                                   << QStringLiteral("SaveDataToDoc Error, Doc Path Too Long, Doc Path:%1/") +
                                          QString(300, QLatin1Char('n'));
}

void tst_DocumentFile::refusesPathsThatCannotTakeADocument()
{
    QFETCH(QString, relativePath);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
    QString path;
    if (relativePath.startsWith(QLatin1Char('@')))
        path = relativePath.mid(1);
    else if (!relativePath.isEmpty())
        path = dir.path() + QLatin1Char('/') + relativePath;
    const QString line = expected.contains(QStringLiteral("%1")) ? expected.arg(dir.path()) : expected;

    const DocumentFile::Outcome outcome = DocumentFile::save(path, QByteArray("%PDF-1.4"));
    QVERIFY(!outcome.saved);
    QCOMPARE(outcome.runLogLine, line);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 0);
}

void tst_DocumentFile::replacesWholeAndLeavesNothingBeside()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("report.pdf"));
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(10000, 'o'));
    old.close();

    const DocumentFile::Outcome outcome = DocumentFile::save(path, QByteArray("new"));
    QVERIFY(outcome.saved);
    QCOMPARE(outcome.runLogLine, QStringLiteral("SaveDataToDoc Successful, Doc Path:") + path);
    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), QByteArray("new"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("report.pdf")});
}

QTEST_GUILESS_MAIN(tst_DocumentFile)
#include "tst_DocumentFile.moc"
