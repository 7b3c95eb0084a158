#pragma once

#include <QList>
#include <QString>

#include "DocSetting.h"
#include "InterfaceManager.h"
#include "MainUI.h"
#include "ServiceManager.h"
#include "TesterSim.h"
#include "UiTestEnvironment.h"

// kestrel as the operator runs it, inside one test process: the window and the managers on a
// temporary application tree, the tester simulator on a pseudo-terminal and the real helper
// program in bin/, reached on a free port so that the test runs beside other kestrels.
class ExportRig final
{
public:
    explicit ExportRig(const DocSetting &setting);
    ~ExportRig();

    // Starts everything and makes the first query; false with errorText() when a step failed.
    bool start();
    // Clicks Save As with `path` chosen and waits for the document and for the helper to end.
    bool saveAs(const QString &path);
    // Stops the managers and the simulator; the run log stays open for env().runLogLines().
    bool stop();

    UiTestEnvironment &env() { return m_env; }
    MainUI &window() { return m_window; }
    QString errorText() const { return m_error; }

private:
    bool fail(const QString &what);
    static bool prepare(UiTestEnvironment &env, const DocSetting &setting);

    UiTestEnvironment m_env;
    // The window reads its pictures when it is made, so they are written before it.
    bool m_prepared;
    TesterSim m_sim;
    MainUI m_window;
    ServiceManager m_service;
    InterfaceManager m_interface;
    QString m_helper;
    QString m_error;
    bool m_running = false;
};

// Ids of the processes running the program at this path, and whether there is one (the helper is
// started detached, so it is nobody's child here).
QList<qint64> programPids(const QString &program);
bool programRunning(const QString &program);
