#include "Simulator.h"

#include <cstdio>
#include <ctime>

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QTimer>

namespace {

// One byte on a 9600-baud 8N1 line: start bit, eight data bits, stop bit.
constexpr long byteNanoseconds = 10L * 1000000000L / 9600L;

void logLine(const QByteArray &text)
{
    std::fputs(text.constData(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

QByteArray hex(const QByteArray &bytes)
{
    return bytes.toHex(' ');
}

timespec addNanoseconds(timespec time, long long nanoseconds)
{
    nanoseconds += time.tv_nsec;
    time.tv_sec += static_cast<time_t>(nanoseconds / 1000000000LL);
    time.tv_nsec = static_cast<long>(nanoseconds % 1000000000LL);
    return time;
}

} // namespace

Simulator::Simulator(PtyDevice &device, Scenario scenario, QObject *parent)
    : QObject(parent), m_device(device), m_scenario(std::move(scenario))
{
}

void Simulator::start()
{
    m_notifier = new QSocketNotifier(m_device.controllerDescriptor(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &Simulator::onReadable);
    m_endlessTimer = new QTimer(this);
    m_endlessTimer->setInterval(10);
    connect(m_endlessTimer, &QTimer::timeout, this, &Simulator::sendEndlessChunk);
}

void Simulator::onReadable()
{
    const QByteArray arrived = m_device.readAvailable();
    if (arrived.isEmpty()) {
        // No client has the device open: wait a little instead of spinning on the hang-up.
        m_notifier->setEnabled(false);
        QTimer::singleShot(5, this, [this] { m_notifier->setEnabled(true); });
        return;
    }
    m_input += arrived;
    // Frames are 55 len ... checksum with len + 2 bytes in all; anything else is skipped.
    while (!m_input.isEmpty()) {
        const qsizetype start = m_input.indexOf(char(0x55));
        if (start != 0) {
            const QByteArray skipped = start < 0 ? m_input : m_input.left(start);
            logLine("testersim: skipped " + hex(skipped));
            m_input.remove(0, skipped.size());
            continue;
        }
        if (m_input.size() < 2)
            break;
        const int length = static_cast<unsigned char>(m_input[1]);
        if (length < 2 || length > 16) {
            logLine("testersim: skipped " + hex(m_input.left(1)));
            m_input.remove(0, 1);
            continue;
        }
        if (m_input.size() < length + 2)
            break;
        const QByteArray frame = m_input.left(length + 2);
        m_input.remove(0, frame.size());
        handleRequest(frame);
        if (stopping() || m_device.controllerDescriptor() < 0)
            return;
    }
}

void Simulator::handleRequest(const QByteArray &frame)
{
    logLine("testersim: request " + hex(frame));
    unsigned sum = 0;
    for (qsizetype i = 0; i + 1 < frame.size(); ++i)
        sum += static_cast<unsigned char>(frame[i]);
    if (static_cast<char>(sum & 0xFF) != frame.back()) {
        logLine("testersim: bad checksum, no answer");
        return;
    }
    const Scenario::Request request{static_cast<unsigned char>(frame[2]),
                                    static_cast<unsigned char>(frame[3])};
    ++m_requestCount;

    switch (m_mode) {
    case Mode::Garbage: {
        QByteArray noise(1 + QRandomGenerator::global()->bounded(40), '\0');
        for (char &b : noise)
            b = static_cast<char>(QRandomGenerator::global()->bounded(256));
        send(noise, frame.size());
        break;
    }
    case Mode::Endless:
        if (!m_endlessTimer->isActive())
            m_endlessTimer->start();
        break;
    case Mode::Scenario:
        if (frame.size() != 5 || !m_scenario.knows(request)) {
            logLine("testersim: unknown request, no answer");
        } else if (m_scenario.silentAfter() >= 0 && m_requestCount > m_scenario.silentAfter()) {
            logLine("testersim: silent");
        } else {
            const Scenario::Fault fault = m_scenario.fault(request);
            send(m_scenario.reply(request), frame.size(), fault);
            if (fault.kind == Scenario::FaultKind::Vanish) {
                vanish();
                return;
            }
        }
        break;
    }

    if (m_vanishAfter > 0 && m_requestCount >= m_vanishAfter)
        vanish();
}

// The tester unplugged: the device and its link go away and the simulator ends.
void Simulator::vanish()
{
    logLine("testersim: vanishing");
    m_notifier->setEnabled(false);
    m_endlessTimer->stop();
    m_device.close();
    QCoreApplication::quit();
}

void Simulator::sleepMs(int ms)
{
    const timespec pause{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
    timespec rest{};
    timespec next = pause;
    while (!stopping() && nanosleep(&next, &rest) != 0)
        next = rest;
}

// Sends a reply as the tester would: it starts only once the request's `leadBytes` have crossed
// the wire, and each byte takes its own wire time, measured from one start so errors do not add up.
// The pauses of a split reply are added to that schedule.
void Simulator::send(const QByteArray &bytes, int leadBytes, const Scenario::Fault &fault)
{
    if (fault.kind == Scenario::FaultKind::Delay && fault.value > 0)
        sleepMs(fault.value);
    qsizetype count = bytes.size();
    if (fault.kind == Scenario::FaultKind::Vanish)
        count = fault.value > 0 ? qMin<qsizetype>(fault.value, bytes.size()) : bytes.size() / 2;
    const auto pauseBefore = [&fault](qsizetype index) {
        if (fault.kind != Scenario::FaultKind::Split || index == 0)
            return 0;
        return fault.at <= 0 || index == fault.at ? fault.value : 0;
    };
    if (!m_pacing) {
        // Runs of bytes between pauses go out in one write, as a fast device would send them.
        qsizetype runStart = 0;
        for (qsizetype i = 1; i <= count && !stopping(); ++i) {
            if (i < count && pauseBefore(i) == 0)
                continue;
            if (!m_device.writeAll(bytes.mid(runStart, i - runStart), m_stop))
                return;
            if (i < count)
                sleepMs(pauseBefore(i));
            runStart = i;
        }
        return;
    }
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    long long pauses = 0;
    for (qsizetype i = 0; i < count && !stopping(); ++i) {
        pauses += pauseBefore(i) * 1000000LL;
        const timespec due =
            addNanoseconds(start, (leadBytes + i + 1) * static_cast<long long>(byteNanoseconds) + pauses);
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) != 0 && !stopping()) {
        }
        if (!m_device.writeAll(bytes.mid(i, 1), m_stop))
            return;
    }
}

void Simulator::sendEndlessChunk()
{
    // 10 ms of line time per tick when paced; without pacing as much as the device side takes.
    QByteArray chunk(m_pacing ? 10 : 4096, '\0');
    for (char &b : chunk)
        b = static_cast<char>(m_endlessByte++);
    m_device.writeSome(chunk);
}
