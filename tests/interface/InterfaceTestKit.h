#pragma once

#include <cstdint>
#include <functional>

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QTcpSocket>

#include "HelperProtocol.h"
#include "MessageReceiver.h"

class TestAppDir;

namespace InterfaceTestKit {

constexpr int waitMs = 15000;

QByteArray getSaveDataRequest(std::uint32_t accessCode = HelperProtocol::accessCode);
QByteArray setSaveResultRequest();
QByteArray writeRunLogRequest(const QByteArray &text);
// Just the three header words, for lengths and commands the protocol does not have.
QByteArray rawHeader(std::uint32_t length, std::uint32_t command, std::uint32_t interfaceId = 0);

// The texts of one log category's records (time stamps and banners left out), as written so far.
QStringList logTexts(const TestAppDir &app, const QString &category = QStringLiteral("Run"));
// Waits until a record starting with prefix has been written; returns it (empty on time-out).
QString waitForRunLine(const TestAppDir &app, const QString &prefix,
                       const QString &category = QStringLiteral("Run"));
// Writes a marker record to every category and waits for it, so that every record posted
// before is on disk.
QStringList flushedRunLog(const TestAppDir &app, const QString &category = QStringLiteral("Run"));

// What would let another machine reach a listener on port; empty when it is bound to the loopback
// alone. It reads the kernel's socket table and tries 127.0.0.2, an address of the loopback range the
// listener does not hold: only a socket bound to every address accepts that. No packet leaves the
// loopback.
QStringList reachableBeyondLoopback(quint16 port);

// quillet as the service sees it: a blocking raw socket speaking the helper protocol, used from
// the test thread while the service runs in its own.
class HelperClient final
{
public:
    bool connectTo(quint16 port);
    bool send(const QByteArray &wire);
    // Exactly n bytes, or what arrived before the time-out or the disconnection.
    QByteArray receive(qsizetype n, int timeoutMs = waitMs);
    bool waitForDisconnect(int timeoutMs = waitMs);
    // Sends GetSaveData and reads the 3544-byte answer; false if it did not come whole.
    bool login(HelperProtocol::GetSaveDataResponse &response,
               std::uint32_t accessCode = HelperProtocol::accessCode);
    bool login();
    QTcpSocket &socket() { return m_socket; }

private:
    QTcpSocket m_socket;
};

// Answers GetSaveData and SetSaveResult the way the service manager does, by posting the response
// to the interface manager; records every request it is given. Called from the manager's thread.
class FakeService final : public MessageReceiver
{
public:
    struct Job
    {
        QString title, header, footer, picturePath, docPath;
    };

    bool postMessage(const void *message, std::uint32_t length) override;

    void addJob(const Job &job);
    // Every GetSaveData gets a job, without the queue ever running dry (benchmarks).
    void setAlwaysHasJob(const Job &job);
    // Keeps no copies of the requests (long benchmark runs).
    void setRecording(bool recording);
    void clear();
    QList<QByteArray> received() const;
    int receivedCount(std::uint32_t command) const;

private:
    mutable QMutex m_lock;
    QList<QByteArray> m_received;
    QList<Job> m_jobs;
    bool m_alwaysHasJob = false;
    bool m_recording = true;
    Job m_standingJob;
};

} // namespace InterfaceTestKit
