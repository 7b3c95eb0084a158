// Configuration store costs: parsing main.ini and reading its ten keys (one reload pass without
// write-back), one setter (the atomic rewrite of main.ini), and a getter with and without a
// writer on another thread. Prints the median of several runs.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>

#include "ConfigManager.h"
#include "IniFile.h"
#include "TestAppDir.h"

namespace {

constexpr int runs = 7;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

const char *const keys[][2] = {
    {"Basic", "CloseDataPrinter"}, {"Basic", "QueryDataTimeout"}, {"Basic", "SaveDataProcess"},
    {"Basic", "SerialPortName"},   {"Test Info", "Customer"},     {"Test Info", "RegistrationNo"},
    {"Test Info", "BatteryModel"}, {"Test Info", "Capacity"},     {"Doc Setting", "Title"},
    {"Doc Setting", "Header"},     {"Doc Setting", "Footer"},
};

double parseMicroseconds(const QString &path)
{
    constexpr int passes = 2000;
    QElapsedTimer timer;
    timer.start();
    qsizetype sink = 0;
    for (int i = 0; i < passes; ++i) {
        IniFile ini;
        ini.load(path);
        for (const auto &key : keys)
            sink += ini.value(QString::fromLatin1(key[0]), QString::fromLatin1(key[1])).size();
    }
    const double elapsed = static_cast<double>(timer.nsecsElapsed()) / 1000.0 / passes;
    return sink >= 0 ? elapsed : 0;
}

double setterMilliseconds(ConfigManager &config)
{
    constexpr int writes = 50;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < writes; ++i)
        config.setTestInfo(TestInfo{QString::fromUtf8("\u5F20\u4E09 %1").arg(i), QStringLiteral("AB-123"),
                                    QStringLiteral("EFB 70"), QStringLiteral("760")});
    return static_cast<double>(timer.nsecsElapsed()) / 1e6 / writes;
}

double getterNanoseconds(const ConfigManager &config, bool withWriter, ConfigManager &writable)
{
    constexpr int reads = 200000;
    std::atomic<bool> done{false};
    std::thread writer;
    if (withWriter) {
        writer = std::thread([&] {
            int i = 0;
            while (!done.load())
                writable.setDocSetting(DocSetting{QString::number(++i), QString(), QString()});
        });
    }
    QElapsedTimer timer;
    timer.start();
    qsizetype sink = 0;
    for (int i = 0; i < reads; ++i)
        sink += config.testInfo().customer.size();
    const double elapsed = static_cast<double>(timer.nsecsElapsed()) / reads;
    done.store(true);
    if (writer.joinable())
        writer.join();
    return sink >= 0 ? elapsed : 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    TestAppDir app;
    ConfigManager config;
    config.initialize();
    config.active();
    config.setTestInfo(TestInfo{QString::fromUtf8("\u5F20\u4E09"), QStringLiteral("AB-123"),
                                QStringLiteral("EFB 70"), QStringLiteral("760")});
    config.setDocSetting(DocSetting{QStringLiteral("Battery test report"), QStringLiteral("Kestrel Garage"),
                                    QStringLiteral("Thank you")});

    std::vector<double> parse, setter, getter, contended;
    for (int run = 0; run < runs; ++run) {
        parse.push_back(parseMicroseconds(ConfigManager::configFilePath()));
        setter.push_back(setterMilliseconds(config));
        getter.push_back(getterNanoseconds(config, false, config));
        contended.push_back(getterNanoseconds(config, true, config));
    }
    config.deactive();
    config.exit();

    std::printf("main.ini read pass (load, parse, 11 keys): %.1f us (median of %d)\n", median(parse), runs);
    std::printf("setTestInfo (atomic rewrite of main.ini):  %.3f ms (median of %d)\n", median(setter), runs);
    std::printf("testInfo() getter, alone:                  %.0f ns (median of %d)\n", median(getter), runs);
    std::printf("testInfo() getter, setter on other thread: %.0f ns (median of %d)\n", median(contended),
                runs);
    return 0;
}
