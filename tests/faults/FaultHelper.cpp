// A second program for the fault tests:
//   kestrel_fault_helper hold-port <device>       opens the device as a serial port and keeps it
//   kestrel_fault_helper reference <bin> <a> <b>  writes document settings A then B into the tree's
//                                                 main.ini, copying the file after each write
//   kestrel_fault_helper hammer <bin>             writes A and B in turn until killed
//   kestrel_fault_helper start <bin>              starts and stops the configuration store
// <bin> is the bin/ folder of a test tree (AppPaths resolves Config/ beside it).
#include <cstdio>

#include <QCoreApplication>
#include <QFile>
#include <QSerialPort>
#include <QThread>

#include "AppPaths.h"
#include "ConfigManager.h"
#include "LogManager.h"

namespace {

DocSetting settingA()
{
    return {QStringLiteral(u"蓄电池检测报告 A"), QStringLiteral("Header A\nline two"),
            QStringLiteral("Footer A")};
}

// Longer than A, so that a mix of the two could not pass for either.
DocSetting settingB()
{
    return {QStringLiteral("Battery test report B, a longer title than the other one"),
            QStringLiteral(u"张三汽修 Zhang's Garage B\nTel 010-1234 & <Fax>\n") +
                QString(600, QLatin1Char('b')),
            QStringLiteral(u"第 2 页 B")};
}

int holdPort(const QString &device)
{
    QSerialPort port;
    port.setPortName(device);
    if (!port.open(QIODevice::ReadWrite)) {
        std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(device), qPrintable(port.errorString()));
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    for (;;)
        QThread::sleep(1);
}

bool startConfig()
{
    return LogManager::instance()->initialize() && LogManager::instance()->active() &&
           ConfigManager::instance()->initialize() && ConfigManager::instance()->active();
}

bool copyIni(const QString &to)
{
    QFile::remove(to);
    return QFile::copy(ConfigManager::configFilePath(), to);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const QString mode = arguments.value(1);
    if (mode == QLatin1String("hold-port") && arguments.size() == 3)
        return holdPort(arguments.at(2));

    if (arguments.size() < 3)
        return 2;
    AppPaths::setApplicationDirOverride(arguments.at(2));
    if (!startConfig())
        return 3;
    if (mode == QLatin1String("reference") && arguments.size() == 5) {
        ConfigManager::instance()->setDocSetting(settingA());
        if (!copyIni(arguments.at(3)))
            return 4;
        ConfigManager::instance()->setDocSetting(settingB());
        if (!copyIni(arguments.at(4)))
            return 4;
    } else if (mode == QLatin1String("start")) {
        // Starting is all: it tidies up after a killed writer.
    } else if (mode == QLatin1String("hammer")) {
        std::printf("hammering\n");
        std::fflush(stdout);
        for (;;) {
            ConfigManager::instance()->setDocSetting(settingB());
            ConfigManager::instance()->setDocSetting(settingA());
        }
    } else {
        return 2;
    }
    ConfigManager::instance()->deactive();
    ConfigManager::instance()->exit();
    LogManager::instance()->deactive();
    LogManager::instance()->exit();
    ConfigManager::destroyInstance();
    LogManager::destroyInstance();
    return 0;
}
