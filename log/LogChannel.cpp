#include "LogChannel.h"

#include <algorithm>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include "AppPaths.h"
#include "Codec.h"
#include "LogManager.h"

void LogChannel::setUp(const QString &category, const QString &applicationName)
{
    m_category = category;
    m_applicationName = applicationName.isEmpty()
                            ? QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName()
                            : applicationName;
    m_directory = AppPaths::logDir() + QLatin1Char('/') + m_category + QLatin1Char('/') + m_applicationName;
    m_currentDate = QDate();
    m_buffer.clear();
    m_recordEnds.clear();
    m_lossNotes.clear();
    m_untold = 0;
    m_currentFile.clear();
    m_openLineFile.clear();
    QDir().mkpath(m_directory);
}

namespace {

const QByteArray lineEnd = QByteArrayLiteral("\r\n");

const QByteArray &bannerBytes()
{
    static const QByteArray bytes = Codec::toBytes(LogManager::banner());
    return bytes;
}

} // namespace

void LogChannel::startDay(const QDate &today)
{
    m_currentDate = today;
    const QString file = obtainCurrentFile(0);
    // Text still in the buffer counts as file content: a new day's banner gets its blank line.
    if (QFileInfo(file).size() > 0 || !m_buffer.isEmpty())
        m_buffer += lineEnd;
    m_buffer += bannerBytes();
}

void LogChannel::append(const QString &line, const QDate &today)
{
    appendBytes(Codec::toBytes(line), today);
}

void LogChannel::appendBytes(QByteArrayView line, const QDate &today)
{
    if (today != m_currentDate)
        startDay(today);
    if (m_untold > 0)
        appendLossNote();
    m_buffer += line;
    m_buffer += lineEnd;
    m_recordEnds.push_back(m_buffer.size());
    if (m_buffer.size() >= flushChars)
        writeOut();
}

void LogChannel::countLost(std::uint64_t records, const QDateTime &since)
{
    if (records == 0)
        return;
    if (m_untold == 0 || since < m_untoldSince)
        m_untoldSince = since;
    m_untold += records;
}

void LogChannel::reportLost(const QDate &today)
{
    if (m_untold == 0)
        return;
    if (today != m_currentDate)
        startDay(today);
    appendLossNote();
}

std::uint64_t LogChannel::untoldLost() const
{
    std::uint64_t inBuffer = 0;
    for (const LossNote &note : m_lossNotes)
        inBuffer += note.records;
    return m_untold + inBuffer;
}

void LogChannel::appendLossNote()
{
    const QString text = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz  ")) +
                         QStringLiteral("LogManager dropped %1 records since %2")
                             .arg(m_untold)
                             .arg(m_untoldSince.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")));
    m_buffer += Codec::toBytes(text);
    m_buffer += lineEnd;
    m_lossNotes.push_back({m_buffer.size(), m_untold, m_untoldSince});
    m_untold = 0;
}

qsizetype LogChannel::lastBoundary(qsizetype from, qsizetype offset) const
{
    qsizetype boundary = from;
    const auto record = std::upper_bound(m_recordEnds.begin(), m_recordEnds.end(), offset);
    if (record != m_recordEnds.begin())
        boundary = std::max(boundary, *(record - 1));
    for (const LossNote &note : m_lossNotes) {
        if (note.end <= offset)
            boundary = std::max(boundary, note.end);
    }
    return boundary;
}

void LogChannel::loseFrom(qsizetype offset)
{
    const auto firstLost = std::upper_bound(m_recordEnds.begin(), m_recordEnds.end(), offset);
    countLost(std::uint64_t(m_recordEnds.end() - firstLost), QDateTime::currentDateTime());
    // A loss note that did not reach the file leaves its count to be told again.
    for (const LossNote &note : m_lossNotes) {
        if (note.end > offset)
            countLost(note.records, note.since);
    }
}

void LogChannel::writeOut()
{
    if (m_untold > 0 && !m_buffer.isEmpty())
        appendLossNote();
    QDir().mkpath(m_directory);
    qsizetype offset = 0;
    // One pass also when the buffer is empty, so that the current file exists.
    do {
        const auto nextRecord = std::upper_bound(m_recordEnds.begin(), m_recordEnds.end(), offset);
        qsizetype firstEnd = nextRecord != m_recordEnds.end() ? *nextRecord : m_buffer.size();
        for (const LossNote &note : m_lossNotes) {
            if (note.end > offset)
                firstEnd = std::min(firstEnd, note.end);
        }
        const QString path = obtainCurrentFile(firstEnd - offset);
        QFile file(path);
        // A failed write loses the text, counted: the log must never grow without bound or stall.
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
            loseFrom(offset);
            break;
        }
        qint64 before = file.size();
        if (m_openLineFile == path) {
            if (file.write(lineEnd) != lineEnd.size()) {
                loseFrom(offset);
                break;
            }
            m_openLineFile.clear();
            before = file.size();
        }
        // As many whole records as the file takes below its limit; at least the first one.
        const qsizetype end = std::max(firstEnd, lastBoundary(offset, offset + (fullFileBytes - before)));
        const qsizetype length = std::min(end, m_buffer.size()) - offset;
        if (length > 0 && file.write(m_buffer.constData() + offset, length) != length) {
            const qsizetype reached = qBound<qsizetype>(0, file.size() - before, length);
            const qsizetype kept = lastBoundary(offset, offset + reached) - offset;
            // A record cut in two is taken back whole; if even that fails the next line starts afresh.
            if (kept != reached && !file.resize(before + kept))
                m_openLineFile = path;
            loseFrom(offset + kept);
            break;
        }
        offset += std::max<qsizetype>(length, 0);
    } while (offset < m_buffer.size());
    m_buffer.clear();
    m_recordEnds.clear();
    m_lossNotes.clear();
}

QString LogChannel::fileName(int number) const
{
    return QStringLiteral("%1/%2.%3.log.%4")
        .arg(m_directory, m_applicationName.toLower(), m_category.toLower())
        .arg(number, 2, 10, QLatin1Char('0'));
}

QString LogChannel::obtainCurrentFile(qint64 incoming)
{
    // A file is full when the next record would take it past the limit.
    if (m_currentFile.isEmpty() ||
        QFileInfo(m_currentFile).size() + std::max<qint64>(incoming, 1) > fullFileBytes)
        m_currentFile = chooseNewName(incoming);
    return m_currentFile;
}

QString LogChannel::chooseNewName(qint64 incoming)
{
    const auto isFull = [incoming](const QFileInfo &info) {
        return info.size() + std::max<qint64>(incoming, 1) > fullFileBytes;
    };
    const QRegularExpression pattern(QStringLiteral("^%1\\.%2\\.log\\.\\d{2}$")
                                         .arg(QRegularExpression::escape(m_applicationName.toLower()),
                                              QRegularExpression::escape(m_category.toLower())));
    const QDir dir(m_directory);
    const auto list = [&dir] { return dir.entryInfoList(QDir::Files | QDir::Hidden, QDir::Name); };

    const QDateTime now = QDateTime::currentDateTime();
    for (const QFileInfo &info : list()) {
        if (!pattern.match(info.fileName()).hasMatch() || info.lastModified().addDays(maxAgeDays) <= now)
            QFile::remove(info.absoluteFilePath());
    }

    QFileInfoList files = list();
    if (files.size() >= maxFiles) {
        qsizetype surplus = files.size() - maxFiles;
        if (isFull(files.last()))
            ++surplus;
        for (qsizetype i = 0; i < surplus; ++i)
            QFile::remove(files.at(i).absoluteFilePath());
    }

    files = list();
    int number = 1;
    for (const QFileInfo &info : files) {
        const QString target = fileName(number++);
        if (info.absoluteFilePath() != QFileInfo(target).absoluteFilePath())
            QFile::rename(info.absoluteFilePath(), target);
    }

    files = list();
    int next = static_cast<int>(files.size());
    if (files.isEmpty() || isFull(files.last()))
        ++next;
    return fileName(next);
}
