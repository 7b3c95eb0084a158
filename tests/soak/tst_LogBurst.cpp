#include <atomic>
#include <latch>
#include <thread>
#include <vector>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include "Codec.h"
#include "LogChannel.h"
#include "LogManager.h"
#include "TestAppDir.h"

namespace {

const QRegularExpression recordPattern(
    QStringLiteral("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3}  burst T(\\d+) N(\\d{7}) (x*)$"));

QString recordText(int thread, int sequence, int padding)
{
    return QStringLiteral("burst T%1 N%2 ").arg(thread).arg(sequence, 7, 10, QLatin1Char('0')) +
           QString(padding, QLatin1Char('x'));
}

const QRegularExpression lossPattern(QStringLiteral(
    "^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3}  LogManager dropped (\\d+) records since "
    "\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3}$"));

struct Parsed
{
    // Per writer thread, the sequence numbers in the order the files hold them.
    QList<QList<int>> sequences;
    // What the loss records say was dropped, and how many such records there are.
    qint64 toldLost = 0;
    int lossRecords = 0;
    QStringList faults;
};

// Reads the run-log files in name order; every line must be a whole record of the burst with its
// full padding, or part of the banner.
Parsed parseRunLog(const QString &directory, int threads, int padding)
{
    Parsed parsed;
    parsed.sequences.resize(threads);
    const QDir dir(directory);
    for (const QString &name : dir.entryList(QDir::Files, QDir::Name)) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly)) {
            parsed.faults << QStringLiteral("cannot read ") + name;
            continue;
        }
        const QByteArray bytes = file.readAll();
        if (!bytes.isEmpty() && !bytes.endsWith("\r\n"))
            parsed.faults << name + QStringLiteral(" does not end in a whole line");
        QStringList lines = Codec::toText(bytes).split(QStringLiteral("\r\n"));
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        for (const QString &line : lines) {
            const QRegularExpressionMatch match = recordPattern.match(line);
            if (match.hasMatch()) {
                const int thread = match.captured(1).toInt();
                if (thread >= threads || match.captured(3).size() != padding)
                    parsed.faults << name + QStringLiteral(": ") + line.left(80);
                else
                    parsed.sequences[thread].append(match.captured(2).toInt());
            } else if (const QRegularExpressionMatch loss = lossPattern.match(line); loss.hasMatch()) {
                parsed.toldLost += loss.captured(1).toLongLong();
                ++parsed.lossRecords;
            } else if (!line.isEmpty() && !line.startsWith(QLatin1Char('\t')) &&
                       !line.startsWith(QLatin1Char('='))) {
                parsed.faults << name + QStringLiteral(": ") + line.left(80);
            }
        }
    }
    return parsed;
}

QString runLogDirectory(const TestAppDir &app)
{
    return app.path(QStringLiteral("Log/Run/") +
                    QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
}

} // namespace

class tst_LogBurst : public QObject
{
    Q_OBJECT

private slots:
    void burstPastTheInFlightLimit();
    void rotationHoldsAtTenFiles();
};

// Several threads write 300,000 records at once, far faster than the log thread can take them.
// What is refused is reported to the caller and counted, and the file itself says how many were
// lost: every record offered is either in the file, whole and in its thread's order, or counted
// in a loss record.
void tst_LogBurst::burstPastTheInFlightLimit()
{
    constexpr int threads = 4;
    constexpr int perThread = 75000;
    constexpr int padding = 20;
    TestAppDir app;
    LogManager log;
    QVERIFY(log.initialize());
    QVERIFY(log.active());

    std::vector<std::vector<char>> accepted(threads, std::vector<char>(perThread, 0));
    std::latch start(threads);
    std::vector<std::thread> writers;
    for (int t = 0; t < threads; ++t) {
        writers.emplace_back([&, t] {
            // Texts made up front, so that the writers only write.
            QStringList texts;
            for (int n = 0; n < perThread; ++n)
                texts.append(recordText(t, n, padding));
            start.arrive_and_wait();
            for (int n = 0; n < perThread; ++n)
                accepted[std::size_t(t)][std::size_t(n)] = log.writeRunLog(texts.at(n)) ? 1 : 0;
        });
    }
    for (std::thread &writer : writers)
        writer.join();
    QVERIFY(log.deactive());
    QVERIFY(log.exit());

    qint64 acceptedCount = 0;
    QList<QList<int>> expected(threads);
    for (int t = 0; t < threads; ++t) {
        for (int n = 0; n < perThread; ++n) {
            if (accepted[std::size_t(t)][std::size_t(n)]) {
                expected[t].append(n);
                ++acceptedCount;
            }
        }
    }
    const qint64 refusedCount = qint64(threads) * perThread - acceptedCount;
    const QStringList files = QDir(runLogDirectory(app)).entryList(QDir::Files, QDir::Name);
    qInfo("burst: %d threads x %d records: %lld accepted, %lld refused, %lld files", threads, perThread,
          acceptedCount, refusedCount, qint64(files.size()));

    QCOMPARE(qint64(log.refusedRecords()), refusedCount);
    if (refusedCount == 0)
        QSKIP("The log thread kept up with every writer: the in-flight limit was never reached");
    QVERIFY(acceptedCount >= 10000);

    const Parsed parsed = parseRunLog(runLogDirectory(app), threads, padding);
    QVERIFY2(parsed.faults.isEmpty(), qPrintable(parsed.faults.mid(0, 5).join(QLatin1Char('\n'))));
    for (int t = 0; t < threads; ++t)
        QVERIFY2(parsed.sequences.at(t) == expected.at(t), qPrintable(QStringLiteral("thread %1").arg(t)));
    qInfo("offered %lld, written %lld, told lost %lld in %d records", qint64(threads) * perThread,
          acceptedCount, parsed.toldLost, parsed.lossRecords);
    QVERIFY(parsed.lossRecords > 0);
    QCOMPARE(parsed.toldLost, refusedCount);
    QCOMPARE(log.untoldLost(4), 0u);
}

// Far more than ten full files in one run: the oldest go, ten stay, and the records they hold are
// the newest ones, whole, without a gap.
void tst_LogBurst::rotationHoldsAtTenFiles()
{
    constexpr int padding = 950;
    constexpr qint64 target = (LogChannel::maxFiles + 2) * LogChannel::fullFileBytes;
    const int records = int(target / (padding + 45)) + 1;
    TestAppDir app;
    LogManager log;
    QVERIFY(log.initialize());
    QVERIFY(log.active());

    std::uint64_t retries = 0;
    for (int n = 0; n < records; ++n) {
        const QString text = recordText(0, n, padding);
        // The writer waits out a full queue, so that every record is in the log exactly once.
        while (!log.writeRunLog(text)) {
            ++retries;
            std::this_thread::yield();
        }
    }
    QVERIFY(log.deactive());
    QVERIFY(log.exit());
    QCOMPARE(log.refusedRecords(), retries);

    const QDir dir(runLogDirectory(app));
    const QFileInfoList files = dir.entryInfoList(QDir::Files, QDir::Name);
    qint64 largest = 0;
    for (const QFileInfo &info : files)
        largest = std::max(largest, info.size());
    qInfo("rotation: %d records of %d bytes, %llu refused and retried, %lld files, largest %lld bytes",
          records, padding + 45, static_cast<unsigned long long>(retries), qint64(files.size()), largest);

    QCOMPARE(files.size(), LogChannel::maxFiles);
    for (int i = 0; i < files.size(); ++i)
        QCOMPARE(files.at(i).fileName(),
                 QStringLiteral("tst_logburst.run.log.%1").arg(i + 1, 2, 10, QLatin1Char('0')));
    // A file is closed before the next record would take it past 10 MiB, however large the write-out.
    QVERIFY(largest <= LogChannel::fullFileBytes);
    QVERIFY(largest > LogChannel::fullFileBytes - LogManager::maxRecordBytes - 2);

    const Parsed parsed = parseRunLog(dir.path(), 1, padding);
    QVERIFY2(parsed.faults.isEmpty(), qPrintable(parsed.faults.mid(0, 5).join(QLatin1Char('\n'))));
    const QList<int> &kept = parsed.sequences.first();
    QVERIFY(!kept.isEmpty());
    QVERIFY(kept.first() > 0);
    QCOMPARE(kept.last(), records - 1);
    QCOMPARE(qsizetype(kept.last() - kept.first() + 1), kept.size());
    for (qsizetype i = 1; i < kept.size(); ++i) {
        if (kept.at(i) != kept.at(i - 1) + 1)
            QFAIL(qPrintable(QStringLiteral("gap or disorder after record %1").arg(kept.at(i - 1))));
    }
}

QTEST_GUILESS_MAIN(tst_LogBurst)
#include "tst_LogBurst.moc"
