// kestrel's start-up to the running event loop, and its shutdown, in a temporary application tree.
// Each sample is a fresh process (the managers are process-wide singletons); prints the medians.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include "AppPaths.h"
#include "KestrelMain.h"
#include "TestAppDir.h"

namespace {

int sample(int argc, char **argv)
{
    QElapsedTimer timer;
    timer.start();
    qint64 startup = 0;
    TestAppDir app;
    const int code = kestrelMain(argc, argv, [&] {
        startup = timer.nsecsElapsed();
        QCoreApplication::quit();
    });
    const qint64 total = timer.nsecsElapsed();
    std::printf("%.3f %.3f\n", startup / 1e6, (total - startup) / 1e6);
    return code;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && std::string(argv[1]) == "--sample")
        return sample(argc, argv);

    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::atoi(argv[1]) : 9;
    std::vector<double> startups, shutdowns;
    for (int i = 0; i < runs; ++i) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(environment);
        process.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--sample")});
        process.waitForFinished(60000);
        double startup = 0, shutdown = 0;
        if (std::sscanf(process.readAllStandardOutput().constData(), "%lf %lf", &startup, &shutdown) != 2) {
            std::fprintf(stderr, "sample %d failed: %s\n", i, process.readAllStandardError().constData());
            return 1;
        }
        std::printf("run %d: start-up %.1f ms, shutdown %.1f ms\n", i + 1, startup, shutdown);
        startups.push_back(startup);
        shutdowns.push_back(shutdown);
    }
    std::printf("median of %d runs: start-up to event loop %.1f ms, shutdown %.1f ms\n", runs, median(startups),
                median(shutdowns));
    return 0;
}
