#include "InterfaceTestKit.h"

#include <cstring>

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QRegularExpression>
#include <QTest>
#include <QUuid>
#include <QtEndian>

#include "Codec.h"
#include "InterfaceManager.h"
#include "LogFlag.h"
#include "LogManager.h"
#include "SocketTable.h"
#include "TestAppDir.h"

using namespace HelperProtocol;

namespace InterfaceTestKit {

namespace {

template <typename M> QByteArray wire(const M &message)
{
    return encode(message);
}

} // namespace

QByteArray getSaveDataRequest(std::uint32_t code)
{
    auto request = make<GetSaveDataRequest>(GetSaveDataRequestId);
    request.accessCode = code;
    return wire(request);
}

QByteArray setSaveResultRequest()
{
    return wire(make<SetSaveResultRequest>(SetSaveResultRequestId));
}

QByteArray writeRunLogRequest(const QByteArray &text)
{
    auto request = make<WriteRunLogRequest>(WriteRunLogRequestId);
    std::memcpy(request.text, text.constData(), static_cast<size_t>(std::min<qsizetype>(text.size(), 1024)));
    return wire(request);
}

QByteArray rawHeader(std::uint32_t length, std::uint32_t command, std::uint32_t interfaceId)
{
    QByteArray bytes(12, '\0');
    qToLittleEndian<std::uint32_t>(length, bytes.data());
    qToLittleEndian<std::uint32_t>(command, bytes.data() + 4);
    qToLittleEndian<std::uint32_t>(interfaceId, bytes.data() + 8);
    return bytes;
}

QStringList logTexts(const TestAppDir &app, const QString &category)
{
    static const QRegularExpression record(
        QStringLiteral("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3}  (.*)$"),
        QRegularExpression::DotMatchesEverythingOption);
    QStringList texts;
    for (const QString &line : app.logLines(category)) {
        const QRegularExpressionMatch match = record.match(line);
        if (match.hasMatch())
            texts << match.captured(1);
    }
    return texts;
}

QString waitForRunLine(const TestAppDir &app, const QString &prefix, const QString &category)
{
    QDeadlineTimer deadline(waitMs);
    while (!deadline.hasExpired()) {
        LogManager::instance()->requestWriteOut();
        QTest::qWait(10);
        for (const QString &text : logTexts(app, category))
            if (text.startsWith(prefix))
                return text;
        QTest::qWait(100);
    }
    return {};
}

QStringList flushedRunLog(const TestAppDir &app, const QString &category)
{
    const QString marker = QStringLiteral("flush marker %1").arg(QUuid::createUuid().toString());
    LogManager::instance()->writeLog(LogAll, marker);
    LogManager::instance()->requestWriteOut();
    QDeadlineTimer deadline(waitMs);
    while (!deadline.hasExpired()) {
        const QStringList texts = logTexts(app, category);
        if (texts.contains(marker))
            return texts;
        QTest::qWait(100);
    }
    return {};
}

QStringList reachableBeyondLoopback(quint16 port)
{
    QStringList faults;
    if (const auto listening = SocketTable::listeningAddresses(port)) {
        if (listening->isEmpty())
            faults << QStringLiteral("nothing listens on port %1").arg(port);
        for (const QHostAddress &address : *listening)
            if (!address.isLoopback())
                faults << QStringLiteral("listens on %1").arg(address.toString());
    } else {
        qInfo("No socket table on this system; only the connection to 127.0.0.2 is tried");
    }

    QTcpSocket probe;
    probe.connectToHost(QHostAddress(QStringLiteral("127.0.0.2")), port);
    if (probe.waitForConnected(waitMs))
        faults << QStringLiteral("accepts a connection to 127.0.0.2");
    else if (probe.error() != QAbstractSocket::ConnectionRefusedError)
        faults << QStringLiteral("127.0.0.2 neither accepted nor refused: %1").arg(probe.errorString());
    return faults;
}

bool HelperClient::connectTo(quint16 port)
{
    m_socket.connectToHost(QHostAddress(QHostAddress::LocalHost), port);
    return m_socket.waitForConnected(waitMs);
}

bool HelperClient::send(const QByteArray &bytes)
{
    if (m_socket.write(bytes) != bytes.size())
        return false;
    while (m_socket.bytesToWrite() > 0) {
        if (!m_socket.waitForBytesWritten(waitMs))
            return false;
    }
    return true;
}

QByteArray HelperClient::receive(qsizetype n, int timeoutMs)
{
    QByteArray bytes;
    QDeadlineTimer deadline(timeoutMs);
    while (bytes.size() < n) {
        bytes += m_socket.read(n - bytes.size());
        if (bytes.size() >= n || deadline.hasExpired())
            break;
        if (m_socket.bytesAvailable() == 0 &&
            !m_socket.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
            break;
    }
    return bytes;
}

bool HelperClient::waitForDisconnect(int timeoutMs)
{
    if (m_socket.state() == QAbstractSocket::UnconnectedState)
        return true;
    // Reading drains what is still due before the close shows.
    QDeadlineTimer deadline(timeoutMs);
    while (m_socket.state() != QAbstractSocket::UnconnectedState && !deadline.hasExpired())
        m_socket.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
    return m_socket.state() == QAbstractSocket::UnconnectedState;
}

bool HelperClient::login(GetSaveDataResponse &response, std::uint32_t code)
{
    if (!send(getSaveDataRequest(code)))
        return false;
    return decode(receive(sizeof(GetSaveDataResponse)), response);
}

bool HelperClient::login()
{
    GetSaveDataResponse response;
    return login(response) && response.result != ResultAccessDenied;
}

bool FakeService::postMessage(const void *message, std::uint32_t length)
{
    Header header;
    std::memcpy(&header, message, sizeof(header));

    QMutexLocker locker(&m_lock);
    if (m_recording)
        m_received.append(QByteArray(static_cast<const char *>(message), length));
    if (header.msgCommandId == GetSaveDataRequestId && length >= sizeof(GetSaveDataRequest)) {
        GetSaveDataRequest request;
        std::memcpy(&request, message, sizeof(request));
        auto response = make<GetSaveDataResponse>(GetSaveDataResponseId);
        response.header.interfaceId = request.header.interfaceId;
        if (request.accessCode != accessCode) {
            response.result = ResultAccessDenied;
        } else if (!m_alwaysHasJob && m_jobs.isEmpty()) {
            response.result = ResultNoExportPending;
        } else {
            const Job job = m_alwaysHasJob ? m_standingJob : m_jobs.takeFirst();
            Codec::toField(job.title, response.title, sizeof(response.title));
            Codec::toField(job.header, response.pageHeader, sizeof(response.pageHeader));
            Codec::toField(job.footer, response.pageFooter, sizeof(response.pageFooter));
            Codec::toField(job.picturePath, response.picturePath, sizeof(response.picturePath));
            Codec::toField(job.docPath, response.docPath, sizeof(response.docPath));
            response.result = ResultSaveDataFollows;
        }
        locker.unlock();
        return InterfaceManager::instance()->postMessage(&response, sizeof(response));
    }
    if (header.msgCommandId == SetSaveResultRequestId) {
        auto response = make<SetSaveResultResponse>(SetSaveResultResponseId);
        response.header.interfaceId = header.interfaceId;
        locker.unlock();
        return InterfaceManager::instance()->postMessage(&response, sizeof(response));
    }
    return true;
}

void FakeService::addJob(const Job &job)
{
    QMutexLocker locker(&m_lock);
    m_jobs.append(job);
}

void FakeService::setAlwaysHasJob(const Job &job)
{
    QMutexLocker locker(&m_lock);
    m_alwaysHasJob = true;
    m_standingJob = job;
}

void FakeService::setRecording(bool recording)
{
    QMutexLocker locker(&m_lock);
    m_recording = recording;
}

void FakeService::clear()
{
    QMutexLocker locker(&m_lock);
    m_received.clear();
    m_jobs.clear();
    m_alwaysHasJob = false;
}

QList<QByteArray> FakeService::received() const
{
    QMutexLocker locker(&m_lock);
    return m_received;
}

int FakeService::receivedCount(std::uint32_t command) const
{
    QMutexLocker locker(&m_lock);
    int count = 0;
    for (const QByteArray &message : m_received) {
        Header header;
        std::memcpy(&header, message.constData(), sizeof(header));
        if (header.msgCommandId == command)
            ++count;
    }
    return count;
}

} // namespace InterfaceTestKit
