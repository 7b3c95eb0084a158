// Run-log throughput: how fast one thread can hand records over (writeLog), and how fast the log
// thread gets them onto disk. Prints the median of several runs.
#include <algorithm>
#include <cstdio>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include "LogManager.h"
#include "TestAppDir.h"

namespace {

struct Run
{
    double postedPerSecond = 0;
    double writtenPerSecond = 0;
    std::uint64_t refused = 0;
};

Run runOnce(int records)
{
    TestAppDir app;
    LogManager log;
    log.initialize();
    log.active();
    const QString text = QStringLiteral("Serial Port Communication Error, Port:/dev/ttyUSB0 %1");
    QElapsedTimer timer;
    timer.start();
    int accepted = 0;
    qint64 postNs = 0;
    constexpr int burst = 5000;
    for (int i = 0; i < records; i += burst) {
        // Bursts below the in-flight limit: the writer's own cost is timed, not the wait for the
        // log thread, which the on-disk figure measures.
        while (log.queuedRecords() > 0)
            QThread::yieldCurrentThread();
        QElapsedTimer burstTimer;
        burstTimer.start();
        for (int j = i; j < std::min(records, i + burst); ++j)
            accepted += log.writeRunLog(text) ? 1 : 0;
        postNs += burstTimer.nsecsElapsed();
    }
    log.deactive(); // returns once every record is in the files
    const qint64 totalNs = timer.nsecsElapsed();
    log.exit();
    Run run;
    run.postedPerSecond = accepted / (postNs / 1e9);
    run.writtenPerSecond = accepted / (totalNs / 1e9);
    run.refused = log.refusedRecords();
    return run;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int records = argc > 1 ? std::atoi(argv[1]) : 1000000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    std::vector<double> posted, written;
    for (int i = 0; i < runs; ++i) {
        const Run run = runOnce(records);
        posted.push_back(run.postedPerSecond);
        written.push_back(run.writtenPerSecond);
        std::printf("run %d: writeLog %.0f records/s, on disk %.0f records/s, refused %llu\n", i + 1,
                    run.postedPerSecond, run.writtenPerSecond, static_cast<unsigned long long>(run.refused));
    }
    std::printf("median over %d runs of %d records: writeLog %.0f records/s, written to disk %.0f records/s\n", runs,
                records, median(posted), median(written));
    return 0;
}
