#pragma once

#include <cstdint>

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QTimer>

#include "HelperProtocol.h"

class QTcpSocket;

// kestrel's side of one helper connection, as a test peer: listens on a free local port, answers
// GetSaveData with the configured result and texts, writes SetSaveResult's answer and closes the
// link, and answers WriteRunLog once logged in, recording every request in arrival order.
class FakeKestrel final : public QObject
{
    Q_OBJECT

public:
    struct Request
    {
        std::uint32_t command = 0;
        QByteArray text; // WriteRunLog text, up to its zero byte
    };

    explicit FakeKestrel(QObject *parent = nullptr);

    bool listen();
    quint16 port() const { return m_server.serverPort(); }

    // What the next GetSaveData receives.
    std::uint32_t result = HelperProtocol::ResultSaveDataFollows;
    QString title;
    QString header;
    QString footer;
    QString picturePath;
    QString docPath;
    // Sends every answer in pieces of this many bytes, a few milliseconds apart.
    int chunkSize = 0;
    // Accepts the connection but never answers.
    bool silent = false;
    // Leaves SetSaveResult unanswered, as a kestrel whose service manager is stuck would.
    bool answerSetSaveResult = true;

    QList<Request> requests;
    QList<std::uint32_t> commands() const;
    QList<QByteArray> runLogLines() const;
    bool clientClosed() const { return m_clientClosed; }

signals:
    void requestReceived();

private:
    void onNewConnection();
    void onReadyRead();
    void handle(const QByteArray &message);
    void send(const QByteArray &bytes, bool closeAfter);
    void sendNextPiece();

    struct Piece
    {
        QByteArray bytes;
        bool closeAfter = false;
    };

    QTcpServer m_server;
    QPointer<QTcpSocket> m_socket;
    QByteArray m_buffer;
    QList<Piece> m_outbox;
    QTimer m_pacer;
    bool m_linked = false;
    bool m_clientClosed = false;
};
