#include "TesterPort.h"

#include <utility>

#include <QCoreApplication>
#include <QSerialPort>

#include "ConfigManager.h"
#include "LogManager.h"
#include "SerialPlatform.h"
#include "TesterProtocol.h"

TesterPort::TesterPort(std::unique_ptr<QSerialPort> port, QString name, int timeout)
    : m_port(std::move(port)), m_name(std::move(name)), m_timeout(timeout)
{
}

TesterPort::~TesterPort()
{
    if (m_port)
        m_port->close();
}

qint64 TesterPort::write(const QByteArray &bytes)
{
    return m_port->write(bytes);
}

void TesterPort::flush()
{
    // A write may take T ms per byte; at least one window so a single byte has its chance.
    const qint64 budget = static_cast<qint64>(m_timeout) * qMax<qint64>(1, m_port->bytesToWrite());
    const int wait = static_cast<int>(qMin<qint64>(budget, 60 * 1000));
    while (m_port->bytesToWrite() > 0) {
        if (!m_port->waitForBytesWritten(wait))
            break;
    }
    drainSerialOutput(*m_port);
}

QByteArray TesterPort::readAll()
{
    QByteArray data = m_port->readAll();
    bool capped = false;
    while (data.size() < maxReplyBytes && m_port->waitForReadyRead(m_timeout))
        data += m_port->readAll();
    if (data.size() >= maxReplyBytes) {
        capped = data.size() > maxReplyBytes || m_port->bytesAvailable() > 0 || m_port->waitForReadyRead(0);
        data.truncate(maxReplyBytes);
    }
    if (capped)
        LogManager::instance()->writeRunLog(
            QCoreApplication::translate("TesterPort",
                                        "Read Serial Port Data too long, Port:%1, Kept Bytes:%2")
                .arg(m_name)
                .arg(maxReplyBytes));
    return data;
}

void TesterPort::discardInput()
{
    m_port->readAll();
    m_port->clear(QSerialPort::Input);
}

QString portName(const QString &pattern, int number)
{
    return pattern.arg(number);
}

QString portName(int number)
{
    return portName(ConfigManager::instance()->serialPortName(), number);
}

std::unique_ptr<TesterPort> openTesterPort(const QString &pattern, int number, int timeout)
{
    const QString name = portName(pattern, number);
    if (!serialDeviceMayExist(name))
        return nullptr;
    auto port = std::make_unique<QSerialPort>();
    port->setPortName(name);
    port->setBaudRate(QSerialPort::Baud9600);
    port->setDataBits(QSerialPort::Data8);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
    if (!port->open(QIODevice::ReadWrite))
        return nullptr;
    return std::unique_ptr<TesterPort>(new TesterPort(std::move(port), name, timeout));
}

std::unique_ptr<TesterPort> openTesterPort(int number)
{
    const ConfigManager *config = ConfigManager::instance();
    return openTesterPort(config->serialPortName(), number, config->queryDataTimeout());
}

QList<int> scanTesterPorts(const QString &pattern, int timeout)
{
    QList<int> found;
    for (int number = firstPortNumber; number <= lastPortNumber; ++number) {
        const std::unique_ptr<TesterPort> port = openTesterPort(pattern, number, timeout);
        if (!port)
            continue;
        QByteArray request = TesterProtocol::request(1, 5);
        QByteArray reply;
        if (probeExchange(*port, request, reply))
            found.append(number);
    }
    return found;
}

QList<int> scanTesterPorts()
{
    const ConfigManager *config = ConfigManager::instance();
    return scanTesterPorts(config->serialPortName(), config->queryDataTimeout());
}
