#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include <QByteArray>
#include <QString>

class QSerialPort;

// One open tester port: 9600 8N1, no flow control, used in polling mode, that is with blocking calls
// on the thread that opened it. Destroying the object closes the port.
// Every wait can be cut short by a stop request, and the port notices when its device goes away;
// after either it does no more I/O.
class TesterPort final
{
public:
    // A reply is never longer than this; anything past it is dropped (and logged).
    static constexpr qsizetype maxReplyBytes = 10240;
    // Waits are cut into slices this long, so a stop request is seen within about this time.
    static constexpr int stopCheckMs = 10;

    enum class State
    {
        Open,
        Stopped, // a stop was requested
        Gone,    // the device went away (unplugged)
    };

    ~TesterPort();
    TesterPort(const TesterPort &) = delete;
    TesterPort &operator=(const TesterPort &) = delete;

    QString name() const { return m_name; }
    int timeout() const { return m_timeout; }
    State state() const { return m_state; }
    // Why the device is taken for gone: the serial library's error text, or the vanished node.
    QString goneReason() const { return m_goneReason; }

    // Waits end early once `*stop` is true; the flag must outlive the port.
    void setStopFlag(const std::atomic<bool> *stop) { m_stop = stop; }

    // After a failed exchange the line may still carry the rest of a late or broken reply: it is
    // out of step until it has been let fall silent.
    bool isOutOfStep() const { return m_outOfStep; }
    void setOutOfStep(bool outOfStep) { m_outOfStep = outOfStep; }

    // -1 on a write error, else the bytes accepted.
    qint64 write(const QByteArray &bytes);
    // Returns once every written byte has left for the device (or the device failed).
    void flush();
    // Up to `maximum` of the bytes that have arrived, without waiting.
    QByteArray take(qsizetype maximum);
    // True as soon as at least one byte is there to take; false after `silenceMs` without one,
    // on a stop request or when the device is gone.
    bool waitForBytes(int silenceMs);

private:
    friend std::unique_ptr<TesterPort> openTesterPort(const QString &, int, int);
    TesterPort(std::unique_ptr<QSerialPort> port, QString name, int timeout);

    bool stopRequested();
    // Looks at the last failure of the serial library and at the device node.
    bool checkGone();

    std::unique_ptr<QSerialPort> m_port;
    QString m_name;
    int m_timeout = 10;
    State m_state = State::Open;
    bool m_outOfStep = false;
    QString m_goneReason;
    const std::atomic<bool> *m_stop = nullptr;
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
