#include "HistoryReader.h"

#include <QAtomicInt>
#include <QSaveFile>

#include "HistoryCsv.h"

namespace {

// Each reader has a connection of its own, whatever else is open in the process.
QString nextConnectionName()
{
    static QAtomicInt number;
    return QStringLiteral("history-reader-%1").arg(number.fetchAndAddRelaxed(1));
}

constexpr int exportPage = 1000;

} // namespace

class HistoryReader::Worker final : public QObject
{
public:
    Worker(HistoryReader *reader, const HistorySetting &setting, const QString &path)
        : m_reader(reader), m_setting(setting), m_path(path), m_store(nextConnectionName())
    {
    }

    // Everything below runs on the reader's thread.
    bool ready(QString *error)
    {
        if (m_store.isOpen())
            return true;
        return m_store.open(m_setting, m_path, error) == HistoryStore::OpenResult::Ready;
    }

    void page(int request, const HistoryFilter &filter, const std::optional<HistoryRow> &after, int limit)
    {
        QString error;
        bool ok = ready(&error);
        QList<HistoryRow> rows;
        if (ok)
            rows = m_store.search(filter, after, limit, &ok);
        if (!ok && error.isEmpty())
            error = m_store.lastError();
        emit m_reader->pageReady(request, rows, ok, error);
    }

    void record(int request, const QUuid &key)
    {
        QString error;
        std::optional<HistoryRecord> record;
        bool ok = ready(&error);
        if (ok)
            record = m_store.loadRecord(key, &ok);
        if (!ok && error.isEmpty())
            error = m_store.lastError();
        emit m_reader->recordReady(request, record, error);
    }

    void remove(int request, const QUuid &key)
    {
        QString error;
        bool ok = ready(&error) && m_store.removeRecord(key);
        if (!ok && error.isEmpty())
            error = m_store.lastError();
        emit m_reader->removeDone(request, ok, error);
    }

    void exportCsv(int request, const HistoryFilter &filter, const QList<QUuid> &keys, const QString &path)
    {
        QString error;
        int rows = 0;
        bool ok = ready(&error);
        // Written beside its place and renamed over it: never a half-written file under that name.
        QSaveFile file(path);
        if (ok && !file.open(QIODevice::WriteOnly)) {
            ok = false;
            error = file.errorString();
        }
        const auto write = [&](const QByteArray &bytes) {
            if (ok && file.write(bytes) != bytes.size()) {
                ok = false;
                error = file.errorString();
            }
        };
        write(HistoryCsv::byteOrderMark() + HistoryCsv::line(HistoryCsv::headerFields()));
        const auto writeRecord = [&](const QUuid &key) {
            bool loaded = false;
            const std::optional<HistoryRecord> record = m_store.loadRecord(key, &loaded);
            if (!loaded) {
                ok = false;
                error = m_store.lastError();
            } else if (record) {
                write(HistoryCsv::line(HistoryCsv::recordFields(*record)));
                ++rows;
            }
        };
        if (!keys.isEmpty()) {
            for (const QUuid &key : keys) {
                if (!ok)
                    break;
                writeRecord(key);
            }
        } else {
            std::optional<HistoryRow> last;
            while (ok) {
                bool found = false;
                const QList<HistoryRow> page = m_store.search(filter, last, exportPage, &found);
                if (!found) {
                    ok = false;
                    error = m_store.lastError();
                    break;
                }
                for (const HistoryRow &row : page) {
                    if (!ok)
                        break;
                    writeRecord(row.key);
                }
                if (page.size() < exportPage)
                    break;
                last = page.last();
            }
        }
        if (ok && !file.commit()) {
            ok = false;
            error = file.errorString();
        }
        if (!ok)
            file.cancelWriting();
        emit m_reader->exportDone(request, ok, rows, error);
    }

private:
    HistoryReader *m_reader;
    HistorySetting m_setting;
    QString m_path;
    HistoryStore m_store;
};

HistoryReader::HistoryReader(const HistorySetting &setting, const QString &databasePath, QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<QList<HistoryRow>>();
    qRegisterMetaType<std::optional<HistoryRecord>>();
    m_worker = new Worker(this, setting, databasePath);
    m_worker->moveToThread(&m_thread);
    m_thread.setObjectName(QStringLiteral("history reader"));
    m_thread.start();
}

HistoryReader::~HistoryReader()
{
    // The worker (and its connection) goes on its own thread, after the requests before it.
    QMetaObject::invokeMethod(
        m_worker, [worker = m_worker] { delete worker; }, Qt::QueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

int HistoryReader::requestPage(const HistoryFilter &filter, const std::optional<HistoryRow> &after, int limit)
{
    const int request = m_nextRequest++;
    QMetaObject::invokeMethod(
        m_worker,
        [worker = m_worker, request, filter, after, limit] { worker->page(request, filter, after, limit); },
        Qt::QueuedConnection);
    return request;
}

int HistoryReader::requestRecord(const QUuid &key)
{
    const int request = m_nextRequest++;
    QMetaObject::invokeMethod(
        m_worker, [worker = m_worker, request, key] { worker->record(request, key); }, Qt::QueuedConnection);
    return request;
}

int HistoryReader::requestRemove(const QUuid &key)
{
    const int request = m_nextRequest++;
    QMetaObject::invokeMethod(
        m_worker, [worker = m_worker, request, key] { worker->remove(request, key); }, Qt::QueuedConnection);
    return request;
}

int HistoryReader::requestExport(const HistoryFilter &filter, const QList<QUuid> &keys, const QString &path)
{
    const int request = m_nextRequest++;
    QMetaObject::invokeMethod(
        m_worker,
        [worker = m_worker, request, filter, keys, path] { worker->exportCsv(request, filter, keys, path); },
        Qt::QueuedConnection);
    return request;
}
