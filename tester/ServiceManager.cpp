#include "ServiceManager.h"

#include <cstring>
#include <memory>

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>

#include "AppPaths.h"
#include "Codec.h"
#include "ConfigManager.h"
#include "HelperProtocol.h"
#include "LogManager.h"
#include "ProcessPlatform.h"
#include "TesterPort.h"
#include "TesterQuery.h"

namespace {

// Posts a window message through the receiver set on the manager.
class WindowPoster final : public MessageReceiver
{
public:
    explicit WindowPoster(MessageReceiver *window) : m_window(window) {}
    bool postMessage(const void *message, std::uint32_t length) override
    {
        return m_window && m_window->postMessage(message, length);
    }

private:
    MessageReceiver *m_window;
};

// Copies text into a fixed field as GBK, cut to the field size less one byte.
template <std::size_t Size> void copyText(char (&field)[Size], const QString &text)
{
    Codec::toField(text, field, static_cast<qsizetype>(Size));
}

// Copies an already 8-bit field into another, cut to the target size less one byte.
template <std::size_t TargetSize, std::size_t SourceSize>
void copyField(char (&target)[TargetSize], const char (&source)[SourceSize])
{
    const std::size_t length = qMin(strnlen(source, SourceSize), TargetSize - 1);
    std::memcpy(target, source, length);
    std::memset(target + length, 0, TargetSize - length);
}

} // namespace

ServiceManager::ServiceManager() = default;

ServiceManager::~ServiceManager() = default;

bool ServiceManager::initialize()
{
    if (!VirtualManager::initialize())
        return false;
    registerMessageHandler(MSG_QUERY_DATA_REQUEST, &ServiceManager::onQueryData);
    registerMessageHandler(MSG_SAVE_DATA_REQUEST, &ServiceManager::onSaveData);
    registerMessageHandler(HelperProtocol::GetSaveDataRequestId, &ServiceManager::onGetSaveData);
    registerMessageHandler(HelperProtocol::SetSaveResultRequestId, &ServiceManager::onSetSaveResult);
    return true;
}

bool ServiceManager::exit()
{
    if (!VirtualManager::exit())
        return false;
    unregisterMessageHandler(MSG_QUERY_DATA_REQUEST);
    unregisterMessageHandler(MSG_SAVE_DATA_REQUEST);
    unregisterMessageHandler(HelperProtocol::GetSaveDataRequestId);
    unregisterMessageHandler(HelperProtocol::SetSaveResultRequestId);
    return true;
}

bool ServiceManager::active()
{
    m_stopping.store(false, std::memory_order_release);
    return VirtualManager::active();
}

bool ServiceManager::deactive()
{
    m_stopping.store(true, std::memory_order_release);
    return VirtualManager::deactive();
}

void ServiceManager::postToWindow(const void *message, std::uint32_t length)
{
    if (MessageReceiver *window = m_window.load())
        window->postMessage(message, length);
}

void ServiceManager::postToInterface(const void *message, std::uint32_t length)
{
    if (MessageReceiver *interface = m_interface.load())
        interface->postMessage(message, length);
}

void ServiceManager::onQueryData(const QueryDataRequest *request)
{
    // A query that was still queued when the stop came is not started.
    if (m_stopping.load(std::memory_order_acquire))
        return;
    const int number = request->portNumber;
    if (const std::unique_ptr<TesterPort> port = openTesterPort(number)) {
        port->setStopFlag(&m_stopping);
        WindowPoster window(m_window.load());
        runTesterQuery(*port, window);
        if (port->state() == TesterPort::State::Stopped) {
            LogManager::instance()->writeRunLog(tr("Serial Port Query stopped, Port:%1").arg(port->name()));
            return;
        }
    } else {
        LogManager::instance()->writeRunLog(tr("Open Serial Port failed, Port:%1").arg(portName(number)));
    }
    const auto finished = makeMessage<QueryDataFinished>(MSG_QUERY_DATA_FINISHED);
    postToWindow(&finished, sizeof(finished));
}

void ServiceManager::onSaveData(const SaveDataRequest *request)
{
    m_pendingSaves.push_back(PendingSave{*request, 0});
    const QString processPath =
        AppPaths::applicationDir() + QLatin1Char('/') + ConfigManager::instance()->saveDataProcess();
    if (!QFileInfo::exists(processPath)) {
        LogManager::instance()->writeRunLog(
            tr("Save Data To Doc failed, Process not exist, Process Path:%1").arg(processPath));
        m_pendingSaves.pop_back();
        return;
    }
    // The whole path is the program, spaces and all; the helper takes no arguments.
    qint64 pid = 0;
    if (QProcess::startDetached(processPath, QStringList(), QString(), &pid)) {
        m_pendingSaves.back().helperPid = pid;
    } else {
        LogManager::instance()->writeRunLog(
            tr("Save Data To Doc failed, startDetached Error, Process Path:%1").arg(processPath));
        m_pendingSaves.pop_back();
    }
}

void ServiceManager::dropOrphanedSaves()
{
    while (!m_pendingSaves.empty() && detachedProcessEnded(m_pendingSaves.front().helperPid)) {
        LogManager::instance()->writeRunLog(
            tr("Save Data To Doc failed, Process ended before taking the job, Doc Path:%1")
                .arg(Codec::fromField(m_pendingSaves.front().request.docPath,
                                      sizeof(m_pendingSaves.front().request.docPath))));
        m_pendingSaves.pop_front();
    }
}

void ServiceManager::onGetSaveData(const HelperProtocol::GetSaveDataRequest *request)
{
    // Large and posted by copy, so built on the heap rather than the worker thread's stack.
    auto response = std::make_unique<HelperProtocol::GetSaveDataResponse>(
        HelperProtocol::make<HelperProtocol::GetSaveDataResponse>(HelperProtocol::GetSaveDataResponseId));
    response->header.interfaceId = request->header.interfaceId;
    dropOrphanedSaves();
    if (request->accessCode != HelperProtocol::accessCode) {
        response->result = HelperProtocol::ResultAccessDenied;
    } else if (m_pendingSaves.empty()) {
        response->result = HelperProtocol::ResultNoExportPending;
    } else {
        const SaveDataRequest job = m_pendingSaves.front().request;
        m_pendingSaves.pop_front();
        const DocSetting setting = ConfigManager::instance()->docSetting();
        copyText(response->title, setting.title);
        copyText(response->pageHeader, setting.header);
        copyText(response->pageFooter, setting.footer);
        copyField(response->picturePath, job.picturePath);
        copyField(response->docPath, job.docPath);
        response->result = HelperProtocol::ResultSaveDataFollows;
    }
    postToInterface(response.get(), sizeof(*response));
}

void ServiceManager::onSetSaveResult(const HelperProtocol::SetSaveResultRequest *request)
{
    auto response =
        HelperProtocol::make<HelperProtocol::SetSaveResultResponse>(HelperProtocol::SetSaveResultResponseId);
    response.header.interfaceId = request->header.interfaceId;
    postToInterface(&response, sizeof(response));
}
