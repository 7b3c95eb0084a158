#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <QThread>

#include "Codec.h"
#include "LogManager.h"
#include "SmallFileSystem.h"
#include "TestAppDir.h"

namespace {

constexpr int padding = 90;

const QRegularExpression recordPattern(
    QStringLiteral("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3}  disk record N(\\d{6}) (x*)$"));
const QRegularExpression lossPattern(QStringLiteral(
    "^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3}  LogManager dropped (\\d+) records since "
    "\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3}$"));

// Waits until the log thread has taken and written out everything given to it so far.
bool settle(LogManager &log)
{
    if (!log.requestWriteOut())
        return false;
    return QTest::qWaitFor([&log] { return log.queuedRecords() == 0 && log.pendingMessages() == 0; }, 10000);
}

} // namespace

// The run log on a file system that fills up and then gets room again: no file may hold a
// broken line or a record glued to the one before, and every record offered is either in the
// files or counted in a loss record written once there is room.
class tst_LogDiskFull : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fullDiskKeepsEveryLineWhole()
    {
        TestAppDir app;
        SmallFileSystem disk(app.path(QStringLiteral("Log")), "1m");
        if (!disk.isMounted())
            QSKIP("cannot mount a small tmpfs on Log/ (needs root or CAP_SYS_ADMIN); the full-disk log is "
                  "untested");
        LogManager log;
        QVERIFY(log.initialize());
        QVERIFY(log.active());
        QVERIFY(settle(log));
        // Room for a few hundred of the records that follow, not for all of them.
        QVERIFY(disk.fillLeaving(48 * 1024));

        int offered = 0;
        const auto offer = [&](int count) {
            for (int i = 0; i < count; ++i, ++offered) {
                const QString text =
                    QStringLiteral("disk record N%1 ").arg(offered, 6, 10, QLatin1Char('0')) +
                    QString(padding, QLatin1Char('x'));
                QVERIFY(log.writeRunLog(text));
                // Several short writes, each ending at some byte of a record.
                if (i % 97 == 96)
                    QVERIFY(settle(log));
            }
            QVERIFY(settle(log));
        };
        offer(3000);
        QVERIFY(disk.freeFiller());
        offer(500);
        QVERIFY(log.deactive());
        QVERIFY(log.exit());
        QCOMPARE(log.untoldLost(4), 0u);

        const QString directory =
            app.path(QStringLiteral("Log/Run/") +
                     QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
        QList<int> written;
        qint64 toldLost = 0;
        QStringList faults;
        for (const QString &name : QDir(directory).entryList(QDir::Files, QDir::Name)) {
            QFile file(directory + QLatin1Char('/') + name);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray bytes = file.readAll();
            if (!bytes.isEmpty() && !bytes.endsWith("\r\n"))
                faults << name + QStringLiteral(" ends inside a line");
            QStringList lines = Codec::toText(bytes).split(QStringLiteral("\r\n"));
            lines.removeLast();
            for (const QString &line : lines) {
                const QRegularExpressionMatch record = recordPattern.match(line);
                const QRegularExpressionMatch loss = lossPattern.match(line);
                if (record.hasMatch() && record.captured(2).size() == padding)
                    written << record.captured(1).toInt();
                else if (loss.hasMatch())
                    toldLost += loss.captured(1).toLongLong();
                else if (!line.isEmpty() && !line.startsWith(QLatin1Char('\t')) &&
                         !line.startsWith(QLatin1Char('=')))
                    faults << name + QStringLiteral(": ") + line.left(80);
            }
        }
        qInfo("full disk: %d records offered, %lld written, %lld counted as lost", offered,
              qint64(written.size()), toldLost);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.mid(0, 5).join(QLatin1Char('\n'))));
        QVERIFY(toldLost > 0);
        QCOMPARE(qint64(written.size()) + toldLost, qint64(offered));
        // What is there is in order, and the records written once there was room again are all there.
        for (qsizetype i = 1; i < written.size(); ++i)
            QVERIFY(written.at(i) > written.at(i - 1));
        QCOMPARE(written.mid(written.size() - 500), [] {
            QList<int> last;
            for (int n = 3000; n < 3500; ++n)
                last << n;
            return last;
        }());
    }
};

QTEST_GUILESS_MAIN(tst_LogDiskFull)
#include "tst_LogDiskFull.moc"
