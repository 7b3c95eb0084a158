#include "CQuilletApp.h"

#include <algorithm>
#include <cstring>

#include <QDeadlineTimer>

#include "Codec.h"
#include "DocumentComposer.h"
#include "RunLogLine.h"

using namespace HelperProtocol;

CQuilletApp::CQuilletApp(const Options &options) : m_options(options) {}

void CQuilletApp::run()
{
    m_runText = "GetSaveData Error";

    m_socket.connectToHost(m_options.host, m_options.port);
    if (!m_socket.waitForConnected(m_options.connectTimeoutMs)) {
        m_runText = RunLogLine::format("Working Socket Connect error, last error:%d", lastError());
        m_socket.abort();
    } else {
        SaveData data;
        if (!getSaveData(data)) {
            m_runText = "Working GetSaveData error";
        } else {
            // The outcome goes out while the link is still open: kestrel closes it right after
            // answering SetSaveResult.
            const DocumentComposer::Outcome outcome = DocumentComposer::compose(data);
            sendRunLogLine(outcome.runLogLine);
            if (setSaveResult())
                m_runText = outcome.saved ? "Working Successful" : "Working SaveDataToDoc error";
            else
                m_runText = "Working SetSaveResult error";
        }
    }
    // Delivered only while the link is still open, i.e. not after a completed SetSaveResult.
    sendRunLogLine(m_runText);
    m_socket.abort();
}

bool CQuilletApp::getSaveData(SaveData &data)
{
    GetSaveDataRequest request = make<GetSaveDataRequest>(GetSaveDataRequestId);
    request.accessCode = accessCode;
    if (!sendAll(encode(request))) {
        writeRunLog("GetSaveData Socket Send error, last error:%d", lastError());
        return false;
    }
    QByteArray wire;
    if (!receiveExactly(sizeof(GetSaveDataResponse), wire)) {
        writeRunLog("GetSaveData Socket Receive error, last error:%d", lastError());
        return false;
    }
    GetSaveDataResponse response;
    if (!decode(wire, response)) {
        Header header;
        peekHeader(wire, header);
        writeRunLog("GetSaveData error, invalid response, msgLength:%u, msgCommandId:%u", header.msgLength,
                    header.msgCommandId);
        return false;
    }
    if (response.result != ResultSaveDataFollows) {
        writeRunLog("GetSaveData error, not save data, result:%d", static_cast<int>(response.result));
        return false;
    }
    data.title = Codec::fromField(response.title, sizeof(response.title));
    data.header = Codec::fromField(response.pageHeader, sizeof(response.pageHeader));
    data.footer = Codec::fromField(response.pageFooter, sizeof(response.pageFooter));
    data.picturePath = Codec::fromField(response.picturePath, sizeof(response.picturePath));
    data.docPath = Codec::fromField(response.docPath, sizeof(response.docPath));
    return true;
}

bool CQuilletApp::setSaveResult()
{
    if (!sendAll(encode(make<SetSaveResultRequest>(SetSaveResultRequestId)))) {
        writeRunLog("SetSaveResult Socket Send error, last error:%d", lastError());
        return false;
    }
    QByteArray wire;
    if (!receiveExactly(sizeof(SetSaveResultResponse), wire)) {
        writeRunLog("SetSaveResult Socket Receive error, last error:%d", lastError());
        return false;
    }
    m_socket.abort();
    return true;
}

void CQuilletApp::writeRunLog(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const QByteArray line = RunLogLine::formatList(format, arguments);
    va_end(arguments);
    sendRunLogLine(line);
}

void CQuilletApp::sendRunLogLine(const QByteArray &line)
{
    if (m_socket.state() != QAbstractSocket::ConnectedState)
        return;
    WriteRunLogRequest request = make<WriteRunLogRequest>(WriteRunLogRequestId);
    // The field holds 1023 bytes and its zero; a longer line is cut, possibly inside a GBK pair.
    const qsizetype length = std::min<qsizetype>(line.size(), sizeof(request.text) - 1);
    std::memcpy(request.text, line.constData(), static_cast<size_t>(length));
    if (!sendAll(encode(request)))
        return;
    QByteArray answer;
    receiveExactly(sizeof(WriteRunLogResponse), answer);
}

bool CQuilletApp::sendAll(const QByteArray &bytes)
{
    if (m_socket.state() != QAbstractSocket::ConnectedState || m_socket.write(bytes) != bytes.size())
        return false;
    const QDeadlineTimer deadline(m_options.receiveTimeoutMs);
    while (m_socket.bytesToWrite() > 0) {
        if (!m_socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime())))
            return false;
    }
    return true;
}

bool CQuilletApp::receiveExactly(qsizetype length, QByteArray &bytes)
{
    bytes.clear();
    const QDeadlineTimer deadline(m_options.receiveTimeoutMs);
    while (bytes.size() < length) {
        if (m_socket.bytesAvailable() == 0) {
            if (m_socket.state() != QAbstractSocket::ConnectedState || deadline.hasExpired())
                return false;
            // A false return may still leave bytes that arrived together with the peer's close.
            if (!m_socket.waitForReadyRead(static_cast<int>(deadline.remainingTime())) &&
                m_socket.bytesAvailable() == 0)
                return false;
        }
        bytes += m_socket.read(length - bytes.size());
    }
    return true;
}

int CQuilletApp::lastError() const
{
    return static_cast<int>(m_socket.error());
}
