#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "HelperProtocol.h"
#include "Singleton.h"
#include "VirtualManager.h"

class MessageReceiver;
class QTcpServer;
class QTcpSocket;
class QuilletInterface;
class TcpInterface;

// kestrel's local TCP service: listens on the loopback address for quillet, hands every accepted
// connection to a free link of a pool of ten, and routes the service side's answers (34, 36) to
// the link named in them. The server and the links live in the manager's own thread.
class InterfaceManager final : public VirtualManager, public Singleton<InterfaceManager>
{
    Q_OBJECT

public:
    static constexpr std::uint32_t poolSize = 10;
    static constexpr std::uint32_t maxPendingConnections = 10;
    static constexpr std::uint32_t quilletCodeType = 1;
    // Seconds a connection may take to send its login request, and a started message to complete;
    // a real helper sends each request whole, right after connecting.
    static constexpr std::uint32_t loginLimit = 5;
    static constexpr std::uint32_t partialMessageLimit = 5;
    // Seconds a link may stay silent once logged in: as long as quillet itself waits for an answer.
    static constexpr std::uint32_t quietLimit = HelperProtocol::helperReceiveTimeoutMs / 1000;

    InterfaceManager();
    ~InterfaceManager() override;
    Q_DISABLE_COPY_MOVE(InterfaceManager)

    bool initialize() override;
    bool exit() override;

    // Who answers GetSaveData and SetSaveResult (the service manager); read when the pool is built,
    // so set it before active().
    void setServiceReceiver(MessageReceiver *receiver);
    // The port listened on from the next active(); 0 lets the system choose one (tests).
    void setListenPort(std::uint16_t port);
    // The port actually listened on; 0 while there is no listen server.
    std::uint16_t listenPort() const { return m_listeningPort.load(); }

public slots:
    void onAccept();

protected:
    void onThreadStarted(const MessageHeader *message) override;
    void onThreadStopping(const MessageHeader *message) override;

private:
    struct ServerInfo
    {
        std::uint16_t listenPort = 0;
        std::uint32_t maxPendingConnections = 0;
        std::uint32_t codeType = 0;
    };

    bool createTcpServer(const ServerInfo &info);
    bool closeTcpServer(QTcpServer *server);
    TcpInterface *getNonuseTcpInterface(std::uint32_t codeType);
    // Only a program of the user kestrel runs as may use the service.
    bool peerIsOwnUser(QTcpSocket *socket);
    void onSendMsgToInterface(const HelperProtocol::Header *message);

    std::map<QTcpServer *, ServerInfo> m_serverInfoMap;
    std::vector<std::unique_ptr<QuilletInterface>> m_pool;
    std::atomic<MessageReceiver *> m_serviceReceiver{nullptr};
    std::atomic<std::uint16_t> m_configuredPort{HelperProtocol::port};
    std::atomic<std::uint16_t> m_listeningPort{0};
};
