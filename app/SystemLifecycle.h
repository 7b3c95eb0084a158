#pragma once

#include <functional>

class LogManager;
class VirtualManager;

// The ordered walks over the managers: the log first, then configuration, history (when given),
// interface and service up; the reverse down, the log last. Each walk stops at its first failure and says so
// in the run log. Takes the managers as arguments so the walks can be driven with stand-ins.
class SystemLifecycle final
{
public:
    SystemLifecycle(LogManager *log, VirtualManager *config, VirtualManager *interface,
                    VirtualManager *service, VirtualManager *history = nullptr);

    bool initializeSystem();
    bool activeSystem();
    bool deactiveSystem();
    bool exitSystem();

    // Start-up and shutdown around runWindow, which shows the window and runs the event loop only
    // when the start succeeded; returns the process exit code (the loop's result, or 0).
    int run(const std::function<int()> &runWindow);

private:
    void log(const char *text);
    void flushLog();

    LogManager *m_log = nullptr;
    VirtualManager *m_config = nullptr;
    VirtualManager *m_interface = nullptr;
    VirtualManager *m_service = nullptr;
    VirtualManager *m_history = nullptr;
};
