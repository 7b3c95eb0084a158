// Times one export the way kestrel runs it. First with kestrel's own managers in this process: from
// the SaveDataRequest posted to the service manager (as Save As does) until the complete document
// is on disk (it appears by rename, so existing means complete), helper start included. Then the
// helper alone against a fake kestrel, until its outcome line arrives, which it sends right after
// the rename. For comparison LibreOffice headless produces the same document by converting
// quillet's .docx to .odt.
#include <algorithm>
#include <cstdio>
#include <vector>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QEventLoop>
#include <QTimer>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include "AppPaths.h"
#include "Codec.h"
#include "ConfigManager.h"
#include "FakeKestrel.h"
#include "HelperProtocol.h"
#include "InterfaceManager.h"
#include "LogManager.h"
#include "ServiceManager.h"
#include "ServiceMessages.h"
#include "TestAppDir.h"
#include "TestPng.h"

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0.0 : (n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0);
}

// Milliseconds from starting quillet to its outcome line, or -1 on failure.
double quilletExport(const QString &picture, const QString &docPath)
{
    FakeKestrel kestrel;
    if (!kestrel.listen())
        return -1;
    kestrel.title = QStringLiteral("Battery Test Report");
    kestrel.header = QStringLiteral("Kestrel Service\r\nTel 010-12345678");
    kestrel.footer = QStringLiteral("Page footer");
    kestrel.picturePath = picture;
    kestrel.docPath = docPath;

    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QUILLET_TEST_PORT"), QString::number(kestrel.port()));
    process.setProcessEnvironment(environment);

    QElapsedTimer clock;
    double elapsed = -1;
    QObject::connect(&kestrel, &FakeKestrel::requestReceived, &kestrel, [&] {
        if (elapsed < 0 && kestrel.requests.last().command == HelperProtocol::WriteRunLogRequestId)
            elapsed = clock.nsecsElapsed() / 1e6;
    });
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    clock.start();
    process.start(QStringLiteral(QUILLET_PROGRAM), {});
    loop.exec();
    if (process.state() != QProcess::NotRunning)
        return -1;
    const QList<QByteArray> lines = kestrel.runLogLines();
    if (lines.isEmpty() || !lines.first().startsWith("SaveDataToDoc Successful") ||
        !QFileInfo(docPath).isFile())
        return -1;
    return elapsed;
}

// Runs until the predicate holds or the limit passes, serving events; false on time-out.
template <typename Predicate> bool waitFor(Predicate done, int limitMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > limitMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return true;
}

// Milliseconds from each SaveDataRequest to its document on disk, kestrel's managers in this
// process and quillet started by the service manager; empty on failure.
std::vector<double> kestrelExports(int runs)
{
    TestAppDir app;
    if (!app.isValid() ||
        !app.writeFile(QStringLiteral("Config/main.ini"), "[Basic]\r\nSaveDataProcess=quillet\r\n") ||
        !QFile::copy(QStringLiteral(QUILLET_PROGRAM), app.binDir() + QStringLiteral("/quillet")) ||
        !app.writeFile(QStringLiteral("Temp/report.png"), TestPng::make(794, 1123)))
        return {};
    LogManager *log = LogManager::instance();
    ConfigManager *config = ConfigManager::instance();
    if (!log->initialize() || !log->active() || !config->initialize() || !config->active())
        return {};
    config->setDocSetting({QStringLiteral("Battery Test Report"),
                           QStringLiteral("Kestrel Service\r\nTel 010-12345678"),
                           QStringLiteral("Page footer")});

    std::vector<double> times;
    {
        ServiceManager service;
        InterfaceManager interface;
        interface.setListenPort(0);
        interface.setServiceReceiver(&service);
        service.setInterfaceReceiver(&interface);
        if (interface.initialize() && service.initialize() && interface.active() && service.active() &&
            waitFor([&] { return interface.listenPort() != 0; }, 5000)) {
            qputenv("QUILLET_TEST_PORT", QByteArray::number(interface.listenPort()));
            for (int i = 0; i < runs; ++i) {
                const QString docPath = app.path(QStringLiteral("export-%1.docx").arg(i));
                auto request = makeMessage<SaveDataRequest>(MSG_SAVE_DATA_REQUEST);
                Codec::toField(app.path(QStringLiteral("Temp/report.png")), request.picturePath,
                               sizeof(request.picturePath));
                Codec::toField(docPath, request.docPath, sizeof(request.docPath));
                QElapsedTimer clock;
                clock.start();
                if (!service.postMessage(&request, sizeof(request)) ||
                    !waitFor([&] { return QFileInfo::exists(docPath); }, 30000)) {
                    times.clear();
                    break;
                }
                times.push_back(clock.nsecsElapsed() / 1e6);
                // Let the helper finish its dialogue before the next export starts.
                QElapsedTimer settle;
                settle.start();
                waitFor([&] { return settle.elapsed() > 100; }, 1000);
            }
            qunsetenv("QUILLET_TEST_PORT");
        }
        service.deactive();
        interface.deactive();
        service.exit();
        interface.exit();
    }
    config->deactive();
    config->exit();
    log->deactive();
    log->exit();
    return times;
}

double libreOfficeConversion(const QString &soffice, const QString &profile, const QString &docx,
                             const QString &outDir)
{
    QElapsedTimer clock;
    clock.start();
    QProcess process;
    process.start(soffice, {QStringLiteral("-env:UserInstallation=") + profile, QStringLiteral("--headless"),
                            QStringLiteral("--convert-to"), QStringLiteral("odt"), QStringLiteral("--outdir"),
                            outDir, docx});
    if (!process.waitForFinished(180000) || process.exitCode() != 0)
        return -1;
    const double elapsed = clock.nsecsElapsed() / 1e6;
    return QFileInfo::exists(outDir + QLatin1Char('/') + QFileInfo(docx).completeBaseName() +
                             QStringLiteral(".odt"))
               ? elapsed
               : -1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const int quilletRuns = argc > 1 ? std::max(1, atoi(argv[1])) : 21;
    const int officeRuns = argc > 2 ? std::max(1, atoi(argv[2])) : 5;

    QTemporaryDir dir;
    const QString picture = dir.filePath(QStringLiteral("report.png"));
    QFile file(picture);
    if (!file.open(QIODevice::WriteOnly) || file.write(TestPng::make(794, 1123)) < 0)
        return 1;
    file.close();

    const std::vector<double> kestrelTimes = kestrelExports(quilletRuns);
    if (kestrelTimes.empty()) {
        std::fprintf(stderr, "export through kestrel's managers failed\n");
        return 1;
    }
    std::printf(
        "kestrel export (SaveDataRequest posted to document on disk, helper start included): median %.1f ms "
        "over %d runs (min %.1f, max %.1f)\n",
        median(kestrelTimes), quilletRuns, *std::min_element(kestrelTimes.begin(), kestrelTimes.end()),
        *std::max_element(kestrelTimes.begin(), kestrelTimes.end()));

    std::vector<double> quilletTimes;
    QString lastDocx;
    for (int i = 0; i < quilletRuns; ++i) {
        lastDocx = dir.filePath(QStringLiteral("export-%1.docx").arg(i));
        const double ms = quilletExport(picture, lastDocx);
        if (ms < 0) {
            std::fprintf(stderr, "quillet run %d failed\n", i);
            return 1;
        }
        quilletTimes.push_back(ms);
    }
    const double quilletMedian = median(quilletTimes);
    std::printf("quillet export (start to document on disk, fake kestrel): median %.1f ms over %d runs "
                "(min %.1f, max %.1f)\n",
                quilletMedian, quilletRuns, *std::min_element(quilletTimes.begin(), quilletTimes.end()),
                *std::max_element(quilletTimes.begin(), quilletTimes.end()));

    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (soffice.isEmpty()) {
        std::printf("LibreOffice not installed: no comparison\n");
        return 0;
    }
    const QString profile = QUrl::fromLocalFile(dir.filePath(QStringLiteral("lo-profile"))).toString();
    // The first start creates the profile; it is not counted.
    if (libreOfficeConversion(soffice, profile, lastDocx, dir.filePath(QStringLiteral("warm"))) < 0) {
        std::fprintf(stderr, "LibreOffice conversion failed\n");
        return 1;
    }
    std::vector<double> officeTimes;
    for (int i = 0; i < officeRuns; ++i) {
        const double ms =
            libreOfficeConversion(soffice, profile, lastDocx, dir.filePath(QStringLiteral("odt-%1").arg(i)));
        if (ms < 0) {
            std::fprintf(stderr, "LibreOffice conversion %d failed\n", i);
            return 1;
        }
        officeTimes.push_back(ms);
    }
    const double officeMedian = median(officeTimes);
    std::printf("LibreOffice headless .docx -> .odt: median %.1f ms over %d runs\n", officeMedian,
                officeRuns);
    std::printf("ratio LibreOffice / kestrel export: %.1fx; LibreOffice / quillet alone: %.1fx\n",
                officeMedian / median(kestrelTimes), officeMedian / quilletMedian);
    return 0;
}
