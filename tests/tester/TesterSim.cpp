#include "TesterSim.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>

QString TesterSim::program()
{
    return QStringLiteral(KESTREL_BINARY_DIR "/bin/testersim");
}

TesterSim::TesterSim()
{
    QObject::connect(&m_process, &QProcess::readyReadStandardError, [this] { takeLog(); });
}

void TesterSim::takeLog()
{
    m_log += m_process.readAllStandardError();
    if (m_log.size() > logKeptBytes)
        m_log.remove(0, m_log.size() - logKeptBytes);
}

bool TesterSim::start(const QString &linkPath, const QStringList &options)
{
    m_process.start(program(), QStringList(options) << linkPath);
    if (!m_process.waitForStarted(10000)) {
        m_error = m_process.errorString();
        return false;
    }
    // The simulator prints the link path once the link exists.
    const QDeadlineTimer deadline(30000);
    while (!m_process.canReadLine() && !deadline.hasExpired()) {
        if (!m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))) &&
            m_process.state() != QProcess::Running)
            break;
    }
    const QString line = QString::fromLocal8Bit(m_process.readLine()).trimmed();
    if (line != linkPath || !QFileInfo::exists(linkPath)) {
        m_error = QStringLiteral("simulator did not come up: %1 %2")
                      .arg(line, QString::fromLocal8Bit(m_process.readAllStandardError()));
        return false;
    }
    return true;
}

void TesterSim::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished(10000);
    }
    takeLog();
}

QByteArray TesterSim::log()
{
    takeLog();
    return m_log;
}

QString writeScenario(const QString &folder, const QString &name, const QByteArray &json)
{
    const QString path = folder + QLatin1Char('/') + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(json) != json.size())
        return {};
    return path;
}
