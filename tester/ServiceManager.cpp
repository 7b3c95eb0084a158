#include "ServiceManager.h"

#include <algorithm>
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

constexpr std::int32_t saveWatchTimerKey = 1;
// Helpers that end are noticed within this long (the window hears of it well within a second).
constexpr std::int32_t saveWatchIntervalMs = 250;

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
    registerTimerHandler(saveWatchTimerKey, &ServiceManager::onSaveWatch);
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
    unregisterTimerHandler(saveWatchTimerKey);
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
            LogManager::instance()->writeRunLog(
                QStringLiteral("Serial Port Query stopped, Port:%1").arg(port->name()));
            return;
        }
    } else {
        LogManager::instance()->writeRunLog(
            QStringLiteral("Open Serial Port failed, Port:%1").arg(portName(number)));
    }
    const auto finished = makeMessage<QueryDataFinished>(MSG_QUERY_DATA_FINISHED);
    postToWindow(&finished, sizeof(finished));
}

void ServiceManager::onSaveData(const SaveDataRequest *request)
{
    PendingSave save{*request, 0, {}, documentStamp(docPathOf(*request)), 0};
    save.started.start();
    m_pendingSaves.push_back(save);
    const QString processPath =
        AppPaths::applicationDir() + QLatin1Char('/') + ConfigManager::instance()->saveDataProcess();
    if (!QFileInfo::exists(processPath)) {
        LogManager::instance()->writeRunLog(
            QStringLiteral("Save Data To Doc failed, Process not exist, Process Path:%1").arg(processPath));
        m_pendingSaves.pop_back();
        postSaveOutcome(*request, SaveOutcome::HelperMissing);
        return;
    }
    // The whole path is the program, spaces and all; the helper takes no arguments.
    qint64 pid = 0;
    if (QProcess::startDetached(processPath, QStringList(), QString(), &pid)) {
        m_pendingSaves.back().helperPid = pid;
        updateSaveWatch();
    } else {
        LogManager::instance()->writeRunLog(
            QStringLiteral("Save Data To Doc failed, startDetached Error, Process Path:%1").arg(processPath));
        m_pendingSaves.pop_back();
        postSaveOutcome(*request, SaveOutcome::HelperNotStarted);
    }
}

QString ServiceManager::docPathOf(const SaveDataRequest &request)
{
    return Codec::fromField(request.docPath, sizeof(request.docPath));
}

ServiceManager::DocumentStamp ServiceManager::documentStamp(const QString &path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isFile())
        return {};
    return {true, info.size(), info.lastModified(), info.birthTime()};
}

void ServiceManager::postSaveOutcome(const SaveDataRequest &request, SaveOutcome outcome)
{
    auto message = makeMessage<SaveDataOutcome>(MSG_SAVE_DATA_OUTCOME);
    message.outcome = static_cast<std::uint32_t>(outcome);
    copyField(message.docPath, request.docPath);
    postToWindow(&message, sizeof(message));
}

void ServiceManager::dropOrphanedSaves()
{
    while (!m_pendingSaves.empty() && detachedProcessEnded(m_pendingSaves.front().helperPid)) {
        LogManager::instance()->writeRunLog(
            QStringLiteral("Save Data To Doc failed, Process ended before taking the job, Doc Path:%1")
                .arg(docPathOf(m_pendingSaves.front().request)));
        postSaveOutcome(m_pendingSaves.front().request, SaveOutcome::EndedBeforeJob);
        m_pendingSaves.pop_front();
    }
}

// The watch timer ends with the thread; exports still open when it starts again are watched again.
void ServiceManager::onThreadStarted(const MessageHeader *message)
{
    VirtualManager::onThreadStarted(message);
    updateSaveWatch();
}

void ServiceManager::onThreadStopping(const MessageHeader *message)
{
    m_saveWatchRunning = false;
    VirtualManager::onThreadStopping(message);
}

void ServiceManager::updateSaveWatch()
{
    const bool needed = !m_pendingSaves.empty() || !m_takenSaves.empty();
    if (needed == m_saveWatchRunning)
        return;
    m_saveWatchRunning = needed;
    if (needed)
        startKeyTimer(saveWatchTimerKey, saveWatchIntervalMs, 0);
    else
        stopKeyTimer(saveWatchTimerKey);
}

void ServiceManager::onSaveWatch(std::int32_t)
{
    const int limit = m_helperTimeLimitMs.load();
    // A helper gone before asking leaves its pending job to nobody; one gone with its job taken
    // never closed it (it answers SetSaveResult only after it is answered).
    const auto watch = [this, limit](std::deque<PendingSave> &saves, const QString &endedReason,
                                     SaveOutcome endedOutcome) {
        for (auto it = saves.begin(); it != saves.end();) {
            if (detachedProcessEnded(it->helperPid)) {
                LogManager::instance()->writeRunLog(QStringLiteral("Save Data To Doc failed, %1, Doc Path:%2")
                                                        .arg(endedReason, docPathOf(it->request)));
                postSaveOutcome(it->request, endedOutcome);
                it = saves.erase(it);
            } else if (it->started.hasExpired(limit)) {
                LogManager::instance()->writeRunLog(
                    QStringLiteral(
                        "Save Data To Doc failed, No result within the time limit, Limit:%1 ms, Doc Path:%2")
                        .arg(limit)
                        .arg(docPathOf(it->request)));
                postSaveOutcome(it->request, SaveOutcome::NoResultInTime);
                it = saves.erase(it);
            } else {
                ++it;
            }
        }
    };
    watch(m_pendingSaves, QStringLiteral("Process ended before taking the job"), SaveOutcome::EndedBeforeJob);
    watch(m_takenSaves, QStringLiteral("Process ended without SetSaveResult"),
          SaveOutcome::EndedWithoutResult);
    updateSaveWatch();
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
        PendingSave save = m_pendingSaves.front();
        m_pendingSaves.pop_front();
        const SaveDataRequest &job = save.request;
        const DocSetting setting = ConfigManager::instance()->docSetting();
        copyText(response->title, setting.title);
        copyText(response->pageHeader, setting.header);
        copyText(response->pageFooter, setting.footer);
        copyField(response->picturePath, job.picturePath);
        copyField(response->docPath, job.docPath);
        response->result = HelperProtocol::ResultSaveDataFollows;
        save.interfaceId = request->header.interfaceId;
        m_takenSaves.push_back(save);
    }
    postToInterface(response.get(), sizeof(*response));
    updateSaveWatch();
}

void ServiceManager::onSetSaveResult(const HelperProtocol::SetSaveResultRequest *request)
{
    auto response =
        HelperProtocol::make<HelperProtocol::SetSaveResultResponse>(HelperProtocol::SetSaveResultResponseId);
    response.header.interfaceId = request->header.interfaceId;
    postToInterface(&response, sizeof(response));

    // The helper reports its failures only in the run log; what counts for the operator is whether
    // a new document now stands at the path (a failed helper leaves the old one, or none).
    const auto taken = std::find_if(m_takenSaves.begin(), m_takenSaves.end(), [&](const PendingSave &save) {
        return save.interfaceId == request->header.interfaceId;
    });
    if (taken == m_takenSaves.end())
        return;
    const QString docPath = docPathOf(taken->request);
    const DocumentStamp after = documentStamp(docPath);
    const bool saved = after.exists && after != taken->before;
    if (!saved)
        LogManager::instance()->writeRunLog(
            QStringLiteral("Save Data To Doc failed, No new document, Doc Path:%1").arg(docPath));
    postSaveOutcome(taken->request, saved ? SaveOutcome::Saved : SaveOutcome::NotSaved);
    m_takenSaves.erase(taken);
    updateSaveWatch();
}
