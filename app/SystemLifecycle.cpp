#include "SystemLifecycle.h"

#include <QCoreApplication>

#include "LogManager.h"

SystemLifecycle::SystemLifecycle(LogManager *log, VirtualManager *config, VirtualManager *interface,
                                 VirtualManager *service, VirtualManager *history)
    : m_log(log), m_config(config), m_interface(interface), m_service(service), m_history(history)
{
}

void SystemLifecycle::log(const char *text)
{
    m_log->writeRunLog(QString::fromUtf8(text));
}

bool SystemLifecycle::initializeSystem()
{
    if (!m_log->initialize() || !m_log->active())
        return false;
    if (!m_config->initialize()) {
        log("Initialize configManager failed");
        return false;
    }
    if (m_history && !m_history->initialize()) {
        log("Initialize historyManager failed");
        return false;
    }
    if (!m_interface->initialize()) {
        log("Initialize interfaceManager failed");
        return false;
    }
    if (!m_service->initialize()) {
        log("Initialize serviceManager failed");
        return false;
    }
    log("System initialize successfully.");
    return true;
}

bool SystemLifecycle::activeSystem()
{
    if (!m_config->active()) {
        log("Active configManager failed");
        return false;
    }
    if (m_history && !m_history->active()) {
        log("Active historyManager failed");
        return false;
    }
    if (!m_interface->active()) {
        log("Active interfaceManager failed");
        return false;
    }
    if (!m_service->active()) {
        log("Active serviceManager failed");
        return false;
    }
    log("System active successfully.");
    return true;
}

bool SystemLifecycle::deactiveSystem()
{
    if (!m_service->deactive()) {
        log("Deactive serviceManager failed");
        return false;
    }
    if (!m_interface->deactive()) {
        log("Deactive interfaceManager failed");
        return false;
    }
    if (m_history && !m_history->deactive()) {
        log("Deactive historyManager failed");
        return false;
    }
    if (!m_config->deactive()) {
        log("Deactive configManager failed");
        return false;
    }
    log("System deactive successfully.");
    return true;
}

bool SystemLifecycle::exitSystem()
{
    if (!m_service->exit()) {
        log("Exit serviceManager failed");
        return false;
    }
    if (!m_interface->exit()) {
        log("Exit interfaceManager failed");
        return false;
    }
    if (m_history && !m_history->exit()) {
        log("Exit historyManager failed");
        return false;
    }
    if (!m_config->exit()) {
        log("Exit configManager failed");
        return false;
    }
    log("System exit successfully.");
    // The log's deactivation writes out every buffered record, so that line is the last one.
    return m_log->deactive() && m_log->exit();
}

void SystemLifecycle::flushLog()
{
    // A failed shutdown walk skips the log manager's own deactivation; without it the last
    // seconds of the run log, the failure line included, would never reach the files.
    if (m_log->isRunning())
        m_log->deactive();
}

int SystemLifecycle::run(const std::function<int()> &runWindow)
{
    int exitCode = 0;
    if (!initializeSystem()) {
        log("Initialize system failed");
    } else if (!activeSystem()) {
        log("Active system failed");
    } else {
        log("System start successfully.");
        exitCode = runWindow();
    }
    if (!deactiveSystem()) {
        log("Deactive system failed");
        flushLog();
        return exitCode;
    }
    if (!exitSystem()) {
        log("Exit system failed");
        flushLog();
    }
    return exitCode;
}
