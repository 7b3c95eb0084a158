#include "FakeKestrel.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

#include "Codec.h"

using namespace HelperProtocol;

FakeKestrel::FakeKestrel(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &FakeKestrel::onNewConnection);
    m_pacer.setInterval(5);
    connect(&m_pacer, &QTimer::timeout, this, &FakeKestrel::sendNextPiece);
}

bool FakeKestrel::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QList<std::uint32_t> FakeKestrel::commands() const
{
    QList<std::uint32_t> list;
    for (const Request &request : requests)
        list.append(request.command);
    return list;
}

QList<QByteArray> FakeKestrel::runLogLines() const
{
    QList<QByteArray> lines;
    for (const Request &request : requests)
        if (request.command == WriteRunLogRequestId)
            lines.append(request.text);
    return lines;
}

void FakeKestrel::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        if (m_socket) { // one export, one connection
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_socket = socket;
        connect(socket, &QTcpSocket::readyRead, this, &FakeKestrel::onReadyRead);
        connect(socket, &QTcpSocket::disconnected, this, [this] { m_clientClosed = true; });
    }
}

void FakeKestrel::onReadyRead()
{
    m_buffer += m_socket->readAll();
    Header wireHeader;
    while (peekHeader(m_buffer, wireHeader) &&
           m_buffer.size() >= static_cast<qsizetype>(wireHeader.msgLength)) {
        if (wireHeader.msgLength < headerLength) { // nothing sane can follow
            m_buffer.clear();
            return;
        }
        const QByteArray message = m_buffer.left(wireHeader.msgLength);
        m_buffer.remove(0, wireHeader.msgLength);
        handle(message);
    }
}

void FakeKestrel::handle(const QByteArray &message)
{
    Header wireHeader;
    peekHeader(message, wireHeader);
    Request request;
    request.command = wireHeader.msgCommandId;
    WriteRunLogRequest log;
    if (decode(message, log))
        request.text = QByteArray(log.text, qstrnlen(log.text, sizeof(log.text)));
    requests.append(request);
    emit requestReceived();
    if (silent)
        return;

    switch (wireHeader.msgCommandId) {
    case GetSaveDataRequestId: {
        GetSaveDataRequest getRequest;
        GetSaveDataResponse response = make<GetSaveDataResponse>(GetSaveDataResponseId);
        const bool granted = decode(message, getRequest) && getRequest.accessCode == accessCode;
        response.result = granted ? result : ResultAccessDenied;
        if (response.result == ResultSaveDataFollows) {
            Codec::toField(title, response.title, sizeof(response.title));
            Codec::toField(header, response.pageHeader, sizeof(response.pageHeader));
            Codec::toField(footer, response.pageFooter, sizeof(response.pageFooter));
            Codec::toField(picturePath, response.picturePath, sizeof(response.picturePath));
            Codec::toField(docPath, response.docPath, sizeof(response.docPath));
        }
        m_linked = response.result != ResultAccessDenied;
        send(encode(response), !m_linked);
        break;
    }
    case SetSaveResultRequestId:
        if (m_linked && answerSetSaveResult)
            send(encode(make<SetSaveResultResponse>(SetSaveResultResponseId)), true);
        break;
    case WriteRunLogRequestId:
        if (m_linked)
            send(encode(make<WriteRunLogResponse>(WriteRunLogResponseId)), false);
        break;
    default:
        break;
    }
}

void FakeKestrel::send(const QByteArray &bytes, bool closeAfter)
{
    if (chunkSize <= 0 || (bytes.size() <= chunkSize && m_outbox.isEmpty())) {
        m_socket->write(bytes);
        if (closeAfter)
            m_socket->disconnectFromHost();
        return;
    }
    // Pieces go out one per timer tick, in order, so that they reach the peer as separate segments.
    for (qsizetype offset = 0; offset < bytes.size(); offset += chunkSize)
        m_outbox.append({bytes.mid(offset, chunkSize), closeAfter && offset + chunkSize >= bytes.size()});
    if (!m_pacer.isActive())
        m_pacer.start();
}

void FakeKestrel::sendNextPiece()
{
    if (m_outbox.isEmpty() || !m_socket) {
        m_pacer.stop();
        return;
    }
    const Piece piece = m_outbox.takeFirst();
    m_socket->write(piece.bytes);
    m_socket->flush();
    if (piece.closeAfter)
        m_socket->disconnectFromHost();
}
