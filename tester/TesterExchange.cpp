#include "TesterExchange.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>

#include "LogManager.h"
#include "TesterPort.h"
#include "TesterProtocol.h"

int guardTimeMs(int timeout)
{
    return qMax(2 * timeout, minimumGuardMs);
}

namespace {

using TesterProtocol::Variant;

// Run-log lines stay English; they are read by maintainers and tools.
QString logText(const char *text)
{
    return QString::fromUtf8(text);
}

// A line that never falls silent cannot be brought back in step: the guard gives up after this long
// or after this many bytes, and the next reply's own checks then fail.
int guardLimitMs(int timeout)
{
    return qMax(1000, 4 * guardTimeMs(timeout));
}
constexpr qsizetype guardLimitBytes = TesterPort::maxReplyBytes;

struct ReadOutcome
{
    bool complete = false; // as long as its length byte says
    bool capped = false;   // stopped at maxReplyBytes
};

// One reply: up to the size its length byte gives, else until the line is silent for T.
// A USB serial adapter, like a pseudo-terminal, reports a request flushed while its bytes may still be
// on their way; the tester's silence before its first byte counts only once the request and that
// byte have had their time on the line (10 bits a byte at 9600 baud).
int lineTimeMs(qsizetype bytes)
{
    constexpr qint64 bitsPerSecond = 9600;
    return static_cast<int>((bytes * 10 * 1000 + bitsPerSecond - 1) / bitsPerSecond);
}

ReadOutcome readReply(TesterPort &port, QByteArray &reply, qsizetype requestBytes)
{
    reply.clear();
    qsizetype frameSize = 0;
    for (;;) {
        qsizetype wanted = TesterPort::maxReplyBytes - reply.size();
        if (frameSize == 0)
            wanted = 2 - reply.size();
        else if (frameSize > 0)
            wanted = frameSize - reply.size();
        reply += port.take(wanted);
        if (frameSize == 0)
            frameSize = TesterProtocol::replyFrameSize(reply);
        if (frameSize > 0 && reply.size() >= frameSize)
            return ReadOutcome{true, false};
        if (reply.size() >= TesterPort::maxReplyBytes)
            return ReadOutcome{false, true};
        const int allowance = reply.isEmpty() ? lineTimeMs(requestBytes + 1) : 0;
        if (!port.waitForBytes(port.timeout() + allowance))
            return ReadOutcome{};
    }
}

// Whatever is on the line before a request. Out of step, it waits until the line has been silent
// for the guard time; the dump keeps the first maxReplyBytes of what was dropped.
QByteArray discardStale(TesterPort &port)
{
    if (!port.isOutOfStep())
        return port.take(TesterPort::maxReplyBytes);
    port.setOutOfStep(false);
    QByteArray kept;
    qsizetype dropped = 0;
    const int guard = guardTimeMs(port.timeout());
    const QDeadlineTimer limit(guardLimitMs(port.timeout()));
    for (;;) {
        const QByteArray bytes = port.take(guardLimitBytes);
        dropped += bytes.size();
        kept += bytes.first(qMin(bytes.size(), TesterPort::maxReplyBytes - kept.size()));
        if (dropped >= guardLimitBytes || limit.hasExpired())
            break;
        if (bytes.isEmpty() &&
            !port.waitForBytes(static_cast<int>(qMin<qint64>(guard, limit.remainingTime()))))
            break;
    }
    return kept;
}

// Logs the one line of a device that went away; true when the exchange must end.
bool ended(const TesterPort &port)
{
    if (port.state() == TesterPort::State::Gone)
        LogManager::instance()->writeRunLog(
            logText("Serial Port Device Gone, Port:%1, Reason:%2").arg(port.name(), port.goneReason()));
    return port.state() != TesterPort::State::Open;
}

bool exchange(TesterPort &port, QByteArray &request, QByteArray &reply, Variant variant)
{
    using namespace TesterProtocol;
    LogManager *log = LogManager::instance();
    const QString name = port.name();
    const bool dumps = variant == Variant::Query;

    // Stopped, or gone and already logged: nothing more is tried.
    if (port.state() != TesterPort::State::Open)
        return false;
    if (!isValidRequest(request)) {
        log->writeRunLog(logText("Write Serial Port failed, Req Error, Port:%1").arg(name));
        return false;
    }
    request.append(static_cast<char>(checksum(request)));

    // Bytes left from an earlier reply would otherwise be read as this one's reply.
    const QByteArray stale = discardStale(port);
    if (dumps && !stale.isEmpty())
        log->writeDebugLog(logText("Discard Serial Port Data, Port:%1, Data: %2").arg(name, hexDump(stale)));
    if (ended(port))
        return false;

    if (port.write(request) == -1) {
        log->writeRunLog(logText("Write Serial Port failed, Port:%1").arg(name));
        return false;
    }
    port.flush();
    if (ended(port))
        return false;
    if (dumps)
        log->writeDebugLog(logText("Write Serial Port Data, Port:%1, Data: %2").arg(name, hexDump(request)));

    const ReadOutcome outcome = readReply(port, reply, request.size());
    if (port.state() == TesterPort::State::Stopped)
        return false;
    if (dumps)
        log->writeDebugLog(logText("Read Serial Port Data, Port:%1, Data: %2").arg(name, hexDump(reply)));
    if (ended(port))
        return false;
    if (outcome.capped)
        log->writeRunLog(logText("Read Serial Port Data too long, Port:%1, Kept Bytes:%2")
                             .arg(name)
                             .arg(TesterPort::maxReplyBytes));

    const ReplyCheck check = checkReply(reply, variant);
    // A reply that did not end where its length byte said may still have bytes on the way.
    port.setOutOfStep(check != ReplyCheck::Ok || !outcome.complete);
    switch (check) {
    case ReplyCheck::CommunicationError:
        log->writeRunLog(logText("Serial Port Communication Error, Port:%1").arg(name));
        return false;
    case ReplyCheck::DataError:
        log->writeRunLog(logText("Serial Port Data Error, Port:%1").arg(name));
        return false;
    case ReplyCheck::Ok:
        break;
    }
    request.clear();
    return true;
}

} // namespace

bool exchangeFrame(TesterPort &port, QByteArray &request, QByteArray &reply)
{
    return exchange(port, request, reply, Variant::Query);
}

bool probeExchange(TesterPort &port, QByteArray &request, QByteArray &reply)
{
    return exchange(port, request, reply, Variant::Probe);
}
