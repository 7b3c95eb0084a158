#include "InterfaceManager.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include "LogFlag.h"
#include "LogManager.h"
#include "PeerUser.h"
#include "QuilletInterface.h"

namespace {

void writeLog(int flags, const QString &text)
{
    LogManager::instance()->writeLog(flags, text);
}

QString address(const void *object)
{
    return QStringLiteral("%1").arg(reinterpret_cast<quintptr>(object), 8, 16, QLatin1Char('0'));
}

} // namespace

InterfaceManager::InterfaceManager() = default;

InterfaceManager::~InterfaceManager() = default;

bool InterfaceManager::initialize()
{
    if (!VirtualManager::initialize())
        return false;
    registerMessageHandler(HelperProtocol::GetSaveDataResponseId, &InterfaceManager::onSendMsgToInterface);
    registerMessageHandler(HelperProtocol::SetSaveResultResponseId, &InterfaceManager::onSendMsgToInterface);
    return true;
}

bool InterfaceManager::exit()
{
    if (!VirtualManager::exit())
        return false;
    unregisterMessageHandler(HelperProtocol::GetSaveDataResponseId);
    unregisterMessageHandler(HelperProtocol::SetSaveResultResponseId);
    return true;
}

void InterfaceManager::setServiceReceiver(MessageReceiver *receiver)
{
    m_serviceReceiver.store(receiver);
}

void InterfaceManager::setListenPort(std::uint16_t port)
{
    m_configuredPort.store(port);
}

void InterfaceManager::onThreadStarted(const MessageHeader *message)
{
    VirtualManager::onThreadStarted(message);
    // The links exist before the port opens, so no connection can arrive to an empty pool.
    m_pool.reserve(poolSize);
    for (std::uint32_t id = 0; id < poolSize; ++id) {
        m_pool.push_back(std::make_unique<QuilletInterface>(id, m_serviceReceiver.load()));
        m_pool.back()->setTimeLimits(partialMessageLimit, quietLimit);
    }
    createTcpServer(ServerInfo{m_configuredPort.load(), maxPendingConnections, quilletCodeType});
}

void InterfaceManager::onThreadStopping(const MessageHeader *message)
{
    std::vector<QTcpServer *> servers;
    for (const auto &entry : m_serverInfoMap)
        servers.push_back(entry.first);
    for (QTcpServer *server : servers) {
        closeTcpServer(server);
        delete server;
    }
    m_listeningPort.store(0);
    m_pool.clear();
    VirtualManager::onThreadStopping(message);
}

bool InterfaceManager::createTcpServer(const ServerInfo &info)
{
    auto *server = new QTcpServer;
    server->setMaxPendingConnections(static_cast<int>(info.maxPendingConnections));
    // Only quillet on this computer connects; nothing else may reach the service.
    if (!server->listen(QHostAddress::LocalHost, info.listenPort)) {
        writeLog(LogSecurity | LogRun,
                 QStringLiteral(
                     "InterfaceManager Create Tcp Server Listen Failed. Code Type:%1, Listen Port:%2, Socket "
                     "Error:%3, Error:%4")
                     .arg(QString::number(info.codeType), QString::number(info.listenPort),
                          QString::number(static_cast<int>(server->serverError())), server->errorString()));
        delete server;
        return false;
    }
    ServerInfo listening = info;
    listening.listenPort = server->serverPort();
    m_serverInfoMap[server] = listening;
    connect(server, &QTcpServer::newConnection, this, &InterfaceManager::onAccept);
    m_listeningPort.store(listening.listenPort);
    writeLog(
        LogSecurity | LogRun,
        QStringLiteral("InterfaceManager Create Tcp Server Listen Successful. Code Type:%1, Listen Port:%2")
            .arg(QString::number(listening.codeType), QString::number(listening.listenPort)));
    return true;
}

bool InterfaceManager::closeTcpServer(QTcpServer *server)
{
    const auto found = m_serverInfoMap.find(server);
    if (found == m_serverInfoMap.end()) {
        writeLog(LogSecurity | LogRun,
                 QStringLiteral("InterfaceManager Close Tcp Server Listen Failed. serverInfoMap "
                                "not find this. tcpServer addr:0x%1")
                     .arg(address(server)));
        return false;
    }
    writeLog(
        LogSecurity | LogRun,
        QStringLiteral("InterfaceManager Close Tcp Server Listen Successful. Code Type:%1, Listen Port:%2")
            .arg(QString::number(found->second.codeType), QString::number(found->second.listenPort)));
    server->close();
    disconnect(server, &QTcpServer::newConnection, this, &InterfaceManager::onAccept);
    m_serverInfoMap.erase(found);
    return true;
}

void InterfaceManager::onAccept()
{
    auto *server = qobject_cast<QTcpServer *>(sender());
    const auto found = m_serverInfoMap.find(server);
    if (found == m_serverInfoMap.end()) {
        writeLog(
            LogSecurity | LogRun,
            QStringLiteral("InterfaceManager Accept Failed. serverInfoMap not find this. tcpServer addr:0x%1")
                .arg(address(server)));
        return;
    }
    const ServerInfo info = found->second;
    while (server->hasPendingConnections()) {
        QTcpSocket *socket = server->nextPendingConnection();
        if (!socket)
            break;
        if (!peerIsOwnUser(socket)) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        TcpInterface *link = getNonuseTcpInterface(info.codeType);
        if (!link) {
            // Every connection waiting now is dropped: nothing would accept it when a link frees.
            writeLog(LogRun,
                     QStringLiteral(
                         "InterfaceManager Accept Failed, Get Nonuse Tcp Interface Failed, Listen Port:%1, "
                         "Code Type:%2")
                         .arg(QString::number(info.listenPort), QString::number(info.codeType)));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        writeLog(LogSecurity, QStringLiteral("InterfaceManager Accept Link, Listen Port:%1, Code Type:%2")
                                  .arg(QString::number(info.listenPort), QString::number(info.codeType)));
        // Time checks on: a connection that never logs in, trickles or falls silent must not hold
        // one of the ten links for good.
        if (!link->accept(socket, true, true, loginLimit, info.codeType)) {
            socket->abort();
            socket->deleteLater();
        }
    }
}

bool InterfaceManager::peerIsOwnUser(QTcpSocket *socket)
{
    if (!PeerUser::supported())
        return true;
    const std::optional<std::uint32_t> owner = PeerUser::ownerOf(socket->peerAddress(), socket->peerPort(),
                                                                 socket->localAddress(), socket->localPort());
    const std::uint32_t own = PeerUser::currentUser();
    if (owner && *owner == own)
        return true;
    writeLog(LogSecurity | LogRun,
             QStringLiteral(
                 "InterfaceManager Accept Refused, Peer User:%1, Own User:%2, Remote Addr:%3(%4), Local "
                 "Addr:%5(%6)")
                 .arg(owner ? QString::number(*owner) : QStringLiteral("unknown"), QString::number(own),
                      socket->peerAddress().toString(), QString::number(socket->peerPort()),
                      socket->localAddress().toString(), QString::number(socket->localPort())));
    return false;
}

TcpInterface *InterfaceManager::getNonuseTcpInterface(std::uint32_t codeType)
{
    if (codeType != quilletCodeType) {
        writeLog(LogRun,
                 QStringLiteral("InterfaceManager Get Nonuse Tcp Interface Failed, Unknown codeType:%1")
                     .arg(codeType));
        return nullptr;
    }
    for (const auto &link : m_pool) {
        if (!link->inUse())
            return link.get();
    }
    return nullptr;
}

void InterfaceManager::onSendMsgToInterface(const HelperProtocol::Header *message)
{
    if (message->interfaceId >= m_pool.size()) {
        writeLog(LogRun,
                 QStringLiteral(
                     "InterfaceManager onSendMsgToInterface Failed, interfaceId Invalid, interfaceId:%1")
                     .arg(message->interfaceId));
        return;
    }
    m_pool[message->interfaceId]->send(
        QByteArray(reinterpret_cast<const char *>(message), message->msgLength));
}
