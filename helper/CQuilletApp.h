#pragma once

#include <cstdarg>
#include <cstdint>

#include <QByteArray>
#include <QString>
#include <QTcpSocket>

#include "HelperProtocol.h"
#include "SaveData.h"

// One export run of the helper: connect to kestrel, fetch the save data, write the document,
// report the outcome and end the export. Every failure becomes one run-log line sent to kestrel;
// nothing is shown and nothing but the document is written.
class CQuilletApp final
{
    Q_DISABLE_COPY_MOVE(CQuilletApp)

public:
    struct Options
    {
        QString host = QStringLiteral("127.0.0.1");
        std::uint16_t port = HelperProtocol::port;
        int connectTimeoutMs = 5000;
        int receiveTimeoutMs = HelperProtocol::helperReceiveTimeoutMs;
    };

    CQuilletApp() : CQuilletApp(Options()) {}
    explicit CQuilletApp(const Options &options);

    // The whole flow, blocking; returns when the run is over.
    void run();

    // The last line given to writeRunLog, delivered or not.
    QByteArray runText() const { return m_runText; }

private:
    bool getSaveData(SaveData &data);
    bool setSaveResult();
    void writeRunLog(const char *format, ...) __attribute__((format(printf, 2, 3)));
    void sendRunLogLine(const QByteArray &line);

    bool sendAll(const QByteArray &bytes);
    // Reads exactly length bytes within the receive bound, however the peer's segments fall.
    bool receiveExactly(qsizetype length, QByteArray &bytes);
    int lastError() const;

    Options m_options;
    QTcpSocket m_socket;
    QByteArray m_runText;
};
