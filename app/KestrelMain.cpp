#include "KestrelMain.h"

#include <QApplication>
#include <QTimer>

#include "AppPaths.h"
#include "Artwork.h"
#include "Codec.h"
#include "ConfigManager.h"
#include "HistoryManager.h"
#include "InterfaceManager.h"
#include "Language.h"
#include "LogManager.h"
#include "MainUI.h"
#include "ServiceManager.h"
#include "SharedFolders.h"
#include "SystemLifecycle.h"
#include "TerminationWatcher.h"

int kestrelMain(int argc, char *argv[], const std::function<void()> &onEventLoop)
{
    // Qt may already write a warning while the application object is made.
    TerminationWatcher::ignoreBrokenPipes();
    int exitCode = 0;
    {
        QApplication application(argc, argv);
        QCoreApplication::addLibraryPath(QCoreApplication::applicationDirPath() + QStringLiteral("/plugins"));
        // Before the first log file or setting is written.
        SharedFolders::keepGroupWritable(AppPaths::configDir());
        // Lets the desktop match the window to the menu entry kestrel.desktop and its icon.
        QGuiApplication::setDesktopFileName(QStringLiteral("kestrel"));
        Codec::install();
        const bool fontsSubstituted = MainUI::installFonts();

        TerminationWatcher termination;
        QObject::connect(&termination, &TerminationWatcher::terminationRequested, &application,
                         &QCoreApplication::quit);

        ServiceManager *service = ServiceManager::instance();
        InterfaceManager *interface = InterfaceManager::instance();
        HistoryManager *history = HistoryManager::instance();
        SystemLifecycle lifecycle(LogManager::instance(), ConfigManager::instance(), interface, service,
                                  history);
        service->setInterfaceReceiver(interface);
        interface->setServiceReceiver(service);

        exitCode = lifecycle.run([service, history, fontsSubstituted, &onEventLoop] {
            if (!fontsSubstituted)
                LogManager::instance()->writeRunLog(QStringLiteral(
                    "MainUI Font substitution incomplete, SimSun or Arial has no installed replacement"));
            // Before the first window: every caption is made in the chosen language.
            const QString setting = ConfigManager::instance()->language();
            if (!Language::install(setting))
                LogManager::instance()->writeRunLog(
                    QStringLiteral("Language Translations Incomplete, Setting:%1, Language:%2, Folder:%3")
                        .arg(setting, Language::code(), Language::translationsDir()));
            Artwork::setLanguage(Language::code()); // the pictures with their captions, too
            MainUI *window = MainUI::instance();
            window->setServiceReceiver(service);
            window->setHistoryReceiver(history);
            service->setWindowReceiver(window);
            window->show();
            if (onEventLoop)
                QTimer::singleShot(0, onEventLoop);
            return QApplication::exec();
        });

        // Nothing may post to the window once it is gone; the window and then the managers go in
        // the reverse order of their creation, all before the application object.
        service->setWindowReceiver(nullptr);
        MainUI::destroyInstance();
        ServiceManager::destroyInstance();
        InterfaceManager::destroyInstance();
        HistoryManager::destroyInstance();
        ConfigManager::destroyInstance();
        LogManager::destroyInstance();
        Language::uninstall();
    }
    return exitCode;
}
