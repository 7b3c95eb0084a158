#pragma once

#include <csignal>

#include <QByteArray>
#include <QObject>

#include "PtyDevice.h"
#include "Scenario.h"

class QSocketNotifier;
class QTimer;

// Answers tester requests arriving on the pty from a scenario, paced like a 9600-baud line unless
// pacing is off. Every request is logged to stderr in hex.
class Simulator final : public QObject
{
    Q_OBJECT

public:
    enum class Mode
    {
        Scenario, // answers from the scenario
        Garbage,  // answers every request with random bytes
        Endless,  // after the first request, sends bytes without end
    };

    Simulator(PtyDevice &device, Scenario scenario, QObject *parent = nullptr);

    void setPacing(bool on) { m_pacing = on; }
    void setMode(Mode mode) { m_mode = mode; }
    // Closes the device and quits after answering this many requests (0: never).
    void setVanishAfter(int count) { m_vanishAfter = count; }
    // Set from the signal handler; long sends stop when it becomes non-zero.
    void setStopFlag(const volatile std::sig_atomic_t *stop) { m_stop = stop; }

    void start();

private:
    void onReadable();
    void handleRequest(const QByteArray &frame);
    // `fault` shapes the timing: a pause before the reply (Delay), pauses inside it (Split), or
    // only its first bytes (Vanish).
    void send(const QByteArray &bytes, int leadBytes, const Scenario::Fault &fault = {});
    void vanish();
    void sendEndlessChunk();
    bool stopping() const { return m_stop && *m_stop; }
    void sleepMs(int ms);

    PtyDevice &m_device;
    Scenario m_scenario;
    Mode m_mode = Mode::Scenario;
    bool m_pacing = true;
    int m_vanishAfter = 0;
    int m_requestCount = 0;
    QByteArray m_input;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_endlessTimer = nullptr;
    quint8 m_endlessByte = 0;
    const volatile std::sig_atomic_t *m_stop = nullptr;
};
