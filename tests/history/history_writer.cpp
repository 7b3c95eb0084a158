// history_writer <application root> <count> <name>: one kestrel's history side in a process of its
// own. Starts the run log, the configuration store (main.ini in the root) and the history manager,
// keeps <count> tests whose keys are UUIDv5 of "<name>-<n>", and stops as kestrel does. Exit 0 when
// the manager was ready and nothing was left waiting at the end.
#include <QCoreApplication>
#include <QThread>
#include <QUuid>

#include "AppPaths.h"
#include "Codec.h"
#include "ConfigManager.h"
#include "HistoryManager.h"
#include "HistoryMessages.h"
#include "HistoryTestKit.h"
#include "LogManager.h"

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    Codec::install();
    if (argc != 4)
        return 2;
    AppPaths::setApplicationDirOverride(QString::fromLocal8Bit(argv[1]) + QStringLiteral("/bin"));
    const int count = QByteArray(argv[2]).toInt();
    const QString name = QString::fromLocal8Bit(argv[3]);

    LogManager::instance()->initialize();
    LogManager::instance()->active();
    ConfigManager::instance()->initialize();
    ConfigManager::instance()->active();
    HistoryManager *history = HistoryManager::instance();
    history->setRetryIntervalMs(100);
    history->initialize();
    history->active();
    for (int wait = 0; wait < 600 && history->state() != HistoryManager::State::Ready; ++wait)
        QThread::msleep(50);
    const bool ready = history->state() == HistoryManager::State::Ready;
    for (int n = 0; n < count; ++n) {
        HistoryRecord record = HistoryTestKit::makeRecord(n, QStringLiteral("P%1").arg(n), name, n);
        record.key = QUuid::createUuidV5(QUuid(), QStringLiteral("%1-%2").arg(name).arg(n));
        const HistoryRecordMessage message = toMessage(record);
        while (!history->postMessage(&message, sizeof(message)))
            QThread::msleep(1);
    }
    for (int wait = 0; wait < 600 && (history->pendingMessages() > 0 || history->waitingItems() > 0); ++wait)
        QThread::msleep(50);
    const bool allKept = history->waitingItems() == 0;
    history->deactive();
    history->exit();
    ConfigManager::instance()->deactive();
    ConfigManager::instance()->exit();
    LogManager::instance()->deactive();
    LogManager::instance()->exit();
    HistoryManager::destroyInstance();
    ConfigManager::destroyInstance();
    LogManager::destroyInstance();
    return ready && allKept ? 0 : 1;
}
