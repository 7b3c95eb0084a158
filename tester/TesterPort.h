#pragma once

#include <cstdint>
#include <memory>

#include <QByteArray>
#include <QList>
#include <QString>

class QSerialPort;

// One open tester port: 9600 8N1, no flow control, used in polling mode, that is with blocking calls
// on the thread that opened it. Destroying the object closes the port.
class TesterPort final
{
public:
    // A reply is never longer than this; anything past it is dropped (and logged).
    static constexpr qsizetype maxReplyBytes = 10240;

    ~TesterPort();
    TesterPort(const TesterPort &) = delete;
    TesterPort &operator=(const TesterPort &) = delete;

    QString name() const { return m_name; }
    int timeout() const { return m_timeout; }

    // -1 on a write error, else the bytes accepted.
    qint64 write(const QByteArray &bytes);
    // Returns once every written byte has left for the device (or the device failed).
    void flush();
    // Every byte the device delivers until the first window of timeout() ms without one.
    QByteArray readAll();
    // Drops whatever has arrived and not been read.
    void discardInput();

private:
    friend std::unique_ptr<TesterPort> openTesterPort(const QString &, int, int);
    TesterPort(std::unique_ptr<QSerialPort> port, QString name, int timeout);

    std::unique_ptr<QSerialPort> m_port;
    QString m_name;
    int m_timeout = 10;
};

// The device name of a port number: the pattern with "%1" replaced by the number.
QString portName(const QString &pattern, int number);
// Same, with the SerialPortName pattern of main.ini.
QString portName(int number);

// Opens the port for reading and writing with the tester's line settings; nullptr when it is missing,
// refused, or already open (access is exclusive). `timeout` is the read window T in milliseconds.
std::unique_ptr<TesterPort> openTesterPort(const QString &pattern, int number, int timeout);
// Same, with the pattern and QueryDataTimeout of main.ini.
std::unique_ptr<TesterPort> openTesterPort(int number);

constexpr int firstPortNumber = 0;
constexpr int lastPortNumber = 99;

// Probes every port number from 0 to 99 with the battery-status request and returns, ascending, the
// numbers on which a tester answered. Blocks the calling thread.
QList<int> scanTesterPorts(const QString &pattern, int timeout);
// Same, with the pattern and QueryDataTimeout of main.ini, read once.
QList<int> scanTesterPorts();
