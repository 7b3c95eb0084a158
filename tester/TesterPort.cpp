#include "TesterPort.h"

#include <utility>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSerialPort>

#include "ConfigManager.h"
#include "SerialPlatform.h"

TesterPort::TesterPort(std::unique_ptr<QSerialPort> port, QString name, int timeout)
    : m_port(std::move(port)), m_name(std::move(name)), m_timeout(timeout)
{
}

TesterPort::~TesterPort()
{
    if (m_port)
        m_port->close();
}

bool TesterPort::stopRequested()
{
    if (m_state == State::Open && m_stop && m_stop->load(std::memory_order_acquire))
        m_state = State::Stopped;
    return m_state == State::Stopped;
}

bool TesterPort::checkGone()
{
    if (m_state == State::Gone)
        return true;
    // A vanished node is the plainest reason; the library's own error text can be a side effect.
    const QSerialPort::SerialPortError error = m_port->error();
    if (!serialDeviceMayExist(m_name)) {
        m_goneReason = QStringLiteral("Device node vanished");
    } else if (error == QSerialPort::ResourceError || error == QSerialPort::ReadError ||
               error == QSerialPort::WriteError) {
        m_goneReason = m_port->errorString();
    } else {
        // A time-out is no failure of the device; it must not linger into the next look.
        m_port->clearError();
        return false;
    }
    m_state = State::Gone;
    return true;
}

qint64 TesterPort::write(const QByteArray &bytes)
{
    if (m_state != State::Open)
        return -1;
    return m_port->write(bytes);
}

void TesterPort::flush()
{
    // A write may take T ms per byte; at least one window so a single byte has its chance.
    const qint64 budget = static_cast<qint64>(m_timeout) * qMax<qint64>(1, m_port->bytesToWrite());
    const QDeadlineTimer deadline(qMin<qint64>(budget, 60 * 1000));
    while (m_state == State::Open && m_port->bytesToWrite() > 0) {
        if (stopRequested())
            return;
        const int slice = static_cast<int>(qMin<qint64>(deadline.remainingTime(), stopCheckMs));
        if (!m_port->waitForBytesWritten(slice) && (checkGone() || deadline.hasExpired()))
            break;
    }
    if (m_state == State::Open)
        drainSerialOutput(*m_port);
}

QByteArray TesterPort::take(qsizetype maximum)
{
    if (m_state != State::Open || maximum <= 0)
        return {};
    // Bytes the system holds for us and the library has not fetched yet count too.
    if (m_port->bytesAvailable() < maximum && !m_port->waitForReadyRead(0))
        checkGone();
    // No more than is there: reading asks the library for a buffer of the size requested.
    return m_port->read(qMin(maximum, m_port->bytesAvailable()));
}

bool TesterPort::waitForBytes(int silenceMs)
{
    if (m_state != State::Open)
        return false;
    if (m_port->bytesAvailable() > 0)
        return true;
    const QDeadlineTimer deadline(silenceMs);
    for (;;) {
        if (stopRequested())
            return false;
        const int slice = static_cast<int>(qMin<qint64>(deadline.remainingTime(), stopCheckMs));
        if (m_port->waitForReadyRead(slice) && m_port->bytesAvailable() > 0)
            return true;
        if (checkGone())
            return false;
        // This thread may have been kept off the processor past the deadline while bytes arrived:
        // they came in time, so look once more before giving up.
        if (deadline.hasExpired())
            return m_port->waitForReadyRead(0) && m_port->bytesAvailable() > 0;
    }
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
