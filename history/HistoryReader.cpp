#include "HistoryReader.h"

#include <QAtomicInt>
#include <QSaveFile>
#include <QThread>

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

class HistoryReader::Worker final
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

    // Runs work on an open connection. A server connection kept open for a while may have been
    // dropped (server restarted, network reset): when work fails on one that was already open,
    // it is opened again once and the work repeated. Reads and deletes are safe to repeat.
    template <typename Work> bool attempt(QString *error, Work &&work)
    {
        const bool wasOpen = m_store.isOpen();
        bool ok = ready(error) && work();
        if (!ok && wasOpen && m_setting.isServer()) {
            m_store.close();
            error->clear();
            ok = ready(error) && work();
        }
        if (!ok && error->isEmpty())
            *error = m_store.lastError();
        return ok;
    }

    Answer page(int request, const HistoryFilter &filter, const std::optional<HistoryRow> &after, int limit)
    {
        QString error;
        QList<HistoryRow> rows;
        const bool ok = attempt(&error, [&] {
            bool found = false;
            rows = m_store.search(filter, after, limit, &found);
            return found;
        });
        return [reader = m_reader, request, rows, ok, error] {
            emit reader->pageReady(request, rows, ok, error);
        };
    }

    Answer record(int request, const QUuid &key)
    {
        QString error;
        std::optional<HistoryRecord> record;
        attempt(&error, [&] {
            bool loaded = false;
            record = m_store.loadRecord(key, &loaded);
            return loaded;
        });
        return
            [reader = m_reader, request, record, error] { emit reader->recordReady(request, record, error); };
    }

    Answer remove(int request, const QUuid &key)
    {
        QString error;
        const bool ok = attempt(&error, [&] { return m_store.removeRecord(key); });
        return [reader = m_reader, request, ok, error] { emit reader->removeDone(request, ok, error); };
    }

    Answer exportCsv(int request, const HistoryFilter &filter, const QList<QUuid> &keys, const QString &path)
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
        return [reader = m_reader, request, ok, rows, error] {
            emit reader->exportDone(request, ok, rows, error);
        };
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
    // A standard thread rather than a QThread: its join is one the thread checker sees, so the
    // queue and its lock may go as soon as the thread has ended.
    m_thread = std::thread([this, setting, databasePath] { run(setting, databasePath); });
}

HistoryReader::~HistoryReader()
{
    // The requests already made are still carried out (a delete among them); their answers are not.
    {
        const std::lock_guard lock(m_lock);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void HistoryReader::run(const HistorySetting &setting, const QString &databasePath)
{
    QThread::currentThread()->setObjectName(QStringLiteral("history reader"));
    // The worker, and with it the database connection, lives and dies on this thread.
    Worker worker(this, setting, databasePath);
    for (;;) {
        Task task;
        {
            std::unique_lock lock(m_lock);
            m_wake.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
            if (m_tasks.empty())
                return;
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        Answer answer = task(worker);
        if (!answer)
            continue;
        bool first = false;
        {
            const std::lock_guard lock(m_lock);
            if (m_stopping)
                continue;
            first = m_answers.empty();
            m_answers.push_back(std::move(answer));
        }
        // Answers travel through this object's own queue under its lock, so the handing over is
        // visible to the thread checker; the event only says that there is something to take.
        if (first)
            QMetaObject::invokeMethod(this, "deliverAnswers", Qt::QueuedConnection);
    }
}

void HistoryReader::deliverAnswers()
{
    std::deque<Answer> answers;
    {
        const std::lock_guard lock(m_lock);
        answers.swap(m_answers);
    }
    for (const Answer &answer : answers)
        answer();
}

void HistoryReader::prepare()
{
    enqueue([](Worker &worker) {
        QString error;
        worker.ready(&error); // a failure is met again, and answered, by the first request
        return Answer();
    });
}

void HistoryReader::enqueue(Task task)
{
    {
        const std::lock_guard lock(m_lock);
        m_tasks.push_back(std::move(task));
    }
    m_wake.notify_one();
}

int HistoryReader::requestPage(const HistoryFilter &filter, const std::optional<HistoryRow> &after, int limit)
{
    const int request = m_nextRequest++;
    enqueue([request, filter, after, limit](Worker &worker) {
        return worker.page(request, filter, after, limit);
    });
    return request;
}

int HistoryReader::requestRecord(const QUuid &key)
{
    const int request = m_nextRequest++;
    enqueue([request, key](Worker &worker) { return worker.record(request, key); });
    return request;
}

int HistoryReader::requestRemove(const QUuid &key)
{
    const int request = m_nextRequest++;
    enqueue([request, key](Worker &worker) { return worker.remove(request, key); });
    return request;
}

int HistoryReader::requestExport(const HistoryFilter &filter, const QList<QUuid> &keys, const QString &path)
{
    const int request = m_nextRequest++;
    enqueue([request, filter, keys, path](Worker &worker) {
        return worker.exportCsv(request, filter, keys, path);
    });
    return request;
}
