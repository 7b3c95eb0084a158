// testersim: a simulated battery tester on a pseudo-terminal, for tests, benchmarks and people.
#include <csignal>
#include <cstdio>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>

#include "PtyDevice.h"
#include "Scenario.h"
#include "Simulator.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;
int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    stopRequested = 1;
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("testersim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Simulated battery tester on a pseudo-terminal."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("link"),
                                 QStringLiteral("Path of the device link to create."));
    const QCommandLineOption scenarioOption(QStringLiteral("scenario"), QStringLiteral("JSON scenario file."),
                                            QStringLiteral("file"));
    const QCommandLineOption noPacingOption(QStringLiteral("no-pacing"),
                                            QStringLiteral("Send replies at once instead of at 9600 baud."));
    const QCommandLineOption modeOption(QStringLiteral("mode"),
                                        QStringLiteral("scenario, garbage or endless."),
                                        QStringLiteral("mode"), QStringLiteral("scenario"));
    const QCommandLineOption silentAfterOption(QStringLiteral("silent-after"),
                                               QStringLiteral("Answer only the first N requests."),
                                               QStringLiteral("N"));
    const QCommandLineOption vanishAfterOption(QStringLiteral("vanish-after"),
                                               QStringLiteral("Close the device after N requests."),
                                               QStringLiteral("N"));
    parser.addOptions({scenarioOption, noPacingOption, modeOption, silentAfterOption, vanishAfterOption});
    parser.process(app);

    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1) {
        std::fputs("testersim: give exactly one link path\n", stderr);
        return 2;
    }

    Scenario scenario = Scenario::defaultVehicle();
    if (parser.isSet(scenarioOption)) {
        QFile file(parser.value(scenarioOption));
        QString error;
        std::optional<Scenario> loaded;
        if (file.open(QIODevice::ReadOnly))
            loaded = Scenario::fromJson(file.readAll(), &error);
        else
            error = file.errorString();
        if (!loaded) {
            std::fprintf(stderr, "testersim: scenario %s: %s\n", qPrintable(file.fileName()),
                         qPrintable(error));
            return 2;
        }
        scenario = *loaded;
    }
    if (parser.isSet(silentAfterOption)) {
        scenario.setSilentAfter(parser.value(silentAfterOption).toInt());
    }

    Simulator::Mode mode = Simulator::Mode::Scenario;
    const QString modeName = parser.value(modeOption);
    if (modeName == QLatin1String("garbage")) {
        mode = Simulator::Mode::Garbage;
    } else if (modeName == QLatin1String("endless")) {
        mode = Simulator::Mode::Endless;
    } else if (modeName != QLatin1String("scenario")) {
        std::fputs("testersim: unknown mode\n", stderr);
        return 2;
    }

    if (::pipe(signalPipe) != 0) {
        std::perror("testersim: pipe");
        return 1;
    }
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);

    PtyDevice device;
    QString error;
    if (!device.open(positional.first(), &error)) {
        std::fprintf(stderr, "testersim: %s\n", qPrintable(error));
        return 1;
    }

    Simulator simulator(device, scenario);
    simulator.setPacing(!parser.isSet(noPacingOption));
    simulator.setMode(mode);
    simulator.setVanishAfter(parser.value(vanishAfterOption).toInt());
    simulator.setStopFlag(&stopRequested);
    simulator.start();

    std::printf("%s\n", qPrintable(positional.first()));
    std::fflush(stdout);

    const int code = app.exec();
    device.close();
    return code;
}
