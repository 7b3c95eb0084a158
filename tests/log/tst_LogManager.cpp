#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include "Codec.h"
#include "LogChannel.h"
#include "LogManager.h"
#include "TestAppDir.h"

namespace {

QString program()
{
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

const QRegularExpression
    stampPattern(QStringLiteral("^(\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3})  (.*)$"));

// The record lines of a category (banner and blank lines left out).
QStringList records(const TestAppDir &app, const QString &category)
{
    QStringList result;
    for (const QString &line : app.logLines(category))
        if (stampPattern.match(line).hasMatch())
            result << line;
    return result;
}

QString textOf(const QString &line)
{
    return stampPattern.match(line).captured(2);
}

void makeFile(const QString &path, qint64 size, const QDateTime &modified = QDateTime())
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    if (size > 0) {
        QVERIFY(file.resize(size));
    }
    if (modified.isValid())
        QVERIFY(file.setFileTime(modified, QFileDevice::FileModificationTime));
}

} // namespace

class tst_LogManager : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void recordsBeforeInitializeAndAfterDeactiveAreLost()
    {
        TestAppDir app;
        LogManager log;
        QVERIFY(!log.writeRunLog(QStringLiteral("too early")));
        QVERIFY(log.initialize());
        QVERIFY(!log.writeRunLog(QStringLiteral("initialized, not running")));
        QVERIFY(log.active());
        QVERIFY(log.writeRunLog(QStringLiteral("kept")));
        QVERIFY(log.deactive());
        QVERIFY(!log.writeRunLog(QStringLiteral("too late")));
        QVERIFY(log.exit());
        const QStringList lines = records(app, QStringLiteral("Run"));
        QCOMPARE(lines.size(), 1);
        QCOMPARE(textOf(lines.first()), QStringLiteral("kept"));
    }

    void flagsSelectCategories_data()
    {
        QTest::addColumn<int>("flag");
        QTest::addColumn<QStringList>("categories");
        const QStringList all{QStringLiteral("Operation"), QStringLiteral("Security"),
                              QStringLiteral("Common"), QStringLiteral("Debug"), QStringLiteral("Run")};
        QTest::newRow("security|run")
            << 0x12 << QStringList{QStringLiteral("Security"), QStringLiteral("Run")};
        QTest::newRow("debug") << 0x08 << QStringList{QStringLiteral("Debug")};
        QTest::newRow("all") << 0x1F << all;
        QTest::newRow("unknown bits only") << 0x60 << QStringList{};
    }

    void flagsSelectCategories()
    {
        QFETCH(int, flag);
        QFETCH(QStringList, categories);
        TestAppDir app;
        LogManager log;
        QVERIFY(log.initialize());
        QVERIFY(log.active());
        log.writeLog(flag, QStringLiteral("one line"));
        QVERIFY(log.deactive());
        QString stamp;
        for (const QString &category :
             {QStringLiteral("Operation"), QStringLiteral("Security"), QStringLiteral("Common"),
              QStringLiteral("Debug"), QStringLiteral("Run")}) {
            const QStringList lines = records(app, category);
            QCOMPARE(lines.size(), categories.contains(category) ? 1 : 0);
            if (lines.isEmpty())
                continue;
            // One record, one time stamp, in every file it lands in.
            const QString thisStamp = stampPattern.match(lines.first()).captured(1);
            QVERIFY(stamp.isEmpty() || stamp == thisStamp);
            stamp = thisStamp;
        }
        QVERIFY(log.exit());
    }

    void everyCategoryHasItsFileAtOnce()
    {
        TestAppDir app;
        LogManager log;
        QVERIFY(log.initialize());
        QVERIFY(log.active());
        for (const char *category : {"Operation", "Security", "Common", "Debug", "Run"}) {
            const QString word = QString::fromLatin1(category);
            const QString file = app.path(QStringLiteral("Log/%1/%2/%3.%4.log.01")
                                              .arg(word, program(), program().toLower(), word.toLower()));
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(file), 3000);
        }
        QVERIFY(log.deactive());
        QVERIFY(log.exit());
    }

    // Records otherwise reach the files at the timed write-out, 3 s after the start at the earliest.
    void writeOutOnRequestComesBeforeTheTimer()
    {
        TestAppDir app;
        LogManager log;
        QVERIFY(log.initialize() && log.active());
        QElapsedTimer clock;
        clock.start();
        QVERIFY(log.writeRunLog(QStringLiteral("first")));
        QVERIFY(log.writeRunLog(QStringLiteral("second")));
        QVERIFY(log.requestWriteOut());
        QTRY_COMPARE_WITH_TIMEOUT(records(app, QStringLiteral("Run")).size(), 2, 2000);
        const bool beforeTimer = clock.elapsed() < 3000;
        const QStringList lines = records(app, QStringLiteral("Run"));
        QVERIFY(log.deactive() && log.exit());
        QVERIFY(beforeTimer);
        QCOMPARE(textOf(lines.at(0)), QStringLiteral("first"));
        QCOMPARE(textOf(lines.at(1)), QStringLiteral("second"));
    }

    void overlongRecordIsAnnouncedAndCut()
    {
        TestAppDir app;
        LogManager log;
        QVERIFY(log.initialize());
        QVERIFY(log.active());
        log.writeRunLog(QString(2000, QLatin1Char('x')));
        QVERIFY(log.deactive());
        const QStringList common = records(app, QStringLiteral("Common"));
        QCOMPARE(common.size(), 1);
        QCOMPARE(
            textOf(common.first()),
            QStringLiteral("Log length limit exceeded, max length:1023, log length:2000, log Flag:00000010"));
        const QStringList run = records(app, QStringLiteral("Run"));
        QCOMPARE(run.size(), 1);
        QCOMPARE(Codec::toBytes(run.first()).size(), 1023); // time stamp included
        QVERIFY(log.exit());
    }

    void gbkTextSurvives()
    {
        TestAppDir app;
        LogManager log;
        QVERIFY(log.initialize());
        QVERIFY(log.active());
        const QString text = QStringLiteral("\u5ba2\u6237 customer");
        log.writeRunLog(text);
        QVERIFY(log.deactive());
        QCOMPARE(textOf(records(app, QStringLiteral("Run")).value(0)), text);
        QVERIFY(log.exit());
    }

    void bannerOpensEachStartWithBlankLineAfterContent()
    {
        TestAppDir app;
        for (int start = 0; start < 2; ++start) {
            LogManager log;
            QVERIFY(log.initialize());
            QVERIFY(log.active());
            log.writeRunLog(QStringLiteral("start %1").arg(start));
            QVERIFY(log.deactive());
            QVERIFY(log.exit());
        }
        const QString file =
            app.path(QStringLiteral("Log/Run/%1/%2.run.log.01").arg(program(), program().toLower()));
        const QString text = Codec::toText(app.readFile(file.mid(app.root().size() + 1)));
        const QString banner = LogManager::banner();
        QVERIFY(text.startsWith(banner));
        QVERIFY(text.contains(QStringLiteral("start 0\r\n\r\n") + banner));
        QCOMPARE(text.count(banner), 2);
        QVERIFY(banner.contains(QStringLiteral("\t  Version: Kestrel V" KESTREL_VERSION
                                               " \r\n\t  Name: Kestrel \r\n\t  Build Time(")));
        QVERIFY(QRegularExpression(QStringLiteral("^={9}  .+  ={9}\r\n")).match(banner).hasMatch());
        QVERIFY(QRegularExpression(QStringLiteral("\r\n={23}  .+  ={25}\r\n$")).match(banner).hasMatch());
    }

    void rotationKeepsTenFiles()
    {
        TestAppDir app;
        LogChannel channel;
        channel.setUp(QStringLiteral("Run"), QStringLiteral("Kestrel"));
        const QString dir = channel.directory();
        for (int i = 1; i <= 10; ++i)
            makeFile(QStringLiteral("%1/kestrel.run.log.%2").arg(dir).arg(i, 2, 10, QLatin1Char('0')),
                     i == 10 ? LogChannel::fullFileBytes : 100 + i);
        channel.append(QStringLiteral("fresh"));
        channel.writeOut();

        const QStringList names = QDir(dir).entryList(QDir::Files, QDir::Name);
        QCOMPARE(names.size(), 10);
        QCOMPARE(names.first(), QStringLiteral("kestrel.run.log.01"));
        QCOMPARE(names.last(), QStringLiteral("kestrel.run.log.10"));
        QCOMPARE(QFileInfo(dir + QStringLiteral("/kestrel.run.log.01")).size(), 102); // old 02
        QCOMPARE(QFileInfo(dir + QStringLiteral("/kestrel.run.log.09")).size(), LogChannel::fullFileBytes);
        QVERIFY(QFileInfo(dir + QStringLiteral("/kestrel.run.log.10")).size() < 1000);
        QCOMPARE(channel.currentFile(), dir + QStringLiteral("/kestrel.run.log.10"));
    }

    // A file never passes 10 MiB: what would take it past goes to the next file, and the file
    // it did not fit in is left as it was.
    void rotationComesBeforeTheLimit()
    {
        TestAppDir app;
        LogChannel channel;
        channel.setUp(QStringLiteral("Run"), QStringLiteral("Kestrel"));
        const QString dir = channel.directory();
        const QString first = dir + QStringLiteral("/kestrel.run.log.01");
        makeFile(first, LogChannel::fullFileBytes - 50);
        // The day's banner and the record: more than the 50 bytes left.
        channel.append(QStringLiteral("next file"));
        channel.writeOut();
        QCOMPARE(QFileInfo(first).size(), LogChannel::fullFileBytes - 50);
        QCOMPARE(channel.currentFile(), dir + QStringLiteral("/kestrel.run.log.02"));
        QFile second(channel.currentFile());
        QVERIFY(second.open(QIODevice::ReadOnly));
        QVERIFY(second.readAll().endsWith("next file\r\n"));
    }

    void housekeepingRemovesForeignAndOldFilesOnlyWhenNaming()
    {
        TestAppDir app;
        LogChannel channel;
        channel.setUp(QStringLiteral("Run"), QStringLiteral("Kestrel"));
        const QString dir = channel.directory();
        makeFile(dir + QStringLiteral("/copy of kestrel.run.log.01"), 10);
        makeFile(dir + QStringLiteral("/kestrel.run.log.01"), 10, QDateTime::currentDateTime().addDays(-30));
        makeFile(dir + QStringLiteral("/kestrel.run.log.02"), 10, QDateTime::currentDateTime().addDays(-29));
        makeFile(dir + QStringLiteral("/KESTREL.RUN.LOG.03"), 10);
        QCOMPARE(QDir(dir).entryList(QDir::Files).size(), 4); // nothing happens before a name is chosen

        channel.writeOut();
        const QStringList names = QDir(dir).entryList(QDir::Files, QDir::Name);
        // The 29-day-old file is kept, renumbered to 01, and continued.
        QCOMPARE(names, QStringList{QStringLiteral("kestrel.run.log.01")});
        QCOMPARE(channel.currentFile(), dir + QStringLiteral("/kestrel.run.log.01"));
    }
};

QTEST_GUILESS_MAIN(tst_LogManager)
#include "tst_LogManager.moc"
