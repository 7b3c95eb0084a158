#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// The tester simulator as a child process: a pty device reachable under `linkPath`.
class TesterSim final
{
public:
    TesterSim();
    ~TesterSim() { stop(); }
    TesterSim(const TesterSim &) = delete;
    TesterSim &operator=(const TesterSim &) = delete;

    static QString program();

    // Starts the simulator and waits until its link exists; false (and a reason) when it did not come up.
    bool start(const QString &linkPath, const QStringList &options = {});
    // SIGTERM and wait; the simulator removes its link.
    void stop();

    QString errorText() const { return m_error; }
    // What the simulator wrote to stderr (one line per request it received); the newest
    // logKeptBytes only, so that a long run does not grow the test process.
    QByteArray log();
    static constexpr qsizetype logKeptBytes = 256 * 1024;

private:
    void takeLog();

    QProcess m_process;
    QString m_error;
    QByteArray m_log;
};

// A scenario file in a temporary folder, built from JSON text.
QString writeScenario(const QString &folder, const QString &name, const QByteArray &json);
