#include <QApplication>
#include <QCoreApplication>

#include "Codec.h"
#include "ConfigManager.h"
#include "InterfaceManager.h"
#include "LogManager.h"
#include "MainUI.h"
#include "ServiceManager.h"
#include "SystemLifecycle.h"
#include "TerminationWatcher.h"

int main(int argc, char *argv[])
{
    int exitCode = 0;
    {
        QApplication application(argc, argv);
        QCoreApplication::addLibraryPath(QCoreApplication::applicationDirPath() + QStringLiteral("/plugins"));
        Codec::install();
        MainUI::installFonts();

        TerminationWatcher termination;
        QObject::connect(&termination, &TerminationWatcher::terminationRequested, &application,
                         &QCoreApplication::quit);

        ServiceManager *service = ServiceManager::instance();
        InterfaceManager *interface = InterfaceManager::instance();
        SystemLifecycle lifecycle(LogManager::instance(), ConfigManager::instance(), interface, service);
        service->setInterfaceReceiver(interface);
        interface->setServiceReceiver(service);

        exitCode = lifecycle.run([service] {
            MainUI *window = MainUI::instance();
            window->setServiceReceiver(service);
            service->setWindowReceiver(window);
            window->show();
            return QApplication::exec();
        });

        // Nothing may post to the window once it is gone; it must go before the application object.
        service->setWindowReceiver(nullptr);
        MainUI::destroyInstance();
    }
    return exitCode;
}
