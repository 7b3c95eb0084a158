#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into a normal quit of the event loop, so that a session
// logout or a service stop still runs the orderly shutdown and flushes the run log.
// The only platform-specific code of the program's start-up lives here.
class TerminationWatcher final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TerminationWatcher)

public:
    explicit TerminationWatcher(QObject *parent = nullptr);
    ~TerminationWatcher() override;

    // A write to a closed pipe (standard output or error closed by whoever started us) fails
    // with an error instead of ending the program. Called first thing in main().
    static void ignoreBrokenPipes();

Q_SIGNALS:
    void terminationRequested();

private:
    void onSignal();

    QSocketNotifier *m_notifier = nullptr;
};
